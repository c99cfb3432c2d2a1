#include "app/window.h"

#include <map>

#include "platform/platform.h"
#include "settings/settings_model.h"

namespace app {
namespace {

using platform::ControlKind;

// The grey of the banner and the two hint lines.
constexpr std::uint8_t kGrey = 100;

enum class Font { kDefault, kBanner, kHint };

// Where a field's initial text comes from: an index into the setting texts
// (MV001 is 0), or none.
constexpr int kNoSetting = -1;

struct ControlSpec {
  int number;
  ControlKind kind;
  int x, y, width, height;
  const char16_t* text;  // nullptr: the setting's text
  int setting;
  Font font;
};

// Every control after the banner, in creation order, which is also the Tab
// order of the fields and buttons. Fields 25 and 27 cross the key order: 25
// (above 27 on screen) holds MV007, 27 holds MV005.
constexpr ControlSpec kControls[] = {
    {14, ControlKind::kLabel, 120, 140, 600, 20, u"Fyll i alla fält med relevant information!", kNoSetting, Font::kHint},
    {15, ControlKind::kLabel, 120, 170, 600, 20, u"Avbryt ej färdig utsändning med Escape!", kNoSetting, Font::kHint},
    {16, ControlKind::kLabel, 120, 280, 200, 20, u"Ton i Hertz", kNoSetting, Font::kDefault},
    {17, ControlKind::kInputField, 320, 280, 50, 20, nullptr, 0, Font::kDefault},
    {18, ControlKind::kLabel, 120, 310, 200, 20, u"Teckenlängd i mS", kNoSetting, Font::kDefault},
    {19, ControlKind::kInputField, 320, 310, 50, 20, nullptr, 1, Font::kDefault},
    {20, ControlKind::kLabel, 120, 340, 200, 20, u"Text du vill sända", kNoSetting, Font::kDefault},
    {21, ControlKind::kUpperCaseField, 320, 340, 800, 20, nullptr, 2, Font::kDefault},
    {11, ControlKind::kLabel, 120, 370, 200, 20, u"Aktuell text som sänds just nu", kNoSetting, Font::kDefault},
    {10, ControlKind::kBorderedLabel, 320, 370, 800, 20, u"", kNoSetting, Font::kDefault},
    {22, ControlKind::kLabel, 120, 400, 200, 20, u"Ev. bärvåg i mS före texten", kNoSetting, Font::kDefault},
    {23, ControlKind::kInputField, 320, 400, 50, 20, nullptr, 3, Font::kDefault},
    {24, ControlKind::kLabel, 120, 430, 200, 20, u"Pause i mS mellan bärvåg och text", kNoSetting, Font::kDefault},
    {25, ControlKind::kInputField, 320, 430, 50, 20, nullptr, 6, Font::kDefault},
    {26, ControlKind::kLabel, 120, 460, 200, 20, u"Pause i mS mellan sändningarna", kNoSetting, Font::kDefault},
    {27, ControlKind::kInputField, 320, 460, 50, 20, nullptr, 4, Font::kDefault},
    {28, ControlKind::kLabel, 120, 490, 200, 20, u"Antal utsändningar du vill köra", kNoSetting, Font::kDefault},
    {29, ControlKind::kInputField, 320, 490, 50, 20, nullptr, 5, Font::kDefault},
    {12, ControlKind::kLabel, 120, 520, 200, 20, u"Antal körda utsändningar ", kNoSetting, Font::kDefault},
    {13, ControlKind::kBorderedLabel, 320, 520, 50, 20, u"", kNoSetting, Font::kDefault},
    {8, ControlKind::kLabel, 420, 520, 200, 20, u"", kNoSetting, Font::kDefault},
    {36, ControlKind::kButton, 120, 600, 100, 20, u"Spara", kNoSetting, Font::kDefault},
    {37, ControlKind::kButton, 250, 600, 100, 20, u"Test", kNoSetting, Font::kDefault},
    {38, ControlKind::kButton, 380, 600, 100, 20, u"Kör", kNoSetting, Font::kDefault},
    {39, ControlKind::kButton, 510, 600, 100, 20, u"Avsluta", kNoSetting, Font::kDefault},
};

// The caption label that stands to the left of each input field.
constexpr struct {
  int field;
  int caption;
} kCaptionOf[] = {{17, 16}, {19, 18}, {21, 20}, {23, 22}, {25, 24}, {27, 26}, {29, 28}};

// What a screen reader calls the three displays, whose own text changes.
constexpr struct {
  int number;
  const char16_t* purpose;
} kDisplayPurposes[] = {
    {kSentTextView, u"Aktuell text som sänds just nu"},
    {kCountView, u"Antal körda utsändningar"},
    {kStatusLabel, u"Status"},
};

// An input field is named by its caption, a display by its purpose; the other
// controls are known by their own text.
std::u16string_view AccessibleNameOf(int number) {
  for (auto [display, purpose] : kDisplayPurposes)
    if (display == number) return purpose;
  return FieldCaption(number);
}

void NameForScreenReader(int number, platform::ControlHandle control) {
  const std::u16string_view name = AccessibleNameOf(number);
  if (control != 0 && !name.empty()) platform::SetAccessibleName(control, name);
}

/* Module state */
struct State {
  std::map<int, platform::ControlHandle> controls;  // control number -> live control
  platform::FontHandle banner_font = 0;
  platform::FontHandle hint_font = 0;
};
State state;

void Create(const ControlSpec& spec, std::u16string_view text) {
  platform::ControlHandle c = platform::CreateControl(
      spec.number, spec.kind, spec.x, spec.y, spec.width, spec.height, text);
  state.controls[spec.number] = c;
  NameForScreenReader(spec.number, c);
  if (spec.font == Font::kDefault) return;
  platform::SetControlFont(c, spec.font == Font::kBanner ? state.banner_font : state.hint_font);
  platform::SetControlTextColor(c, kGrey, kGrey, kGrey);
}

// A new label with the number first, then the old one goes, so the number
// always names a control. If the new label cannot be made, the old one stays.
void Replace(int number, ControlKind kind, int x, int y, int width, int height,
             std::u16string_view text) {
  platform::ControlHandle fresh =
      platform::CreateControl(number, kind, x, y, width, height, text);
  if (fresh == 0) return;
  NameForScreenReader(number, fresh);  // named, and its text announced, as it appears
  auto old = state.controls.find(number);
  if (old != state.controls.end() && old->second != 0) platform::DestroyControl(old->second);
  state.controls[number] = fresh;
}

}  // namespace

void LoadFonts() {
  state.banner_font = platform::CreateFont(u"Verdana", 16, true);
  state.hint_font = platform::CreateFont(u"Verdana", 10, true);
}

void OpenMainWindow() {
  std::u16string title = u"MARLIVOX ver. 024";
  title.append(90, u' ');
  platform::OpenWindow(title, kClientWidth, kClientHeight);
  platform::OpenSurface(0, 0, kClientWidth, kClientHeight);
  platform::ClearSurface(255, 255, 255);
  platform::BeginDraw();
  Create({kBannerLabel, ControlKind::kLabel, 400, 30, 600, 30, nullptr, kNoSetting, Font::kBanner},
         u"MARLIVOX by VALMERA");
}

void CreateControls() {
  const auto& texts = settings::SettingTexts();
  for (const ControlSpec& spec : kControls)
    Create(spec, spec.setting == kNoSetting ? std::u16string_view(spec.text)
                                            : std::u16string_view(texts[spec.setting]));
}

void ShowStatus(int row, std::u16string_view text) {
  Replace(kStatusLabel, ControlKind::kLabel, 390, row, 200, 20, text);
}

void ShowSentText(std::u16string_view text) {
  Replace(kSentTextView, ControlKind::kBorderedLabel, 320, 370, 800, 20, text);
}

void ShowCount(std::u16string_view text) {
  Replace(kCountView, ControlKind::kBorderedLabel, 320, 520, 50, 20, text);
}

std::u16string ReadInputField(int number) {
  auto it = state.controls.find(number);
  if (it == state.controls.end() || it->second == 0) return {};
  return platform::ControlText(it->second);
}

std::u16string_view FieldCaption(int number) {
  for (auto [field, caption] : kCaptionOf) {
    if (field != number) continue;
    for (const ControlSpec& spec : kControls)
      if (spec.number == caption) return spec.text;
  }
  return {};
}

void CloseMainWindow() {
  platform::CloseWindow();
  state.controls.clear();
}

void ResetWindowForTesting() { state = State{}; }

}  // namespace app
