// The EEPROM grid: a dump of arbitrary bytes filled in from an arbitrary
// start address (before the grid, inside it, not on a row boundary), then cells typed over with arbitrary text, to the CSV file's
// text. Every row gives one line "0x" + address + 16 cells, each followed by
// a comma, ended by CR LF; no fill writes outside the grid.
#include <QStringList>

#include <cstdint>

#include "EepromCsv.h"
#include "EepromGrid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const int rows = data[0] % 40;
    const int firstAddress = static_cast<signed char>(data[1]) * 16 + data[2] % 16;
    const int endRow = firstAddress / 16 + data[3] % 100;
    data += 4;
    size -= 4;
    QStringList addresses;
    for (int r = 0; r < rows; ++r)
        addresses << QStringLiteral("%1").arg(r * 16, 4, 16, QLatin1Char('0')).toUpper();
    EepromGridTexts grid = EepromStartGrid(addresses);
    FillEepromRows(grid, firstAddress, endRow, std::span<const std::uint8_t>(data, size));
    if (grid.size() != static_cast<std::size_t>(rows))
        __builtin_trap();
    // What a technician might type into a few cells: the input's tail as text.
    if (rows > 0 && size > 0) {
        const QString typed = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size % 7));
        grid[data[0] % rows][1 + data[size - 1] % 16] = typed;
    }
    const QByteArray csv = EepromCsvText(grid);
    if (csv.count("\r\n") < rows || (rows > 0 && !csv.startsWith("0x")) || (rows == 0 && !csv.isEmpty()))
        __builtin_trap();
    return 0;
}
