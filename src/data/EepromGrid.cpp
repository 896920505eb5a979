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

void FillEepromRows(EepromGridTexts& grid, int firstRow, int endRow, std::span<const std::uint8_t> dump)
{
    const int rows = static_cast<int>(grid.size());
    for (int r = std::max(firstRow, 0); r < std::min(endRow, rows); ++r) {
        for (int c = 1; c < kEepromGridColumns; ++c) {
            const std::size_t index = static_cast<std::size_t>(r - firstRow) * kEepromBytesPerRow + (c - 1);
            if (index >= dump.size())
                return;
            grid[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = EepromByteText(dump[index]);
        }
    }
}
