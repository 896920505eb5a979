#include "EepromGrid.h"

#include <algorithm>

namespace {

const QString kErasedByte = QStringLiteral("FF");

}  // namespace

QString EepromByteText(std::uint8_t value)
{
    static const char kDigits[] = "0123456789ABCDEF";
    const char text[2] = {kDigits[value >> 4], kDigits[value & 0x0F]};
    return QString::fromLatin1(text, 2);
}

EepromGridTexts EepromStartGrid(const QStringList& rowAddresses)
{
    EepromGridTexts grid(static_cast<std::size_t>(rowAddresses.size()));
    for (std::size_t r = 0; r < grid.size(); ++r) {
        grid[r][0] = rowAddresses[static_cast<qsizetype>(r)];
        std::fill(grid[r].begin() + 1, grid[r].end(), kErasedByte);
    }
    return grid;
}

void FillEepromRows(EepromGridTexts& grid, int firstAddress, int endRow, std::span<const std::uint8_t> dump)
{
    const long long endAddress = static_cast<long long>(std::min(endRow, static_cast<int>(grid.size()))) * kEepromBytesPerRow;
    const long long from = std::max<long long>(firstAddress, 0);
    const long long to = std::min<long long>(endAddress, static_cast<long long>(firstAddress) + static_cast<long long>(dump.size()));
    for (long long address = from; address < to; ++address) {
        const auto row = static_cast<std::size_t>(address / kEepromBytesPerRow);
        const auto column = static_cast<std::size_t>(address % kEepromBytesPerRow + 1);
        grid[row][column] = EepromByteText(dump[static_cast<std::size_t>(address - firstAddress)]);
    }
}
