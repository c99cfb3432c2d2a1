// The element player: dot, dash and the carrier before a message. Each element
// builds its own tone image, loads it as a new sound, plays it in a loop for
// its length, keeps silent for the time after it and releases everything.
#pragma once

#include <cstdint>

namespace keying {

// The five durations of the running transmission, whole milliseconds; zero
// until the first transmission sets them.
struct KeyingTimes {
  std::int32_t DotMs = 0;
  std::int32_t DashMs = 0;
  std::int32_t ElementGapMs = 0;
  std::int32_t LetterGapMs = 0;
  std::int32_t WordGapMs = 0;
};

// The durations that the elements and KeyCharacter read.
const KeyingTimes& CurrentKeyingTimes();

// Sets all five from one unit: dot 1, dash 3, element gap 1, letter gap 3,
// word gap 7 units. Computed in 64 bits; a product beyond 32 bits is held at
// the 32-bit limit rather than wrapped.
void SetKeyingTimes(std::int32_t unit_ms);

// A dot: Escape test, tone of DotMs, Escape test, ElementGapMs of silence.
// An Escape release seen by either test ends the process.
void PlayDot();

// A dash: tone of DashMs, ElementGapMs of silence. Tests no key.
void PlayDash();

// The carrier: "Bärvåg" on row 400 during a tone of CarrierMs, then "Paus
// mellan bärvåg och text" on row 430 during CarrierPauseMs of silence.
void PlayCarrier();

}  // namespace keying
