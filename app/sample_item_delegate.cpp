// The picture lists' items drawn as their samples.
#include "sample_item_delegate.h"

namespace mk::app {

SampleItemDelegate::SampleItemDelegate(const QFont &font, QObject *parent)
    : QStyledItemDelegate(parent), font_(font) {}

void SampleItemDelegate::initStyleOption(QStyleOptionViewItem *option,
                                         const QModelIndex &index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    // Both painting and the item's size hint go through here, so the rows
    // are as high as the face needs.
    option->font = font_;
    option->fontMetrics = QFontMetrics(font_);
    if (const QVariant sample = index.data(kSampleRole); sample.isValid())
        option->text = sample.toString();
}

QSize SampleItemDelegate::sizeHint(const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const {
    // A little air above and below each sample: the rows would touch.
    constexpr int kPadding = 2;
    return QStyledItemDelegate::sizeHint(option, index) + QSize(0, 2 * kPadding);
}

}  // namespace mk::app
