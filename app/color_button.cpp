// The colour buttons of the settings dialog: the swatch, its washed-out look
// when disabled, and the colour dialog with the eyedropper.
#include "color_button.h"

#include <QColorDialog>
#include <QEvent>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include "center_over_owner.h"

namespace mk::app {

namespace {

int WashOut(int value) {
    // C++ division truncates toward zero, as the washed-out look needs.
    return 128 + (value - 128) / 5;
}

}  // namespace

QColor ColorFromRef(uint32_t colorRef) {
    return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF);
}

uint32_t RefFromColor(const QColor &color) {
    const QColor rgb = color.toRgb();
    return static_cast<uint32_t>(rgb.red()) | (static_cast<uint32_t>(rgb.green()) << 8) |
           (static_cast<uint32_t>(rgb.blue()) << 16);
}

QColor SwatchColor(uint32_t colorRef, bool enabled) {
    const QColor color = ColorFromRef(colorRef);
    if (enabled) return color;
    return QColor(WashOut(color.red()), WashOut(color.green()), WashOut(color.blue()));
}

ColorButton::ColorButton(const QString &dialogTitle, QWidget *parent)
    : QPushButton(parent), dialogTitle_(dialogTitle) {
    connect(this, &QPushButton::clicked, this, &ColorButton::Choose);
    UpdateSwatch();
}

void ColorButton::setColor(uint32_t colorRef) {
    color_ = colorRef & 0x00FFFFFF;
    UpdateSwatch();
}

void ColorButton::paintEvent(QPaintEvent *event) {
    // The swatch is the button's icon, drawn by the style.
    QPushButton::paintEvent(event);
}

void ColorButton::changeEvent(QEvent *event) {
    QPushButton::changeEvent(event);
    switch (event->type()) {
        case QEvent::EnabledChange:
        case QEvent::FontChange:
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
            UpdateSwatch();
            break;
        default:
            break;
    }
}

void ColorButton::UpdateSwatch() {
    // 30 x 12 pixels at 96 dots per inch, growing with the font's resolution.
    const QSize size(30 * logicalDpiX() / 96, 12 * logicalDpiY() / 96);
    const qreal ratio = devicePixelRatio();
    const QColor frame = palette().color(QPalette::Mid);
    // The disabled look is drawn by us, not left to the style's greying,
    // so the icon carries both pixmaps.
    QIcon icon;
    for (bool enabled : {true, false}) {
        QPixmap pixmap(size * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(SwatchColor(color_, enabled));
        QPainter painter(&pixmap);
        painter.setPen(frame);
        painter.drawRect(QRectF(0, 0, size.width() - 1, size.height() - 1));
        painter.end();
        icon.addPixmap(pixmap, enabled ? QIcon::Normal : QIcon::Disabled);
    }
    setIconSize(size);
    setIcon(icon);
}

void ColorButton::Choose() {
    QColorDialog dialog(ColorFromRef(color_), this);
    // Our own widgets, so the eyedropper can be added; custom colours are
    // the dialog's process-wide ones, shared by both buttons.
    dialog.setOptions(QColorDialog::DontUseNativeDialog);
    dialog.setWindowTitle(dialogTitle_);
    AddEyedropper(&dialog, sampler_);
    dialog.adjustSize();
    CenterOverOwner(&dialog);
    if (dialog.exec() == QDialog::Accepted) color_ = RefFromColor(dialog.selectedColor());
    UpdateSwatch();
    emit colorChosen(color_);
}

}  // namespace mk::app
