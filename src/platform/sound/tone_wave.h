// Reading the tone image that the keyer hands to the sound output: a RIFF/WAVE
// file image in memory holding 24-bit mono PCM at 48000 samples per second.
#pragma once

#include <cstdint>
#include <optional>

namespace platform::sound {

constexpr std::uint32_t kToneSampleRate = 48000;
// The longest period the keyer builds is one second (1 Hz). A longer sample
// block is refused, so a corrupt size field cannot make a huge sound.
constexpr std::uint32_t kMaxToneSamples = 48000;

// Where the samples of a readable image are; they stay in the image.
struct ToneWave {
  const std::uint8_t* samples = nullptr;  // sample_count x 3 bytes
  std::uint32_t sample_count = 0;
};

// Reads the RIFF header and chunks of `image`. Gives nothing unless the image
// is PCM, 48000 Hz, 24 bits, one channel, with at most kMaxToneSamples samples.
// Reads no byte beyond the sizes given by the header (null: nothing).
std::optional<ToneWave> ReadToneWave(const std::uint8_t* image);

// Sample k of a wave read by ReadToneWave, as a signed value (-2^23 .. 2^23-1).
std::int32_t ToneSampleAt(const ToneWave& wave, std::uint32_t k);

}  // namespace platform::sound
