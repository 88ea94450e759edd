// The colour dialog's eyedropper: a small button beside the dialog's buttons;
// pressing it and dragging anywhere on the screen makes the dialog's colour
// follow the screen pixel under the cursor.
#pragma once

#include <QColor>
#include <QPoint>
#include <QToolButton>

#include <functional>
#include <optional>

class QColorDialog;
class QCursor;
class QIcon;

namespace mk::app {

// Reads the screen pixel at a global position; nullopt when it can't be read.
using ScreenSampler = std::function<std::optional<QColor>(const QPoint &globalPos)>;

// The real screen: the pixel of the screen under `globalPos`.
std::optional<QColor> SampleScreen(const QPoint &globalPos);

// The picking rules without widgets: idle until pressed; while picking, a
// position over the button gives back the colour from before the drag and
// any other position gives the sampled pixel (white when unreadable).
class EyedropperDrag {
  public:
    void Press(const QColor &current);
    // The colour the dialog should show now, or nullopt when not picking.
    std::optional<QColor> Move(bool overButton, const std::optional<QColor> &sampled) const;
    void Release() { picking_ = false; }
    bool picking() const { return picking_; }

  private:
    bool picking_ = false;
    QColor saved_;
};

class EyedropperButton : public QToolButton {
    Q_OBJECT

  public:
    EyedropperButton(QColorDialog *dialog, ScreenSampler sampler);

    bool picking() const { return drag_.picking(); }

  protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

  private:
    void StopPicking();

    QColorDialog *dialog_;
    ScreenSampler sampler_;
    EyedropperDrag drag_;
    bool cursorOverridden_ = false;
};

// The eyedropper glyph (also the picking cursor's image), drawn in code.
QIcon EyedropperIcon();
QCursor EyedropperCursor();

// Adds an eyedropper to the right of the dialog's buttons and returns it.
// Returns nullptr on Wayland, where a program may not read the screen: there
// the dialog's own "Pick Screen Color" button (which goes through the
// desktop portal) is the way to take a colour from the screen.
EyedropperButton *AddEyedropper(QColorDialog *dialog, ScreenSampler sampler = SampleScreen);

}  // namespace mk::app
