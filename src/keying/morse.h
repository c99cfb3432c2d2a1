// The characters the keyer can send, with their dots and dashes, and the
// keying of one character of the message.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace keying {

enum class Element : std::uint8_t { kDot, kDash };

// One to six elements, keyed from left to right.
struct MorsePattern {
  std::array<Element, 6> elements{};
  std::uint8_t length = 0;

  std::span<const Element> view() const { return {elements.data(), length}; }
};

struct MorseRow {
  char16_t character;  // one UTF-16 code unit, compared exactly
  MorsePattern pattern;
};

// The 47 rows in the order they are tested: A to Z, Å, Ä, Ö, 1 to 9, 0, then
// + . , - = / ? @.
std::span<const MorseRow> MorseTable();

// The pattern of a character; nullptr when it is not in the table (lower-case
// letters, the space, other signs, each half of a surrogate pair...).
const MorsePattern* LookupMorse(char16_t character);

// Keys one character, a text of one code unit: a space waits WordGapMs; a
// character of the table sounds its elements and then waits LetterGapMs;
// anything else keys nothing and takes no time. KeyingTimes must be set.
void KeyCharacter(std::u16string_view c);

}  // namespace keying
