#include "platform/sound/tone_wave.h"

#include <cstring>

namespace platform::sound {
namespace {

std::uint32_t U32At(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

std::uint16_t U16At(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

bool IdAt(const std::uint8_t* p, const char (&id)[5]) {
  return std::memcmp(p, id, 4) == 0;
}

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint32_t kRiffHeaderBytes = 12;
constexpr std::uint32_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kFormatBodyBytes = 16;

}  // namespace

// The keyer's own images are the plain 44-byte layout (RIFF header, a 16-byte
// format chunk, the data chunk), but the chunks are walked rather than taken
// at fixed offsets, so an image with an extended format chunk or an extra
// chunk before the samples is read correctly instead of misread. Every read
// is checked against the RIFF size first: the image has no other length.
std::optional<ToneWave> ReadToneWave(const std::uint8_t* image) {
  if (image == nullptr) return std::nullopt;
  if (!IdAt(image, "RIFF") || !IdAt(image + 8, "WAVE")) return std::nullopt;
  // The RIFF size counts the bytes after its own field, "WAVE" included.
  const std::uint64_t riff_end = std::uint64_t{8} + U32At(image + 4);
  if (riff_end < kRiffHeaderBytes) return std::nullopt;

  bool have_format = false;
  std::uint64_t at = kRiffHeaderBytes;
  while (at + kChunkHeaderBytes <= riff_end) {
    const std::uint8_t* chunk = image + at;
    const std::uint64_t body_size = U32At(chunk + 4);
    const std::uint64_t body = at + kChunkHeaderBytes;
    if (body + body_size > riff_end) return std::nullopt;  // chunk cut short
    if (IdAt(chunk, "fmt ")) {
      if (have_format || body_size < kFormatBodyBytes) return std::nullopt;
      const std::uint8_t* f = image + body;
      const bool accepted = U16At(f) == kFormatPcm && U16At(f + 2) == 1 &&
                            U32At(f + 4) == kToneSampleRate &&
                            U32At(f + 8) == kToneSampleRate * 3 && U16At(f + 12) == 3 &&
                            U16At(f + 14) == 24;
      if (!accepted) return std::nullopt;
      have_format = true;
    } else if (IdAt(chunk, "data")) {
      // The samples must be described before they come, and come whole.
      if (!have_format || body_size % 3 != 0 || body_size / 3 > kMaxToneSamples) {
        return std::nullopt;
      }
      return ToneWave{image + body, static_cast<std::uint32_t>(body_size / 3)};
    }
    at = body + body_size + (body_size & 1);  // chunks are padded to even sizes
  }
  return std::nullopt;  // no sample chunk
}

std::int32_t ToneSampleAt(const ToneWave& wave, std::uint32_t k) {
  const std::uint8_t* p = wave.samples + 3 * std::size_t{k};
  const std::uint32_t raw = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                            std::uint32_t{p[2]} << 16;
  // Sign-extend bit 23.
  return static_cast<std::int32_t>(raw ^ 0x800000u) - 0x800000;
}

}  // namespace platform::sound
