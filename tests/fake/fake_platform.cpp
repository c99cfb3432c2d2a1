#include "fake/fake_platform.h"

#include <gtest/gtest.h>

#include <deque>
#include <utility>

namespace {

struct State {
  std::int64_t now_ms = 0;
  std::vector<fake::Record> log;
  std::vector<fake::Control> controls;
  std::deque<fake::ScriptedEvent> events;
  bool surface_ok = true;
  bool input_ok = true;
  bool foreground = true;
  bool escape_down = false;
  std::vector<std::pair<std::int64_t, std::int64_t>> escape_held;
  bool sound_open_fails = false;
  bool sound_load_fails = false;
  int next_handle = 1;
  std::vector<std::vector<std::uint8_t>> images;
  std::function<void(const std::u16string&, const std::u16string&)> box_hook;
};

State state;

fake::Record& Add(fake::What what) {
  fake::Record r;
  r.t_ms = state.now_ms;
  r.what = what;
  state.log.push_back(r);
  return state.log.back();
}

fake::Control* FindHandle(int handle) {
  for (auto& c : state.controls)
    if (c.handle == handle && c.alive) return &c;
  return nullptr;
}

bool EscapePhysicallyDown() {
  if (state.escape_down) return true;
  for (auto [from, to] : state.escape_held)
    if (state.now_ms >= from && state.now_ms < to) return true;
  return false;
}

std::optional<platform::Event> NextScripted() {
  if (state.events.empty()) return std::nullopt;
  fake::ScriptedEvent e = state.events.front();
  state.events.pop_front();
  if (e.escape_down) state.escape_down = *e.escape_down;
  return e.event;
}

constexpr int kEscapeKey = 9;  // the X keycode of Escape on a PC keyboard

}  // namespace

namespace platform {

void InitAdapters() { Add(fake::What::kInitAdapters); }

bool PrepareSurface() {
  Add(fake::What::kPrepareSurface).flag = state.surface_ok;
  return state.surface_ok;
}

bool PrepareInput() {
  Add(fake::What::kPrepareInput).flag = state.input_ok;
  return state.input_ok;
}

void EndProcess() {
  Add(fake::What::kEndProcess);
  throw fake::ProcessEnded{};
}

void ShowMessageBox(std::u16string_view title, std::u16string_view text) {
  auto& r = Add(fake::What::kMessageBox);
  r.text = title;
  r.text2 = text;
  if (state.box_hook) state.box_hook(std::u16string(title), std::u16string(text));
}

void OpenWindow(std::u16string_view title, int client_width, int client_height) {
  auto& r = Add(fake::What::kOpenWindow);
  r.text = title;
  r.w = client_width;
  r.h = client_height;
}

void CloseWindow() {
  Add(fake::What::kCloseWindow);
  for (auto& c : state.controls) c.alive = false;
}

void OpenSurface(int x, int y, int width, int height) {
  auto& r = Add(fake::What::kOpenSurface);
  r.x = x, r.y = y, r.w = width, r.h = height;
}

void ClearSurface(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  Add(fake::What::kClearSurface).number = (r << 16) | (g << 8) | b;
}

void BeginDraw() { Add(fake::What::kBeginDraw); }
void EndDraw() { Add(fake::What::kEndDraw); }
void PresentSurface() { Add(fake::What::kPresentSurface); }

FontHandle CreateFont(std::u16string_view face, int points, bool bold) {
  auto& r = Add(fake::What::kCreateFont);
  r.text = face;
  r.number = points;
  r.flag = bold;
  r.handle = state.next_handle++;
  return r.handle;
}

ControlHandle CreateControl(int number, ControlKind kind, int x, int y, int width,
                            int height, std::u16string_view text) {
  fake::Control c;
  c.handle = state.next_handle++;
  c.number = number;
  c.kind = kind;
  c.x = x, c.y = y, c.w = width, c.h = height;
  c.text = text;
  state.controls.push_back(c);
  auto& r = Add(fake::What::kCreateControl);
  r.number = number;
  r.handle = c.handle;
  r.kind = kind;
  r.x = x, r.y = y, r.w = width, r.h = height;
  r.text = text;
  return c.handle;
}

void DestroyControl(ControlHandle control) {
  auto& r = Add(fake::What::kDestroyControl);
  r.handle = control;
  if (auto* c = FindHandle(control)) {
    r.number = c->number;
    c->alive = false;
  } else {
    ADD_FAILURE() << "DestroyControl on a handle that is not alive: " << control;
  }
}

void SetControlFont(ControlHandle control, FontHandle font) {
  auto& r = Add(fake::What::kSetFont);
  r.handle = control;
  r.number = font;
  if (auto* c = FindHandle(control)) c->font = font;
}

void SetControlTextColor(ControlHandle control, std::uint8_t r, std::uint8_t g,
                         std::uint8_t b) {
  auto& rec = Add(fake::What::kSetColor);
  rec.handle = control;
  rec.number = (r << 16) | (g << 8) | b;
  if (auto* c = FindHandle(control)) c->color = rec.number;
}

std::u16string ControlText(ControlHandle control) {
  if (auto* c = FindHandle(control)) return c->text;
  ADD_FAILURE() << "ControlText on a handle that is not alive: " << control;
  return {};
}

// Kept on the control, not in the log: naming a control is not a step in time.
void SetAccessibleName(ControlHandle control, std::u16string_view name) {
  if (auto* c = FindHandle(control)) {
    c->accessible_name = name;
  } else {
    ADD_FAILURE() << "SetAccessibleName on a handle that is not alive: " << control;
  }
}

Event WaitEvent() {
  Add(fake::What::kWaitEvent);
  if (auto e = NextScripted()) return *e;
  throw fake::NoMoreEvents{};
}

std::optional<Event> PollEvent() {
  Add(fake::What::kPollEvent);
  return NextScripted();
}

bool BindKeyboard() {
  Add(fake::What::kBindKeyboard).flag = state.foreground;
  return state.foreground;
}

bool ReadKeyboard(KeyStates& down) {
  Add(fake::What::kReadKeyboard).flag = state.foreground;
  if (!state.foreground) return false;
  down.fill(false);
  down[kEscapeKey] = EscapePhysicallyDown();
  return true;
}

int EscapeKey() { return kEscapeKey; }

void SleepMs(std::int32_t ms) {
  Add(fake::What::kSleep).number = ms;
  if (ms > 0) state.now_ms += ms;
}

bool OpenSoundOutput() {
  Add(fake::What::kOpenSound).flag = !state.sound_open_fails;
  return !state.sound_open_fails;
}

SoundHandle LoadToneSound(const std::uint8_t* image) {
  auto& r = Add(fake::What::kLoadSound);
  if (state.sound_load_fails || image == nullptr) return 0;
  // The RIFF chunk size at offset 4 gives the image's length minus 8.
  std::uint32_t riff_size = image[4] | (image[5] << 8) | (image[6] << 16) |
                            (std::uint32_t(image[7]) << 24);
  state.images.emplace_back(image, image + riff_size + 8);
  r.handle = state.next_handle++;
  return r.handle;
}

void StartToneLoop(SoundHandle sound) { Add(fake::What::kToneStart).handle = sound; }
void StopToneLoop(SoundHandle sound) { Add(fake::What::kToneStop).handle = sound; }
void ReleaseToneSound(SoundHandle sound) { Add(fake::What::kReleaseSound).handle = sound; }

}  // namespace platform

namespace fake {

void Reset() { state = State{}; }
void SetPrepareSurfaceResult(bool ok) { state.surface_ok = ok; }
void SetPrepareInputResult(bool ok) { state.input_ok = ok; }

void QueueEvents(std::vector<ScriptedEvent> events) {
  for (auto& e : events) state.events.push_back(e);
}

void SetForeground(bool foreground) { state.foreground = foreground; }
void HoldEscape(std::int64_t from_ms, std::int64_t to_ms) {
  state.escape_held.emplace_back(from_ms, to_ms);
}
void SetEscapeDown(bool down) { state.escape_down = down; }
void SetSoundOpenFails(bool fails) { state.sound_open_fails = fails; }
void SetSoundLoadFails(bool fails) { state.sound_load_fails = fails; }

void OnMessageBox(std::function<void(const std::u16string&, const std::u16string&)> hook) {
  state.box_hook = std::move(hook);
}

void SetFieldText(int number, std::u16string text) {
  for (auto& c : state.controls)
    if (c.alive && c.number == number) {
      c.text = std::move(text);
      return;
    }
  ADD_FAILURE() << "no live control with number " << number;
}

std::int64_t Now() { return state.now_ms; }
const std::vector<Record>& Log() { return state.log; }

std::vector<Record> LogOf(What what) {
  std::vector<Record> out;
  for (const auto& r : state.log)
    if (r.what == what) out.push_back(r);
  return out;
}

const Control* ControlByNumber(int number) {
  const Control* found = nullptr;
  for (const auto& c : state.controls) {
    if (!c.alive || c.number != number) continue;
    if (found) ADD_FAILURE() << "more than one live control bears number " << number;
    found = &c;
  }
  return found;
}

const std::vector<Control>& Controls() { return state.controls; }

int LiveControlsWithNumber(int number) {
  int n = 0;
  for (const auto& c : state.controls)
    if (c.alive && c.number == number) ++n;
  return n;
}

std::vector<std::u16string> TextsShown(int number) {
  std::vector<std::u16string> out;
  for (const auto& r : state.log)
    if (r.what == What::kCreateControl && r.number == number) out.push_back(r.text);
  return out;
}

std::vector<std::pair<std::u16string, std::u16string>> MessageBoxes() {
  std::vector<std::pair<std::u16string, std::u16string>> out;
  for (const auto& r : state.log)
    if (r.what == What::kMessageBox) out.emplace_back(r.text, r.text2);
  return out;
}

std::vector<Segment> Rhythm() {
  std::vector<Segment> out;
  std::optional<std::int64_t> last_edge;
  bool sounding = false;
  auto push = [&](bool tone, std::int64_t ms) {
    if (!tone && !out.empty() && !out.back().tone) {
      out.back().ms += ms;
      return;
    }
    out.push_back({tone, ms});
  };
  for (const auto& r : state.log) {
    if (r.what == What::kToneStart) {
      if (last_edge && !sounding) push(false, r.t_ms - *last_edge);
      last_edge = r.t_ms;
      sounding = true;
    } else if (r.what == What::kToneStop && sounding) {
      push(true, r.t_ms - *last_edge);
      last_edge = r.t_ms;
      sounding = false;
    }
  }
  if (last_edge) push(sounding, state.now_ms - *last_edge);
  return out;
}

const std::vector<std::vector<std::uint8_t>>& LoadedImages() { return state.images; }

}  // namespace fake
