#include "ConfigDiff.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "ConfigMapping.h"
#include "ZelRecords.h"

namespace {

enum class Shown { Whole, Signed, Tenths, Days, Life, Chars };

struct RShownField {
    const char* label;
    std::size_t offset;  // in the whole 128-byte image
    std::size_t width;
    Shown shown;
};

constexpr std::size_t kSensor = offsetof(RZELCFG, mSensor);
#define UNIT(f) offsetof(RZELUnitCFG, f)
#define SENSOR(f) (kSensor + offsetof(RZELSensorCFG, f))

const std::array<RShownField, 36> kFields{{
    {"User ID", UNIT(mUserID), 6, Shown::Chars},
    {"Serial Number", UNIT(mSerial), 10, Shown::Chars},
    {"Display", UNIT(mUnitFlag), 1, Shown::Whole},
    {"Test Interval (hours)", UNIT(mTestInterval), 1, Shown::Whole},
    {"Allow suspend", UNIT(mAllowSuspend), 1, Shown::Whole},
    {"Battery Limit (< -10\u2103)", UNIT(mBatLimit), 2, Shown::Whole},
    {"Battery Limit (> -10\u2103)", UNIT(mBatLimit) + 2, 2, Shown::Whole},
    {"Battery Limit Startup", UNIT(mBatLimitStartUp), 2, Shown::Whole},
    {"Battery Limit Critical", UNIT(mBatLimitCritical), 2, Shown::Whole},
    {"Hardware Version", UNIT(mHWVersion), 1, Shown::Whole},
    {"Firmware Version", UNIT(mFWVersion), 1, Shown::Whole},
    {"Life Remaining", UNIT(mLifeRemaining), 4, Shown::Life},
    {"Alarm Time (sec)", UNIT(mAlarmTime), 4, Shown::Whole},
    {"Test Time (sec)", UNIT(mTestTime), 4, Shown::Whole},
    {"Alarm Count", UNIT(mAlarmCount), 2, Shown::Whole},
    {"Test Count", UNIT(mTestCount), 2, Shown::Whole},
    {"Event log position", UNIT(mPEventLog), 1, Shown::Whole},
    {"High Alarm", SENSOR(mAlarmHigh), 2, Shown::Tenths},
    {"Low Alarm", SENSOR(mAlarmLow), 2, Shown::Tenths},
    {"Calibration Interval (days)", SENSOR(mCalInterval), 4, Shown::Days},
    {"Bump Interval (days)", SENSOR(mBumpInterval), 2, Shown::Whole},
    {"Sensor Type", SENSOR(mSensorType), 1, Shown::Whole},
    {"Dead Zone", SENSOR(mDeadZone), 2, Shown::Tenths},
    {"Span Gas", SENSOR(mSpanGas), 2, Shown::Tenths},
    {"Max", SENSOR(mSensorMax), 2, Shown::Tenths},
    {"Base", SENSOR(mSensorBase), 2, Shown::Tenths},
    {"Temp. Comp. #1", SENSOR(mTempCompSpan), 4, Shown::Signed},
    {"Temp. Comp. #2", SENSOR(mTempCompSpan) + 4, 4, Shown::Signed},
    {"Temp. Comp. #3", SENSOR(mTempCompSpan) + 8, 4, Shown::Signed},
    {"Zero", SENSOR(mZero), 2, Shown::Whole},
    {"Span", SENSOR(mSpan), 2, Shown::Whole},
    {"Tau", SENSOR(mTau), 2, Shown::Whole},
    {"Last Calibration (sec)", SENSOR(mLastCal), 4, Shown::Whole},
    {"Peak Timer (sec)", SENSOR(mPeakTimer), 4, Shown::Whole},
    {"Minimum Span", SENSOR(mMinSpan), 2, Shown::Whole},
    {"Last Bump Timer (sec)", SENSOR(mLastBump), 4, Shown::Whole},
}};

#undef UNIT
#undef SENSOR

QString ValueText(const QByteArray& image, const RShownField& f)
{
    const char* at = image.constData() + f.offset;
    if (f.shown == Shown::Chars)
        return FixedText(at, static_cast<int>(f.width)).trimmed();
    std::uint32_t raw = 0;
    std::memcpy(&raw, at, f.width);  // little-endian, as the unit stores it
    switch (f.shown) {
    case Shown::Tenths: return QString::number(raw / 10.0, 'f', 1);
    case Shown::Days: return QString::number(raw / 86400.0, 'g', 6);
    case Shown::Life: return LifeLabelText(raw);
    case Shown::Signed: return QString::number(static_cast<std::int32_t>(raw));
    default: return QString::number(raw);
    }
}

}  // namespace

std::vector<RFieldChange> DiffImages(const QByteArray& before, const QByteArray& after)
{
    std::vector<RFieldChange> changes;
    constexpr qsizetype size = sizeof(RZELCFG);
    if (before.size() != size || after.size() != size)
        return changes;
    // The block checksums change with every field: not worth a line of their own.
    std::array<bool, sizeof(RZELCFG)> named{};
    for (const std::size_t crc : {offsetof(RZELUnitCFG, mCRC), kSensor + offsetof(RZELSensorCFG, mCRC)})
        named[crc] = named[crc + 1] = true;
    for (const RShownField& f : kFields) {
        std::fill_n(named.begin() + static_cast<std::ptrdiff_t>(f.offset), f.width, true);
        if (std::memcmp(before.constData() + f.offset, after.constData() + f.offset, f.width) != 0)
            changes.push_back({QString::fromUtf8(f.label), ValueText(before, f), ValueText(after, f)});
    }
    for (qsizetype i = 0; i < size; ++i) {
        if (named[static_cast<std::size_t>(i)] || before[i] == after[i])
            continue;
        const bool sensor = i >= static_cast<qsizetype>(kSensor);
        changes.push_back({QStringLiteral("%1 block byte %2").arg(sensor ? QStringLiteral("Sensor") : QStringLiteral("Unit"))
                               .arg(sensor ? i - static_cast<qsizetype>(kSensor) : i),
                           QStringLiteral("0x%1").arg(quint8(before[i]), 2, 16, QLatin1Char('0')),
                           QStringLiteral("0x%1").arg(quint8(after[i]), 2, 16, QLatin1Char('0'))});
    }
    return changes;
}
