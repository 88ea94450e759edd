// The "Abort folder scan" dialog.
#include "abort_scan_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "center_over_owner.h"

namespace mk::app {

namespace {

QString CountsText(int32_t folders, int32_t pictures) {
    return AbortScanDialog::tr("scanned %1 folders / found %2 pictures").arg(folders).arg(pictures);
}

}  // namespace

AbortScanDialog::AbortScanDialog(QWidget *owner) : QDialog(owner) {
    setWindowTitle(tr("Abort folder scan"));
    setModal(true);
    text_ = new QLabel(CountsText(0, 0), this);
    text_->setAlignment(Qt::AlignCenter);
    // Room for large counts, so that the dialog does not grow and jump
    // while they rise.
    text_->setMinimumWidth(text_->fontMetrics().horizontalAdvance(CountsText(99999, 9999999)));
    abort_ = new QPushButton(tr("Abort"), this);
    abort_->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(abort_);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(abort_, &QPushButton::clicked, this, &AbortScanDialog::Abort);
}

void AbortScanDialog::setCounts(int32_t folders, int32_t pictures) {
    pictures_ = pictures;
    text_->setText(CountsText(folders, pictures));
}

void AbortScanDialog::finish() {
    ended_ = true;
    if (isVisible()) accept();
}

QString AbortScanDialog::text() const { return text_->text(); }

void AbortScanDialog::reject() { Abort(); }

void AbortScanDialog::Abort() {
    if (ended_ || aborted_) return;
    aborted_ = true;
    abort_->setEnabled(false);
    emit abortRequested();
}

void AbortScanDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    CenterOverOwner(this);
    // The scan may have ended before the dialog's loop began.
    if (ended_) QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
}

}  // namespace mk::app
