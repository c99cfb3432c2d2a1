// The keying rhythm through the sound output alone, without the window: the
// default message's tones and silences at a given unit length, each element
// prepared as the element player does and timed by plain millisecond sleeps.
// run_keying_timing.py --sound-only records it like the real keyer and tells
// the sound output's own accuracy apart from the rest of the keyer's.
//
// Usage: sound_rhythm UNIT_MS REPEATS REPEAT_PAUSE_MS [STARTS_FILE]
// STARTS_FILE receives the monotonic time of every StartToneLoop call, in ns,
// one a line: set beside the recording, it gives the delay from a call to
// its sound.
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "keying/tone.h"
#include "platform/platform.h"
#include "platform/sdl/sound_sdl.h"
#include "platform/sound/tone_renderer.h"

namespace {

constexpr std::string_view kMessage = "TEST DE QZ0XYZ =";

std::string_view Pattern(char c) {
  switch (c) {
    case 'T': return "-";
    case 'E': return ".";
    case 'S': return "...";
    case 'D': return "-..";
    case 'Q': return "--.-";
    case 'Z': return "--..";
    case '0': return "-----";
    case 'X': return "-..-";
    case 'Y': return "-.--";
    case '=': return "-...-";
    default: return "";
  }
}

std::vector<std::int64_t> start_times;

std::int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

void Sleep(int ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1'000'000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

void Element(int tone_ms, int gap_ms) {
  if (!platform::OpenSoundOutput()) return;
  keying::ToneImage image = keying::BuildToneImage(keying::kSampleRate, 800);
  const platform::SoundHandle sound = platform::LoadToneSound(image.data());
  if (sound != 0) {
    start_times.push_back(NowNs());  // the output stamps its edge within a microsecond
    platform::StartToneLoop(sound);
    Sleep(tone_ms);
    platform::StopToneLoop(sound);
    platform::ReleaseToneSound(sound);
  }
  Sleep(gap_ms);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: sound_rhythm UNIT_MS REPEATS REPEAT_PAUSE_MS [STARTS_FILE]\n");
    return 2;
  }
  platform::sdl::PrepareSound();  // as the keyer does at start-up
  const int unit = std::atoi(argv[1]);
  const int repeats = std::atoi(argv[2]);
  const int pause = std::atoi(argv[3]);
  // No allocation between a stamp and its call: 40 tones a transmission.
  start_times.reserve(static_cast<std::size_t>(std::max(repeats, 0)) * 40);
  for (int r = 0; r < repeats; ++r) {
    for (char c : kMessage) {
      if (c == ' ') {
        Sleep(7 * unit);
        continue;
      }
      for (char e : Pattern(c)) Element(e == '.' ? unit : 3 * unit, unit);
      Sleep(3 * unit);
    }
    Sleep(pause);
    const platform::sound::RenderStats stats = platform::sound::ReadRenderStats();
    std::fprintf(stderr, "transmission %d: late edges %lld, shifted %lld samples, "
                 "smallest slack %.2f ms, delay %.2f ms\n", r + 1,
                 static_cast<long long>(stats.late_edges),
                 static_cast<long long>(stats.shifted_samples),
                 stats.min_slack_samples / 48.0, platform::sdl::SoundDelayNs() / 1e6);
    platform::sdl::EnterIdle();  // as the event loop does between commands
  }
  platform::sdl::ShutdownSound();
  if (argc == 5) {
    std::FILE* f = std::fopen(argv[4], "w");
    if (!f) {
      std::perror(argv[4]);
      return 1;
    }
    for (std::int64_t t : start_times) std::fprintf(f, "%lld\n", static_cast<long long>(t));
    std::fclose(f);
  }
  return 0;
}
