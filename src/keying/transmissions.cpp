#include "keying/transmissions.h"

#include <cstdint>
#include <limits>
#include <string>

#include "app/shell.h"
#include "app/window.h"
#include "keying/elements.h"
#include "keying/morse.h"
#include "keying/tone.h"
#include "platform/platform.h"
#include "settings/settings_model.h"

namespace keying {
namespace {

constexpr int kRepeatPauseRow = 460;  // beside the repeat pause field
constexpr int kMessageRow = 490;      // beside the repeat count field
constexpr int kDoneRow = 520;         // beside CountView

/* Module state */
struct State {
  std::u16string sent_text;   // SentText
  std::u16string count_text;  // CountText
};
State state;

std::u16string Decimal(std::int64_t value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// The field whose value the keyer cannot key, or 0 when every value can be
// keyed. Fields are checked in their order on screen; the first bad one is
// named. A count of 0 or below and a carrier of 0 or below are valid (nothing
// is sent, no carrier); a tone above the sample rate is a silent one.
int FirstFieldThatCannotBeKeyed() {
  const settings::Numbers& s = settings::Current();
  if (s.ToneHz <= 0) return app::kToneField;
  // The word gap is 7 units and must fit its 32-bit field.
  if (s.UnitMs < 0 ||
      7 * static_cast<std::int64_t>(s.UnitMs) > std::numeric_limits<std::int32_t>::max())
    return app::kUnitField;
  if (s.CarrierMs > 0 && s.CarrierPauseMs < 0) return app::kCarrierPauseField;
  if (s.RepeatPauseMs < 0) return app::kRepeatPauseField;
  return 0;
}

// Before anything is keyed: a value that cannot be keyed is named in a message
// box and the command ends there, with the fields as the user left them.
bool SettingsCanBeKeyed() {
  const int field = FirstFieldThatCannotBeKeyed();
  if (field == 0) return true;
  std::u16string text = u"Ogiltigt värde i fältet ";
  text += app::FieldCaption(field);
  platform::ShowMessageBox(u"Åtgärd:", text);
  return false;
}

}  // namespace

void TransmitOnce() {
  const settings::Numbers& s = settings::Current();
  SetKeyingTimes(s.UnitMs);
  state.sent_text = u" ";
  if (s.CarrierMs > 0) PlayCarrier();

  // The display changes before the character sounds, also for characters
  // that key nothing.
  const std::u16string& message = settings::MessageText();
  const std::size_t n = message.size();
  for (std::size_t i = 0; i < n; ++i) {
    app::ShowStatus(kMessageRow, u"Meddelandet sänds ut");
    const std::u16string_view c(message.data() + i, 1);
    state.sent_text += c;
    app::ShowSentText(state.sent_text);
    KeyCharacter(c);
  }
  app::ShowStatus(kMessageRow, u"");

  app::ShowStatus(kRepeatPauseRow, u"Pause mellan utsändningarna");
  platform::SleepMs(s.RepeatPauseMs);
  app::ShowStatus(kRepeatPauseRow, u"");
}

void RunTransmissions() {
  // 64 bits, so that a count of the largest 32-bit value ends.
  const std::int64_t count = settings::Current().RepeatCount;
  for (std::int64_t i = 1; i <= count; ++i) {
    app::RefreshWindow();
    TransmitOnce();
    state.count_text = u" " + Decimal(i);
    app::ShowCount(state.count_text);
  }
}

void TestHandler() {
  settings::ReadFieldsIntoSettings();
  if (!SettingsCanBeKeyed()) return;
  TransmitOnce();
  app::ShowStatus(kDoneRow, u"Klart");
}

void RunHandler() {
  settings::ReadFieldsIntoSettings();
  if (!SettingsCanBeKeyed()) return;
  RunTransmissions();
  app::ShowStatus(kDoneRow, u"Klart");
}

const std::u16string& SentText() { return state.sent_text; }
const std::u16string& CountText() { return state.count_text; }

void ResetForTesting() {
  state = State{};
  SetKeyingTimes(0);
  FailImageAllocationsForTesting(false);
}

}  // namespace keying
