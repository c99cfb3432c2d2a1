// The settings file "marlivox.cnf" in the working directory: ten fixed-width
// lines of key and value, the table that the next write is made from, the
// lookup of one key and the writing of a whole file.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace settings {

// The bare name of the settings file, opened in the working directory.
inline constexpr char kSettingsFileName[] = "marlivox.cnf";

// Key fields are this many UTF-16 code units wide.
inline constexpr std::size_t kKeyFieldWidth = 9;

struct SettingsRow {
  std::u16string key;
  std::u16string value;
};

// Rows 1 to 10 are indexes 0 to 9.
using SettingsRows = std::array<SettingsRow, 10>;

// The image of the next file to be written; empty except while a write is
// being prepared.
SettingsRows& SettingsTable();

// Empties all ten rows of SettingsTable.
void ClearSettingsTable();

// The text of the last matching lookup of the process; empty at start and
// never reset (a lookup that finds nothing returns it unchanged).
const std::u16string& LookupResult();

// Scans the settings file for `key` (last match wins) and returns
// LookupResult. When the file cannot be opened (missing, unreadable, or
// locked by another keyer) it shows "Information" / "Couldn't open the file"
// and returns LookupResult unchanged.
std::u16string LookupSetting(std::u16string_view key);

// The same scan over bytes already in memory, with no file involved: sets
// LookupResult when `key` is found and returns it.
std::u16string LookupSettingInBytes(std::string_view bytes, std::u16string_view key);

enum class OpenMode {
  Append,   // first start: keep what is there, add the ten lines at the end
  Replace,  // Save: the ten lines become the whole file, atomically
};

// Writes rows 1 to 10 of SettingsTable as the settings file. Returns whether
// the ten lines reached the file; shows nothing.
bool WriteSettingsFile(OpenMode mode);

// The bytes of one file image made from `rows` (UTF-8, CR LF after each row,
// key fields padded with spaces to nine code units).
std::string FormatSettingsFile(const SettingsRows& rows);

// Tests only: LookupResult and SettingsTable back to empty.
void ResetFileForTesting();

}  // namespace settings
