// The fleet list over a station file: status and order at the due-date
// borders, the filter and its count line, and what changed between two
// configuration images.
#include <QDateTime>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cstring>
#include <gtest/gtest.h>

#include "ConfigDiff.h"
#include "FleetModel.h"
#include "FleetSamples.h"
#include "SensorTypes.h"

namespace {

constexpr qint64 kDayMs = 86'400'000;

QByteArray Raw(const RZELCFG& cfg)
{
    return QByteArray(reinterpret_cast<const char*>(&cfg), sizeof cfg);
}

TEST(FleetList, StatusAndOrderAtTheDueDateBorders)
{
    // Noon, so that "today" and "tomorrow" are whole hours away on any zone.
    const QDateTime noon(QDate(2026, 6, 15), QTime(12, 0), QTimeZone::systemTimeZone());
    const qint64 now = noon.toMSecsSinceEpoch();
    struct Case {
        const char* serial;
        double lastCalDays;  // at the read, one hour ago; -1: the timer does not know
        int calDays;
        FleetStatus status;
        const char* shown;
    } const cases[] = {
        {"DUENOW0001", 30 - 1.0 / 24, 30, FleetStatus::Overdue, "overdue"},                  // due this very moment
        {"OVERDUE001", 45, 30, FleetStatus::Overdue, "overdue"},
        {"TODAY00001", 30 - 2.0 / 24, 30, FleetStatus::DueSoon, "due within 7 days"},        // in an hour
        {"TOMORROW01", 29 + 1.0 / 24, 30, FleetStatus::DueSoon, "due within 7 days"},
        {"SEVENDAYS1", 23 + 1.0 / 24, 30, FleetStatus::DueSoon, "due within 7 days"},
        {"EIGHTDAYS1", 22 + 1.0 / 24, 30, FleetStatus::Ok, "ok"},
        {"NOINTERVAL", 400, 0, FleetStatus::Ok, "ok"},                                     // interval 0: never due
        {"UNKNOWN001", -1, 30, FleetStatus::Never, "never calibrated"},
    };
    QTemporaryDir dir;
    THistoryStore store;
    RHistoryLocation location;
    location.sqlitePath = dir.filePath(QStringLiteral("h.sqlite"));
    QString error;
    ASSERT_TRUE(store.Open(location, error)) << error.toStdString();
    for (const Case& c : cases)
        ASSERT_TRUE(RecordRead(store, FleetConfig(QString::fromLatin1(c.serial), c.lastCalDays, c.calDays), now - kDayMs / 24));
    TFleetModel model;
    model.SetSnapshot(fleet::LoadRows(store, BuiltInSensorTypes(), now, 7, error));
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_EQ(model.rowCount(), 8);
    // Overdue first (the longest overdue first), then by due date; interval 0
    // ("none") after every date.
    const char* const order[] = {"OVERDUE001", "DUENOW0001", "TODAY00001", "TOMORROW01", "SEVENDAYS1",
                                 "UNKNOWN001", "EIGHTDAYS1", "NOINTERVAL"};
    for (int r = 0; r < 8; ++r) {
        const RFleetRow& row = *model.RowAt(r);
        EXPECT_EQ(row.serial.toStdString(), order[r]) << "row " << r;
        for (const Case& c : cases)
            if (row.serial == QLatin1String(c.serial)) {
                EXPECT_EQ(row.status, c.status) << c.serial;
                EXPECT_EQ(model.data(model.index(r, TFleetModel::ColStatus), Qt::DisplayRole).toString().toStdString(), c.shown);
                EXPECT_EQ(model.data(model.index(r, 0), TFleetModel::StatusRole).toInt(), int(c.status));
            }
    }
    EXPECT_EQ(model.data(model.index(7, TFleetModel::ColCalDue), Qt::DisplayRole).toString(), QStringLiteral("none"));
    EXPECT_EQ(model.data(model.index(5, TFleetModel::ColCalDue), Qt::DisplayRole).toString(), QStringLiteral("---"));
    EXPECT_EQ(model.CountLine(), QStringLiteral("8 units: 2 overdue, 3 due within 7 days"));

    // Every column sorts both ways; the serial column by its text.
    model.sort(TFleetModel::ColSerial, Qt::DescendingOrder);
    EXPECT_EQ(model.RowAt(0)->serial, QStringLiteral("UNKNOWN001"));
    model.sort(TFleetModel::ColCalDue, Qt::AscendingOrder);
    EXPECT_EQ(model.RowAt(0)->serial, QStringLiteral("OVERDUE001"));
    EXPECT_EQ(model.RowAt(7)->serial, QStringLiteral("NOINTERVAL"));

    // The filter: serial, user ID or sensor, any case; the count follows.
    struct Filter {
        const char* text;
        int rows;
    } const filters[] = {{"tomorrow", 1}, {"site01", 8}, {"nobody", 0}, {"  ", 8}, {"DUE", 2}};
    for (const Filter& f : filters) {
        model.SetFilter(QString::fromLatin1(f.text));
        EXPECT_EQ(model.rowCount(), f.rows) << f.text;
    }
    model.SetFilter(QStringLiteral("tomorrow"));
    EXPECT_EQ(model.CountLine(), QStringLiteral("1 units: 0 overdue, 1 due within 7 days"));
    const QByteArray csv = model.Csv();
    EXPECT_TRUE(csv.startsWith("Status,Serial Number,User ID,Product,Sensor,Firmware,")) << csv.left(80).toStdString();
    EXPECT_EQ(csv.count("\r\n"), 2);
}

TEST(FleetList, FieldByFieldDifferenceOfTwoImages)
{
    const RZELCFG before = FleetConfig(QStringLiteral("SN00000001"), 10, 180);
    struct Case {
        const char* what;
        void (*change)(RZELCFG&);
        std::vector<RFieldChange> expected;
    } const cases[] = {
        {"nothing", [](RZELCFG&) {}, {}},
        {"alarms in tenths", [](RZELCFG& c) { c.mSensor.mAlarmHigh = 250; c.mSensor.mAlarmLow = 95; },
         {{"High Alarm", "15.0", "25.0"}, {"Low Alarm", "10.0", "9.5"}}},
        {"interval in days, user ID as text", [](RZELCFG& c) {
             c.mSensor.mCalInterval = 90 * zel::kDaySeconds;
             std::memcpy(c.mUnit.mUserID, "PUMP-B", 6);
         },
         {{"User ID", "SITE01", "PUMP-B"}, {"Calibration Interval (days)", "180", "90"}}},
        {"temperature compensation signed", [](RZELCFG& c) { c.mSensor.mTempCompSpan[1] = -12; },
         {{"Temp. Comp. #2", "-554", "-12"}}},
        {"a reserved byte by its place", [](RZELCFG& c) { c.mUnit.mDummy1[2] = 0x5A; },
         {{"Unit block byte 10", "0x00", "0x5a"}}},
    };
    for (const Case& c : cases) {
        RZELCFG after = before;
        c.change(after);
        const std::vector<RFieldChange> got = DiffImages(Raw(before), Raw(after));
        ASSERT_EQ(got.size(), c.expected.size()) << c.what;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].field, c.expected[i].field) << c.what;
            EXPECT_EQ(got[i].before, c.expected[i].before) << c.what;
            EXPECT_EQ(got[i].after, c.expected[i].after) << c.what;
        }
    }
    EXPECT_TRUE(DiffImages(Raw(before), QByteArray(127, '\0')).empty());
}

}  // namespace
