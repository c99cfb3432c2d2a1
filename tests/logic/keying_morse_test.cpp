// The Morse table and the keying of one character, in virtual time.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake/fake_platform.h"
#include "keying/elements.h"
#include "keying/morse.h"
#include "logic/fixture.h"

namespace {

using fake::Segment;

// The letters and figures of the international code, the eight signs and the
// three Swedish letters, written out by hand: "." dot, "-" dash.
const std::map<char16_t, std::string> kCode = {
    {u'A', ".-"},     {u'B', "-..."},   {u'C', "-.-."},   {u'D', "-.."},    {u'E', "."},
    {u'F', "..-."},   {u'G', "--."},    {u'H', "...."},   {u'I', ".."},     {u'J', ".---"},
    {u'K', "-.-"},    {u'L', ".-.."},   {u'M', "--"},     {u'N', "-."},     {u'O', "---"},
    {u'P', ".--."},   {u'Q', "--.-"},   {u'R', ".-."},    {u'S', "..."},    {u'T', "-"},
    {u'U', "..-"},    {u'V', "...-"},   {u'W', ".--"},    {u'X', "-..-"},   {u'Y', "-.--"},
    {u'Z', "--.."},   {u'0', "-----"},  {u'1', ".----"},  {u'2', "..---"},  {u'3', "...--"},
    {u'4', "....-"},  {u'5', "....."},  {u'6', "-...."},  {u'7', "--..."},  {u'8', "---.."},
    {u'9', "----."},  {u'+', ".-.-."},  {u'.', ".-.-.-"}, {u',', "--..--"}, {u'-', "-....-"},
    {u'=', "-...-"},  {u'/', "-..-."},  {u'?', "..--.."}, {u'@', ".--.-."}, {u'\u00C5', ".--.-"},
    {u'\u00C4', ".-.-"}, {u'\u00D6', "---."},
};

constexpr std::int32_t kUnit = 10;

// The sound of one character keyed alone: each element's tone and its gap of
// one unit, the last gap stretched by the letter gap of three.
std::vector<Segment> RhythmOf(const std::string& pattern) {
  std::vector<Segment> out;
  for (char mark : pattern) {
    out.push_back({true, mark == '.' ? kUnit : 3 * kUnit});
    out.push_back({false, kUnit});
  }
  out.back().ms += 3 * kUnit;
  return out;
}

class MorseTest : public LogicTest {
 protected:
  void SetUp() override {
    LogicTest::SetUp();
    settings::Numbers numbers;
    numbers.ToneHz = 800;
    numbers.UnitMs = kUnit;
    settings::SetForTesting(numbers, u"");
    keying::SetKeyingTimes(kUnit);
  }
};

TEST_F(MorseTest, EveryCharacterOfTheTableKeysItsPattern) {
  ASSERT_EQ(kCode.size(), 47u);
  for (const auto& [character, pattern] : kCode) {
    SCOPED_TRACE(testing::Message() << "U+" << std::hex << int(character) << " " << pattern);
    SetUp();
    keying::KeyCharacter(std::u16string(1, character));
    EXPECT_EQ(fake::Rhythm(), RhythmOf(pattern));
  }
}

TEST_F(MorseTest, TheTableHoldsExactlyTheseCharacters) {
  std::map<char16_t, std::string> held;
  for (const keying::MorseRow& row : keying::MorseTable()) {
    std::string written;
    for (keying::Element e : row.pattern.view()) written += e == keying::Element::kDot ? '.' : '-';
    held[row.character] = written;
  }
  EXPECT_EQ(keying::MorseTable().size(), 47u);
  EXPECT_EQ(held, kCode);
}

// Lower-case letters, signs, combining marks, surrogate halves, controls...:
// every code unit that is neither in the table nor the space keys nothing and
// takes no time.
TEST_F(MorseTest, EveryOtherCodeUnitKeysNothingAndTakesNoTime) {
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    const auto c = static_cast<char16_t>(unit);
    if (c == u' ' || kCode.count(c)) continue;
    keying::KeyCharacter(std::u16string(1, c));
    if (!fake::Log().empty() || fake::Now() != 0) {
      ADD_FAILURE() << "U+" << std::hex << unit << " keyed something";
      SetUp();
    }
  }
}

TEST_F(MorseTest, SpaceWaitsTheWordGapOnly) {
  keying::KeyCharacter(u" ");
  EXPECT_EQ(fake::Now(), 7 * kUnit);
  EXPECT_TRUE(fake::LogOf(fake::What::kToneStart).empty());
}

TEST_F(MorseTest, LetterGapIsWaitedWhenTheSoundOutputFails) {
  fake::SetSoundOpenFails(true);
  keying::KeyCharacter(u"A");
  EXPECT_TRUE(fake::LogOf(fake::What::kToneStart).empty());
  EXPECT_EQ(fake::Now(), 3 * kUnit);
}

}  // namespace
