// A complete fake of platform.h for the logic tests. It records what the logic
// showed, created, destroyed, sounded and slept, in virtual time: SleepMs
// advances a clock and nothing really waits, so a whole transmission runs in
// microseconds. EndProcess throws fake::ProcessEnded instead of ending.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

// Thrown by platform::EndProcess: the process would have ended here.
struct ProcessEnded {};
// Thrown by platform::WaitEvent when the scripted events are used up.
struct NoMoreEvents {};

enum class What {
  kInitAdapters, kPrepareSurface, kPrepareInput, kEndProcess,
  kMessageBox,     // text = title, text2 = message
  kOpenWindow,     // text = title, w/h = client size
  kCloseWindow,
  kOpenSurface, kClearSurface, kBeginDraw, kEndDraw, kPresentSurface,
  kCreateFont,     // text = face, number = points, flag = bold, handle
  kCreateControl,  // number, kind, x, y, w, h, text, handle
  kDestroyControl, // number, handle
  kSetFont,        // handle, number = font handle
  kSetColor,       // handle, number = 0xRRGGBB
  kWaitEvent, kPollEvent,
  kBindKeyboard, kReadKeyboard,  // flag = success
  kSleep,          // number = requested ms
  kOpenSound,      // flag = success
  kLoadSound,      // handle (0: none)
  kToneStart, kToneStop, kReleaseSound,  // handle
};

struct Record {
  std::int64_t t_ms = 0;  // virtual time when it happened
  What what{};
  int number = 0;
  int handle = 0;
  platform::ControlKind kind{};
  int x = 0, y = 0, w = 0, h = 0;
  bool flag = false;
  std::u16string text, text2;
};

struct Control {
  int handle = 0;
  int number = 0;
  platform::ControlKind kind{};
  int x = 0, y = 0, w = 0, h = 0;
  std::u16string text;
  int font = 0;
  std::uint32_t color = 0;  // 0xRRGGBB; 0 until set
  std::u16string accessible_name;  // as last set; empty until set
  bool alive = true;
};

// One scripted wake-up of the event source. When it is returned, the physical
// Escape key takes `escape_down` if given (before the caller's snapshot).
struct ScriptedEvent {
  platform::Event event;
  std::optional<bool> escape_down;
};

// ---- Setup --------------------------------------------------------------------

// Forgets everything: log, controls, events, keyboard, sound settings, clock.
void Reset();

void SetPrepareSurfaceResult(bool ok);
void SetPrepareInputResult(bool ok);

// Events handed out by WaitEvent/PollEvent in order. PollEvent returns nothing
// when the script is empty; WaitEvent throws NoMoreEvents.
void QueueEvents(std::vector<ScriptedEvent> events);

// Whether the main window is in the foreground (keyboard reads succeed).
void SetForeground(bool foreground);
// Escape is physically down from `from_ms` (included) to `to_ms` (excluded)
// in virtual time.
void HoldEscape(std::int64_t from_ms, std::int64_t to_ms);
// Escape physically down or up from now on (besides the held intervals).
void SetEscapeDown(bool down);

void SetSoundOpenFails(bool fails);
void SetSoundLoadFails(bool fails);

// Called with each message box as it is shown (title, text), e.g. to act while
// it is open.
void OnMessageBox(std::function<void(const std::u16string&, const std::u16string&)> hook);

// Types into the live control with this number (replaces its whole text).
void SetFieldText(int number, std::u16string text);

// ---- Reading the record -------------------------------------------------------

std::int64_t Now();
const std::vector<Record>& Log();
std::vector<Record> LogOf(What what);

// The live control bearing this number; nullptr if none. Fails the test if
// more than one live control bears it.
const Control* ControlByNumber(int number);
// Every control ever created, in creation order (destroyed ones have alive false).
const std::vector<Control>& Controls();
int LiveControlsWithNumber(int number);

// The texts shown by creating controls with this number, in order.
std::vector<std::u16string> TextsShown(int number);

// Message boxes shown, as (title, text).
std::vector<std::pair<std::u16string, std::u16string>> MessageBoxes();

// The sound as heard: alternating tone and silence segments between the first
// tone start and now. Tone segments have tone true; silence segments that
// follow one another are merged.
struct Segment {
  bool tone = false;
  std::int64_t ms = 0;
  bool operator==(const Segment&) const = default;
};
std::vector<Segment> Rhythm();

// The images handed to LoadToneSound, copied whole.
const std::vector<std::vector<std::uint8_t>>& LoadedImages();

}  // namespace fake
