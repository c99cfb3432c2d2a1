// The main window: its title, size, fonts and every control, and the three
// displays that the keying shows progress on.
#pragma once

#include <string>
#include <string_view>

namespace app {

// Control numbers.
constexpr int kStatusLabel = 8;
constexpr int kBannerLabel = 9;
constexpr int kSentTextView = 10;
constexpr int kCountView = 13;
constexpr int kToneField = 17;
constexpr int kUnitField = 19;
constexpr int kMessageField = 21;
constexpr int kCarrierField = 23;
constexpr int kCarrierPauseField = 25;
constexpr int kRepeatPauseField = 27;
constexpr int kRepeatCountField = 29;
constexpr int kSaveButton = 36;
constexpr int kTestButton = 37;
constexpr int kRunButton = 38;
constexpr int kQuitButton = 39;

constexpr int kClientWidth = 1280;
constexpr int kClientHeight = 800;

// Creates BannerFont (16 pt bold) and HintFont (10 pt bold), face "Verdana".
void LoadFonts();

// Opens MainWindow with its title, the white background and the banner.
void OpenMainWindow();

// Creates every other control in its order, the input fields filled from the
// loaded setting texts. Needs LoadFonts, OpenMainWindow and LoadSettings first.
void CreateControls();

// Replace StatusLabel (moved to `row`), SentTextView and CountView by new
// labels with the given text; an empty text leaves an empty label.
void ShowStatus(int row, std::u16string_view text);
void ShowSentText(std::u16string_view text);
void ShowCount(std::u16string_view text);

// The whole current text of the input field with this number.
std::u16string ReadInputField(int number);

// The caption shown beside an input field ("Ton i Hertz" for 17, ...).
std::u16string_view FieldCaption(int number);

// Destroys the main window and forgets its controls.
void CloseMainWindow();

// Forgets the controls and fonts (tests only; app::ResetForTesting calls it).
void ResetWindowForTesting();

}  // namespace app
