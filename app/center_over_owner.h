// Placing the program's dialogs: centred over their owner window (or the
// screen when they have none) and kept 30 pixels inside the desktop.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace mk::app {

// Where a window of `size` (its frame) goes: centred over `owner` (the
// owner's frame, or the screen's work area when there is none), at least
// 30 pixels from the desktop's top and left edges and, where it fits, from
// its right and bottom edges.
QPoint CenteredOverOwner(QSize size, QRect owner, QRect desktop);

// Moves `window` to that place over its parent's window (or the screen)
// without changing its size.
void CenterOverOwner(QWidget *window);

}  // namespace mk::app
