#include "keying/morse.h"

#include "keying/elements.h"
#include "platform/platform.h"

namespace keying {
namespace {

// Turns the written notation (a full stop for a dot, a hyphen for a dash)
// into elements while compiling; a pattern of any other character, or longer
// than six, does not compile.
consteval MorsePattern P(std::string_view written) {
  if (written.empty() || written.size() > 6) throw "a pattern has one to six elements";
  MorsePattern pattern;
  for (char mark : written) {
    if (mark != '.' && mark != '-') throw "a pattern is written with . and - only";
    pattern.elements[pattern.length++] = mark == '.' ? Element::kDot : Element::kDash;
  }
  return pattern;
}

// Letters and figures as the international code has them; the signs as the
// signals they are sent as (+ cross, . full stop, , comma, - hyphen, = double
// hyphen, / fraction bar, ? question mark, @ commercial at); Å, Ä and Ö as
// sent in Swedish.
constexpr MorseRow kMorseTable[] = {
    {u'A', P(".-")},     {u'B', P("-...")},   {u'C', P("-.-.")},   {u'D', P("-..")},
    {u'E', P(".")},      {u'F', P("..-.")},   {u'G', P("--.")},    {u'H', P("....")},
    {u'I', P("..")},     {u'J', P(".---")},   {u'K', P("-.-")},    {u'L', P(".-..")},
    {u'M', P("--")},     {u'N', P("-.")},     {u'O', P("---")},    {u'P', P(".--.")},
    {u'Q', P("--.-")},   {u'R', P(".-.")},    {u'S', P("...")},    {u'T', P("-")},
    {u'U', P("..-")},    {u'V', P("...-")},   {u'W', P(".--")},    {u'X', P("-..-")},
    {u'Y', P("-.--")},   {u'Z', P("--..")},
    {u'Å', P(".--.-")},  {u'Ä', P(".-.-")},   {u'Ö', P("---.")},
    {u'1', P(".----")},  {u'2', P("..---")},  {u'3', P("...--")},  {u'4', P("....-")},
    {u'5', P(".....")},  {u'6', P("-....")},  {u'7', P("--...")},  {u'8', P("---..")},
    {u'9', P("----.")},  {u'0', P("-----")},
    {u'+', P(".-.-.")},  {u'.', P(".-.-.-")}, {u',', P("--..--")}, {u'-', P("-....-")},
    {u'=', P("-...-")},  {u'/', P("-..-.")},  {u'?', P("..--..")}, {u'@', P(".--.-.")},
};
static_assert(std::size(kMorseTable) == 47);

constexpr char16_t kSpace = u' ';

}  // namespace

std::span<const MorseRow> MorseTable() { return kMorseTable; }

const MorsePattern* LookupMorse(char16_t character) {
  for (const MorseRow& row : kMorseTable)
    if (row.character == character) return &row.pattern;
  return nullptr;
}

void KeyCharacter(std::u16string_view c) {
  if (c.size() != 1) return;  // not one code unit: nothing to key
  const KeyingTimes& times = CurrentKeyingTimes();
  // The space is the word gap alone; no letter gap follows it.
  if (c[0] == kSpace) {
    platform::SleepMs(times.WordGapMs);
    return;
  }
  const MorsePattern* pattern = LookupMorse(c[0]);
  if (pattern == nullptr) return;
  for (Element element : pattern->view()) {
    if (element == Element::kDot)
      PlayDot();
    else
      PlayDash();
  }
  // Every element already ended in its own gap, so a character ends 1 + 3
  // units after its last tone.
  platform::SleepMs(times.LetterGapMs);
}

}  // namespace keying
