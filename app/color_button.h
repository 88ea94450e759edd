// The colour buttons of the settings dialog: a swatch of the colour that
// opens the colour dialog (with an eyedropper that takes a colour from
// anywhere on the screen) and reports the colour chosen.
#pragma once

#include <QColor>
#include <QPushButton>
#include <QString>

#include <cstdint>

#include "eyedropper.h"

namespace mk::app {

// The swatch's colour for a 0x00BBGGRR colour: the colour itself when
// enabled, washed out towards grey when disabled (each of red, green and
// blue becomes 128 + (value - 128) / 5, truncating toward zero).
QColor SwatchColor(uint32_t colorRef, bool enabled);

// 0x00BBGGRR <-> QColor.
QColor ColorFromRef(uint32_t colorRef);
uint32_t RefFromColor(const QColor &color);

class ColorButton : public QPushButton {
    Q_OBJECT

  public:
    // `dialogTitle`: the colour dialog's caption ("Overlay font color").
    ColorButton(const QString &dialogTitle, QWidget *parent);

    uint32_t color() const { return color_; }
    // Shows the colour; emits nothing.
    void setColor(uint32_t colorRef);
    // Where the colour dialog's eyedropper reads the screen (tests feed pixels).
    void setScreenSampler(ScreenSampler sampler) { sampler_ = std::move(sampler); }

  signals:
    // After the colour dialog closed: the colour chosen, or the one from
    // before when the user cancelled.
    void colorChosen(uint32_t colorRef);

  protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

  private:
    void Choose();
    void UpdateSwatch();

    ScreenSampler sampler_ = SampleScreen;

    QString dialogTitle_;
    uint32_t color_ = 0;
};

}  // namespace mk::app
