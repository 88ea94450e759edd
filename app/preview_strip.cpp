// The preview strip and pixel conversions.
#include "preview_strip.h"

#include <QPainter>

#include <cstring>

namespace mk::app {

QImage ImageOf(const Pixels &pixels) {
    QImage image(pixels.width, pixels.height, QImage::Format_RGB32);
    const size_t rowBytes = size_t(pixels.width) * 4;
    // Format_RGB32 keeps each pixel as 0xffRRGGBB, which is blue, green,
    // red, x in memory on a little-endian machine, as the core's pixels are.
    for (int32_t row = 0; row < pixels.height; ++row) {
        const uint8_t *source = pixels.bytes.data() + size_t(pixels.height - 1 - row) * rowBytes;
        auto *line = reinterpret_cast<uint32_t *>(image.scanLine(row));
        for (int32_t x = 0; x < pixels.width; ++x) {
            const uint8_t *p = source + size_t(x) * 4;
            line[x] = qRgb(p[2], p[1], p[0]);
        }
    }
    return image;
}

Pixels PixelsOf(const QImage &image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    Pixels pixels(rgb.width(), rgb.height());
    const size_t rowBytes = size_t(pixels.width) * 4;
    for (int32_t row = 0; row < pixels.height; ++row) {
        uint8_t *target = pixels.bytes.data() + size_t(pixels.height - 1 - row) * rowBytes;
        const auto *line = reinterpret_cast<const uint32_t *>(rgb.constScanLine(row));
        for (int32_t x = 0; x < pixels.width; ++x) {
            uint8_t *p = target + size_t(x) * 4;
            p[0] = uint8_t(qBlue(line[x]));
            p[1] = uint8_t(qGreen(line[x]));
            p[2] = uint8_t(qRed(line[x]));
            p[3] = 0;
        }
    }
    return pixels;
}

Pixels StripBackground(int32_t width, int32_t height) {
    Pixels pixels(width, height);
    // Squares of 8 pixels in two greys, the usual sign of "anything may be
    // under here"; the pattern repeats every 16 pixels.
    for (int32_t y = 0; y < height; ++y) {
        uint8_t *row = pixels.bytes.data() + size_t(height - 1 - y) * size_t(width) * 4;
        for (int32_t x = 0; x < width; ++x) {
            const bool light = ((x / 8) + (y / 8)) % 2 == 0;
            const uint8_t grey = light ? 0xE8 : 0x9C;
            std::memset(row + size_t(x) * 4, grey, 3);
            row[size_t(x) * 4 + 3] = 0;
        }
    }
    return pixels;
}

PreviewStrip::PreviewStrip(QWidget *parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

void PreviewStrip::setImage(const QImage &image) {
    image_ = image;
    update();
}

void PreviewStrip::paintEvent(QPaintEvent *event) {
    QFrame::paintEvent(event);
    if (image_.isNull()) return;
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), image_);
}

void PreviewStrip::resizeEvent(QResizeEvent *event) {
    QFrame::resizeEvent(event);
    emit resized();
}

}  // namespace mk::app
