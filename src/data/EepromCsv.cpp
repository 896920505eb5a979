#include "EepromCsv.h"

#include "WholeFile.h"

QByteArray EepromCsvText(const EepromGridTexts& grid)
{
    QByteArray text;
    text.reserve(static_cast<qsizetype>(grid.size()) * (2 + kEepromGridColumns * 3 + 2));
    for (const EepromGridRow& row : grid) {
        text += "0x";
        for (const QString& cell : row) {
            text += cell.toLatin1();
            text += ',';
        }
        text += "\r\n";
    }
    return text;
}

QString EepromCsvFileName(const QDateTime& now)
{
    return QStringLiteral("EEPROM_") + now.toString(QStringLiteral("yyMMddhhmmss")) + QStringLiteral(".CSV");
}

bool WriteEepromCsvFile(const QString& path, const EepromGridTexts& grid)
{
    return WriteFileWhole(path, EepromCsvText(grid));
}
