#pragma once
// Cell drawing of the EEPROM grid, the way the factory bench has always seen
// it: the fixed address column on the button face with black text, selected
// cells solid blue with white text, every other cell white with black text;
// the text centred in the cell both ways.
#include <QStyledItemDelegate>

class TEepromGridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
