#pragma once
// Byte images of everything the detector stores or sends. They are copied to
// and from the wire unchanged, so every record is packed and every multi-byte
// integer is little-endian, exactly as the detector keeps it.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

static_assert(std::endian::native == std::endian::little,
              "records are byte images of the detector's little-endian memory");

namespace zel {

constexpr std::uint32_t kFullLife = 63072000;   // 24 months
constexpr std::uint32_t kMonthSeconds = 2628000; // 1/12 of 365 days
constexpr std::uint32_t kDaySeconds = 86400;
constexpr std::uint8_t kVarnoliteModel = 2;
constexpr std::uint8_t kSuspendAllowed = 0x80;
constexpr std::uint8_t kSuspendNotAllowed = 0xFF;

constexpr std::uint8_t kFlagShowSensor = 0x01;
constexpr std::uint8_t kFlagHideBumpLed = 0x02;
constexpr std::uint8_t kFlagHideLife = 0x04;

}  // namespace zel

#pragma pack(push, 1)

struct RZELUnitCFG {
    std::uint8_t mUnitFlag;
    char mUserID[6];
    std::uint8_t mTestInterval;
    std::uint8_t mDummy1[7];
    std::uint8_t mAllowSuspend;
    char mSerial[10];
    std::uint16_t mBatLimit[2];
    std::uint16_t mBatLimitStartUp;
    std::uint16_t mBatLimitCritical;
    std::uint8_t mHWVersion;
    std::uint8_t mFWVersion;
    std::uint32_t mLifeRemaining;
    std::uint32_t mAlarmTime;
    std::uint32_t mTestTime;
    std::uint16_t mAlarmCount;
    std::uint16_t mTestCount;
    std::uint8_t mPEventLog;
    std::uint8_t mDummy2[9];
    std::uint16_t mCRC;
};

struct RZELSensorCFG {
    std::uint16_t mAlarmHigh;
    std::uint16_t mAlarmLow;
    std::uint32_t mCalInterval;
    std::uint16_t mBumpInterval;
    std::uint8_t mDummy1[11];
    std::uint8_t mSensorType;
    std::uint16_t mDeadZone;
    std::uint16_t mSpanGas;
    std::uint16_t mSensorMax;
    std::uint16_t mSensorBase;
    std::int32_t mTempCompSpan[3];
    std::uint16_t mZero;
    std::uint16_t mSpan;
    std::uint16_t mTau;
    std::uint32_t mLastCal;
    std::uint32_t mPeakTimer;
    std::uint16_t mMinSpan;
    std::uint32_t mLastBump;
    std::uint16_t mCRC;
};

struct RZELCFG {
    RZELUnitCFG mUnit;
    RZELSensorCFG mSensor;
};

struct RZELIdenty {
    std::uint8_t mPID;
    std::uint8_t mHW;
    std::uint8_t mSW;
    std::uint8_t mSensor;
    std::uint32_t mLife;
    char mSerial[10];
};

struct RZELEvent {
    std::uint32_t mStartEvent;
    std::uint16_t mDurationEvent;
    std::uint8_t mAlarmStatusFlag;
    std::int16_t mSensorReading;
};

struct RZELSensor {
    std::int16_t mSensor;
    std::uint16_t mPeak;
    std::uint8_t mHistory;
    std::uint8_t mAlarm;
};

#pragma pack(pop)

static_assert(sizeof(RZELUnitCFG) == 64);
static_assert(sizeof(RZELSensorCFG) == 64);
static_assert(sizeof(RZELCFG) == 128);
static_assert(sizeof(RZELIdenty) == 18);
static_assert(sizeof(RZELEvent) == 9);
static_assert(sizeof(RZELSensor) == 6);
static_assert(offsetof(RZELUnitCFG, mSerial) == 16);
static_assert(offsetof(RZELUnitCFG, mLifeRemaining) == 36);
static_assert(offsetof(RZELUnitCFG, mPEventLog) == 52);
static_assert(offsetof(RZELSensorCFG, mSensorType) == 21);
static_assert(offsetof(RZELSensorCFG, mTempCompSpan) == 30);
static_assert(offsetof(RZELSensorCFG, mLastCal) == 48);
static_assert(offsetof(RZELSensorCFG, mLastBump) == 58);

// The general byte buffer of the link: configuration send image, event log,
// firmware frames and EEPROM dumps all travel in one of these.
struct RComZELReadBuf {
    static constexpr int kCapacity = 1024;
    std::int32_t mData = 0;
    std::uint8_t mBuf[kCapacity] = {};
};

RZELCFG DefaultConfig();
RComZELReadBuf PackConfigImage(const RZELCFG& cfg);
std::string ModelName(std::uint8_t pid);

// 0 when the unit may be served, 146 otherwise. The factory bench serves every
// model without the "(TS)" suffix; users only the model the tool is made for.
std::uint8_t CheckProduct(std::uint8_t pid, std::uint8_t expectedModel, bool factoryMode);

// True when the block's stored CRC (low byte first) matches bytes 0..len-3.
bool BlockCrcMatches(const std::uint8_t* block, std::size_t receivedLen);
