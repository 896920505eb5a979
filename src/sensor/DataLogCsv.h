#pragma once
// The data log: a CSV file of 8-bit text with CR LF line ends. A header of
// the unit's information, an empty line, the column names, then one record
// per reading, each followed by an empty line (the record carries its own
// CR LF and the append adds one more, as every earlier copy of the tool has
// written it and the spreadsheets in use expect).
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "SensorReading.h"
#include "ZelRecords.h"

// serial + "_DAT_" + "YYMMDDHHNNSS" + ".CSV"; the serial ends early at a zero byte.
QString DataLogFileName(const RZELIdenty& identity, const QDateTime& now);

// The ten header lines, each ending in CR LF.
QByteArray DataLogHeader(const RZELUnitCFG& unit);

// "mm-dd hh:nn:ss:zzz": month, day, hour, minute, second, millisecond.
QString DataLogTime(const QDateTime& time);

// One record: fifteen columns, ending in CR LF. TWA, STEL and MULTI are not
// logged.
QByteArray DataLogRecord(const RReadingDisplay& reading);

// Creates or truncates `path` with the header; the file is replaced whole or
// not at all.
bool WriteDataLogHeader(const QString& path, const RZELUnitCFG& unit);

// Appends `line` and one CR LF to the existing file `path`. A file that does
// not exist is not created. A write that fails part way is cut back, so the
// file never ends in half a record.
bool AppendDataLogLine(const QString& path, const QByteArray& line);
