#pragma once
// The fleet list over a snapshot held in memory: sorting and filtering work
// on an index vector, so ten thousand units sort without a database round
// trip and scrolling never waits on one.
#include <QAbstractTableModel>

#include <vector>

#include "FleetRows.h"

class TFleetModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        ColStatus, ColSerial, ColUserId, ColProduct, ColSensor, ColFirmware, ColLastSeen,
        ColLastCal, ColCalDue, ColLastBump, ColBumpDue, ColAlarms, ColumnCount
    };
    // The row's FleetStatus as an int, for the view's colours.
    static constexpr int StatusRole = Qt::UserRole + 1;

    explicit TFleetModel(QObject* parent = nullptr);

    void SetSnapshot(std::vector<RFleetRow> rows);
    void SetFilter(const QString& filter);
    void SetDueWithinDays(int days) { FDays = days; }
    const RFleetRow* RowAt(int row) const;
    // "42 units: 3 overdue, 5 due within 7 days" over the rows shown.
    QString CountLine() const;
    // The rows shown, in the order shown, with a header line; CR LF ends.
    QByteArray Csv() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    static QString DateText(std::optional<qint64> ms);

private:
    QString Text(const RFleetRow& row, int column) const;
    void Rebuild();

    std::vector<RFleetRow> FRows;
    std::vector<int> FShown;
    QString FFilter;
    int FSortColumn = -1;  // -1: the list's own order
    Qt::SortOrder FOrder = Qt::AscendingOrder;
    int FDays = duedates::kDefaultDueWithinDays;
};
