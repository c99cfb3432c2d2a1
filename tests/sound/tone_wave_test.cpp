#include "platform/sound/tone_wave.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace platform::sound {
namespace {

// The keyer's image at 800 Hz, written out by hand: the 44-byte header and the
// first four of its 60 samples (0, 876471, 1743340, 2591107); the rest are
// left zero, which does not matter to the reader.
std::vector<std::uint8_t> Image800() {
  std::vector<std::uint8_t> image = {
      0x52, 0x49, 0x46, 0x46, 0xD8, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45,
      0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
      0x80, 0xBB, 0x00, 0x00, 0x80, 0x32, 0x02, 0x00, 0x03, 0x00, 0x18, 0x00,
      0x64, 0x61, 0x74, 0x61, 0xB4, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0xB7, 0x5F, 0x0D, 0xEC, 0x99, 0x1A, 0x83, 0x89, 0x27};
  image.resize(224, 0);
  image[44 + 3 * 45 + 0] = 0x18;  // sample 45: -8385000
  image[44 + 3 * 45 + 1] = 0x0E;
  image[44 + 3 * 45 + 2] = 0x80;
  return image;
}

void Put16(std::vector<std::uint8_t>& image, int at, std::uint16_t v) {
  image[at] = v & 0xFF;
  image[at + 1] = v >> 8;
}

void Put32(std::vector<std::uint8_t>& image, int at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) image[at + i] = (v >> (8 * i)) & 0xFF;
}

TEST(ReadToneWave, ReadsTheKeyersImage) {
  const auto image = Image800();
  const auto wave = ReadToneWave(image.data());
  ASSERT_TRUE(wave.has_value());
  EXPECT_EQ(wave->sample_count, 60u);
  EXPECT_EQ(wave->samples, image.data() + 44);
  EXPECT_EQ(ToneSampleAt(*wave, 0), 0);
  EXPECT_EQ(ToneSampleAt(*wave, 1), 876471);
  EXPECT_EQ(ToneSampleAt(*wave, 2), 1743340);
  EXPECT_EQ(ToneSampleAt(*wave, 3), 2591107);
  EXPECT_EQ(ToneSampleAt(*wave, 45), -8385000);
}

TEST(ReadToneWave, AnImageWithoutSamplesIsASound) {
  auto image = Image800();
  image.resize(44);
  Put32(image, 4, 36);
  Put32(image, 40, 0);
  const auto wave = ReadToneWave(image.data());
  ASSERT_TRUE(wave.has_value());
  EXPECT_EQ(wave->sample_count, 0u);
}

TEST(ReadToneWave, SkipsOtherChunksAndAnExtendedFormatChunk) {
  // fmt of 18 bytes (with a zero extension size), then a LIST chunk of 3 bytes
  // plus its pad byte, then the samples 1, -1.
  std::vector<std::uint8_t> image = {
      'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
      'f', 'm', 't', ' ', 18, 0, 0, 0, 1, 0, 1, 0, 0x80, 0xBB, 0, 0,
      0x80, 0x32, 0x02, 0, 3, 0, 24, 0, 0, 0,
      'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0,
      'd', 'a', 't', 'a', 6, 0, 0, 0, 1, 0, 0, 0xFF, 0xFF, 0xFF};
  Put32(image, 4, static_cast<std::uint32_t>(image.size() - 8));
  const auto wave = ReadToneWave(image.data());
  ASSERT_TRUE(wave.has_value());
  ASSERT_EQ(wave->sample_count, 2u);
  EXPECT_EQ(ToneSampleAt(*wave, 0), 1);
  EXPECT_EQ(ToneSampleAt(*wave, 1), -1);
}

TEST(ReadToneWave, RefusesEveryOtherFormatAndBrokenHeaders) {
  using Change = std::function<void(std::vector<std::uint8_t>&)>;
  struct Case {
    const char* what;
    Change change;
  } const kCases[] = {
      {"rate 44100", [](auto& i) { Put32(i, 24, 44100); Put32(i, 28, 132300); }},
      {"rate 96000", [](auto& i) { Put32(i, 24, 96000); Put32(i, 28, 288000); }},
      {"16 bits", [](auto& i) { Put16(i, 34, 16); Put16(i, 32, 2); Put32(i, 28, 96000); }},
      {"32 bits", [](auto& i) { Put16(i, 34, 32); Put16(i, 32, 4); Put32(i, 28, 192000); }},
      {"two channels", [](auto& i) { Put16(i, 22, 2); Put16(i, 32, 6); Put32(i, 28, 288000); }},
      {"float tag", [](auto& i) { Put16(i, 20, 3); }},
      {"extensible tag", [](auto& i) { Put16(i, 20, 0xFFFE); }},
      {"block align 4", [](auto& i) { Put16(i, 32, 4); }},
      {"bytes per second wrong", [](auto& i) { Put32(i, 28, 144001); }},
      {"no RIFF", [](auto& i) { i[0] = 'R'; i[1] = 'I'; i[2] = 'F'; i[3] = 'X'; }},
      {"RIFX", [](auto& i) { i[3] = 'X'; }},
      {"no WAVE", [](auto& i) { i[8] = 'A'; }},
      {"no fmt", [](auto& i) { i[12] = 'F'; }},
      {"no data", [](auto& i) { i[36] = 'D'; }},
      {"format chunk too short", [](auto& i) { Put32(i, 16, 14); }},
      {"RIFF size cuts the header", [](auto& i) { Put32(i, 4, 20); }},
      {"RIFF size cuts the samples", [](auto& i) { Put32(i, 4, 36 + 3 * 60 - 3); }},
      {"data size beyond RIFF size", [](auto& i) { Put32(i, 40, 3 * 61); }},
      {"data size not whole samples", [](auto& i) { Put32(i, 40, 3 * 59 + 1); }},
      {"data size huge", [](auto& i) { Put32(i, 40, 0xFFFFFFF0u); }},
      {"RIFF size huge, data size huge", [](auto& i) {
         Put32(i, 4, 0xFFFFFFFFu); Put32(i, 40, 3 * 48001); }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    auto image = Image800();
    c.change(image);
    EXPECT_FALSE(ReadToneWave(image.data()).has_value());
  }
  EXPECT_FALSE(ReadToneWave(nullptr).has_value());
}

TEST(ReadToneWave, TakesTheLongestPeriodTheKeyerBuilds) {
  // 1 Hz: 48000 samples. The RIFF size of an image one sample longer than
  // that is refused above ("RIFF size huge ...").
  std::vector<std::uint8_t> image = Image800();
  image.resize(44 + 3 * 48000, 0);
  Put32(image, 4, 36 + 3 * 48000);
  Put32(image, 40, 3 * 48000);
  const auto wave = ReadToneWave(image.data());
  ASSERT_TRUE(wave.has_value());
  EXPECT_EQ(wave->sample_count, 48000u);
}

}  // namespace
}  // namespace platform::sound
