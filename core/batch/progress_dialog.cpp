// The progress dialog module: a small modal Qt dialog "Stamping..." with the
// current path, a 0..100 bar and "Cancel", shown while a batch runs on the
// core's worker thread. Loaded by the core only when progress is asked for.
#include "batch/progress_dialog.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>
#include <memory>

namespace {

// Centres the dialog over its owner (or the screen), at least 30 pixels
// inside the desktop.
void CenterOverOwner(QWidget &dialog, const QWidget *owner) {
    const QScreen *screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect desktop = screen->availableGeometry();
    const QRect r = owner != nullptr ? owner->frameGeometry() : desktop;
    const int w = dialog.width() + 1;
    const int h = dialog.height() + 1;
    int x = std::max(r.left() + r.width() / 2 - w / 2, 30);
    int y = std::max(r.top() + r.height() / 2 - h / 2, 30);
    if (x + w > desktop.right() - 30) x = desktop.right() - w - 30;
    if (y + h > desktop.bottom() - 30) y = desktop.bottom() - h - 30;
    dialog.move(x, y);
}

bool CanShowWindows() {
    if (QApplication::instance() != nullptr) return true;
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr ||
           std::getenv("QT_QPA_PLATFORM") != nullptr;
}

class ProgressDialog : public QDialog {
  public:
    ProgressDialog(QWidget *owner, const MK_ProgressHooks &hooks)
        : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
          hooks_(hooks) {
        setWindowTitle(tr("Stamping..."));
        setModal(true);
        auto *layout = new QVBoxLayout(this);
        status_ = new QLabel(tr("Status"), this);
        status_->setAlignment(Qt::AlignHCenter);
        bar_ = new QProgressBar(this);
        bar_->setRange(0, 100);
        bar_->setValue(0);
        auto *cancel = new QPushButton(tr("Cancel"), this);
        layout->addWidget(status_);
        layout->addWidget(bar_);
        layout->addWidget(cancel, 0, Qt::AlignHCenter);
        setMinimumWidth(372);
        connect(cancel, &QPushButton::clicked, this, &ProgressDialog::RequestCancel);
        auto *timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &ProgressDialog::Update);
        timer->start(50);
    }

  protected:
    // Escape cancels like the button; the dialog closes only when the work
    // has ended.
    void reject() override { RequestCancel(); }

  private:
    void RequestCancel() { hooks_.cancel(hooks_.context); }

    void Update() {
        char text[1024];
        int32_t percent = 0;
        const bool done = hooks_.poll(hooks_.context, text, sizeof text, &percent) != 0;
        status_->setText(QString::fromUtf8(text));
        bar_->setValue(percent);
        if (done) accept();
    }

    MK_ProgressHooks hooks_;
    QLabel *status_;
    QProgressBar *bar_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t MK_ProgressDialogRun(
    void *parent, const MK_ProgressHooks *hooks) {
    if (hooks == nullptr || !CanShowWindows()) return 1;
    try {
        std::unique_ptr<QApplication> app;
        if (QApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "MK_Core";
            static char *argv[] = {name, nullptr};
            app = std::make_unique<QApplication>(argc, argv);
        }
        ProgressDialog dialog(static_cast<QWidget *>(parent), *hooks);
        dialog.adjustSize();
        CenterOverOwner(dialog, static_cast<QWidget *>(parent));
        dialog.exec();
        return 0;
    } catch (...) {
        return 1;
    }
}
