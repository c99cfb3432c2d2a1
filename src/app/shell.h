// Start-up, the event loop, the Escape poll and the orderly end of the keyer.
// Everything runs on the one thread that calls Main.
#pragma once

#include <string_view>

namespace app {

// Program entry: start-up in its fixed order, the event loop, then the end.
// Never returns; every ending has exit code 0.
[[noreturn]] void Main();

// The tested start-up steps: the drawing surface, keyboard polling, the fonts.
// A failed step shows its message and ends the process.
void InitFacilities();

// Returns when `ok`; otherwise shows "Error" / `message` and ends the process.
void CheckStartupStep(bool ok, std::u16string_view message);

// Waits for events and dispatches the four buttons until "Avsluta" is clicked.
// An Escape release seen at any wake-up ends the process first.
void RunEventLoop();

// Takes one keyboard snapshot: true exactly when Escape was seen held by an
// earlier snapshot and is up now. A failed read (window not in front) gives
// false and makes the next call bind again and forget every remembered state.
bool EscapeReleased();

// Between the transmissions of a run: presents the window and takes (and
// discards) at most one pending event, without waiting.
void RefreshWindow();

// Releases every facility and ends the process with exit code 0. Saves nothing.
[[noreturn]] void QuitProgram();

// Back to the state at process start (tests only).
void ResetForTesting();

}  // namespace app
