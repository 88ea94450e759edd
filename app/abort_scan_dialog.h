// The "Abort folder scan" dialog: shown while a folder command collects the
// pictures of a folder tree, with the running counts and an "Abort" button.
// It closes itself when the scan ends, also when that happened before it
// opened. Aborting (the button, Escape or the window's close button) asks
// the scan to stop and leaves the dialog open until the scan has ended, so
// the caller never waits for a scan behind a closed dialog.
#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QPushButton;

namespace mk::app {

class AbortScanDialog : public QDialog {
    Q_OBJECT

  public:
    explicit AbortScanDialog(QWidget *owner);

    // The running counts, in the order the text gives them.
    void setCounts(int32_t folders, int32_t pictures);
    // The scan has ended: closes the dialog, or closes it as soon as it
    // opens.
    void finish();

    QPushButton *abortButton() const { return abort_; }
    QString text() const;
    int32_t pictureCount() const { return pictures_; }
    bool aborted() const { return aborted_; }

  signals:
    // The user asked to stop the scan (once).
    void abortRequested();

  public slots:
    void reject() override;

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    void Abort();

    QLabel *text_;
    QPushButton *abort_;
    int32_t pictures_ = 0;
    bool aborted_ = false;
    bool ended_ = false;
};

}  // namespace mk::app
