#include "settings/settings_file.h"

namespace settings {

namespace {

struct FileState {
  SettingsRows table;
  std::u16string lookup_result;
};

FileState state;

}  // namespace

SettingsRows& SettingsTable() { return state.table; }

void ClearSettingsTable() { state.table = SettingsRows{}; }

const std::u16string& LookupResult() { return state.lookup_result; }

std::u16string LookupSetting(std::u16string_view) { return state.lookup_result; }

std::u16string LookupSettingInBytes(std::string_view, std::u16string_view) {
  return state.lookup_result;
}

bool WriteSettingsFile(OpenMode) { return false; }

std::string FormatSettingsFile(const SettingsRows&) { return {}; }

void ResetFileForTesting() { state = FileState{}; }

}  // namespace settings
