// Item delegate that gives every row of a list the same fixed height.
#pragma once

#include <QStyledItemDelegate>

class TFixedHeightDelegate : public QStyledItemDelegate {
  public:
    TFixedHeightDelegate(int height, QObject* parent)
        : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(height_);
        return s;
    }

  private:
    int height_;
};
