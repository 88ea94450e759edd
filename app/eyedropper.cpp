// The colour dialog's eyedropper: glyph, cursor, screen sampling and the
// press-drag-release picking on a button placed beside the dialog's buttons.
#include "eyedropper.h"

#include <QBoxLayout>
#include <QColorDialog>
#include <QCursor>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <memory>

namespace mk::app {

std::optional<QColor> SampleScreen(const QPoint &globalPos) {
    QScreen *screen = QGuiApplication::screenAt(globalPos);
    if (screen == nullptr) return std::nullopt;
    // Window 0 is the whole screen; its coordinates start at the screen's corner.
    const QPoint local = globalPos - screen->geometry().topLeft();
    const QImage pixel = screen->grabWindow(0, local.x(), local.y(), 1, 1).toImage();
    if (pixel.isNull()) return std::nullopt;
    return QColor(pixel.pixel(0, 0));
}

void EyedropperDrag::Press(const QColor &current) {
    picking_ = true;
    saved_ = current;
}

std::optional<QColor> EyedropperDrag::Move(bool overButton,
                                           const std::optional<QColor> &sampled) const {
    if (!picking_) return std::nullopt;
    if (overButton) return saved_;
    return sampled.value_or(QColor(255, 255, 255));
}

namespace {

// The glyph on a square of `side` device pixels: a pipette lying from the
// bottom-left (its tip) to the top-right (its bulb), in `ink`, with an
// optional halo so that a cursor stays visible on any background.
QPixmap DrawEyedropper(int side, const QColor &ink, const QColor &halo) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal margin = side * 0.1;
    const qreal length = (side - 2 * margin) * 1.41421356;
    painter.translate(margin, side - margin);
    painter.rotate(-45);
    painter.scale(length, length);

    // Along x: the tip at 0, the tube up to the collar, the bulb at the end.
    QPainterPath tube;
    tube.moveTo(0.0, 0.0);
    tube.lineTo(0.1, -0.05);
    tube.lineTo(0.56, -0.05);
    tube.lineTo(0.56, 0.05);
    tube.lineTo(0.1, 0.05);
    tube.closeSubpath();
    QPainterPath body;
    body.addRect(QRectF(0.54, -0.12, 0.1, 0.24));
    body.addRoundedRect(QRectF(0.62, -0.09, 0.38, 0.18), 0.08, 0.08);

    if (halo.alpha() != 0) {
        QPen haloPen(halo, 3.0);
        haloPen.setCosmetic(true);
        painter.strokePath(tube, haloPen);
        painter.strokePath(body, haloPen);
    }
    QPen inkPen(ink, std::max(1.0, side / 16.0));
    inkPen.setCosmetic(true);
    inkPen.setJoinStyle(Qt::RoundJoin);
    painter.fillPath(tube, halo.alpha() != 0 ? halo : QColor(Qt::transparent));
    painter.strokePath(tube, inkPen);
    painter.fillPath(body, ink);
    return pixmap;
}

}  // namespace

QIcon EyedropperIcon() {
    const QColor ink = QGuiApplication::palette().color(QPalette::ButtonText);
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64})
        icon.addPixmap(DrawEyedropper(side, ink, Qt::transparent));
    return icon;
}

QCursor EyedropperCursor() {
    const int side = 32;
    QPixmap pixmap = DrawEyedropper(side, Qt::black, Qt::white);
    // The hot spot is the pipette's tip.
    const int tip = static_cast<int>(side * 0.1);
    return QCursor(pixmap, tip, side - 1 - tip);
}

EyedropperButton::EyedropperButton(QColorDialog *dialog, ScreenSampler sampler)
    : QToolButton(dialog), dialog_(dialog), sampler_(std::move(sampler)) {
    setIcon(EyedropperIcon());
    setToolTip(tr("Pick color"));
    setAccessibleName(tr("Pick color"));
    setFocusPolicy(Qt::NoFocus);
}

void EyedropperButton::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        QToolButton::mousePressEvent(event);
        return;
    }
    setDown(true);
    drag_.Press(dialog_->currentColor());
    if (!cursorOverridden_) {
        QGuiApplication::setOverrideCursor(EyedropperCursor());
        cursorOverridden_ = true;
    }
    event->accept();
}

void EyedropperButton::mouseMoveEvent(QMouseEvent *event) {
    if (!drag_.picking()) {
        QToolButton::mouseMoveEvent(event);
        return;
    }
    // The press grabbed the mouse, so moves arrive from anywhere on the screen.
    const bool overButton = rect().contains(event->position().toPoint(), /*proper=*/true);
    std::optional<QColor> sampled;
    if (!overButton) sampled = sampler_(event->globalPosition().toPoint());
    if (const std::optional<QColor> color = drag_.Move(overButton, sampled)) {
        QColor rgb = *color;
        rgb.setAlpha(dialog_->currentColor().alpha());
        dialog_->setCurrentColor(rgb);
    }
    event->accept();
}

void EyedropperButton::mouseReleaseEvent(QMouseEvent *event) {
    if (!drag_.picking()) {
        QToolButton::mouseReleaseEvent(event);
        return;
    }
    StopPicking();
    event->accept();
}

void EyedropperButton::hideEvent(QHideEvent *event) {
    // The dialog closed (Escape) in the middle of a drag.
    StopPicking();
    QToolButton::hideEvent(event);
}

void EyedropperButton::StopPicking() {
    drag_.Release();
    setDown(false);
    if (cursorOverridden_) {
        QGuiApplication::restoreOverrideCursor();
        cursorOverridden_ = false;
    }
}

EyedropperButton *AddEyedropper(QColorDialog *dialog, ScreenSampler sampler) {
    if (QGuiApplication::platformName() == QLatin1String("wayland")) return nullptr;
    auto *buttons = dialog->findChild<QDialogButtonBox *>();
    auto *column = qobject_cast<QBoxLayout *>(dialog->layout());
    if (buttons == nullptr || column == nullptr) return nullptr;
    const int index = column->indexOf(buttons);
    if (index < 0) return nullptr;

    auto *eyedropper = new EyedropperButton(dialog, std::move(sampler));
    // As tall as the dialog's push buttons, a little wider than tall.
    int height = buttons->sizeHint().height();
    if (QPushButton *ok = buttons->button(QDialogButtonBox::Ok)) height = ok->sizeHint().height();
    eyedropper->setFixedSize(height * 6 / 5, height);
    eyedropper->setIconSize(QSize(height * 2 / 3, height * 2 / 3));

    // The row of buttons becomes the button box with the eyedropper on its right.
    std::unique_ptr<QLayoutItem> old(column->takeAt(index));
    auto *row = new QHBoxLayout;
    row->addWidget(buttons);
    row->addWidget(eyedropper, 0, Qt::AlignTop);
    column->insertLayout(index, row);
    return eyedropper;
}

}  // namespace mk::app
