// Reaches into the Qt platform from the window tests: the widgets behind the
// handles, and the numbers and kinds the controls were made with.
#pragma once

#include <QList>
#include <QWidget>

#include "platform/platform.h"

namespace platform::qt_testing {

// The widget of a live control; nullptr for 0 or a destroyed control.
QWidget* WidgetOf(ControlHandle control);

// The main window; nullptr while none is open.
QWidget* MainWindowWidget();

// The widget that stands for the background surface; nullptr before OpenSurface.
QWidget* SurfaceWidget();

// Every live control bearing this number, in creation order.
QList<QWidget*> ControlsWithNumber(int number);

// The number and kind a control widget was created with; -1 / kLabel for a
// widget that is not a control.
int NumberOf(const QWidget* widget);
ControlKind KindOf(const QWidget* widget);

// Control events queued and not yet taken by WaitEvent/PollEvent, oldest
// first; TakePendingEvents empties the queue.
QList<int> TakePendingEvents();

}  // namespace platform::qt_testing
