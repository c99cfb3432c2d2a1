// The sound of every keyed element: a RIFF/WAVE image in memory holding one
// period of a sine tone as 24-bit mono PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace keying {

// The sample rate of every tone the keyer builds.
constexpr std::int32_t kSampleRate = 48000;

// A 44-byte PCM header followed by n samples of 3 bytes, little-endian; the
// caller owns the block. An empty image (no bytes) stands for "none".
struct ToneImage {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t size = 0;

  explicit operator bool() const { return bytes != nullptr; }
  const std::uint8_t* data() const { return bytes.get(); }
};

// One period of n = sampleRate / toneHz samples (integer division) at a peak
// of 8385000. None when the block cannot be obtained, and for a toneHz of 0
// or below, for which no period exists.
ToneImage BuildToneImage(std::int32_t sampleRate, std::int32_t toneHz);

// Tests only: while set, the block of every image "cannot be obtained", as
// when memory is exhausted.
void FailImageAllocationsForTesting(bool fail);

}  // namespace keying
