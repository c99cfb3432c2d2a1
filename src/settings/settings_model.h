// The keyer's seven settings: ten keys in the settings file, the texts loaded
// at start-up, the numbers that Test and Run key with, and the Save command.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace settings {

// The six numbers, as the last reading of the input fields left them; all 0
// at process start. No range is enforced here.
struct Numbers {
  std::int32_t ToneHz = 0;          // hertz
  std::int32_t UnitMs = 0;          // milliseconds
  std::int32_t CarrierMs = 0;       // milliseconds
  std::int32_t RepeatPauseMs = 0;   // milliseconds
  std::int32_t RepeatCount = 0;     // transmissions
  std::int32_t CarrierPauseMs = 0;  // milliseconds
};

// The numbers of the last ReadFieldsIntoSettings.
const Numbers& Current();

// The message to key: the MV003 entry of SettingTexts.
const std::u16string& MessageText();

// The ten setting texts, MV001 first; empty until LoadSettings.
const std::array<std::u16string, 10>& SettingTexts();

// Start-up: writes the defaults on the first start, then looks up the ten keys.
void LoadSettings();

// Test and Run: the seven input fields become MessageText and the numbers.
void ReadFieldsIntoSettings();

// "Spara": the seven input fields are written to the settings file, and the
// outcome is confirmed in a message box.
void SaveSettings();

// The text-to-integer rule of the six numeric fields.
std::int32_t TextToInteger(std::u16string_view text);

// Tests only: set the numbers and the message directly; back to start.
void SetForTesting(const Numbers& numbers, std::u16string message);
void ResetForTesting();

}  // namespace settings
