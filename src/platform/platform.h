// The whole contract between the keyer's logic (app/, settings/, keying/) and
// the machine it runs on. The logic includes this header and nothing of Qt,
// SDL2 or X11; the real implementation lives in src/platform/ and a recording
// fake in tests/fake/. Which one a binary gets is decided at link time.
//
// Texts are UTF-16 (std::u16string), counted and compared as code units.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// ---- Start-up and end -------------------------------------------------------

// Prepares the adapters (toolkit object, display connection if any). First call
// of the program; never fails by itself.
void InitAdapters();

// Opens the drawing-surface facility: true when a display could be opened and
// its default visual has at least 16 bits per pixel.
bool PrepareSurface();

// Prepares keyboard polling: true when the physical key state can be read
// from the display server.
bool PrepareInput();

// Releases every facility in turn (sound, files, surface, keyboard, windows,
// controls, fonts) and ends the process with exit code 0.
[[noreturn]] void EndProcess();

// ---- Message boxes ----------------------------------------------------------

// A modal box with a title, a text, one OK button and no icon, owned by the
// main window when it is open; returns when dismissed. With no display to show
// it on, "title: text" goes to standard error instead.
void ShowMessageBox(std::u16string_view title, std::u16string_view text);

// ---- Main window and its background -----------------------------------------

// Opens the fixed, non-resizable top-level window with a client area of the
// given size (title bar, system menu and close box; no minimise or maximise
// box), centred on the primary screen by its outer size, shown and activated.
// The window's close request is consumed and does nothing.
void OpenWindow(std::u16string_view title, int client_width, int client_height);

// Destroys the main window and its controls.
void CloseWindow();

// The surface under the controls: opened over a client rectangle, cleared to a
// colour, opened and closed for drawing, presented (repainted to the screen).
void OpenSurface(int x, int y, int width, int height);
void ClearSurface(std::uint8_t r, std::uint8_t g, std::uint8_t b);
void BeginDraw();
void EndDraw();
void PresentSurface();

// ---- Fonts ------------------------------------------------------------------

using FontHandle = int;  // 0 means none

// A font by face name, size in points and weight; its pixel height is
// points x vertical DPI / 72, rounded. A missing face falls back to the
// system's substitute. Returns 0 when no font could be made.
FontHandle CreateFont(std::u16string_view face, int points, bool bold);

// ---- Controls ---------------------------------------------------------------

enum class ControlKind {
  kLabel,           // plain text, left-aligned, word-wrapped, cut at its height
  kBorderedLabel,   // a label with a sunken edge
  kInputField,      // single-line text field, takes part in Tab navigation
  kUpperCaseField,  // an input field that turns typed and pasted letters to upper case
  kButton,          // push button, takes part in Tab navigation
};

using ControlHandle = int;  // 0 means none

// Creates a control on the main window at (x, y) in the client area with the
// given size and text, shown at once (also while the event loop is not
// running). `number` is what its events carry. Input fields and buttons join
// the Tab order after those created before them. Returns 0 on failure.
ControlHandle CreateControl(int number, ControlKind kind, int x, int y, int width,
                            int height, std::u16string_view text);

// Destroys a control; the handle is not used again.
void DestroyControl(ControlHandle control);

void SetControlFont(ControlHandle control, FontHandle font);
void SetControlTextColor(ControlHandle control, std::uint8_t r, std::uint8_t g,
                         std::uint8_t b);

// The whole current text of a control.
std::u16string ControlText(ControlHandle control);

// What a screen reader calls the control: an input field's caption, a
// display's purpose. A label given a name shows its text as its value; when
// it replaced a control of the same number, its text is announced now.
// Controls without one are known by their own text.
void SetAccessibleName(ControlHandle control, std::u16string_view name);

// ---- Events -----------------------------------------------------------------

// A control event carries the control's number: buttons raise one when
// clicked, input fields when they gain or lose the focus and when edited.
// Everything else is an other event.
struct Event {
  bool is_control = false;
  int number = 0;
};

// Blocks until the next event of the keyer's windows. A control event left
// waiting by an earlier dispatch comes first; otherwise one message is taken,
// dispatched (Tab navigation included) and an other event is returned.
Event WaitEvent();

// As WaitEvent, but returns nothing at once when no message is there.
std::optional<Event> PollEvent();

// ---- Keyboard ---------------------------------------------------------------

constexpr int kKeyCount = 256;
using KeyStates = std::array<bool, kKeyCount>;  // true: physically down

// Binds keyboard polling to the main window (no exclusive access). False when
// it cannot be bound now.
bool BindKeyboard();

// Reads the physical state of all keys. False, and `down` untouched, when the
// read fails: the main window does not have the input focus, or access was lost.
bool ReadKeyboard(KeyStates& down);

// The index of the Escape key in KeyStates.
int EscapeKey();

// ---- Time -------------------------------------------------------------------

// Sleeps whole milliseconds, ending at the deadline; 0 or a negative value
// returns at once. The window stays painted meanwhile; user input waits.
void SleepMs(std::int32_t ms);

// ---- Sound output -----------------------------------------------------------

using SoundHandle = int;  // 0 means none

// Makes the default sound output ready. The first success lasts for the
// process; a failure is tried again by the next call.
bool OpenSoundOutput();

// Reads a RIFF/WAVE image (48000 Hz, 24-bit, mono PCM only) and makes a new,
// independent sound holding its own copy of the samples. 0 when no sound can
// be made (wrong format, no output).
SoundHandle LoadToneSound(const std::uint8_t* image);

// Starts playing the sound's samples end to end in a loop, from its first
// sample; returns at once.
void StartToneLoop(SoundHandle sound);

// Stops playing at once, wherever the play position is. No fade.
void StopToneLoop(SoundHandle sound);

// Frees the sound.
void ReleaseToneSound(SoundHandle sound);

}  // namespace platform
