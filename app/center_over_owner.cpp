// The placement rule of the program's dialogs.
#include "center_over_owner.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace mk::app {

namespace {

constexpr int kInset = 30;

}  // namespace

QPoint CenteredOverOwner(QSize size, QRect owner, QRect desktop) {
    const int w = size.width() + 1;
    const int h = size.height() + 1;
    int x = std::max(owner.left() + (owner.width() + 1) / 2 - w / 2, kInset);
    int y = std::max(owner.top() + (owner.height() + 1) / 2 - h / 2, kInset);
    // The desktop's right and bottom edges lie just past its last pixel.
    const int right = desktop.left() + desktop.width();
    const int bottom = desktop.top() + desktop.height();
    if (x + w > right - kInset) x = right - w - kInset;
    if (y + h > bottom - kInset) y = bottom - h - kInset;
    return QPoint(x, y);
}

void CenterOverOwner(QWidget *window) {
    const QWidget *owner =
        window->parentWidget() != nullptr ? window->parentWidget()->window() : nullptr;
    const QScreen *screen = owner != nullptr ? owner->screen() : window->screen();
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect desktop = screen->availableGeometry();
    const QRect reference = owner != nullptr ? owner->frameGeometry() : desktop;
    window->move(CenteredOverOwner(window->frameGeometry().size(), reference, desktop));
}

}  // namespace mk::app
