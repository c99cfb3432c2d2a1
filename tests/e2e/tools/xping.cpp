// A small X11 helper for the end-to-end tests, driven by tests/e2e/harness.py.
//
//   xping ping WINDOW [TIMEOUT_MS]   send _NET_WM_PING and wait for the reply;
//                                    exit 0 on the reply, 1 on the time-out
//   xping close WINDOW               send the window manager's close request
//                                    (a WM_DELETE_WINDOW client message)
//   xping focus                      print the window that has the input focus
//   xping clear-clipboard            make nobody own the CLIPBOARD selection
//   xping list PID                   print "WINDOW<TAB>TITLE" for every viewable
//                                    top-level window of the process PID
//   xping window TITLE               open a small window of our own, print its
//                                    id, keep it open until stdin closes
//
// A client answers _NET_WM_PING only from its event loop, after every event
// queued before the ping, so a reply tells that the client has seen all the
// input sent to it so far. Window ids are printed and read in decimal.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

Display* display = nullptr;

int Usage() {
  std::fprintf(stderr,
               "usage: xping ping WINDOW [TIMEOUT_MS] | close WINDOW | focus | "
               "clear-clipboard | list PID | window TITLE\n");
  return 2;
}

Window ParseWindow(const char* text) { return std::strtoul(text, nullptr, 0); }

void SendProtocolMessage(Window window, Atom protocol, long time, long mask) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(protocol);
  event.xclient.data.l[1] = time;
  event.xclient.data.l[2] = static_cast<long>(window);
  XSendEvent(display, window, False, mask, &event);
}

int Ping(Window window, int timeout_ms) {
  Window root = DefaultRootWindow(display);
  // The reply goes to the root window, sent with a structure or substructure
  // mask (clients differ); selecting both notify masks (never
  // SubstructureRedirect, which would make us the window manager) receives it.
  XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
  Atom ping = XInternAtom(display, "_NET_WM_PING", False);
  Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  // A timestamp of our own making tells our reply from any other.
  long stamp = static_cast<long>(getpid() & 0xffff) << 12 |
               static_cast<long>(std::chrono::steady_clock::now().time_since_epoch().count() & 0xfff);
  if (stamp == 0) stamp = 1;
  SendProtocolMessage(window, ping, stamp, NoEventMask);
  XFlush(display);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int fd = ConnectionNumber(display);
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == ClientMessage && event.xclient.message_type == protocols &&
          static_cast<Atom>(event.xclient.data.l[0]) == ping &&
          event.xclient.data.l[1] == stamp &&
          static_cast<Window>(event.xclient.data.l[2]) == window) {
        return 0;
      }
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return 1;
    pollfd waiting{fd, POLLIN, 0};
    poll(&waiting, 1, static_cast<int>(left));
  }
}

int Close(Window window) {
  SendProtocolMessage(window, XInternAtom(display, "WM_DELETE_WINDOW", False),
                      CurrentTime, NoEventMask);
  XSync(display, False);
  return 0;
}

int ClearClipboard() {
  XSetSelectionOwner(display, XInternAtom(display, "CLIPBOARD", False), None, CurrentTime);
  XSync(display, False);
  return 0;
}

int Focus() {
  Window focus = None;
  int revert = 0;
  XGetInputFocus(display, &focus, &revert);
  std::printf("%lu\n", focus);
  return 0;
}

std::string WindowTitle(Window window) {
  Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, net_wm_name, 0, 4096, False, utf8, &type,
                         &format, &count, &after, &data) == Success &&
      data != nullptr && type == utf8) {
    title.assign(reinterpret_cast<char*>(data), count);
  } else {
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name != nullptr) {
      title = name;
      XFree(name);
    }
  }
  if (data != nullptr) XFree(data);
  return title;
}

long WindowPid(Window window) {
  Atom net_wm_pid = XInternAtom(display, "_NET_WM_PID", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  long pid = -1;
  if (XGetWindowProperty(display, window, net_wm_pid, 0, 1, False, XA_CARDINAL, &type,
                         &format, &count, &after, &data) == Success &&
      data != nullptr && count == 1) {
    pid = *reinterpret_cast<long*>(data);
  }
  if (data != nullptr) XFree(data);
  return pid;
}

int List(long pid) {
  Window root = DefaultRootWindow(display), parent = None;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 1;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, children[i], &attributes)) continue;
    if (attributes.map_state != IsViewable) continue;
    if (WindowPid(children[i]) != pid) continue;
    std::printf("%lu\t%s\n", children[i], WindowTitle(children[i]).c_str());
  }
  if (children != nullptr) XFree(children);
  return 0;
}

int OwnWindow(const char* title) {
  Window root = DefaultRootWindow(display);
  Window window = XCreateSimpleWindow(display, root, 10, 10, 200, 100, 1,
                                      BlackPixel(display, DefaultScreen(display)),
                                      WhitePixel(display, DefaultScreen(display)));
  XStoreName(display, window, title);
  XSelectInput(display, window, StructureNotifyMask | KeyPressMask | KeyReleaseMask);
  XMapWindow(display, window);
  for (;;) {  // wait until it is mapped, so that it can take the focus
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == MapNotify && event.xmap.window == window) break;
  }
  std::printf("%lu\n", window);
  std::fflush(stdout);
  int fd = ConnectionNumber(display);
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
    }
    pollfd waiting[2] = {{fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    poll(waiting, 2, -1);
    if (waiting[1].revents != 0) {
      char buffer[64];
      if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) break;
    }
  }
  XDestroyWindow(display, window);
  XSync(display, False);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "xping: cannot open the display\n");
    return 3;
  }
  std::string command = argv[1];
  int status = 2;
  if (command == "ping" && argc >= 3) {
    status = Ping(ParseWindow(argv[2]), argc >= 4 ? std::atoi(argv[3]) : 10000);
  } else if (command == "close" && argc == 3) {
    status = Close(ParseWindow(argv[2]));
  } else if (command == "focus" && argc == 2) {
    status = Focus();
  } else if (command == "clear-clipboard" && argc == 2) {
    status = ClearClipboard();
  } else if (command == "list" && argc == 3) {
    status = List(std::atol(argv[2]));
  } else if (command == "window" && argc == 3) {
    status = OwnWindow(argv[2]);
  } else {
    status = Usage();
  }
  XCloseDisplay(display);
  return status;
}
