#include "keying/tone.h"

#include <cmath>
#include <limits>
#include <new>

namespace keying {
namespace {

constexpr std::size_t kHeaderSize = 44;
constexpr std::uint16_t kPcmFormat = 1;
constexpr std::uint16_t kChannels = 1;
constexpr std::uint16_t kBitsPerSample = 24;
constexpr double kAmplitude = 8385000.0;
// The double nearest to 2 pi.
constexpr double kTwoPi = 6.283185307179586;

/* Module state */
bool fail_allocations = false;

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value >> 16);
  at[3] = static_cast<std::uint8_t>(value >> 24);
}

void PutTag(std::uint8_t* at, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(tag[i]);
}

// Nearest integer, ties to even, whatever rounding mode the thread is in (a
// toolkit that changed it must not change the tone). Exact for |value| below
// 2^52, far more than a sample needs.
std::int32_t RoundHalfEven(double value) {
  double down = std::floor(value);
  double rest = value - down;  // exact: both lie within one unit
  if (rest > 0.5 || (rest == 0.5 && std::fmod(down, 2.0) != 0.0)) down += 1.0;
  return static_cast<std::int32_t>(down);
}

}  // namespace

ToneImage BuildToneImage(std::int32_t sampleRate, std::int32_t toneHz) {
  // No period exists for 0 Hz or below (and the division by 0 would be
  // undefined); the element player skips the element on none.
  if (toneHz <= 0 || sampleRate < 0) return {};
  const std::int32_t n = sampleRate / toneHz;  // truncates toward zero
  const std::uint64_t data_size = 3 * static_cast<std::uint64_t>(n);
  const std::uint64_t image_size = kHeaderSize + data_size;
  // The RIFF size field holds the image length minus 8 in 32 bits.
  if (image_size - 8 > std::numeric_limits<std::uint32_t>::max()) return {};

  ToneImage image;
  if (!fail_allocations)
    image.bytes.reset(new (std::nothrow) std::uint8_t[image_size]);
  if (!image.bytes) return {};
  image.size = static_cast<std::size_t>(image_size);

  const std::uint16_t block_align = kChannels * ((kBitsPerSample + 7) / 8);
  std::uint8_t* p = image.bytes.get();
  PutTag(p + 0, "RIFF");
  Put32(p + 4, static_cast<std::uint32_t>(image_size - 8));
  PutTag(p + 8, "WAVE");
  PutTag(p + 12, "fmt ");
  Put32(p + 16, 16);
  Put16(p + 20, kPcmFormat);
  Put16(p + 22, kChannels);
  Put32(p + 24, static_cast<std::uint32_t>(sampleRate));
  Put32(p + 28, static_cast<std::uint32_t>(sampleRate) * block_align);
  Put16(p + 32, block_align);
  Put16(p + 34, kBitsPerSample);
  PutTag(p + 36, "data");
  Put32(p + 40, static_cast<std::uint32_t>(data_size));

  if (n >= 1) {
    // The phase is accumulated by addition, not computed as k * step: the
    // samples depend on it in their last bit.
    const double step = kTwoPi / static_cast<double>(n);
    double phase = 0.0;
    std::uint8_t* sample = p + kHeaderSize;
    for (std::int32_t k = 0; k < n; ++k, sample += 3) {
      const auto s = static_cast<std::uint32_t>(RoundHalfEven(std::sin(phase) * kAmplitude));
      sample[0] = static_cast<std::uint8_t>(s);
      sample[1] = static_cast<std::uint8_t>(s >> 8);
      sample[2] = static_cast<std::uint8_t>(s >> 16);
      phase += step;
    }
  }
  return image;
}

void FailImageAllocationsForTesting(bool fail) { fail_allocations = fail; }

}  // namespace keying
