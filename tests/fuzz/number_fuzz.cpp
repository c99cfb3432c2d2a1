// Arbitrary text through the text-to-integer rule, compared with a reading
// made another way: the number's prefix is cut out by a small scanner and
// read by the C library's strtod in the "C" locale, then narrowed to float
// and rounded by nearbyint.

#include <locale.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/settings_model.h"

namespace {

constexpr std::int32_t kInvalid = -2147483648;

locale_t c_locale;

// `text` holds one byte per code unit: ASCII as it is, anything else as 0x01,
// which is neither a digit, a sign, a point nor white space.
std::int32_t Oracle(const std::string& text) {
  std::string lower;
  for (char c : text) lower.push_back(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  if (lower == "+infinity" || lower == "-infinity" || lower == "nan") return kInvalid;

  std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
  if (i == std::string::npos) return 0;
  const std::size_t start = i;
  if (text[i] == '+' || text[i] == '-') ++i;
  std::size_t digits = 0;
  bool dot = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') ++digits;
    else if (text[i] == '.' && !dot) dot = true;
    else break;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && text[j] >= '0' && text[j] <= '9') {
      while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
      i = j;
    }
  }
  const std::string number = text.substr(start, i - start);
  char* end = nullptr;
  const double value = strtod_l(number.c_str(), &end, c_locale);
  if (end != number.c_str() + number.size()) {
    std::fprintf(stderr, "number_fuzz: strtod stopped early in %s\n", number.c_str());
    std::abort();
  }
  if (!(std::fabs(value) < 4294967296.0)) return kInvalid;
  const double rounded = std::nearbyint(static_cast<double>(static_cast<float>(value)));
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return kInvalid;
  return static_cast<std::int32_t>(rounded);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
  return c_locale ? 0 : 1;
}

// The first byte chooses how the rest becomes text: one code unit per byte
// (mostly ASCII, good for finding numbers), or pairs of bytes as UTF-16.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::u16string text;
  if (data[0] & 1) {
    for (std::size_t i = 1; i + 1 < size; i += 2)
      text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  } else {
    for (std::size_t i = 1; i < size; ++i) text.push_back(data[i]);
  }
  std::string narrow;
  for (char16_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '\x01');

  const std::int32_t result = settings::TextToInteger(text);
  const std::int32_t expected = Oracle(narrow);
  if (result != expected) {
    std::fprintf(stderr, "number_fuzz: \"%s\" gives %d, expected %d\n", narrow.c_str(),
                 static_cast<int>(result), static_cast<int>(expected));
    std::abort();
  }
  return 0;
}
