#include "DataLogCsv.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

#include "TextHelpers.h"
#include "WholeFile.h"

namespace {

const QByteArray kLineEnd = "\r\n";
const QByteArray kYes = "YES,";
const QByteArray kNo = ",";

// Text fields of the records have no terminator; a zero byte ends them early.
QString SerialText(const char* serial, std::size_t size)
{
    return QString::fromLatin1(serial, static_cast<qsizetype>(strnlen(serial, size)));
}

QByteArray Flag(std::uint8_t bits, std::uint8_t mask, const QByteArray& set)
{
    return (bits & mask) ? set : kNo;
}

QByteArray LifeText(std::uint32_t seconds)
{
    const LifeSplit life = SplitLife(seconds);
    if (life.months > 0)
        return QByteArray::number(life.months) + "months " + QByteArray::number(life.days) + " days";
    return QByteArray::number(life.days) + " days";
}

}  // namespace

QString DataLogFileName(const RZELIdenty& identity, const QDateTime& now)
{
    return SerialText(identity.mSerial, sizeof identity.mSerial) + QStringLiteral("_DAT_") +
           now.toString(QStringLiteral("yyMMddhhmmss")) + QStringLiteral(".CSV");
}

QByteArray DataLogHeader(const RZELUnitCFG& unit)
{
    QByteArray out;
    const auto line = [&out](const QByteArray& text) { out += text + kLineEnd; };
    line("Product Name,Corvath Varnolite");
    line("Log Type,Data Log");
    line("Serial Number," + SerialText(unit.mSerial, sizeof unit.mSerial).toLatin1());
    line("Firmware Version," + QByteArray::fromStdString(FWVersionText(unit.mFWVersion)));
    line("Life Remaining," + LifeText(unit.mLifeRemaining));
    line("Total Number of Events," + QByteArray::number(unit.mAlarmCount));
    line("Duration of events," + QByteArray::number(unit.mAlarmTime));
    line("Number of self-tests," + QByteArray::number(unit.mTestCount));
    line("");
    line("Time,Sensor,Sensor Peak,Self-test failed,Last cal failed,Last bump failed,Calibration due,Bump due,"
         "Calibration Progress,LOW Alarm,HIGH Alarm,Battery,Battery ADC,Temperature,Temperature ADC");
    return out;
}

QString DataLogTime(const QDateTime& time)
{
    return time.toString(QStringLiteral("MM-dd hh:mm:ss:zzz"));
}

QByteArray DataLogRecord(const RReadingDisplay& r)
{
    const std::uint8_t h = r.history;
    QByteArray out;
    out += DataLogTime(r.time).toLatin1() + ',';
    out += r.sensorValue.toLatin1() + ',';
    out += r.sensorPeak.toLatin1() + ',';
    out += Flag(h, historybit::kSelfTestFail, kYes);
    out += Flag(h, historybit::kCalibrationFail, kYes);
    out += Flag(h, historybit::kBumpTestFail, kYes);
    out += Flag(h, historybit::kCalibrationDue, kYes);
    out += Flag(h, historybit::kBumpDue, kYes);
    out += Flag(h, historybit::kCalibrationProgress, kYes);
    out += Flag(r.alarm, alarmbit::kLow, "LOW,");
    out += Flag(r.alarm, alarmbit::kHigh, "HIGH,");
    out += r.batteryValue.toLatin1() + ',';
    out += r.batteryAdc.toLatin1() + ',';
    out += r.temperatureValue.toLatin1() + ',';
    out += r.temperatureAdc.toLatin1() + kLineEnd;
    return out;
}

bool WriteDataLogHeader(const QString& path, const RZELUnitCFG& unit)
{
    return WriteFileWhole(path, DataLogHeader(unit));
}

bool AppendDataLogLine(const QString& path, const QByteArray& line)
{
    if (path.trimmed().isEmpty() || !QFileInfo(path).isFile())
        return false;
    QFile file(path);
    // Unbuffered: a write the disk refuses fails here, not later in a flush
    // that would leave its bytes in the way of the cut-back.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return false;
    const qint64 before = file.size();
    if (!file.seek(before))
        return false;
    const QByteArray bytes = line + kLineEnd;
    if (file.write(bytes) == bytes.size() && file.flush())
        return true;
    // Whatever got through of this record goes again: the next record must
    // start on a line of its own.
    file.resize(before);
    return false;
}
