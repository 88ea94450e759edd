// The strip at the top of the settings dialog that shows the stamp's text
// in the current look over a patterned background, and the conversions
// between the core's pixel layout and Qt images.
#pragma once

#include <QFrame>
#include <QImage>

#include "stamp_sample.h"

namespace mk::app {

// Core pixels (bottom-up, blue-green-red-unused) as an image, and back.
QImage ImageOf(const Pixels &pixels);
Pixels PixelsOf(const QImage &image);

// The strip's background: a 16 x 16 pattern repeated over width x height,
// light and dark enough that any text colour shows against part of it.
Pixels StripBackground(int32_t width, int32_t height);

class PreviewStrip : public QFrame {
    Q_OBJECT

  public:
    explicit PreviewStrip(QWidget *parent);

    // The area the stamp is drawn in, inside the frame.
    QSize area() const { return contentsRect().size(); }
    void setImage(const QImage &image);
    const QImage &image() const { return image_; }

  signals:
    // The area changed size: the strip must be drawn again.
    void resized();

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    QImage image_;
};

}  // namespace mk::app
