// The "Error file list" window: the files a stamping run could not process
// and why, one a line. Made once, hidden, and shown when a run had failures.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace mk::app {

class ErrorListWindow : public QDialog {
    Q_OBJECT

  public:
    explicit ErrorListWindow(QWidget *owner);

    void clear();
    // Adds a line "path: reason".
    void addFile(const QString &path, const QString &reason);
    QString text() const;
    bool isEmpty() const;

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    QPlainTextEdit *list_;
};

}  // namespace mk::app
