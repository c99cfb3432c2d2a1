#include "keying/elements.h"

#include <algorithm>
#include <limits>

#include "app/shell.h"
#include "app/window.h"
#include "keying/tone.h"
#include "platform/platform.h"
#include "settings/settings_model.h"

namespace keying {
namespace {

constexpr int kCarrierRow = 400;       // beside the carrier field
constexpr int kCarrierPauseRow = 430;  // beside the carrier pause field

/* Module state */
KeyingTimes times;

std::int32_t Units(std::int32_t unit_ms, std::int64_t units) {
  const std::int64_t ms = unit_ms * units;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      ms, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// The first steps of every element: the sound output must be ready before the
// image is built. None when either fails; the element then skips everything
// that follows, its silence included.
ToneImage PrepareTone() {
  if (!platform::OpenSoundOutput()) return {};
  return BuildToneImage(kSampleRate, settings::Current().ToneHz);
}

// Loads the image as a new sound and plays it for `ms`. When the output makes
// no sound of it, the tone and its length are skipped: the element loses only
// its tone, not the silence that follows.
void SoundTone(const ToneImage& image, std::int32_t ms) {
  const platform::SoundHandle sound = platform::LoadToneSound(image.data());
  if (sound == 0) return;
  platform::StartToneLoop(sound);
  platform::SleepMs(ms);
  platform::StopToneLoop(sound);
  platform::ReleaseToneSound(sound);
}

}  // namespace

const KeyingTimes& CurrentKeyingTimes() { return times; }

void SetKeyingTimes(std::int32_t unit_ms) {
  times.DotMs = unit_ms;
  times.DashMs = Units(unit_ms, 3);
  times.ElementGapMs = unit_ms;
  times.LetterGapMs = Units(unit_ms, 3);
  times.WordGapMs = Units(unit_ms, 7);
}

// The image lives to the end of each element; if the process ends inside a
// dot, unwinding releases it.
void PlayDot() {
  if (app::EscapeReleased()) app::QuitProgram();
  const ToneImage image = PrepareTone();
  if (!image) return;
  SoundTone(image, times.DotMs);
  if (app::EscapeReleased()) app::QuitProgram();
  platform::SleepMs(times.ElementGapMs);
}

void PlayDash() {
  const ToneImage image = PrepareTone();
  if (!image) return;
  SoundTone(image, times.DashMs);
  platform::SleepMs(times.ElementGapMs);
}

void PlayCarrier() {
  // "Bärvåg" stays on its row when the carrier cannot be sounded at all.
  app::ShowStatus(kCarrierRow, u"Bärvåg");
  const ToneImage image = PrepareTone();
  if (!image) return;
  SoundTone(image, settings::Current().CarrierMs);
  app::ShowStatus(kCarrierRow, u"");
  app::ShowStatus(kCarrierPauseRow, u"Paus mellan bärvåg och text");
  platform::SleepMs(settings::Current().CarrierPauseMs);
  app::ShowStatus(kCarrierPauseRow, u"");
}

}  // namespace keying
