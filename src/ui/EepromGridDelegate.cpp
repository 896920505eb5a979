#include "EepromGridDelegate.h"

#include <QApplication>
#include <QPainter>

namespace {

struct CellLook {
    QColor fill;
    QColor text;
};

CellLook LookOf(const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (index.column() == 0)
        return {QApplication::palette().color(QPalette::Button), Qt::black};
    if (option.state & QStyle::State_Selected)
        return {Qt::blue, Qt::white};
    return {Qt::white, Qt::black};
}

}  // namespace

void TEepromGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const CellLook look = LookOf(option, index);
    painter->save();
    // Fill and frame in the same colour: the grid lines between the cells
    // are the view's own.
    painter->fillRect(option.rect, look.fill);
    painter->setPen(look.fill);
    painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    painter->setPen(look.text);
    painter->setFont(option.font);
    painter->drawText(option.rect, Qt::AlignCenter, index.data(Qt::DisplayRole).toString());
    painter->restore();
}
