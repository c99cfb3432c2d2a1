#include "settings/settings_file.h"

#include <cstdint>

#include "platform/files.h"
#include "platform/platform.h"

namespace settings {

namespace {

struct FileState {
  SettingsRows table;
  std::u16string lookup_result;
};

FileState state;

constexpr char16_t kReplacement = 0xFFFD;

// UTF-8 to UTF-16. Malformed input never stops the decoding: each maximal
// part of an ill-formed sequence (a lead byte with the continuation bytes
// that could still have completed it) becomes one U+FFFD, and decoding goes
// on at the next byte. Overlong forms, surrogates and values above U+10FFFF
// are ill-formed. A NUL byte is an ordinary character. Line-end bytes are
// ASCII and so never swallowed into a malformed sequence.
std::u16string DecodeUtf8(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  const std::size_t size = bytes.size();
  std::size_t i = 0;
  while (i < size) {
    const auto b0 = static_cast<std::uint8_t>(bytes[i]);
    if (b0 < 0x80) {
      text.push_back(b0);
      ++i;
      continue;
    }
    int needed;
    std::uint32_t code;
    std::uint8_t low = 0x80, high = 0xBF;  // range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      needed = 1;
      code = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      needed = 2;
      code = b0 & 0x0F;
      if (b0 == 0xE0) low = 0xA0;   // no overlong forms
      if (b0 == 0xED) high = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      needed = 3;
      code = b0 & 0x07;
      if (b0 == 0xF0) low = 0x90;   // no overlong forms
      if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      text.push_back(kReplacement);  // a stray continuation byte or C0, C1, F5..FF
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool complete = true;
    for (int k = 0; k < needed; ++k, ++j) {
      if (j >= size) {
        complete = false;
        break;
      }
      const auto b = static_cast<std::uint8_t>(bytes[j]);
      const std::uint8_t lo = k == 0 ? low : 0x80;
      const std::uint8_t hi = k == 0 ? high : 0xBF;
      if (b < lo || b > hi) {
        complete = false;
        break;
      }
      code = (code << 6) | (b & 0x3F);
    }
    if (!complete) {
      text.push_back(kReplacement);
      i = j;  // the byte that broke the sequence starts afresh
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      text.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(code));
    }
    i = j;
  }
  return text;
}

// UTF-16 to UTF-8. An unpaired surrogate (a field can hold one) is written
// as U+FFFD, so the file always stays valid UTF-8.
void AppendUtf8(std::u16string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = kReplacement;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
}

// A text as it goes into one line: a CR or LF inside it would split the line
// and add lines of its own, so each is written as a space instead.
void AppendLineText(std::u16string_view text, std::string& out) {
  std::u16string one_line(text);
  for (char16_t& c : one_line)
    if (c == u'\r' || c == u'\n') c = u' ';
  AppendUtf8(one_line, out);
}

// Matches one line against `key`; sets LookupResult on a match.
void MatchLine(std::u16string_view line, std::u16string_view key) {
  std::u16string_view field = line.substr(0, kKeyFieldWidth);
  while (!field.empty() && field.back() == u' ') field.remove_suffix(1);
  if (field != key) return;
  state.lookup_result.assign(line.size() > kKeyFieldWidth ? line.substr(kKeyFieldWidth)
                                                          : std::u16string_view{});
}

}  // namespace

SettingsRows& SettingsTable() { return state.table; }

void ClearSettingsTable() { state.table = SettingsRows{}; }

const std::u16string& LookupResult() { return state.lookup_result; }

// Lines end at LF, at CR or at CR LF; the end of the text ends the last line
// whether or not it has a line end, and adds no empty line after one.
std::u16string LookupSettingInBytes(std::string_view bytes, std::u16string_view key) {
  const std::u16string text = DecodeUtf8(bytes);
  const std::u16string_view rest(text);
  std::size_t start = 0;
  while (start < rest.size()) {
    std::size_t end = start;
    while (end < rest.size() && rest[end] != u'\r' && rest[end] != u'\n') ++end;
    MatchLine(rest.substr(start, end - start), key);
    if (end < rest.size() && rest[end] == u'\r' && end + 1 < rest.size() &&
        rest[end + 1] == u'\n') {
      ++end;
    }
    start = end + 1;
  }
  return state.lookup_result;
}

std::u16string LookupSetting(std::u16string_view key) {
  std::optional<std::string> bytes = platform::files::ReadWholeFile(kSettingsFileName);
  if (!bytes) {
    platform::ShowMessageBox(u"Information", u"Couldn't open the file");
    return state.lookup_result;
  }
  return LookupSettingInBytes(*bytes, key);
}

std::string FormatSettingsFile(const SettingsRows& rows) {
  std::string bytes;
  for (const SettingsRow& row : rows) {
    AppendLineText(row.key, bytes);
    for (std::size_t n = row.key.size(); n < kKeyFieldWidth; ++n) bytes.push_back(' ');
    AppendLineText(row.value, bytes);
    bytes += "\r\n";
  }
  return bytes;
}

bool WriteSettingsFile(OpenMode mode) {
  const std::string bytes = FormatSettingsFile(state.table);
  switch (mode) {
    case OpenMode::Append:
      return platform::files::AppendToFile(kSettingsFileName, bytes);
    case OpenMode::Replace:
      return platform::files::ReplaceFile(kSettingsFileName, bytes);
  }
  return false;
}

void ResetFileForTesting() { state = FileState{}; }

}  // namespace settings
