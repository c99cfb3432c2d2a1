// What one keyed element costs the keyer's thread besides its sleeps: the
// tone image, loading it as a sound, starting, stopping and releasing it, on
// the real SDL2 sound output. By default on SDL's "dummy" audio driver; set
// SDL_AUDIODRIVER=pulseaudio (and PULSE_SERVER) to measure against a server.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cstdint>
#include <cstdlib>

#include "keying/tone.h"
#include "platform/platform.h"
#include "platform/sdl/sound_sdl.h"
#include "platform/sound/tone_renderer.h"

namespace {

void OpenOrSkip(benchmark::State& state) {
  if (!platform::OpenSoundOutput()) state.SkipWithError("no sound output");
}

// A sound stays busy until the audio thread has played its stop, some 40 ms
// after the call. The keyer's elements are that far apart at most speeds; here
// they follow each other within microseconds, so after every batch that could
// use up the sounds the clock is stopped until the audio thread has caught up.
// Every element of the measured time made a real sound ("refused" counts those
// that did not; it must stay 0).
constexpr int kBatch = 48;

void CatchUp(benchmark::State& state, int& in_batch) {
  if (++in_batch < kBatch) return;
  in_batch = 0;
  state.PauseTiming();
  while (platform::sound::EdgesPending()) SDL_Delay(1);
  state.ResumeTiming();
}

// The whole preparation of an element, as the element player does it.
void BM_ElementPreparation(benchmark::State& state) {
  const auto tone_hz = static_cast<std::int32_t>(state.range(0));
  OpenOrSkip(state);
  int in_batch = 0;
  std::int64_t refused = 0;
  for (auto _ : state) {
    platform::OpenSoundOutput();
    keying::ToneImage image = keying::BuildToneImage(keying::kSampleRate, tone_hz);
    const platform::SoundHandle sound = platform::LoadToneSound(image.data());
    platform::StartToneLoop(sound);
    platform::StopToneLoop(sound);
    platform::ReleaseToneSound(sound);
    refused += sound == 0;
    CatchUp(state, in_batch);
  }
  state.counters["refused"] = static_cast<double>(refused);
}
BENCHMARK(BM_ElementPreparation)->Arg(800)->Arg(700)->Arg(100)->Arg(1)->Iterations(4800);

// The sound output's share alone: load, start, stop, release of a ready image.
void BM_SoundCalls(benchmark::State& state) {
  const auto tone_hz = static_cast<std::int32_t>(state.range(0));
  OpenOrSkip(state);
  keying::ToneImage image = keying::BuildToneImage(keying::kSampleRate, tone_hz);
  int in_batch = 0;
  std::int64_t refused = 0;
  for (auto _ : state) {
    const platform::SoundHandle sound = platform::LoadToneSound(image.data());
    platform::StartToneLoop(sound);
    platform::StopToneLoop(sound);
    platform::ReleaseToneSound(sound);
    refused += sound == 0;
    CatchUp(state, in_batch);
  }
  state.counters["refused"] = static_cast<double>(refused);
}
BENCHMARK(BM_SoundCalls)->Arg(800)->Iterations(4800);

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_AUDIODRIVER", "dummy", 0);  // unless one is given
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  platform::sdl::ShutdownSound();
  return 0;
}
