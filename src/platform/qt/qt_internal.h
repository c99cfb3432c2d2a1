// What the Qt/X11 platform files share among themselves. Not for the logic.
#pragma once

#include <QWidget>

struct _XDisplay;

namespace platform::qt {

// The X connection that Qt talks through (nullptr when there is no display or
// no QApplication).
_XDisplay* XDisplay();

// Pushes whatever Qt and Xlib have buffered to the X server, so that a repaint
// done while no event loop runs reaches the screen now.
void FlushToServer();

// The keyer's main window; nullptr while none is open.
QWidget* MainWindow();

// Whether the display check at start-up found a display we can draw on.
bool DisplayUsable();

// Runs the display check (once; later calls return the first answer): an X
// display named by $DISPLAY opens and its default visual has >= 16 bits.
bool CheckDisplay();

// Sends the questions of a keyboard snapshot now, during a sleep, without
// waiting for the answers: the ReadKeyboard that follows the sleep takes them
// (see qt_x11.cpp).
void RequestKeyboard();

}  // namespace platform::qt
