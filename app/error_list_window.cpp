// The "Error file list" window.
#include "error_list_window.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include "center_over_owner.h"

namespace mk::app {

ErrorListWindow::ErrorListWindow(QWidget *owner) : QDialog(owner) {
    setWindowTitle(tr("Error file list"));
    setModal(false);
    list_ = new QPlainTextEdit(this);
    list_->setReadOnly(true);
    // Long paths scroll sideways rather than wrap, one file a line.
    list_->setLineWrapMode(QPlainTextEdit::NoWrap);
    list_->setMinimumSize(560, 180);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    // Closing only hides: the window lives as long as the program.
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
}

void ErrorListWindow::clear() { list_->clear(); }

void ErrorListWindow::addFile(const QString &path, const QString &reason) {
    list_->appendPlainText(reason.isEmpty() ? path : tr("%1: %2").arg(path, reason));
}

QString ErrorListWindow::text() const { return list_->toPlainText(); }

bool ErrorListWindow::isEmpty() const { return list_->document()->isEmpty(); }

void ErrorListWindow::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // Adding lines leaves the view at the end of the last one; the list is
    // read from the start of the first.
    list_->moveCursor(QTextCursor::Start);
    list_->horizontalScrollBar()->setValue(0);
    CenterOverOwner(this);
}

}  // namespace mk::app
