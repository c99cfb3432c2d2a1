#include "settings/settings_model.h"

#include <utility>

#include "app/window.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "settings/settings_file.h"

namespace settings {

namespace {

struct Key {
  const char16_t* key;
  const char16_t* default_text;
};

// Rows 1 to 10 of the settings file.
constexpr std::array<Key, 10> kKeys = {{
    {u"MV001", u"800"},
    {u"MV002", u"50"},
    {u"MV003", u"TEST DE QZ0XYZ ="},
    {u"MV004", u"4000"},
    {u"MV005", u"2000"},
    {u"MV006", u"73"},
    {u"MV007", u"1000"},
    {u"MV008", u"vakant"},
    {u"MV009", u"vakant"},
    {u"MV010", u"vakant"},
}};

// The input field of each of the first seven keys. Field 25 (above 27 on
// screen) holds MV007 and field 27 holds MV005; loading and saving both go
// through this one table.
constexpr std::array<int, 7> kFieldOfKey = {
    app::kToneField,          // MV001
    app::kUnitField,          // MV002
    app::kMessageField,       // MV003
    app::kCarrierField,       // MV004
    app::kRepeatPauseField,   // MV005
    app::kRepeatCountField,   // MV006
    app::kCarrierPauseField,  // MV007
};

constexpr std::size_t kMessageRow = 2;  // MV003

struct Model {
  Numbers numbers;
  std::array<std::u16string, 10> texts;  // MV001 first
};

Model model;

}  // namespace

const Numbers& Current() { return model.numbers; }

const std::u16string& MessageText() { return model.texts[kMessageRow]; }

const std::array<std::u16string, 10>& SettingTexts() { return model.texts; }

void LoadSettings() {
  // The existence test opens the file as a lookup would: a file that is
  // missing, unreadable or held by another keyer means a first start.
  if (!platform::files::CanOpenForReading(kSettingsFileName)) {
    SettingsRows& table = SettingsTable();
    for (std::size_t row = 0; row < kKeys.size(); ++row)
      table[row] = {kKeys[row].key, kKeys[row].default_text};
    // A failure shows nothing here: the lookups below report it.
    WriteSettingsFile(OpenMode::Append);
    ClearSettingsTable();
  }
  for (std::size_t row = 0; row < kKeys.size(); ++row)
    model.texts[row] = LookupSetting(kKeys[row].key);
}

void ReadFieldsIntoSettings() {
  model.numbers.ToneHz = TextToInteger(app::ReadInputField(app::kToneField));
  model.numbers.UnitMs = TextToInteger(app::ReadInputField(app::kUnitField));
  model.texts[kMessageRow] = app::ReadInputField(app::kMessageField);
  model.numbers.CarrierMs = TextToInteger(app::ReadInputField(app::kCarrierField));
  model.numbers.CarrierPauseMs =
      TextToInteger(app::ReadInputField(app::kCarrierPauseField));
  model.numbers.RepeatPauseMs =
      TextToInteger(app::ReadInputField(app::kRepeatPauseField));
  model.numbers.RepeatCount = TextToInteger(app::ReadInputField(app::kRepeatCountField));
}

void SaveSettings() {
  for (std::size_t row = 0; row < kFieldOfKey.size(); ++row)
    model.texts[row] = app::ReadInputField(kFieldOfKey[row]);

  SettingsRows& table = SettingsTable();
  for (std::size_t row = 0; row < kFieldOfKey.size(); ++row)
    table[row] = {kKeys[row].key, model.texts[row]};
  const bool saved = WriteSettingsFile(OpenMode::Replace);

  // A write that failed left the old file as it was, and says so rather than
  // confirming a save that did not happen.
  platform::ShowMessageBox(u"Åtgärd:", saved ? u"Data sparade i filen marlivox.cnf"
                                             : u"Data kunde inte sparas i filen marlivox.cnf");
  ClearSettingsTable();
}

void SetForTesting(const Numbers& numbers, std::u16string message) {
  model.numbers = numbers;
  model.texts[kMessageRow] = std::move(message);
}

void ResetForTesting() {
  model = Model{};
  ResetFileForTesting();
  platform::files::InjectFaultForTesting(platform::files::ReplaceStep::kNone,
                                         platform::files::FaultAction::kFail);
}

}  // namespace settings
