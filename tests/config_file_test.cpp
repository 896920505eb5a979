// Configuration files must stay readable in every layout earlier releases
// wrote, and what the tool writes must be byte-exact for those releases.
#include <gtest/gtest.h>

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTime>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "ZelRecords.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Record fields are packed and may be misaligned: compare copies, not references.
#define EXPECT_FIELD(a, b) EXPECT_EQ(static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b))

Bytes ImageOf(const RZELCFG& cfg)
{
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&cfg);
    return Bytes(raw, raw + sizeof cfg);
}

// A record whose image byte i is first + i, so every field is recognisable.
RZELCFG Numbered(std::uint8_t first)
{
    RZELCFG cfg;
    auto* raw = reinterpret_cast<std::uint8_t*>(&cfg);
    for (std::size_t i = 0; i < sizeof cfg; ++i)
        raw[i] = static_cast<std::uint8_t>(first + i);
    return cfg;
}

// `current` with the fields a configuration file sets taken from `file`.
RZELCFG WithFileFields(const RZELCFG& current, const RZELCFG& file)
{
    RZELCFG e = current;
    e.mUnit.mUnitFlag = file.mUnit.mUnitFlag;
    std::memcpy(e.mUnit.mUserID, file.mUnit.mUserID, 6);
    e.mUnit.mTestInterval = file.mUnit.mTestInterval;
    e.mUnit.mAllowSuspend = file.mUnit.mAllowSuspend;
    std::memcpy(e.mUnit.mSerial, file.mUnit.mSerial, 10);
    e.mUnit.mBatLimit[0] = file.mUnit.mBatLimit[0];
    e.mUnit.mBatLimit[1] = file.mUnit.mBatLimit[1];
    e.mUnit.mBatLimitStartUp = file.mUnit.mBatLimitStartUp;
    e.mUnit.mBatLimitCritical = file.mUnit.mBatLimitCritical;
    e.mUnit.mHWVersion = file.mUnit.mHWVersion;
    e.mUnit.mFWVersion = file.mUnit.mFWVersion;
    e.mUnit.mLifeRemaining = file.mUnit.mLifeRemaining;
    e.mSensor.mAlarmHigh = file.mSensor.mAlarmHigh;
    e.mSensor.mAlarmLow = file.mSensor.mAlarmLow;
    e.mSensor.mCalInterval = file.mSensor.mCalInterval;
    e.mSensor.mBumpInterval = file.mSensor.mBumpInterval;
    e.mSensor.mSensorType = file.mSensor.mSensorType;
    e.mSensor.mDeadZone = file.mSensor.mDeadZone;
    e.mSensor.mSpanGas = file.mSensor.mSpanGas;
    e.mSensor.mSensorMax = file.mSensor.mSensorMax;
    e.mSensor.mSensorBase = file.mSensor.mSensorBase;
    for (int i = 0; i < 3; ++i)
        e.mSensor.mTempCompSpan[i] = file.mSensor.mTempCompSpan[i];
    return e;
}

class ConfigFileTest : public ::testing::Test {
protected:
    std::string PathOf(const char* name) const { return mDir.path().toStdString() + "/" + name; }
    // Writes a file of `version` with `body` after a header that is 0 elsewhere.
    std::string FileOf(std::int32_t version, const Bytes& body, const char* name = "x.cfg") const
    {
        Bytes bytes(cfgfile::kHeaderSize, 0);
        std::memcpy(bytes.data(), &version, sizeof version);
        bytes.insert(bytes.end(), body.begin(), body.end());
        return Raw(bytes, name);
    }
    std::string Raw(const Bytes& bytes, const char* name = "x.cfg") const
    {
        QFile file(QString::fromStdString(PathOf(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        return PathOf(name);
    }
    static Bytes Read(const std::string& path)
    {
        QFile file(QString::fromStdString(path));
        const QByteArray data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        return Bytes(data.begin(), data.end());
    }
    QTemporaryDir mDir;
};

TEST_F(ConfigFileTest, WrittenFileIsHeaderAndVersion7Body)
{
    const QDateTime noon(QDate(2024, 1, 1), QTime(12, 0));
    for (const bool factory : {true, false}) {
        SCOPED_TRACE(factory);
        const std::string path = PathOf("unit.cfg");
        ASSERT_TRUE(WriteConfigFile(path, Numbered(1), factory, noon));
        const Bytes file = Read(path);
        ASSERT_EQ(file.size(), 140u);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), (Bytes{7, 0, 0, 0, 0, 0, 0, 0}));
        double saved = 0;
        std::memcpy(&saved, file.data() + 8, sizeof saved);
        EXPECT_DOUBLE_EQ(saved, 45292.5);
        EXPECT_EQ(file[16], factory ? 1 : 0);
        EXPECT_EQ(Bytes(file.begin() + 17, file.begin() + 24), Bytes(7, 0));
        const auto body = PackFileRecord(Numbered(1));
        EXPECT_EQ(Bytes(file.begin() + 24, file.end()), Bytes(body.begin(), body.end()));
    }
    const std::pair<QDateTime, double> times[] = {
        {QDateTime(QDate(1899, 12, 30), QTime(0, 0)), 0.0},
        {QDateTime(QDate(1900, 1, 1), QTime(18, 0)), 2.75},
        {QDateTime(QDate(1899, 12, 29), QTime(6, 0)), -1.25},  // days count back, the time of day forward
    };
    for (const auto& [when, days] : times)
        EXPECT_DOUBLE_EQ(ConfigFileTime(when), days);
}

TEST(PackFileRecord, Version7BodyByteForByte)
{
    // (body offset, image offset, width) of every field; all other bytes are 0.
    const struct { std::size_t body, image, width; } runs[] = {
        {0, 0, 1},    {1, 1, 6},    {8, 7, 1},     {9, 15, 1},     {10, 16, 10},  {22, 26, 4},  {26, 30, 2},
        {28, 32, 2},  {30, 34, 1},  {31, 35, 1},   {32, 36, 4},    {36, 40, 4},   {40, 44, 4},  {44, 48, 2},
        {46, 50, 2},  {48, 52, 1},  {52, 64, 2},   {54, 66, 2},    {56, 68, 4},   {60, 72, 2},  {64, 85, 1},
        {66, 86, 2},  {68, 88, 2},  {70, 90, 2},   {72, 92, 2},    {76, 94, 12},  {88, 106, 2}, {90, 108, 2},
        {92, 110, 2}, {96, 112, 4}, {100, 116, 4}, {104, 120, 2},  {108, 122, 4},
    };
    Bytes expected(116, 0);
    for (const auto& r : runs)
        for (std::size_t i = 0; i < r.width; ++i)
            expected[r.body + i] = static_cast<std::uint8_t>(r.image + i + 1);
    const auto body = PackFileRecord(Numbered(1));
    EXPECT_EQ(Bytes(body.begin(), body.end()), expected);
}

TEST(UnpackFileRecord, EveryVersionLayout)
{
    // Body offsets by version; -1 = not in that version.
    const struct {
        int version, userId, userIdWidth, testInterval, allowSuspend, serial, life, alarmHigh, calInterval,
            bumpInterval, sensorType, tempComp, minSpan, lastBump;
        std::size_t size;
    } cases[] = {
        {1, -1, 0, -1, -1, 1, 24, 44, -1, -1, 48, 60, 88, -1, 92},
        {2, -1, 0, -1, -1, 1, 24, 44, 48, -1, 52, 64, 92, -1, 96},
        {3, 1, 3, -1, -1, 5, 28, 48, 52, -1, 56, 68, 96, -1, 100},
        {4, 1, 3, -1, -1, 5, 28, 48, 52, 56, 60, 72, 100, 104, 112},
        {5, 1, 3, -1, 5, 6, 28, 48, 52, 56, 60, 72, 100, 104, 112},
        {6, 1, 6, -1, 8, 9, 32, 52, 56, 60, 64, 76, 104, 108, 116},
        {7, 1, 6, 8, 9, 10, 32, 52, 56, 60, 64, 76, 104, 108, 116},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        Bytes body(c.size);
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<std::uint8_t>(0x80 + i);
        // The little-endian value at `offset`, or `absent` when the version lacks the field.
        auto at = [&body](int offset, int width, std::uint32_t absent = 0) {
            std::uint32_t v = 0;
            for (int i = width - 1; i >= 0 && offset >= 0; --i)
                v = (v << 8) | body[static_cast<std::size_t>(offset + i)];
            return offset < 0 ? absent : v;
        };
        RZELCFG got;
        ASSERT_TRUE(UnpackFileRecord(c.version, body, got));
        const RZELUnitCFG& u = got.mUnit;
        const RZELSensorCFG& s = got.mSensor;
        std::string userId(6, ' ');
        if (c.userId >= 0)
            userId.replace(0, c.userIdWidth, reinterpret_cast<const char*>(body.data() + c.userId), c.userIdWidth);
        EXPECT_EQ(std::string(u.mUserID, 6), userId);
        EXPECT_EQ(std::string(u.mSerial, 10), std::string(reinterpret_cast<const char*>(body.data() + c.serial), 10));
        EXPECT_FIELD(u.mUnitFlag, body[0]);
        EXPECT_FIELD(u.mTestInterval, at(c.testInterval, 1, 20));
        EXPECT_FIELD(u.mAllowSuspend, at(c.allowSuspend, 1, 0xFF));
        EXPECT_FIELD(u.mLifeRemaining, at(c.life, 4));
        EXPECT_FIELD(u.mAlarmTime, at(c.life + 4, 4));
        EXPECT_FIELD(u.mPEventLog, at(c.life + 16, 1));
        EXPECT_FIELD(s.mAlarmHigh, at(c.alarmHigh, 2));
        EXPECT_FIELD(s.mAlarmLow, at(c.alarmHigh + 2, 2));
        EXPECT_FIELD(s.mCalInterval, at(c.calInterval, 4));
        EXPECT_FIELD(s.mBumpInterval, at(c.bumpInterval, 2));
        EXPECT_FIELD(s.mSensorType, at(c.sensorType, 1));
        EXPECT_FIELD(s.mSensorBase, at(c.sensorType + 8, 2));
        EXPECT_FIELD(s.mTempCompSpan[2], at(c.tempComp + 8, 4));
        EXPECT_FIELD(s.mZero, at(c.tempComp + 12, 2));
        EXPECT_FIELD(s.mMinSpan, at(c.minSpan, 2));
        EXPECT_FIELD(s.mLastBump, at(c.lastBump, 4));
        // Reserved bytes and CRCs never come from a body.
        EXPECT_FIELD(u.mCRC, 0);
        EXPECT_FIELD(s.mCRC, 0);
        EXPECT_EQ(Bytes(u.mDummy1, u.mDummy1 + 7) == Bytes(7, 0) && Bytes(u.mDummy2, u.mDummy2 + 9) == Bytes(9, 0) &&
                      Bytes(s.mDummy1, s.mDummy1 + 11) == Bytes(11, 0),
                  true);
        EXPECT_FALSE(UnpackFileRecord(c.version, Bytes(body.begin(), body.end() - 1), got));
    }
    RZELCFG untouched = Numbered(1);
    for (const int version : {0, 8, 9, -1})
        EXPECT_FALSE(UnpackFileRecord(version, Bytes(200, 0x11), untouched)) << version;
    EXPECT_EQ(ImageOf(untouched), ImageOf(Numbered(1)));
}

TEST_F(ConfigFileTest, ReadTakesOnlyTheFieldsAFileCarries)
{
    const RZELCFG current = Numbered(0x81);
    // Version 7 as written by the tool.
    ASSERT_TRUE(WriteConfigFile(PathOf("round.cfg"), Numbered(1), false, QDateTime::currentDateTime()));
    RZELCFG got;
    ASSERT_EQ(ReadConfigFile(PathOf("round.cfg"), current, got), ConfigFileResult::Ok);
    EXPECT_EQ(ImageOf(got), ImageOf(WithFileFields(current, Numbered(1))));
    EXPECT_EQ(ImageOf(MergeContributedFields(current, Numbered(1))), ImageOf(got));
    // Version 8: the device image; its counters and calibration results are ignored.
    ASSERT_EQ(ReadConfigFile(FileOf(8, ImageOf(Numbered(7))), current, got), ConfigFileResult::Ok);
    EXPECT_EQ(ImageOf(got), ImageOf(WithFileFields(current, Numbered(7))));
    // Version 1 lacks user ID, test interval, suspend flag and both intervals.
    Bytes v1(92, 0);
    std::memcpy(v1.data() + 1, "SH00000042", 10);
    ASSERT_EQ(ReadConfigFile(FileOf(1, v1), current, got), ConfigFileResult::Ok);
    EXPECT_EQ(std::string(got.mUnit.mUserID, 6), "      ");
    EXPECT_EQ(std::string(got.mUnit.mSerial, 10), "SH00000042");
    EXPECT_FIELD(got.mUnit.mTestInterval, 20);
    EXPECT_FIELD(got.mUnit.mAllowSuspend, 0xFF);
    EXPECT_FIELD(got.mSensor.mCalInterval, 0);
    EXPECT_FIELD(got.mSensor.mBumpInterval, 0);
    EXPECT_FIELD(got.mSensor.mLastBump, current.mSensor.mLastBump);
    // Version 5 keeps three characters of the user ID.
    Bytes v5(112, 0);
    const std::uint8_t head[] = {0x01, 0x41, 0x42, 0x43, 0x44};
    std::memcpy(v5.data(), head, sizeof head);
    ASSERT_EQ(ReadConfigFile(FileOf(5, v5), current, got), ConfigFileResult::Ok);
    EXPECT_FIELD(got.mUnit.mUnitFlag, 1);
    EXPECT_EQ(std::string(got.mUnit.mUserID, 6), "ABC   ");
}

TEST_F(ConfigFileTest, BadFilesAreRefusedAndChangeNothing)
{
    const struct {
        const char* name;
        std::int32_t version;  // 0x7FFFFFFF: write `raw` instead of a header and body
        std::size_t bodySize;
        ConfigFileResult expected;
    } cases[] = {
        {"version 0", 0, 128, ConfigFileResult::WrongFile},
        {"version 9", 9, 128, ConfigFileResult::WrongFile},
        {"version 7 big-endian", 0x07000000, 128, ConfigFileResult::WrongFile},
        {"header only", 7, 0, ConfigFileResult::WrongFile},
        {"version 7 one byte short", 7, 115, ConfigFileResult::WrongFile},
        {"version 8 one byte short", 8, 127, ConfigFileResult::WrongFile},
        {"version 1 one byte short", 1, 91, ConfigFileResult::WrongFile},
        {"version 1 exactly", 1, 92, ConfigFileResult::Ok},
        {"trailing bytes are ignored", 7, 500, ConfigFileResult::Ok},
        {"half a header", 0x7FFFFFFF, 5, ConfigFileResult::WrongFile},
        {"empty file", 0x7FFFFFFF, 0, ConfigFileResult::WrongFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.version == 0x7FFFFFFF ? Raw(Bytes(c.bodySize, 7)) : FileOf(c.version, Bytes(c.bodySize, 0));
        RZELCFG got = Numbered(1);
        EXPECT_EQ(ReadConfigFile(path, Numbered(0x81), got), c.expected);
        if (c.expected != ConfigFileResult::Ok) {
            EXPECT_EQ(ImageOf(got), ImageOf(Numbered(1)));
        }
    }
    RZELCFG got = Numbered(1);
    EXPECT_EQ(ReadConfigFile(PathOf("none.cfg"), Numbered(0x81), got), ConfigFileResult::CannotOpen);
    ASSERT_TRUE(QDir(mDir.path()).mkdir("dir.cfg"));
    EXPECT_EQ(ReadConfigFile(PathOf("dir.cfg"), Numbered(0x81), got), ConfigFileResult::NotAFile);
    EXPECT_EQ(ReadConfigFile("/dev/zero", Numbered(0x81), got), ConfigFileResult::NotAFile);
    // A FIFO nobody writes to: refused at once, not waited on.
    const std::string fifo = PathOf("fifo.cfg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto pending = std::async(std::launch::async, [&] {
        RZELCFG scratch = Numbered(1);
        return ReadConfigFile(fifo, Numbered(0x81), scratch);
    });
    const bool atOnce = pending.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    if (!atOnce)
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets a blocked reader go
    EXPECT_TRUE(atOnce);
    EXPECT_EQ(pending.get(), ConfigFileResult::NotAFile);
    EXPECT_EQ(ImageOf(got), ImageOf(Numbered(1)));

    const QDateTime now = QDateTime::currentDateTime();
    EXPECT_FALSE(WriteConfigFile(PathOf("no/such/folder.cfg"), got, true, now));
    EXPECT_FALSE(WriteConfigFile(PathOf("dir.cfg"), got, true, now));

    const struct {
        ConfigFileMessage message;
        const char* text;
        const char* caption;
    } messages[] = {
        {ReadConfigFileMessage(ConfigFileResult::CannotOpen), "Configuration File did not open\rRetry READ FILE",
         "Read Configuration File"},
        {ReadConfigFileMessage(ConfigFileResult::WrongFile), "Configuration File is wrong\rReselect file",
         "Read Configuration File"},
        {ReadConfigFileMessage(ConfigFileResult::NotAFile),
         "This is not a configuration file but a device, a pipe or a folder\rReselect file", "Read Configuration File"},
        {WriteConfigFileFailedMessage(), "Configuration File did not save\rRetry WRITE FILE", "Write Configuration file"},
    };
    for (const auto& m : messages) {
        EXPECT_STREQ(m.message.text, m.text);
        EXPECT_STREQ(m.message.caption, m.caption);
    }
}

// A file of an older release lacks fields; before they reach a unit the
// technician is told which ones.
TEST_F(ConfigFileTest, FieldsAnOlderFileDoesNotHold)
{
    const std::string partialId = "user ID (all but its first 3 characters)";
    const std::vector<std::vector<std::string>> expected = {
        {"user ID", "self-test interval", "hibernation allowed", "calibration interval", "bump interval"},
        {"user ID", "self-test interval", "hibernation allowed", "bump interval"},
        {partialId, "self-test interval", "hibernation allowed", "bump interval"},
        {partialId, "self-test interval", "hibernation allowed"},
        {partialId, "self-test interval"},
        {"self-test interval"},
        {},
        {},
    };
    for (std::int32_t version = 1; version <= 8; ++version) {
        SCOPED_TRACE(version);
        RZELCFG got = Numbered(1);
        std::vector<std::string> notHeld{"stale"};
        ASSERT_EQ(ReadConfigFile(FileOf(version, Bytes(ConfigBodySize(version), 0)), Numbered(0x81), got, &notHeld),
                  ConfigFileResult::Ok);
        EXPECT_EQ(notHeld, expected[static_cast<std::size_t>(version - 1)]);
    }
}

}  // namespace
