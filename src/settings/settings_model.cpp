#include "settings/settings_model.h"

#include <utility>

#include "app/window.h"
#include "platform/platform.h"
#include "settings/settings_file.h"

namespace settings {

namespace {

struct Model {
  Numbers numbers;
  std::array<std::u16string, 10> texts;
};

Model model;

// Row index of MV003, the message.
constexpr std::size_t kMessageRow = 2;

}  // namespace

const Numbers& Current() { return model.numbers; }

const std::u16string& MessageText() { return model.texts[kMessageRow]; }

const std::array<std::u16string, 10>& SettingTexts() { return model.texts; }

void LoadSettings() {}

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

void SaveSettings() {}

std::int32_t TextToInteger(std::u16string_view) { return 0; }

void SetForTesting(const Numbers& numbers, std::u16string message) {
  model.numbers = numbers;
  model.texts[kMessageRow] = std::move(message);
}

void ResetForTesting() {
  model = Model{};
  ResetFileForTesting();
}

}  // namespace settings
