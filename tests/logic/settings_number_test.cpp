// The text-to-integer rule of the six numeric input fields.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "settings/settings_model.h"

namespace {

constexpr std::int32_t kInvalid = -2147483648;

struct Case {
  std::u16string text;
  std::int32_t expected;
};

TEST(SettingsNumberTest, FieldTextsConvertAsTheKeyerReadsThem) {
  const Case cases[] = {
      {u"800", 800},
      {u" 50", 50},
      {u"50ms", 50},
      {u"1e3", 1000},
      {u"2.5", 2},
      {u"3.5", 4},
      {u"-2.5", -2},
      {u"12,7", 12},
      {u"abc", 0},
      {u"", 0},
      {u"-50", -50},
      {u"16777217", 16777216},     // 2^24 + 1: the float step
      {u"2147483647", kInvalid},   // 2^31 - 1 becomes 2^31 as a float
      {u"NaN", kInvalid},
      {u"-infinity", kInvalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_EQ(settings::TextToInteger(c.text), c.expected);
  }
}

// How texts that only partly fit the number form are read.
TEST(SettingsNumberTest, PartlyFittingTextsReadUpToWhereTheNumberEnds) {
  const std::u16string long_ones(100'000, u'1');
  const std::u16string tiny_then_big = u"0." + std::u16string(500, u'0') + u"1e505";
  const Case cases[] = {
      // The three exact texts, in any case; other spellings have no digits.
      {u"+INFINITY", kInvalid},
      {u"+infinity", kInvalid},
      {u"nan", kInvalid},
      {u"nAn", kInvalid},
      {u"Infinity", 0},
      {u"inf", 0},
      {u"-inf", 0},
      {u" NaN", 0},
      {u"NaN ", 0},
      {u"+Infinity1", 0},
      // Hexadecimal: the reading stops at the x.
      {u"0x10", 0},
      {u"0X1A", 0},
      {u"7x", 7},
      // An exponent letter that no digit follows is not part of the number.
      {u"5e", 5},
      {u"5e+", 5},
      {u"5E-", 5},
      {u"5e 3", 5},
      {u"e5", 0},
      {u"2.5e1", 25},
      {u"1e-3", 0},
      {u"25E-1", 2},
      {u"1e+2", 100},
      // Signs, points and white space.
      {u".", 0},
      {u"-", 0},
      {u"+", 0},
      {u"+7", 7},
      {u"--5", 0},
      {u"- 5", 0},
      {u".5", 0},
      {u"-.5", 0},
      {u"1.5", 2},
      {u"4.5", 4},
      {u"-3.5", -4},
      {u"5.", 5},
      {u"1.2.3", 1},
      {u"007", 7},
      {u"\t\n\v\f\r 9", 9},
      {u"\u00A09", 0},  // no-break space is not white space here
      {u"\u30009", 0},
      {u"\uFF11", 0},   // digits of other scripts are not digits
      {u"\u0661", 0},
      // Rounded in double precision first, then to float, then half to even.
      {u"16777219", 16777220},
      {u"16777217.000000001", 16777216},
      {u"2.5000000001", 2},
      {u"2147483520", 2147483520},
      {u"2147483583", 2147483520},
      {u"2147483584", kInvalid},
      {u"-2147483648", kInvalid},
      {u"-2147483904", kInvalid},
      {u"1e10", kInvalid},
      {u"-1e400", kInvalid},
      {u"1e999999999999999999999", kInvalid},
      {u"1e-999999999999999999999", 0},
      {u"0e999999999999", 0},
      {long_ones, kInvalid},
      {tiny_then_big, 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.begin() + std::min<std::size_t>(c.text.size(), 40)));
    EXPECT_EQ(settings::TextToInteger(c.text), c.expected);
  }
}

}  // namespace
