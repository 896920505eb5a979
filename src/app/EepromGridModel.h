#pragma once
// The EEPROM grid as a Qt item model: what the TEST page's table view shows
// and edits. Column 0 is the fixed address column and cannot be edited or
// selected; the sixteen byte cells take any text the technician types.
// Lives with whichever thread shows it (the GUI thread in the window).
#include <QAbstractTableModel>
#include <QStringList>

#include <cstdint>
#include <span>

#include "EepromGrid.h"

class TEepromGridModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    // The start-up grid: one row per address text, every byte "FF".
    void Prepare(const QStringList& rowAddresses);
    // A finished read from firstAddress on: the rows before endRow take the dump.
    void ShowDump(int firstAddress, int endRow, std::span<const std::uint8_t> dump);
    const EepromGridTexts& Texts() const { return FTexts; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    bool Holds(const QModelIndex& index) const;
    EepromGridTexts FTexts;
};
