// The text-to-integer rule of the six numeric input fields (declared with the
// settings model).
//
// Only ASCII counts: the white space skipped at the start is the C set
// (space, tab, LF, VT, FF, CR), the digits are 0 to 9, the decimal point is a
// full stop, and the three texts "+Infinity", "-Infinity" and "NaN" are
// compared with ASCII letters folded. Anything else ends the number: other
// spellings of infinity ("inf", "Infinity", " NaN") have no digits and give 0,
// "0x10" gives 0 (the reading stops at the x), and an exponent letter that no
// digit follows is not part of the number ("5e" and "5e+" give 5).
//
// The number read is rounded once to double precision (correctly, from all
// its digits), then to the nearest float, then to the nearest integer with
// halves going to the even neighbour.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "settings/settings_model.h"

namespace settings {

namespace {

constexpr std::int32_t kInvalid = std::numeric_limits<std::int32_t>::min();

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool EqualsIgnoringAsciiCase(std::u16string_view text, std::u16string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t a = text[i], b = word[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
    if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b - u'A' + u'a');
    if (a != b) return false;
  }
  return true;
}

// Rounds to the nearest integer, a half to the even neighbour, whatever the
// floating-point rounding mode. |value| is below 2^34, so every step is exact.
double RoundHalfEven(double value) {
  const double down = std::floor(value);
  const double rest = value - down;
  if (rest > 0.5) return down + 1;
  if (rest < 0.5) return down;
  return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

}  // namespace

std::int32_t TextToInteger(std::u16string_view text) {
  if (EqualsIgnoringAsciiCase(text, u"+Infinity") ||
      EqualsIgnoringAsciiCase(text, u"-Infinity") || EqualsIgnoringAsciiCase(text, u"NaN")) {
    return kInvalid;
  }

  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }

  // The significant digits (no leading or trailing zeros) and the power of
  // ten that puts the decimal point in front of them: value = 0.digits x
  // 10^point. Keeping the number in this form means that no digit string,
  // however long, and no exponent, however large, overflows anything.
  std::string digits;
  std::int64_t point = 0;
  bool any_digit = false;
  bool seen_dot = false;
  std::size_t pending_zeros = 0;  // zeros after the last nonzero digit
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'.' && !seen_dot) {
      seen_dot = true;
      continue;
    }
    if (!IsDigit(c)) break;
    any_digit = true;
    if (c == u'0') {
      if (digits.empty()) {
        if (seen_dot) --point;  // 0.00ddd: the point moves left
      } else {
        ++pending_zeros;
        if (!seen_dot) ++point;
      }
      continue;
    }
    digits.append(pending_zeros, '0');
    pending_zeros = 0;
    digits.push_back(static_cast<char>(c));
    if (!seen_dot) ++point;
  }
  if (!any_digit) return 0;

  // The exponent belongs to the number only when a digit follows its letter
  // and optional sign.
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    std::size_t j = i + 1;
    bool exponent_negative = false;
    if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) {
      exponent_negative = text[j] == u'-';
      ++j;
    }
    if (j < text.size() && IsDigit(text[j])) {
      std::int64_t exponent = 0;
      for (; j < text.size() && IsDigit(text[j]); ++j) {
        if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[j] - u'0');
      }
      point += exponent_negative ? -exponent : exponent;
    }
  }

  if (digits.empty()) return 0;  // all zeros
  // Far beyond the range of a double either way: infinite, or rounding to 0.
  if (point > 400) return kInvalid;
  if (point < -400) return 0;

  std::string decimal = "0." + digits + "e" + std::to_string(point);
  double value = 0;
  const auto [end, error] =
      std::from_chars(decimal.data(), decimal.data() + decimal.size(), value);
  if (error == std::errc::result_out_of_range) {
    return point > 0 ? kInvalid : 0;
  }
  if (error != std::errc{} || end != decimal.data() + decimal.size()) return 0;
  if (negative) value = -value;

  // Anything this large is out of the int32 range after any rounding, and
  // the float conversion below is only defined within the float range.
  if (!(std::fabs(value) < 1e10)) return kInvalid;
  const float single = static_cast<float>(value);
  const double rounded = RoundHalfEven(static_cast<double>(single));
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return kInvalid;
  return static_cast<std::int32_t>(rounded);
}

}  // namespace settings
