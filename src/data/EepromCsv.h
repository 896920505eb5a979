#pragma once
// The EEPROM dump file: one line per grid row, "0x" + the address cell, then
// every byte cell, each followed by a comma, CR LF at the end of the line:
//   0x0010,FF,FF,...,FF,
// 8-bit text; cells are written as the grid shows them, typed text included.
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "EepromGrid.h"

QByteArray EepromCsvText(const EepromGridTexts& grid);

// "EEPROM_" + YYMMDDHHNNSS + ".CSV".
QString EepromCsvFileName(const QDateTime& now);

// Writes the whole file or leaves whatever was there before untouched.
bool WriteEepromCsvFile(const QString& path, const EepromGridTexts& grid);
