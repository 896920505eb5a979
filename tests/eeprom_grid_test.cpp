// The EEPROM grid without widgets: how a dump fills its rows, the item model
// the TEST page edits, the CSV file byte for byte, and the identify box text.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstring>
#include <vector>

#include "DeviceSettings.h"
#include "EepromCsv.h"
#include "EepromGridModel.h"
#include "FactoryTestWorkflows.h"

namespace {

QStringList StartAddresses(int maxAddress)
{
    RDeviceCFG cfg;
    cfg.mEEPROMMaxAddress = static_cast<std::uint16_t>(maxAddress);
    QStringList rows;
    for (const std::string& text : EepromGridStartTexts(cfg))
        rows << QString::fromStdString(text);
    return rows;
}

// Bytes 0, 1, 2, ... so that every cell tells which dump byte it shows.
std::vector<std::uint8_t> Counting(int size)
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return bytes;
}

TEST(EepromGrid, DumpFillsItsRowsAndKeepsTheOthers)
{
    struct Case {
        const char* name;
        int maxAddress;
        int firstAddress;
        int endRow;
        int dumpSize;
        int row;
        int column;
        QString shown;
    };
    const Case cases[] = {
        // The standard read: 992 bytes received, then one packet of erased bytes.
        {"first byte", 1024, 0x000, 64, 992, 0, 1, "00"},
        {"last byte received", 1024, 0x000, 64, 992, 61, 16, "DF"},
        {"last packet not read", 1024, 0x000, 64, 992, 62, 1, "FF"},
        {"address column stays", 1024, 0x000, 64, 992, 63, 0, "03F0"},
        // A read from 0x100 starts the dump at row 16; the rows before keep theirs.
        {"row before the start", 1024, 0x100, 64, 992, 15, 16, "FF"},
        {"first row of the dump", 1024, 0x100, 64, 992, 16, 2, "01"},
        {"dump index by row", 1024, 0x100, 64, 992, 17, 1, "10"},
        // A start inside a row: every byte under its own address, the cells
        // before the start as they were.
        {"cell before an unaligned start", 1024, 0x108, 64, 992, 16, 8, "FF"},
        {"first byte of an unaligned start", 1024, 0x108, 64, 992, 16, 9, "00"},
        {"next row of an unaligned start", 1024, 0x108, 64, 992, 17, 1, "08"},
        {"unaligned start ends at the grid", 1024, 0x108, 64, 992, 63, 16, "F7"},
        // Bad settings or a short dump never write outside the grid or the dump.
        {"end beyond the grid", 64, 0x000, 1000, 2048, 3, 16, "3F"},
        {"negative start", 64, -32, 4, 64, 0, 1, "20"},
        {"short dump", 64, 0x000, 4, 20, 1, 4, "13"},
        {"past a short dump", 64, 0x000, 4, 20, 1, 5, "FF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EepromGridTexts grid = EepromStartGrid(StartAddresses(c.maxAddress));
        const std::vector<std::uint8_t> dump = Counting(c.dumpSize);
        FillEepromRows(grid, c.firstAddress, c.endRow, dump);
        ASSERT_EQ(static_cast<int>(grid.size()), c.maxAddress / 16);
        EXPECT_EQ(grid[static_cast<std::size_t>(c.row)][static_cast<std::size_t>(c.column)], c.shown);
    }
}

TEST(EepromGrid, CsvFileByteForByte)
{
    EepromGridTexts grid = EepromStartGrid({QStringLiteral("0000"), QStringLiteral("0010")});
    EXPECT_EQ(EepromCsvText(grid), QByteArray("0x0000,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,\r\n"
                                              "0x0010,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,\r\n"));
    // Cells as they stand: typed text, an emptied cell, 8-bit characters.
    const std::uint8_t bytes[] = {0x00, 0x7F, 0xA5};
    FillEepromRows(grid, 0x10, 2, bytes);
    grid[0][1] = QStringLiteral("1");
    grid[0][2] = QString();
    grid[0][16] = QStringLiteral("\u00e9x");
    EXPECT_EQ(EepromCsvText(grid), QByteArray("0x0000,1,,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,\xe9x,\r\n"
                                              "0x0010,00,7F,A5,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,\r\n"));
    EXPECT_EQ(EepromCsvText({}), QByteArray());
    EXPECT_EQ(EepromCsvFileName(QDateTime(QDate(2026, 3, 7), QTime(9, 5, 4))), QStringLiteral("EEPROM_260307090504.CSV"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("d.csv"));
    ASSERT_TRUE(WriteEepromCsvFile(path, grid));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), EepromCsvText(grid));
    EXPECT_FALSE(WriteEepromCsvFile(dir.filePath(QStringLiteral("missing/d.csv")), grid));
}

TEST(EepromGrid, ModelEditsTheByteCellsOnly)
{
    TEepromGridModel model;
    model.Prepare(StartAddresses(64));
    ASSERT_EQ(model.rowCount(), 4);
    ASSERT_EQ(model.columnCount(), 17);
    const QModelIndex address = model.index(1, 0);
    const QModelIndex cell = model.index(1, 5);
    EXPECT_EQ(model.flags(address), Qt::ItemIsEnabled) << "the fixed column is neither selected nor edited";
    EXPECT_EQ(model.flags(cell), Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
    EXPECT_EQ(model.data(cell, Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);

    int changed = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&changed] { ++changed; });
    EXPECT_FALSE(model.setData(address, QStringLiteral("FFFF")));
    EXPECT_TRUE(model.setData(cell, QStringLiteral("zz")));
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(model.Texts()[1][5], QStringLiteral("zz"));
    EXPECT_EQ(model.Texts()[1][0], QStringLiteral("0010"));

    const std::uint8_t dump[] = {0xAB, 0xCD};
    model.ShowDump(0x30, 4, dump);
    EXPECT_EQ(changed, 2);
    EXPECT_EQ(model.index(3, 2).data().toString(), QStringLiteral("CD"));
    EXPECT_EQ(model.index(1, 5).data().toString(), QStringLiteral("zz")) << "rows before the read keep typed text";
    EXPECT_FALSE(model.data(model.index(9, 1)).isValid());
}

TEST(IdentifyBox, SixLinesSeparatedByCr)
{
    struct Case {
        RZELIdenty identity;
        QString text;
    };
    const Case cases[] = {
        {{2, 7, 13, 1, 52704000, {'S', 'H', '1', '0', '0', '0', '0', '1', '2', '3'}},
         "Product ID = 2\rHardware Version = 007\rFirmware Version = 1.3\rLife Remaining = 52704000 sec\r"
         "Sensor present = 0x01\rSerial Number = SH10000123"},
        // Erased fields: the full unsigned life, a serial that ends at once.
        {{255, 255, 255, 0x0A, 0xFFFFFFFF, {'\0', 'X'}},
         "Product ID = 255\rHardware Version = 255\rFirmware Version = 25.5\rLife Remaining = 4294967295 sec\r"
         "Sensor present = 0x0A\rSerial Number = "},
        {{0, 12, 7, 0xF0, 0, {'A', 'B', '\0', 'C'}},
         "Product ID = 0\rHardware Version = 012\rFirmware Version = 0.7\rLife Remaining = 0 sec\r"
         "Sensor present = 0xF0\rSerial Number = AB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IdentifyBoxText(c.identity), c.text);
}

}  // namespace
