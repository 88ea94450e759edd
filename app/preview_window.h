// The preview window "Mirelkanzoar preview": the sample photograph stamped
// with the current settings, at its natural size. It belongs to the main
// window, stays off the task bar, is shown without taking the focus, and is
// only hidden, never destroyed, when the user closes it.
#pragma once

#include <QImage>
#include <QWidget>

namespace mk::app {

class PreviewWindow : public QWidget {
    Q_OBJECT

  public:
    explicit PreviewWindow(QWidget *owner);

    // Keeps the frame and sizes the window to it; shows it when `show` is
    // set (not while the owner is minimised).
    void setImage(const QImage &image, bool show);
    const QImage &image() const { return image_; }

  signals:
    // The user closed the window with its close box.
    void closedByUser();

  protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

  private:
    QImage image_;
};

}  // namespace mk::app
