#include "FleetModel.h"

#include <QDateTime>

#include <algorithm>

namespace {

const char* const kHeaders[TFleetModel::ColumnCount] = {
    "Status", "Serial Number", "User ID", "Product", "Sensor", "Firmware", "Last seen (station)",
    "Last calibration", "Calibration due", "Last bump test", "Bump due", "Alarms 30 d"};

QString WithResult(std::optional<qint64> ms, const QString& result)
{
    const QString date = TFleetModel::DateText(ms);
    return result.isEmpty() ? date : date + QStringLiteral(" ") + result;
}

QString DueText(bool required, std::optional<qint64> ms)
{
    return required ? TFleetModel::DateText(ms) : QStringLiteral("none");
}

// Sort key of a date column: unknown after every date, "none" after that.
qint64 DueKey(bool required, std::optional<qint64> ms)
{
    if (!required)
        return std::numeric_limits<qint64>::max();
    return ms ? *ms : std::numeric_limits<qint64>::max() - 1;
}

int Compare(const RFleetRow& a, const RFleetRow& b, int column)
{
    auto cmp = [](const auto& x, const auto& y) { return x < y ? -1 : y < x ? 1 : 0; };
    switch (column) {
    case TFleetModel::ColStatus: return cmp(int(a.status), int(b.status));
    case TFleetModel::ColSerial: return cmp(a.serial, b.serial);
    case TFleetModel::ColUserId: return cmp(a.userId, b.userId);
    case TFleetModel::ColProduct: return cmp(a.product, b.product);
    case TFleetModel::ColSensor: return cmp(a.sensor, b.sensor);
    case TFleetModel::ColFirmware: return cmp(a.firmware, b.firmware);
    case TFleetModel::ColLastSeen: return cmp(a.lastSeenMs, b.lastSeenMs);
    case TFleetModel::ColLastCal: return cmp(a.lastCalMs.value_or(-1), b.lastCalMs.value_or(-1));
    case TFleetModel::ColCalDue: return cmp(DueKey(a.calRequired, a.calDueMs), DueKey(b.calRequired, b.calDueMs));
    case TFleetModel::ColLastBump: return cmp(a.lastBumpMs.value_or(-1), b.lastBumpMs.value_or(-1));
    case TFleetModel::ColBumpDue: return cmp(DueKey(a.bumpRequired, a.bumpDueMs), DueKey(b.bumpRequired, b.bumpDueMs));
    case TFleetModel::ColAlarms: return cmp(a.alarms30Days, b.alarms30Days);
    default: return 0;
    }
}

QString CsvField(QString text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')))
        return text;
    text.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

}  // namespace

TFleetModel::TFleetModel(QObject* parent) : QAbstractTableModel(parent) {}

QString TFleetModel::DateText(std::optional<qint64> ms)
{
    return ms ? QDateTime::fromMSecsSinceEpoch(*ms).toString(QStringLiteral("yyyy-MM-dd")) : QStringLiteral("---");
}

void TFleetModel::SetSnapshot(std::vector<RFleetRow> rows)
{
    beginResetModel();
    FRows = std::move(rows);
    Rebuild();
    endResetModel();
}

void TFleetModel::SetFilter(const QString& filter)
{
    beginResetModel();
    FFilter = filter;
    Rebuild();
    endResetModel();
}

void TFleetModel::Rebuild()
{
    FShown.clear();
    FShown.reserve(FRows.size());
    for (int i = 0; i < static_cast<int>(FRows.size()); ++i)
        if (fleet::Matches(FRows[static_cast<std::size_t>(i)], FFilter))
            FShown.push_back(i);
    const auto less = [this](int x, int y) {
        const RFleetRow& a = FRows[static_cast<std::size_t>(x)];
        const RFleetRow& b = FRows[static_cast<std::size_t>(y)];
        const int c = FSortColumn < 0 ? 0 : Compare(a, b, FSortColumn);
        if (c != 0)
            return FOrder == Qt::AscendingOrder ? c < 0 : c > 0;
        return fleet::DefaultLess(a, b);
    };
    std::stable_sort(FShown.begin(), FShown.end(), less);
}

void TFleetModel::sort(int column, Qt::SortOrder order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    FSortColumn = column;
    FOrder = order;
    Rebuild();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

const RFleetRow* TFleetModel::RowAt(int row) const
{
    if (row < 0 || row >= static_cast<int>(FShown.size()))
        return nullptr;
    return &FRows[static_cast<std::size_t>(FShown[static_cast<std::size_t>(row)])];
}

int TFleetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(FShown.size());
}

int TFleetModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TFleetModel::Text(const RFleetRow& row, int column) const
{
    switch (column) {
    case ColStatus: return fleet::StatusText(row.status, FDays);
    case ColSerial: return row.serial;
    case ColUserId: return row.userId;
    case ColProduct: return row.product;
    case ColSensor: return row.sensor;
    case ColFirmware: return row.firmware;
    case ColLastSeen:
        return row.station.isEmpty() ? DateText(row.lastSeenMs)
                                     : DateText(row.lastSeenMs) + QStringLiteral(" (") + row.station + QLatin1Char(')');
    case ColLastCal: return WithResult(row.lastCalMs, row.calResult);
    case ColCalDue: return DueText(row.calRequired, row.calDueMs);
    case ColLastBump: return WithResult(row.lastBumpMs, row.bumpResult);
    case ColBumpDue: return DueText(row.bumpRequired, row.bumpDueMs);
    case ColAlarms: return QString::number(row.alarms30Days);
    default: return QString();
    }
}

QVariant TFleetModel::data(const QModelIndex& index, int role) const
{
    const RFleetRow* row = index.isValid() ? RowAt(index.row()) : nullptr;
    if (!row)
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return Text(*row, index.column());
    if (role == StatusRole)
        return int(row->status);
    if (role == Qt::TextAlignmentRole && index.column() == ColAlarms)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant TFleetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(kHeaders[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

QString TFleetModel::CountLine() const
{
    int overdue = 0, soon = 0;
    for (const int i : FShown) {
        const FleetStatus status = FRows[static_cast<std::size_t>(i)].status;
        overdue += status == FleetStatus::Overdue;
        soon += status == FleetStatus::DueSoon;
    }
    return QStringLiteral("%1 units: %2 overdue, %3 due within %4 days")
        .arg(FShown.size()).arg(overdue).arg(soon).arg(FDays);
}

QByteArray TFleetModel::Csv() const
{
    QStringList header;
    for (const char* h : kHeaders)
        header << CsvField(QString::fromLatin1(h));
    QByteArray out = header.join(QLatin1Char(',')).toUtf8() + "\r\n";
    for (int r = 0; r < rowCount(); ++r) {
        QStringList line;
        for (int c = 0; c < ColumnCount; ++c)
            line << CsvField(Text(*RowAt(r), c));
        out += line.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    return out;
}
