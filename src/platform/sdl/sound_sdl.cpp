#include "platform/sdl/sound_sdl.h"

#include <SDL.h>
#include <stdlib.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/sound/tone_renderer.h"

// The device is opened for 48000 Hz, mono, 32-bit samples with a callback.
// SDL may give float samples or more channels instead; both are taken as they
// come, since a 24-bit sample fits a 32-bit integer and a float exactly and
// the renderer writes every channel. Any other sample format (a device that
// cannot take 32 bits) is opened again without that freedom, and SDL converts
// the 32-bit stream to what the device takes.
//
// Buffers of 512 frames (10.7 ms). What protects the stream from running dry
// when this thread or the sound server is held up for a while is what the
// server keeps queued, not the size of our buffers: PulseAudio queues only
// about one buffer for SDL by itself, and on a busy two-core machine the
// server or this thread is now and then held up for 10 ms and more, which
// puts silence inside a tone or lengthens a silence. So the keyer asks the
// server for 32 ms of latency (through PULSE_LATENCY_MSEC, unless the user
// set it), while the buffers stay small.
//
// The constant delay. SDL2 starts a device paused, and its audio thread
// writes silence while it is paused: by the time the device is started, the
// server may hold none of it or a whole queue of it, ahead of the stream's
// first sample. A delay fixed at the opening would therefore differ by up to
// the server's latency from one command to the next. Instead the opening
// waits until the callbacks come at the stream's own pace (the server's queue
// is full; one or two buffers), and then maps the time of the last callback
// to the sample kMarginMs after the end of what it wrote. Every call then
// lands a fixed time after it, 8 ms ahead of the samples being written,
// whatever the server held before: the delay from a call to its sound is the
// same for every command, the server's queue plus 8 ms (36 to 42 ms measured
// with PulseAudio). A device that never comes to its pace within kSettleTimeoutNs keeps a delay
// counted from the opening: everything it can render ahead, plus 5 ms.
//
// SDL2 keeps its audio thread writing silence while a device is paused, so an
// idle keyer closes the device (EnterIdle) instead of pausing it, and the next
// element opens it again (about 2 ms, and the wait above) and starts a
// freshly anchored stream.

namespace platform {
namespace {

constexpr int kSampleRate = 48000;
constexpr Uint16 kBufferFrames = 512;
constexpr char kServerLatencyMs[] = "32";  // asked of a PulseAudio server
constexpr std::int64_t kNsPerSecond = 1'000'000'000;
constexpr std::int64_t kMarginMs = 8;
constexpr std::int64_t kSettleTimeoutNs = 200'000'000;

struct Output {
  bool audio_ready = false;  // SDL audio is initialised and a device was opened once
  SDL_AudioDeviceID device = 0;
  std::int64_t delay_ns = 0;
  std::int64_t buffer_ns = 0;
  int frame_bytes = 4;  // read by the callback; set before the device runs
};

Output output;

std::int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * kNsPerSecond + ts.tv_nsec;
}

void SDLCALL RenderCallback(void*, Uint8* stream, int len) {
  sound::RenderSamples(stream, len / output.frame_bytes, NowNs());
}

// The latency asked of the sound server, in ms; 0 when the driver is not
// PulseAudio's, which queues two of our buffers at most.
int ServerLatencyMs() {
  const char* driver = SDL_GetCurrentAudioDriver();
  const char* latency = std::getenv("PULSE_LATENCY_MSEC");
  if (!driver || std::strcmp(driver, "pulseaudio") != 0 || !latency) return 0;
  char* end = nullptr;
  const long ms = std::strtol(latency, &end, 10);
  return end != latency && *end == '\0' && ms > 0 && ms <= 10'000 ? static_cast<int>(ms) : 0;
}

// Waits until the device calls back at its own pace, a quarter of a buffer
// or more after the call before, and anchors the stream there (see the top).
void SettleStream(SDL_AudioDeviceID device) {
  const std::int64_t give_up_ns = NowNs() + kSettleTimeoutNs;
  while (NowNs() < give_up_ns) {
    SDL_Delay(1);
    SDL_LockAudioDevice(device);  // the callback does not run meanwhile
    const sound::StreamClock clock = sound::ReadStreamClock();
    const bool paced = clock.callbacks > 0 && clock.gap_ns >= output.buffer_ns / 4;
    if (paced) {
      sound::Reanchor(clock.last_callback_ns,
                      clock.rendered + kMarginMs * kSampleRate / 1000);
    }
    SDL_UnlockAudioDevice(device);
    if (paced) return;
  }
}

bool OpenDevice() {
  SDL_AudioSpec want{};
  want.freq = kSampleRate;
  want.format = AUDIO_S32SYS;
  want.channels = 1;
  want.samples = kBufferFrames;
  want.callback = RenderCallback;
  SDL_AudioSpec have{};
  SDL_AudioDeviceID device = SDL_OpenAudioDevice(
      nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FORMAT_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
  if (device != 0 && have.format != AUDIO_S32SYS && have.format != AUDIO_F32SYS) {
    SDL_CloseAudioDevice(device);
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
  }
  if (device == 0) return false;

  const int channels = have.channels > 0 ? have.channels : 1;
  output.device = device;
  output.frame_bytes = 4 * channels;
  const int server_ms = ServerLatencyMs();
  const std::int64_t ahead_samples = server_ms > 0
      ? std::int64_t{server_ms} * kSampleRate / 1000 + have.samples
      : 2 * std::int64_t{have.samples};
  const std::int64_t delay_samples = ahead_samples + kSampleRate / 200;
  output.delay_ns = delay_samples * kNsPerSecond / kSampleRate;
  output.buffer_ns = std::int64_t{have.samples} * kNsPerSecond / kSampleRate;
  sound::StreamSetup setup;
  setup.type = have.format == AUDIO_F32SYS ? sound::SampleType::kFloat32
                                           : sound::SampleType::kInt32;
  setup.channels = channels;
  setup.delay_samples = delay_samples;
  setup.anchor_ns = NowNs();
  sound::BeginStream(setup);
  SDL_PauseAudioDevice(device, 0);  // locks the device: the callback sees the setup
  SettleStream(device);
  return true;
}

void CloseDevice() {
  if (output.device == 0) return;
  SDL_CloseAudioDevice(output.device);
  output.device = 0;
  output.delay_ns = 0;
}

// The device is open and running, or opened again now. A device that SDL has
// given up on (unplugged, server gone) is replaced between tones.
bool EnsureDevice() {
  if (!output.audio_ready) return false;
  if (output.device != 0 && SDL_GetAudioDeviceStatus(output.device) == SDL_AUDIO_STOPPED &&
      !sound::ToneSounding()) {
    CloseDevice();
  }
  return output.device != 0 || OpenDevice();
}

}  // namespace

bool OpenSoundOutput() {
  if (output.audio_ready) {
    EnsureDevice();  // a failure here gives no sound for the element (LoadToneSound)
    return true;
  }
  SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "marlivox");
  // SDL would otherwise catch SIGINT and SIGTERM and turn them into quit
  // events that nobody reads: the keyer could no longer be ended by a plain
  // kill or by the session ending.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  if (!OpenDevice()) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);  // the next element tries again from scratch
    return false;
  }
  output.audio_ready = true;
  return true;
}

SoundHandle LoadToneSound(const std::uint8_t* image) {
  if (!EnsureDevice()) return 0;
  return sound::LoadSound(image);
}

void StartToneLoop(SoundHandle sound) {
  if (!EnsureDevice()) return;
  sound::StartSound(sound, NowNs());
}

void StopToneLoop(SoundHandle sound) { sound::StopSound(sound, NowNs()); }

void ReleaseToneSound(SoundHandle sound) { sound::ReleaseSound(sound, NowNs()); }

namespace sdl {

void PrepareSound() {
  // Read by the PulseAudio client library when the stream connects. A value
  // the user set is kept, and the delay follows it.
  setenv("PULSE_LATENCY_MSEC", kServerLatencyMs, /*overwrite=*/0);
}

void EnterIdle() {
  if (output.device == 0 || sound::ToneSounding()) return;
  // The last edge is heard about one delay after its call; a buffer more lets
  // the device play it out before the stream is closed.
  const std::int64_t heard_ns = sound::LastEdgeNs() + output.delay_ns + output.buffer_ns;
  const std::int64_t wait_ns = heard_ns - NowNs();
  if (sound::LastEdgeNs() != 0 && wait_ns > 0) {
    SDL_Delay(static_cast<Uint32>((wait_ns + 999'999) / 1'000'000));
  }
  CloseDevice();
}

void ShutdownSound() {
  CloseDevice();
  if (output.audio_ready) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  output = Output{};
}

std::int64_t SoundDelayNs() { return output.delay_ns; }

}  // namespace sdl
}  // namespace platform
