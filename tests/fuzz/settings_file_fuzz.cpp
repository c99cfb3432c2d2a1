// Arbitrary bytes as the settings file: the lookup must not crash, must give
// the same answer from the file as from memory, must agree with a plain
// byte-level reading when the bytes are ASCII, and must only ever return
// well-formed UTF-16 without line ends. The bytes also serve as ten values
// that are formatted as a file and looked up again.

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "settings/settings_file.h"

namespace platform {
extern int message_boxes_shown;
}

namespace {

std::filesystem::path work_dir;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "settings_file_fuzz: %s\n", what);
    std::abort();
  }
}

bool WellFormed(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// The lookup over ASCII bytes, line by line at the byte level.
std::u16string AsciiLookup(std::string_view bytes, std::string_view key) {
  std::string result;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t end = bytes.find_first_of("\r\n", i);
    if (end == std::string_view::npos) end = bytes.size();
    std::string_view line = bytes.substr(i, end - i);
    std::string_view field = line.substr(0, 9);
    while (!field.empty() && field.back() == ' ') field.remove_suffix(1);
    if (field == key) result = line.size() > 9 ? std::string(line.substr(9)) : "";
    i = end;
    if (i < bytes.size() && bytes[i] == '\r') {
      ++i;
      if (i < bytes.size() && bytes[i] == '\n') ++i;
    } else if (i < bytes.size()) {
      ++i;  // LF
    }
  }
  return std::u16string(result.begin(), result.end());
}

// What the writer makes of a value: one line, no unpaired surrogate.
std::u16string AsWritten(std::u16string value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    char16_t& c = value[i];
    if (c == u'\r' || c == u'\n') c = u' ';
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    if (high && i + 1 < value.size() && value[i + 1] >= 0xDC00 && value[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
  }
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/marlivox-fuzz-XXXXXX";
  if (!mkdtemp(pattern)) std::abort();
  work_dir = pattern;
  std::filesystem::current_path(work_dir);
  std::atexit([] {
    std::error_code error;
    std::filesystem::current_path("/", error);
    std::filesystem::remove_all(work_dir, error);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bool ascii = true;
  for (unsigned char b : bytes) ascii = ascii && b < 0x80;

  {
    std::ofstream out(settings::kSettingsFileName, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  for (const char* key : {"MV001", "MV003", "MV010", "", "MV0", "MV001   x"}) {
    const std::u16string key16(key, key + std::char_traits<char>::length(key));
    settings::ResetFileForTesting();
    const std::u16string from_memory = settings::LookupSettingInBytes(bytes, key16);
    Check(WellFormed(from_memory), "the result is not well-formed one-line UTF-16");
    if (ascii) Check(from_memory == AsciiLookup(bytes, key), "differs from the ASCII reading");
    settings::ResetFileForTesting();
    const int boxes = platform::message_boxes_shown;
    Check(settings::LookupSetting(key16) == from_memory, "file and memory differ");
    Check(platform::message_boxes_shown == boxes, "a readable file made a box");
  }

  // The bytes as ten values of UTF-16 code units, written and read back.
  std::u16string units;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  settings::SettingsRows& table = settings::SettingsTable();
  std::array<std::u16string, 10> values;
  for (std::size_t row = 0; row < 10; ++row) {
    const std::size_t from = units.size() * row / 10, to = units.size() * (row + 1) / 10;
    values[row] = units.substr(from, to - from);
    std::u16string key = u"MV00" + std::u16string(1, static_cast<char16_t>(u'0' + row));
    table[row] = {key, values[row]};
  }
  // In memory only: a real replace flushes to disk and would slow the run
  // down to a crawl; the file tests cover it.
  const std::string file = settings::FormatSettingsFile(table);
  for (std::size_t row = 0; row < 10; ++row) {
    std::u16string key = u"MV00" + std::u16string(1, static_cast<char16_t>(u'0' + row));
    settings::ResetFileForTesting();
    Check(settings::LookupSettingInBytes(file, key) == AsWritten(values[row]),
          "a formatted value did not come back");
  }
  settings::ClearSettingsTable();
  return 0;
}
