// The sensor tools' pure parts: how a live reading is scaled and shown, the
// data log's lines byte for byte, the append that never leaves half a
// record, the 10,000-point history and the chart's bottom axis.
#include <gtest/gtest.h>

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include "DataLogCsv.h"
#include "ReadingHistory.h"
#include "SensorCalibration.h"
#include "SensorReading.h"

namespace {

RZELSensor Reading(std::uint16_t raw, std::uint16_t peak, std::uint8_t history, std::uint8_t alarm = 0)
{
    RZELSensor r{};
    r.mSensor = static_cast<std::int16_t>(raw);
    r.mPeak = peak;
    r.mHistory = history;
    r.mAlarm = alarm;
    return r;
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

TEST(SensorReading, GasValuesAreScaledByTheirOwnDecimals)
{
    struct Case {
        std::uint16_t raw;
        std::uint16_t peak;
        std::uint8_t history;
        const char* value;
        const char* peakText;
        double chart;
        bool overLimit;
    };
    const Case cases[] = {
        {1234, 1500, 0x22, "12.34", "15.00", 12.34, false},  // two decimals, "Calibration Due" set
        {0xFFF6, 3, 0x01, "-1.0", "0.3", -1.0, false},       // two's complement
        {0xFFFB, 0, 0x02, "-0.05", "0.00", -0.05, false},
        {0x7FFF, 120, 0x01, "OL", "12.0", 3276.7, true},     // over limit whatever d is
        {0x7FFF, 7, 0x03, "OL", "0.007", 32.767, true},
        {0x7FFF, 7, 0x00, "OL", "7", 32767, true},
        {250, 0xFFF6, 0x01, "25.0", "6552.6", 25.0, false},  // the peak is unsigned
        {5, 5, 0x03, "0.005", "0.005", 0.005, false},
        {0, 0, 0x00, "0", "0", 0, false},
        {0x8000, 0, 0x00, "-32768", "0", -32768, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const RGasReading gas = DecodeGas(Reading(c.raw, c.peak, c.history));
        EXPECT_EQ(gas.valueText, QString::fromLatin1(c.value));
        EXPECT_EQ(gas.peakText, QString::fromLatin1(c.peakText));
        EXPECT_DOUBLE_EQ(gas.value, c.chart);
        EXPECT_EQ(gas.overLimit, c.overLimit);
    }
}

TEST(SensorReading, BatteryAndTemperatureAreUnsignedWithARawCount)
{
    struct Case {
        std::uint16_t raw;
        std::uint16_t peak;
        std::uint8_t history;
        const char* value;
        const char* adc;
    };
    const Case cases[] = {
        {305, 700, 0x02, "3.05", "700"},
        {235, 512, 0x01, "23.5", "512"},
        {0xFFFF, 1023, 0x00, "65535", "1023"},  // never negative
        {0x8001, 0, 0x01, "3276.9", "0"},
        {7, 65535, 0x83, "0.007", "65535"},     // only bits 0..1 count
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const RSupplyReading supply = DecodeSupply(Reading(c.raw, c.peak, c.history));
        EXPECT_EQ(supply.valueText, QString::fromLatin1(c.value));
        EXPECT_EQ(supply.adcText, QString::fromLatin1(c.adc));
    }
}

// A comma as decimal separator would split every value of the data log
// into two columns.
TEST(SensorReading, DecimalPointIsAPointInEveryLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(DecodeGas(Reading(1234, 5, 0x02)).valueText, QStringLiteral("12.34"));
    EXPECT_EQ(DecodeSupply(Reading(305, 1, 0x02)).valueText, QStringLiteral("3.05"));
    EXPECT_EQ(SpanGasText(25), QStringLiteral("2.5"));
    QLocale::setDefault(before);
}

TEST(SpanGasText, OneDecimalOnlyWhenThereIsOne)
{
    const std::pair<std::uint16_t, const char*> cases[] = {
        {1000, "100"}, {25, "2.5"}, {250, "25"}, {0, "0"}, {1, "0.1"}, {65535, "6553.5"}, {9999, "999.9"},
    };
    for (const auto& [tenths, text] : cases)
        EXPECT_EQ(SpanGasText(tenths), QString::fromLatin1(text)) << tenths;
}

RZELUnitCFG Unit(std::uint32_t life)
{
    RZELUnitCFG unit = DefaultConfig().mUnit;
    std::memcpy(unit.mSerial, "SH10000123", 10);
    unit.mFWVersion = 12;
    unit.mLifeRemaining = life;
    unit.mAlarmCount = 3;
    unit.mAlarmTime = 4000000000u;
    unit.mTestCount = 41;
    return unit;
}

TEST(DataLog, HeaderLines)
{
    const QByteArray tail =
        "Total Number of Events,3\r\n"
        "Duration of events,4000000000\r\n"
        "Number of self-tests,41\r\n"
        "\r\n"
        "Time,Sensor,Sensor Peak,Self-test failed,Last cal failed,Last bump failed,Calibration due,Bump due,"
        "Calibration Progress,LOW Alarm,HIGH Alarm,Battery,Battery ADC,Temperature,Temperature ADC\r\n";
    struct Case {
        std::uint32_t life;
        const char* lifeLine;
    };
    const Case cases[] = {
        {3 * 2628000u + 11 * 86400u + 5, "Life Remaining,3months 12 days\r\n"},
        {63072000u, "Life Remaining,24months 0 days\r\n"},
        {100000u, "Life Remaining,2 days\r\n"},
        {0u, "Life Remaining,1 days\r\n"},
        {0xFFFFFFFFu, "Life Remaining,24months 30 days\r\n"},
    };
    for (const Case& c : cases) {
        const QByteArray expected = QByteArray("Product Name,Corvath Varnolite\r\n"
                                               "Log Type,Data Log\r\n"
                                               "Serial Number,SH10000123\r\n"
                                               "Firmware Version,1.2\r\n") +
                                    c.lifeLine + tail;
        EXPECT_EQ(DataLogHeader(Unit(c.life)), expected) << c.lifeLine;
    }
    RZELUnitCFG shortSerial = Unit(100000u);
    std::memcpy(shortSerial.mSerial, "AB12\0XXXXX", 10);
    EXPECT_TRUE(DataLogHeader(shortSerial).contains("\r\nSerial Number,AB12\r\nFirmware"));
}

TEST(DataLog, RecordLines)
{
    RReadingDisplay all;
    all.time = QDateTime(QDate(2024, 12, 31), QTime(23, 59, 58, 7));
    all.sensorValue = QStringLiteral("OL");
    all.sensorPeak = QStringLiteral("3276.7");
    all.batteryValue = QStringLiteral("3.05");
    all.batteryAdc = QStringLiteral("700");
    all.temperatureValue = QStringLiteral("23.5");
    all.temperatureAdc = QStringLiteral("512");
    all.history = 0xFF;
    all.alarm = 0xFF;

    RReadingDisplay none = all;
    none.time = QDateTime(QDate(2024, 3, 5), QTime(9, 5, 1, 250));
    none.sensorValue = QStringLiteral("-1.0");
    none.sensorPeak = QStringLiteral("0.0");
    none.history = 0x01;
    none.alarm = alarmbit::kTWA | alarmbit::kSTEL | alarmbit::kMulti;  // not logged

    RReadingDisplay unread = none;  // battery and temperature never read in this run
    unread.batteryValue.clear();
    unread.batteryAdc.clear();
    unread.temperatureValue.clear();
    unread.temperatureAdc.clear();
    unread.history = historybit::kCalibrationProgress;
    unread.alarm = alarmbit::kHigh;

    const std::pair<const RReadingDisplay*, const char*> cases[] = {
        {&all, "12-31 23:59:58:007,OL,3276.7,YES,YES,YES,YES,YES,YES,LOW,HIGH,3.05,700,23.5,512\r\n"},
        {&none, "03-05 09:05:01:250,-1.0,0.0,,,,,,,,,3.05,700,23.5,512\r\n"},
        {&unread, "03-05 09:05:01:250,-1.0,0.0,,,,,,YES,,HIGH,,,,\r\n"},
    };
    for (const auto& [reading, line] : cases)
        EXPECT_EQ(DataLogRecord(*reading), QByteArray(line));
}

TEST(DataLog, FileNameAndTime)
{
    RZELIdenty identity{};
    std::memcpy(identity.mSerial, "SH10000123", 10);
    const QDateTime at(QDate(2009, 1, 2), QTime(3, 4, 5, 600));
    EXPECT_EQ(DataLogFileName(identity, at), QStringLiteral("SH10000123_DAT_090102030405.CSV"));
    std::memcpy(identity.mSerial, "X7\0\0\0\0\0\0\0\0", 10);
    EXPECT_EQ(DataLogFileName(identity, at), QStringLiteral("X7_DAT_090102030405.CSV"));
    EXPECT_EQ(DataLogTime(at), QStringLiteral("01-02 03:04:05:600"));
}

TEST(DataLog, EveryRecordIsFollowedByAnEmptyLine)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.CSV"));
    const RZELUnitCFG unit = Unit(100000u);
    ASSERT_TRUE(WriteDataLogHeader(path, unit));
    ASSERT_TRUE(AppendDataLogLine(path, "first\r\n"));
    ASSERT_TRUE(AppendDataLogLine(path, "second\r\n"));
    EXPECT_EQ(ReadFile(path), DataLogHeader(unit) + "first\r\n\r\nsecond\r\n\r\n");

    // A new run with the same file starts it afresh.
    ASSERT_TRUE(WriteDataLogHeader(path, unit));
    EXPECT_EQ(ReadFile(path), DataLogHeader(unit));
}

TEST(DataLog, AppendNeverCreatesOrBreaksAFile)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("gone.CSV"));
    EXPECT_FALSE(AppendDataLogLine(missing, "line\r\n"));
    EXPECT_FALSE(QFile::exists(missing)) << "a record is never a file of its own";
    EXPECT_FALSE(AppendDataLogLine(QStringLiteral("  "), "line\r\n"));
    EXPECT_FALSE(AppendDataLogLine(dir.path(), "line\r\n")) << "a folder is not a data log";
    EXPECT_FALSE(WriteDataLogHeader(dir.filePath(QStringLiteral("no/such/folder.CSV")), Unit(1)));
}

// A disk that fills up in the middle of a record: the part that got through
// is taken back, so the next record starts on a line of its own.
TEST(DataLog, AppendThatFailsPartWayLeavesTheFileAsItWas)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("full.CSV"));
    ASSERT_TRUE(WriteDataLogHeader(path, Unit(1)));
    const QByteArray before = ReadFile(path);

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(before.size() + 40);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool appended = AppendDataLogLine(path, QByteArray(100, 'x') + "\r\n");
    setrlimit(RLIMIT_FSIZE, &saved);

    EXPECT_FALSE(appended);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_TRUE(AppendDataLogLine(path, "next\r\n"));
    EXPECT_EQ(ReadFile(path), before + "next\r\n\r\n");
}

TEST(ReadingHistory, KeepsTheNewestTenThousandOldestFirst)
{
    TReadingHistory history;
    EXPECT_TRUE(history.PointsSince(0).isEmpty());
    for (int i = 0; i < 10005; ++i)
        history.Add(i, static_cast<float>(i) / 2);
    EXPECT_EQ(history.Count(), TReadingHistory::kCapacity);

    const QList<QPointF> all = history.PointsSince(-1e9);
    // The newest 9,999 are looked at; the oldest of the ring is not drawn.
    ASSERT_EQ(all.size(), 9999);
    EXPECT_DOUBLE_EQ(all.front().x(), 6.0);
    EXPECT_DOUBLE_EQ(all.back().x(), 10004.0);
    EXPECT_DOUBLE_EQ(all.back().y(), 5002.0);
    for (qsizetype i = 1; i < all.size(); ++i)
        ASSERT_LT(all[i - 1].x(), all[i].x());

    const QList<QPointF> window = history.PointsSince(9990.5);
    ASSERT_EQ(window.size(), 14);
    EXPECT_DOUBLE_EQ(window.front().x(), 9991.0);
    // Nothing old enough: still the newest point.
    EXPECT_EQ(history.PointsSince(1e9).size(), 1);

    history.Clear();
    history.Add(3, 1);
    ASSERT_EQ(history.PointsSince(0).size(), 1);
    EXPECT_DOUBLE_EQ(history.PointsSince(0).front().x(), 3.0);
}

TEST(ChartAxis, MovesOnInTenthsOfItsWidth)
{
    struct Case {
        double width;
        std::vector<double> readings;
        double min;
        double max;
        bool lastMoved;
    };
    const Case cases[] = {
        {120, {0, 60, 120}, 0, 120, false},       // the right end itself is inside
        {120, {0, 121}, 12, 132, true},           // the first point past it
        {120, {0, 121, 132}, 12, 132, false},
        {120, {0, 133}, 24, 144, true},
        {120, {0, 500}, 384, 504, true},          // a long gap: several steps at once
        {100, {0, 100.5}, 10, 110, true},
        // 12.3 s steps computed afresh each time: still on the grid after
        // ten thousand of them.
        {123, {0, 1230000}, 1230000 - 123, 1230000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        TChartAxis axis(c.width);
        EXPECT_DOUBLE_EQ(axis.Min(), 0);
        EXPECT_DOUBLE_EQ(axis.Max(), c.width);
        EXPECT_DOUBLE_EQ(axis.Increment(), c.width / 10);
        bool moved = false;
        for (double t : c.readings)
            moved = axis.Follow(t);
        EXPECT_DOUBLE_EQ(axis.Min(), c.min);
        EXPECT_DOUBLE_EQ(axis.Max(), c.max);
        EXPECT_EQ(moved, c.lastMoved);
        axis.Reset();
        EXPECT_DOUBLE_EQ(axis.Max(), c.width);
    }
}

}  // namespace
