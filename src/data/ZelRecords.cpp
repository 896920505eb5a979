#include "ZelRecords.h"

#include "Crc16.h"

#include <array>
#include <cstring>

RZELCFG DefaultConfig()
{
    RZELCFG cfg;
    std::memset(&cfg, 0, sizeof cfg);
    RZELUnitCFG& u = cfg.mUnit;
    u.mUnitFlag = 1;
    std::memset(u.mUserID, ' ', sizeof u.mUserID);
    u.mTestInterval = 20;
    u.mAllowSuspend = zel::kSuspendNotAllowed;
    std::memcpy(u.mSerial, "SH10000000", sizeof u.mSerial);
    u.mBatLimit[0] = 649;
    u.mBatLimit[1] = 649;
    u.mBatLimitStartUp = 708;
    u.mBatLimitCritical = 600;
    u.mLifeRemaining = zel::kFullLife;

    RZELSensorCFG& s = cfg.mSensor;
    s.mAlarmHigh = 150;
    s.mAlarmLow = 100;
    s.mSensorType = 1;
    s.mDeadZone = 15;
    s.mSpanGas = 250;
    s.mSensorMax = 1000;
    s.mTempCompSpan[0] = -229832;
    s.mTempCompSpan[1] = -554;
    s.mTempCompSpan[2] = -163383;
    s.mZero = 204;
    s.mSpan = 5561;
    s.mTau = 5;
    s.mLastCal = zel::kFullLife;
    s.mMinSpan = 3440;
    return cfg;
}

RComZELReadBuf PackConfigImage(const RZELCFG& cfg)
{
    RComZELReadBuf image;
    std::memcpy(image.mBuf, &cfg, sizeof cfg);
    image.mData = sizeof cfg;
    return image;
}

std::string ModelName(std::uint8_t pid)
{
    static const std::array<const char*, 6> kNames = {
        "ZEL", "ZEL (TS)", "Varnolite", "Varnolite (TS)", "Dunmere", "Dunmere (TS)"};
    return pid < kNames.size() ? kNames[pid] : "---";
}

std::uint8_t CheckProduct(std::uint8_t pid, std::uint8_t expectedModel, bool factoryMode)
{
    constexpr std::uint8_t kWrongProduct = 146;
    if (factoryMode)
        return (pid == 0 || pid == 2 || pid == 4) ? 0 : kWrongProduct;
    return pid == expectedModel ? 0 : kWrongProduct;
}

bool BlockCrcMatches(const std::uint8_t* block, std::size_t receivedLen)
{
    if (receivedLen < 2)
        return false;
    const std::uint16_t computed = crc16::Compute(block, receivedLen - 2);
    const std::uint16_t stored = static_cast<std::uint16_t>(block[62] | (block[63] << 8));
    return computed == stored;
}
