// Byte layouts of the detector records, the CRC, the product check and the
// status texts the user sees.
#include <gtest/gtest.h>

#include <QJsonArray>

#include <cstring>

#include "Crc16.h"
#include "RecordFields.h"
#include "StatusTexts.h"
#include "ZelRecords.h"

namespace {

std::uint16_t CrcOf(std::initializer_list<std::uint8_t> bytes)
{
    const std::vector<std::uint8_t> v(bytes);
    return crc16::Compute(v.data(), v.size());
}

TEST(Crc16, CheckValueAndFrameExamples)
{
    const char* digits = "123456789";
    EXPECT_EQ(crc16::Compute(reinterpret_cast<const std::uint8_t*>(digits), 9), 0xBB3D);
    struct Case { std::initializer_list<std::uint8_t> data; std::uint16_t crc; };
    for (const Case& c : {Case{{0xB2}, 0x7580}, Case{{0xB5}, 0xB7C1}, Case{{0xB6}, 0xB681}, Case{{0x00}, 0x0000},
                          Case{{0x5F}, 0x3840}, Case{{0x81}, 0x60C0}, Case{{0x70}, 0xE401}, Case{{0x91}, 0xACC1},
                          Case{{0x0A, 0x00, 0x00, 0x40}, 0x2802}, Case{{0x20, 0x00, 0x00, 0x00}, 0xC00B}})
        EXPECT_EQ(CrcOf(c.data), c.crc);
}

TEST(Records, DefaultConfigImage)
{
    const RComZELReadBuf image = PackConfigImage(DefaultConfig());
    EXPECT_EQ(image.mData, 128);
    EXPECT_EQ(image.mBuf[0], 0x01);
    EXPECT_EQ(std::memcmp(image.mBuf + 1, "      ", 6), 0);
    EXPECT_EQ(image.mBuf[7], 20);
    EXPECT_EQ(image.mBuf[15], 0xFF);
    EXPECT_EQ(std::memcmp(image.mBuf + 16, "SH10000000", 10), 0);
    const std::uint8_t life[4] = {0x00, 0x67, 0xC2, 0x03};
    EXPECT_EQ(std::memcmp(image.mBuf + 36, life, 4), 0);
    EXPECT_EQ(image.mBuf[85], 0x01);
    EXPECT_EQ(image.mBuf[64], 150);
    EXPECT_EQ(image.mBuf[66], 100);
    // Reserved bytes and both CRC fields are zero in a record the program builds.
    for (int offset : {8, 9, 14, 53, 61, 62, 63, 74, 84, 126, 127})
        EXPECT_EQ(image.mBuf[offset], 0) << offset;
    for (int offset = 128; offset < RComZELReadBuf::kCapacity; ++offset)
        ASSERT_EQ(image.mBuf[offset], 0);
    const RZELCFG cfg = DefaultConfig();
    EXPECT_EQ(cfg.mSensor.mLastCal, cfg.mUnit.mLifeRemaining);
    EXPECT_EQ(static_cast<int>(cfg.mSensor.mTempCompSpan[0]), -229832);
}

TEST(Records, BlockCrcIsStoredLowByteFirst)
{
    RZELUnitCFG unit = DefaultConfig().mUnit;
    unit.mTestCount = 7;  // the default block's CRC reads the same both ways round (0x8585)
    const std::uint16_t crc = crc16::Compute(reinterpret_cast<const std::uint8_t*>(&unit), 62);
    auto* bytes = reinterpret_cast<std::uint8_t*>(&unit);
    bytes[62] = crc & 0xFF;
    bytes[63] = crc >> 8;
    EXPECT_TRUE(BlockCrcMatches(bytes, 64));
    std::swap(bytes[62], bytes[63]);
    EXPECT_FALSE(BlockCrcMatches(bytes, 64));
}

TEST(Records, ProductCheckAndModelNames)
{
    struct Case { std::uint8_t pid; std::uint8_t user; std::uint8_t factory; const char* name; };
    for (const Case& c : {Case{0, 146, 0, "ZEL"}, Case{1, 146, 146, "ZEL (TS)"}, Case{2, 0, 0, "Varnolite"},
                          Case{3, 146, 146, "Varnolite (TS)"}, Case{4, 146, 0, "Dunmere"},
                          Case{5, 146, 146, "Dunmere (TS)"}, Case{6, 146, 146, "---"}, Case{255, 146, 146, "---"}}) {
        EXPECT_EQ(CheckProduct(c.pid, 2, false), c.user) << int(c.pid);
        EXPECT_EQ(CheckProduct(c.pid, 2, true), c.factory) << int(c.pid);
        EXPECT_EQ(ModelName(c.pid), c.name);
    }
}

TEST(Records, JsonKeepsRawValuesAndLeavesReservedOut)
{
    RZELCFG cfg = DefaultConfig();
    const QJsonObject unit = RecordToJson(&cfg.mUnit, UnitFields());
    EXPECT_EQ(unit.value("mSerial").toString(), "SH10000000");
    EXPECT_EQ(unit.value("mLifeRemaining").toInteger(), 63072000);
    EXPECT_EQ(unit.value("mBatLimit").toArray().size(), 2);
    EXPECT_FALSE(unit.contains("mDummy1"));
    EXPECT_FALSE(unit.contains("mDummy2"));
    const QJsonObject sensor = RecordToJson(&cfg.mSensor, SensorFields());
    EXPECT_EQ(sensor.value("mTempCompSpan").toArray().at(1).toInteger(), -554);
}

TEST(Records, SetFieldByName)
{
    RZELCFG cfg = DefaultConfig();
    struct Case { const char* name; const char* value; bool ok; };
    for (const Case& c : {Case{"mAlarmHigh", "200", true}, Case{"mBatLimit", "640,650", true},
                          Case{"mTempCompSpan", "-1,2,-3", true}, Case{"mSerial", "SH12345678", true},
                          Case{"mAlarmHigh", "70000", false}, Case{"mAlarmHigh", "12x", false},
                          Case{"mBatLimit", "640", false}, Case{"mSerial", "SH123456789", false},
                          Case{"mNoSuchField", "1", false}, Case{"mUnitFlag", "-1", false},
                          Case{"mAlarmLow", "0x10", false}, Case{"mAlarmLow", " 5", false},
                          Case{"mAlarmLow", "0100", true}})
        EXPECT_EQ(!SetConfigField(cfg, c.name, c.value).has_value(), c.ok) << c.name << "=" << c.value;
    EXPECT_EQ(cfg.mSensor.mAlarmHigh, 200);
    EXPECT_EQ(cfg.mSensor.mAlarmLow, 100) << "a leading zero is not octal";
    EXPECT_EQ(cfg.mUnit.mBatLimit[1], 650);
    EXPECT_EQ(static_cast<int>(cfg.mSensor.mTempCompSpan[2]), -3);
    EXPECT_EQ(std::memcmp(cfg.mUnit.mSerial, "SH12345678", 10), 0);
}

TEST(StatusTexts, EveryKindOfRow)
{
    struct Case { std::uint8_t status; const char* suffix; const char* message; bool always; };
    for (const Case& c : {
             Case{0, "... OK", "", false},
             Case{1, "... Beamdock error", "Beamdock error occurred\rClose program and then restart Corvath Beamdock program", true},
             Case{9, "... Beamdock Disconnection", "Beamdock connect error\rCheck Beamdock connection or \rBeamdock Re-Install driver", true},
             Case{7, "... FAIL", "Error ocuured", false},
             Case{134, "... USER STOP", "User Stop...", true},
             Case{146, "... FAIL", "This is not Varnolite module", false},
             Case{160, "... Varnolite Dis-Connect", "Varnolite connect error\rCheck Beamdock and Varnolite connection", false},
             Case{161, "... Beamdock Connection ERROR", "Beamdock connection error\rCheck Beamdock connection", false},
             Case{162, "... FAIL", "Varnolite comunication error - no response", false},
             Case{195, "... FAIL", "Hibernation is not allowed", false},
             Case{252, "... Beamdock isnot found", "Beamdock isnot found\rBeamdock Re-Install driver", true},
             Case{254, "... Beamdock found 1 more", "Beamdock found one more\rOnly use one Beamdock", true},
             Case{255, "... Beamdock isnot found(A)", "Beamdock isnot found\rBeamdock Re-Install driver(A)", true},
         }) {
        const StatusText& text = StatusTextFor(c.status);
        EXPECT_EQ(text.suffix, c.suffix) << int(c.status);
        EXPECT_EQ(text.message, c.message) << int(c.status);
        EXPECT_EQ(text.alwaysShowBox, c.always) << int(c.status);
    }
    EXPECT_EQ(MessageLines("a\rb"), "a\nb");
}

}  // namespace
