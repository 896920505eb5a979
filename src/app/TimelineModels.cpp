#include "TimelineModels.h"

#include <QDateTime>

namespace {

const char* const kOperationHeaders[] = {"What", "When", "Where", "Who", "Result"};

}  // namespace

void TOperationsModel::SetTimeline(std::shared_ptr<const RUnitTimeline> timeline)
{
    FTimeline = std::move(timeline);
    SetKind(QString());
}

void TOperationsModel::SetKind(const QString& workflow)
{
    beginResetModel();
    FShown.clear();
    if (FTimeline)
        for (std::size_t i = 0; i < FTimeline->operations.size(); ++i)
            if (workflow.isEmpty() || FTimeline->operations[i].workflow == workflow)
                FShown.push_back(i);
    endResetModel();
}

int TOperationsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(FShown.size());
}

int TOperationsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 5;
}

QString TOperationsModel::ResultText(const ROperationView& op)
{
    if (!op.endMs)
        return QStringLiteral("interrupted");
    const QString text = op.statusText.trimmed();
    if (op.status.value_or(-1) == 0)
        return text.isEmpty() ? QStringLiteral("OK") : text;
    return QStringLiteral("%1 (at %2)").arg(text.isEmpty() ? QStringLiteral("failed") : text, op.step);
}

QVariant TOperationsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    const ROperationView& op = FTimeline->operations[OperationOf(index.row())];
    switch (index.column()) {
    case 0: return op.workflow;
    case 1: return QDateTime::fromMSecsSinceEpoch(op.startMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case 2: return op.station;
    case 3: return op.osUser;
    default: return ResultText(op);
    }
}

QVariant TOperationsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 5)
        return QString::fromLatin1(kOperationHeaders[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void TTextRowsModel::SetRows(std::shared_ptr<const std::vector<QString>> lines)
{
    beginResetModel();
    FRows = std::move(lines);
    endResetModel();
}

int TTextRowsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !FRows ? 0 : static_cast<int>(FRows->size());
}

int TTextRowsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(FHeaders.size());
}

QVariant TTextRowsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return (*FRows)[static_cast<std::size_t>(index.row())].section(QLatin1Char(','), index.column(), index.column()).trimmed();
}

QVariant TTextRowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return FHeaders.value(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}
