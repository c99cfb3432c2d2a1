#include "app/shell.h"

#include "app/window.h"
#include "keying/transmissions.h"
#include "platform/platform.h"
#include "settings/settings_model.h"

namespace app {
namespace {

// The remembered state of a key between two snapshots.
enum class KeyState { kUp, kHeld, kReleased };

/* Module state */
struct State {
  // Keyboard polling is bound on the first snapshot and again after a read
  // failed; binding forgets every remembered state.
  bool keyboard_bound = false;
  std::array<KeyState, platform::kKeyCount> keys{};  // all kUp
};
State state;

}  // namespace

void Main() {
  platform::InitAdapters();
  InitFacilities();
  OpenMainWindow();
  settings::LoadSettings();
  CreateControls();
  RunEventLoop();
  CloseMainWindow();
  QuitProgram();
}

void InitFacilities() {
  CheckStartupStep(platform::PrepareSurface(), u"PrepareSurface() command failed.");
  CheckStartupStep(platform::PrepareInput(), u"PrepareInput() command failed.");
  LoadFonts();
}

void CheckStartupStep(bool ok, std::u16string_view message) {
  if (ok) return;
  platform::ShowMessageBox(u"Error", message);
  QuitProgram();
}

void RunEventLoop() {
  for (;;) {
    platform::Event event = platform::WaitEvent();
    // Escape wins over whatever woke the loop: the event is not handled.
    if (EscapeReleased()) QuitProgram();
    if (!event.is_control) continue;
    switch (event.number) {
      case kSaveButton:
        settings::SaveSettings();
        break;
      case kTestButton:
        keying::TestHandler();
        break;
      case kRunButton:
        keying::RunHandler();
        break;
      case kQuitButton:
        return;
      default:  // the input fields' focus and edit events change nothing
        break;
    }
  }
}

bool EscapeReleased() {
  if (!state.keyboard_bound) {
    if (!platform::BindKeyboard()) return false;
    state.keyboard_bound = true;
    state.keys.fill(KeyState::kUp);
  }
  platform::KeyStates down{};
  if (!platform::ReadKeyboard(down)) {
    // The window is not in front (or access was lost): the remembered states
    // stay as they are, and the next snapshot binds again and forgets them.
    state.keyboard_bound = false;
    return false;
  }
  for (int key = 0; key < platform::kKeyCount; ++key) {
    if (down[key])
      state.keys[key] = KeyState::kHeld;
    else
      state.keys[key] = state.keys[key] == KeyState::kHeld ? KeyState::kReleased : KeyState::kUp;
  }
  return state.keys[platform::EscapeKey()] == KeyState::kReleased;
}

void RefreshWindow() {
  platform::EndDraw();
  platform::PresentSurface();
  (void)platform::PollEvent();  // taken and discarded
  platform::BeginDraw();
}

void QuitProgram() { platform::EndProcess(); }

void ResetForTesting() {
  state = State{};
  ResetWindowForTesting();
}

}  // namespace app
