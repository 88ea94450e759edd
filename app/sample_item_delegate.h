// Draws the items of the Format page's picture lists: an item's text is its
// picture (what choosing it puts into the field), but it is shown as the
// sample that picture gives, in a face that has the locale's script.
#pragma once

#include <QFont>
#include <QStyledItemDelegate>

namespace mk::app {

class SampleItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    // The role of an item's sample text; items without one show their text.
    static constexpr int kSampleRole = Qt::UserRole + 1;

    SampleItemDelegate(const QFont &font, QObject *parent);

    // The face the items are drawn in.
    const QFont &font() const { return font_; }
    void setFont(const QFont &font) { font_ = font; }

    // What an item shows and in which face; public so that it can be
    // checked without painting.
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

  private:
    QFont font_;
};

}  // namespace mk::app
