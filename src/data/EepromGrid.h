#pragma once
// The texts of the EEPROM grid: one row per 16 bytes of detector memory, the
// row's start address in column 0 ("0010") and one byte in each of columns
// 1..16 as two upper-case hexadecimal digits. Cells are plain text because
// the technician may type into them, and what was typed is kept as typed.
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr int kEepromBytesPerRow = 16;
inline constexpr int kEepromGridColumns = 1 + kEepromBytesPerRow;

using EepromGridRow = std::array<QString, kEepromGridColumns>;
using EepromGridTexts = std::vector<EepromGridRow>;

// Two upper-case hexadecimal digits.
QString EepromByteText(std::uint8_t value);

// The grid before any read: the given row addresses, every byte "FF" (what
// erased memory reads as).
EepromGridTexts EepromStartGrid(const QStringList& rowAddresses);

// The dump read from `firstAddress` on: each byte goes to the cell of its own
// address (row address / 16, column address % 16 + 1), in the rows before
// endRow. A start that is not a multiple of 16 therefore leaves the first
// cells of its row as they were, rather than showing memory under the wrong
// address. Cells before the start, rows outside the grid and cells beyond the
// end of the dump keep what they show.
void FillEepromRows(EepromGridTexts& grid, int firstAddress, int endRow, std::span<const std::uint8_t> dump);
