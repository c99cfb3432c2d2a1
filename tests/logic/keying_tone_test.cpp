// The tone image, checked against bytes written out by hand.
#include <cfenv>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "keying/tone.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Slice(const keying::ToneImage& image, std::size_t offset, std::size_t count) {
  return Bytes(image.data() + offset, image.data() + offset + count);
}

std::uint32_t U32At(const keying::ToneImage& image, std::size_t offset) {
  const std::uint8_t* p = image.data() + offset;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// Sample k as its three stored bytes.
Bytes SampleBytes(const keying::ToneImage& image, int k) { return Slice(image, 44 + 3 * k, 3); }

// The 44-byte header of the 800 Hz image (n = 60).
const Bytes kHeader800 = {
    0x52, 0x49, 0x46, 0x46, 0xD8, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45,
    0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
    0x80, 0xBB, 0x00, 0x00, 0x80, 0x32, 0x02, 0x00, 0x03, 0x00, 0x18, 0x00,
    0x64, 0x61, 0x74, 0x61, 0xB4, 0x00, 0x00, 0x00};

// Samples of the 800 Hz image: 0, 876471, 1743340, 2591107, the peak
// 8385000 at a quarter period, 0 at half, -8385000 at three quarters.
const struct {
  int k;
  Bytes bytes;
} kSamples800[] = {
    {0, {0x00, 0x00, 0x00}},  {1, {0xB7, 0x5F, 0x0D}},  {2, {0xEC, 0x99, 0x1A}},
    {3, {0x83, 0x89, 0x27}},  {15, {0xE8, 0xF1, 0x7F}}, {30, {0x00, 0x00, 0x00}},
    {45, {0x18, 0x0E, 0x80}},
};

void ExpectWorkedExample800(const keying::ToneImage& image) {
  ASSERT_TRUE(image);
  ASSERT_EQ(image.size, 224u);
  EXPECT_EQ(Slice(image, 0, 44), kHeader800);
  for (const auto& s : kSamples800) {
    SCOPED_TRACE(s.k);
    EXPECT_EQ(SampleBytes(image, s.k), s.bytes);
  }
}

TEST(ToneImage, WorkedExampleAt800HzByteForByte) {
  ExpectWorkedExample800(keying::BuildToneImage(48000, 800));
}

// A toolkit that leaves the thread in another rounding mode must not change
// the tone: the samples round to the nearest, ties to even, regardless.
TEST(ToneImage, SamplesDoNotDependOnTheRoundingMode) {
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(std::fesetround(mode), 0);
    keying::ToneImage image = keying::BuildToneImage(48000, 800);
    std::fesetround(FE_TONEAREST);
    ExpectWorkedExample800(image);
  }
}

// Sizes and the samples that the period length n = 48000 / toneHz leaves.
TEST(ToneImage, PeriodLengthEdges) {
  const struct {
    std::int32_t tone_hz;
    std::size_t size;
    std::uint32_t riff_size, data_size;
    std::vector<Bytes> samples;  // all of them; empty: not checked beyond the sizes
  } kCases[] = {
      {700, 248, 240, 204, {}},
      {1000, 188, 180, 144, {}},
      {1, 144044, 144036, 144000, {}},
      {12001, 53, 45, 9, {{0x00, 0x00, 0x00}, {0xB7, 0xCD, 0x6E}, {0x49, 0x32, 0x91}}},
      {14000, 53, 45, 9, {{0x00, 0x00, 0x00}, {0xB7, 0xCD, 0x6E}, {0x49, 0x32, 0x91}}},
      {16000, 53, 45, 9, {{0x00, 0x00, 0x00}, {0xB7, 0xCD, 0x6E}, {0x49, 0x32, 0x91}}},
      {16001, 50, 42, 6, {{0x00, 0x00, 0x00}, {0x00, 0x00, 0x00}}},
      {24000, 50, 42, 6, {{0x00, 0x00, 0x00}, {0x00, 0x00, 0x00}}},
      {24001, 47, 39, 3, {{0x00, 0x00, 0x00}}},
      {48000, 47, 39, 3, {{0x00, 0x00, 0x00}}},
      {48001, 44, 36, 0, {}},
      {std::numeric_limits<std::int32_t>::max(), 44, 36, 0, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.tone_hz);
    keying::ToneImage image = keying::BuildToneImage(48000, c.tone_hz);
    ASSERT_TRUE(image);
    ASSERT_EQ(image.size, c.size);
    EXPECT_EQ(Slice(image, 0, 4), (Bytes{'R', 'I', 'F', 'F'}));
    EXPECT_EQ(U32At(image, 4), c.riff_size);
    EXPECT_EQ(Slice(image, 36, 4), (Bytes{'d', 'a', 't', 'a'}));
    EXPECT_EQ(U32At(image, 40), c.data_size);
    // Everything but the sizes is the same header as at 800 Hz.
    EXPECT_EQ(Slice(image, 8, 32), Bytes(kHeader800.begin() + 8, kHeader800.begin() + 40));
    for (std::size_t k = 0; k < c.samples.size(); ++k) {
      SCOPED_TRACE(k);
      EXPECT_EQ(SampleBytes(image, int(k)), c.samples[k]);
    }
  }
}

// Every sample stays within the amplitude, stored as the low 24 bits of its
// two's complement.
TEST(ToneImage, SamplesStayWithinTheAmplitude) {
  for (std::int32_t tone_hz : {1, 7, 650, 700, 800, 1000, 3000, 12001}) {
    SCOPED_TRACE(tone_hz);
    keying::ToneImage image = keying::BuildToneImage(48000, tone_hz);
    ASSERT_TRUE(image);
    for (std::size_t at = 44; at < image.size; at += 3) {
      std::int32_t s = image.data()[at] | (image.data()[at + 1] << 8) | (image.data()[at + 2] << 16);
      if (s & 0x800000) s -= 0x1000000;
      ASSERT_LE(s, 8385000) << "at " << at;
      ASSERT_GE(s, -8385000) << "at " << at;
    }
  }
}

TEST(ToneImage, NoneForToneOfZeroOrBelowAndWhenMemoryIsExhausted) {
  for (std::int32_t tone_hz : {0, -1, -800, std::numeric_limits<std::int32_t>::min()}) {
    SCOPED_TRACE(tone_hz);
    EXPECT_FALSE(keying::BuildToneImage(48000, tone_hz));
  }
  keying::FailImageAllocationsForTesting(true);
  EXPECT_FALSE(keying::BuildToneImage(48000, 800));
  keying::FailImageAllocationsForTesting(false);
  EXPECT_TRUE(keying::BuildToneImage(48000, 800));
}

}  // namespace
