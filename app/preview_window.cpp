// The preview window.
#include "preview_window.h"

#include <QCloseEvent>
#include <QPainter>

namespace mk::app {

PreviewWindow::PreviewWindow(QWidget *owner)
    : QWidget(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::CustomizeWindowHint) {
    setWindowTitle(tr("Mirelkanzoar preview"));
    // Typing in the settings goes on while the preview follows it.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(320, 240);
}

void PreviewWindow::setImage(const QImage &image, bool show) {
    image_ = image;
    if (!image_.isNull()) setFixedSize(image_.size());
    if (show && !isVisible()) QWidget::show();
    update();
}

void PreviewWindow::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    if (image_.isNull()) {
        painter.fillRect(rect(), palette().window());
        return;
    }
    painter.drawImage(0, 0, image_);
}

void PreviewWindow::closeEvent(QCloseEvent *event) {
    // Hidden, not closed: it comes back with the next render.
    event->ignore();
    hide();
    emit closedByUser();
}

}  // namespace mk::app
