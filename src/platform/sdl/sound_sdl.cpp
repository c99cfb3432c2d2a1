#include "platform/sdl/sound_sdl.h"

#include <SDL.h>
#include <time.h>

#include "platform/platform.h"
#include "platform/sound/tone_renderer.h"

// The device is opened for 48000 Hz, mono, 32-bit samples with a callback.
// SDL may give float samples or more channels instead; both are taken as they
// come, since a 24-bit sample fits a 32-bit integer and a float exactly and
// the renderer writes every channel. Any other sample format (a device that
// cannot take 32 bits) is opened again without that freedom, and SDL converts
// the 32-bit stream to what the device takes.
//
// Buffers of 1024 frames (21.3 ms). SDL renders at most two of them ahead of
// the clock (one queued at the server, one being written), so the constant
// delay from a call to its sample is two buffers plus 5 ms (47.7 ms): an edge
// always reaches the audio thread before its sample is rendered, the first one
// of a command included. PulseAudio keeps one buffer queued; with buffers of
// 512 frames that is 10.7 ms, and on a busy two-core machine the server or
// this thread is now and then held up longer than that: the stream underruns,
// which puts silence inside a tone or lengthens a silence.
//
// SDL2 keeps its audio thread writing silence while a device is paused, so an
// idle keyer closes the device (EnterIdle) instead of pausing it, and the next
// element opens it again (about 2 ms) and starts a freshly anchored stream.

namespace platform {
namespace {

constexpr int kSampleRate = 48000;
constexpr Uint16 kBufferFrames = 1024;
constexpr std::int64_t kNsPerSecond = 1'000'000'000;

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
  const std::int64_t delay_samples = 2 * std::int64_t{have.samples} + kSampleRate / 200;
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
