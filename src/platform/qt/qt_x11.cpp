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

#include <cstdlib>

namespace platform::qt {
namespace {

/* Module state */
struct State {
  std::optional<bool> display_usable;  // set by the first CheckDisplay
  // The connection of the display check stays open for the life of the
  // process: closing it before the toolkit has connected can make an X server
  // with no other client reset, and refuse the toolkit's connection.
  Display* check_connection = nullptr;
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

bool ReadKeyboard(KeyStates& down) {
  xcb_connection_t* c = qt::XcbConnection();
  QWidget* window = qt::MainWindow();
  if (!c || !window || xcb_connection_has_error(c)) return false;

  // Only while our window has the X input focus, like a keyboard that is
  // readable only in the foreground.
  xcb_generic_error_t* error = nullptr;
  xcb_get_input_focus_reply_t* focus =
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), &error);
  std::free(error);
  if (!focus) return false;
  xcb_window_t focused = focus->focus;
  std::free(focus);
  if (!qt::InsideMainWindow(c, focused, static_cast<xcb_window_t>(window->winId())))
    return false;

  error = nullptr;
  xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(c, xcb_query_keymap(c), &error);
  std::free(error);
  if (!keymap) return false;
  // 32 bytes, one bit per keycode, lowest keycode in the lowest bit.
  for (int key = 0; key < kKeyCount; ++key)
    down[key] = (keymap->keys[key / 8] >> (key % 8)) & 1;
  std::free(keymap);
  return true;
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
