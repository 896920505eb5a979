#include "EepromGridModel.h"

bool TEepromGridModel::Holds(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && index.row() < rowCount() && index.column() < columnCount();
}

void TEepromGridModel::Prepare(const QStringList& rowAddresses)
{
    beginResetModel();
    FTexts = EepromStartGrid(rowAddresses);
    endResetModel();
}

void TEepromGridModel::ShowDump(int firstAddress, int endRow, std::span<const std::uint8_t> dump)
{
    FillEepromRows(FTexts, firstAddress, endRow, dump);
    if (FTexts.empty())
        return;
    emit dataChanged(index(0, 1), index(rowCount() - 1, kEepromGridColumns - 1), {Qt::DisplayRole, Qt::EditRole});
}

int TEepromGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(FTexts.size());
}

int TEepromGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kEepromGridColumns;
}

QVariant TEepromGridModel::data(const QModelIndex& index, int role) const
{
    if (!Holds(index))
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return FTexts[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    return {};
}

bool TEepromGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!Holds(index) || role != Qt::EditRole || index.column() == 0)
        return false;
    FTexts[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())] = value.toString();
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

Qt::ItemFlags TEepromGridModel::flags(const QModelIndex& index) const
{
    if (!Holds(index))
        return Qt::NoItemFlags;
    if (index.column() == 0)
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}
