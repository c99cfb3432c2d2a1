// The X11 side of the platform: the display check made before Qt starts, the
// keyboard snapshot read from the X server, and flushing requests out.
//
// The snapshot goes through Qt's own xcb connection: XCB reports a failed
// request in its reply instead of through Xlib's error handler, so a window
// that vanished while we walk the tree cannot end the process.
#include <QGuiApplication>
#include <QWidget>

#include <optional>

#include "platform/platform.h"
#include "platform/qt/qt_internal.h"

// Xlib defines macros (None, Bool, Status...) that clash with Qt: it comes last.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply

#include <cstdint>
#include <cstdlib>
#include <ctime>

namespace platform::qt {
namespace {

/* Module state */
struct State {
  std::optional<bool> display_usable;  // set by the first CheckDisplay
  // The connection of the display check stays open for the life of the
  // process: closing it before the toolkit has connected can make an X server
  // with no other client reset, and refuse the toolkit's connection.
  Display* check_connection = nullptr;
  // The questions for a snapshot, sent near the end of a sleep and answered
  // to the first read after it (see RequestKeyboard).
  struct Request {
    bool outstanding = false;
    std::int64_t sent_ns = 0;
    unsigned int focus_sequence = 0;
    unsigned int keymap_sequence = 0;
    bool kept = false;  // a read went ahead without its answers: they serve the next
  } request;
  // The last snapshot read, for a read whose answers are late.
  struct Snapshot {
    bool valid = false;
    bool in_front = false;
    std::int64_t taken_ns = 0;
    KeyStates down{};
  } last;
  int escape_key = 0;                  // keycode of Escape; 0 until looked up
};
State state;

// The xcb connection Qt uses; nullptr without a QApplication on X11.
xcb_connection_t* XcbConnection() {
  auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!gui) return nullptr;
  auto* x11 = gui->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

// Whether `window` is the main window or lies inside it.
bool InsideMainWindow(xcb_connection_t* c, xcb_window_t window, xcb_window_t main) {
  // Focus None (0) and PointerRoot (1) are no window of ours.
  for (int depth = 0; window > 1 && depth < 64; ++depth) {
    if (window == main) return true;
    xcb_generic_error_t* error = nullptr;
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(c, xcb_query_tree(c, window), &error);
    if (!tree) {
      std::free(error);
      return false;
    }
    xcb_window_t parent = tree->parent;
    bool at_root = parent == tree->root || parent == XCB_WINDOW_NONE;
    std::free(tree);
    if (at_root) return false;
    window = parent;
  }
  return false;
}

}  // namespace

bool CheckDisplay() {
  if (state.display_usable) return *state.display_usable;
  // $DISPLAY names the server, as for every X client.
  Display* display = XOpenDisplay(nullptr);
  bool usable = false;
  if (display) {
    usable = DefaultDepth(display, DefaultScreen(display)) >= 16;
    state.check_connection = display;
  }
  state.display_usable = usable;
  return usable;
}

bool DisplayUsable() { return state.display_usable.value_or(false); }

_XDisplay* XDisplay() {
  auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!gui) return nullptr;
  auto* x11 = gui->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->display() : nullptr;
}

void FlushToServer() {
  if (xcb_connection_t* c = XcbConnection()) xcb_flush(c);
}

}  // namespace platform::qt

namespace platform {

bool PrepareInput() {
  xcb_connection_t* c = qt::XcbConnection();
  if (!c || xcb_connection_has_error(c)) return false;
  xcb_generic_error_t* error = nullptr;
  xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(c, xcb_query_keymap(c), &error);
  std::free(error);
  if (!keymap) return false;
  std::free(keymap);
  return EscapeKey() > 0 && EscapeKey() < kKeyCount;
}

bool BindKeyboard() {
  // Nothing to grab: the snapshot is a plain query of the server. Binding only
  // needs the window to read for.
  return qt::MainWindow() != nullptr && qt::XcbConnection() != nullptr;
}

namespace {

std::int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Questions sent this long before a read are its snapshot.
constexpr std::int64_t kRequestFreshNs = 6'000'000;
// A read whose answers are late takes the snapshot before if it is this recent.
constexpr std::int64_t kLastSnapshotNs = 1'000'000'000;

// A snapshot made of the answers to its two questions, which are freed. False
// when the main window does not have the focus (a keyboard readable only in
// the foreground) or the server did not answer.
bool Evaluate(xcb_connection_t* c, xcb_get_input_focus_reply_t* focus,
              xcb_query_keymap_reply_t* keymap, KeyStates& down) {
  QWidget* window = qt::MainWindow();
  const bool in_front = focus && keymap && window &&
      qt::InsideMainWindow(c, focus->focus, static_cast<xcb_window_t>(window->winId()));
  std::free(focus);
  if (!in_front) {
    std::free(keymap);
    return false;
  }
  // 32 bytes, one bit per keycode, lowest keycode in the lowest bit.
  for (int key = 0; key < kKeyCount; ++key)
    down[key] = (keymap->keys[key / 8] >> (key % 8)) & 1;
  std::free(keymap);
  return true;
}

// The answers to the two questions of a snapshot, awaited here.
bool AwaitKeyboard(xcb_connection_t* c, xcb_get_input_focus_cookie_t focus_cookie,
                   xcb_query_keymap_cookie_t keymap_cookie, KeyStates& down) {
  xcb_generic_error_t* error = nullptr;
  xcb_get_input_focus_reply_t* focus = xcb_get_input_focus_reply(c, focus_cookie, &error);
  std::free(error);
  error = nullptr;
  xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(c, keymap_cookie, &error);
  std::free(error);
  return Evaluate(c, focus, keymap, down);
}

// The snapshot of the questions sent by RequestKeyboard if their answers are
// in; nullopt, without waiting, when they are not.
std::optional<bool> AnsweredKeyboard(xcb_connection_t* c, KeyStates& down) {
  const auto& request = qt::state.request;
  void* keymap = nullptr;
  xcb_generic_error_t* error = nullptr;
  if (!xcb_poll_for_reply(c, request.keymap_sequence, &keymap, &error)) return std::nullopt;
  std::free(error);
  // The focus was asked first: its answer came before the keymap's.
  error = nullptr;
  xcb_get_input_focus_reply_t* focus =
      xcb_get_input_focus_reply(c, xcb_get_input_focus_cookie_t{request.focus_sequence}, &error);
  std::free(error);
  return Evaluate(c, focus, static_cast<xcb_query_keymap_reply_t*>(keymap), down);
}

// Asks the server for the input focus and the state of every key and waits
// for the answers. Both questions go out before either answer is awaited:
// one round trip.
bool QueryKeyboard(KeyStates& down) {
  xcb_connection_t* c = qt::XcbConnection();
  if (!c || !qt::MainWindow() || xcb_connection_has_error(c)) return false;
  const xcb_get_input_focus_cookie_t focus_cookie = xcb_get_input_focus(c);
  const xcb_query_keymap_cookie_t keymap_cookie = xcb_query_keymap(c);
  return AwaitKeyboard(c, focus_cookie, keymap_cookie, down);
}

// Forgets the questions sent by RequestKeyboard; their answers are thrown away
// when they come.
void DropRequest() {
  auto& request = qt::state.request;
  if (!request.outstanding) return;
  request.outstanding = false;
  request.kept = false;
  xcb_connection_t* c = qt::XcbConnection();
  if (!c) return;
  xcb_discard_reply(c, request.focus_sequence);
  xcb_discard_reply(c, request.keymap_sequence);
}

}  // namespace

namespace qt {

// Every dot reads the keyboard right after its tone and right before the
// next one, and a round trip to the X server, which has to be woken for it,
// takes from a few hundred microseconds to more than a millisecond when the
// server is busy, and tens of milliseconds when it is held up: time that
// would stretch the silence around every dot. So the last milliseconds of a
// sleep send the questions, nothing waits for them there, and the read that
// follows the sleep takes the answers, which have come in by then. A sleep
// that no read follows (a dash's tone) leaves its answers to be thrown away.
//
// When the answers have not come in by the read, the read takes the snapshot
// before (the keys as they were one read ago: a change is seen one read
// later) and the questions stay for the next read, which waits for them if it
// must. So a slow server delays what the keyer sees by one read at most, and
// never the rhythm.
void RequestKeyboard() {
  if (state.request.outstanding && state.request.kept) return;  // the next read's
  DropRequest();
  xcb_connection_t* c = XcbConnection();
  if (!c || !MainWindow() || xcb_connection_has_error(c)) return;
  auto& request = state.request;
  request.focus_sequence = xcb_get_input_focus(c).sequence;
  request.keymap_sequence = xcb_query_keymap(c).sequence;
  xcb_flush(c);
  request.sent_ns = NowNs();
  request.outstanding = true;
  request.kept = false;
}

}  // namespace qt

bool ReadKeyboard(KeyStates& down) {
  auto& request = qt::state.request;
  auto& last = qt::state.last;
  xcb_connection_t* c = qt::XcbConnection();
  bool in_front = false;
  if (request.outstanding && c && (request.kept || NowNs() - request.sent_ns < kRequestFreshNs)) {
    std::optional<bool> answered = AnsweredKeyboard(c, down);
    if (!answered && !request.kept && last.valid && NowNs() - last.taken_ns < kLastSnapshotNs) {
      request.kept = true;
      if (last.in_front) down = last.down;
      return last.in_front;
    }
    request.outstanding = false;
    request.kept = false;
    in_front = answered ? *answered
                        : AwaitKeyboard(c, xcb_get_input_focus_cookie_t{request.focus_sequence},
                                        xcb_query_keymap_cookie_t{request.keymap_sequence}, down);
  } else {
    DropRequest();
    in_front = QueryKeyboard(down);
  }
  last.valid = true;
  last.in_front = in_front;
  last.taken_ns = NowNs();
  if (in_front) last.down = down;
  return in_front;
}

int EscapeKey() {
  if (qt::state.escape_key == 0) {
    Display* display = qt::XDisplay();
    if (!display) return 9;  // Escape on a PC keyboard, until a display says otherwise
    qt::state.escape_key = XKeysymToKeycode(display, XK_Escape);
  }
  return qt::state.escape_key;
}

}  // namespace platform
