#pragma once
// The tables of a unit's timeline over what the loader read: texts made on
// demand from the records (operations) or made once on the loader's thread
// (event lines), so a unit with tens of thousands of rows opens at once.
#include <QAbstractTableModel>
#include <QStringList>

#include <memory>
#include <vector>

#include "FleetLoader.h"

class TOperationsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TOperationsModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
    void SetTimeline(std::shared_ptr<const RUnitTimeline> timeline);
    // Only the operations of one workflow; empty: all.
    void SetKind(const QString& workflow);
    // Index into the timeline's operations of a row shown.
    std::size_t OperationOf(int row) const { return FShown[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // "OK", "interrupted", or the status text with the step reached.
    static QString ResultText(const ROperationView& op);

private:
    std::shared_ptr<const RUnitTimeline> FTimeline;
    std::vector<std::size_t> FShown;
};

class TTextRowsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    TTextRowsModel(QStringList headers, QObject* parent = nullptr)
        : QAbstractTableModel(parent), FHeaders(std::move(headers))
    {
    }
    // One line a row, its cells separated by commas (as in a CSV file of
    // plain cells): split only for the rows shown.
    void SetRows(std::shared_ptr<const std::vector<QString>> lines);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList FHeaders;
    std::shared_ptr<const std::vector<QString>> FRows;
};
