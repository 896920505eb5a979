#include "RecordFields.h"

#include "TextHelpers.h"

#include <QJsonArray>

#include <cstddef>
#include <cstring>
#include <limits>

namespace {

#define UNIT(field, kind, count) FieldInfo{#field, offsetof(RZELUnitCFG, field), FieldKind::kind, count, false}
#define UNIT_RESERVED(field, count) FieldInfo{#field, offsetof(RZELUnitCFG, field), FieldKind::U8, count, true}
#define SENSOR(field, kind, count) FieldInfo{#field, offsetof(RZELSensorCFG, field), FieldKind::kind, count, false}
#define SENSOR_RESERVED(field, count) FieldInfo{#field, offsetof(RZELSensorCFG, field), FieldKind::U8, count, true}
#define IDENT(field, kind, count) FieldInfo{#field, offsetof(RZELIdenty, field), FieldKind::kind, count, false}

std::size_t Width(FieldKind kind)
{
    switch (kind) {
    case FieldKind::U8:
    case FieldKind::Chars: return 1;
    case FieldKind::U16:
    case FieldKind::I16: return 2;
    case FieldKind::U32:
    case FieldKind::I32: return 4;
    }
    return 1;
}

long long ReadValue(const std::uint8_t* at, FieldKind kind)
{
    switch (kind) {
    case FieldKind::U8:
    case FieldKind::Chars: return *at;
    case FieldKind::U16: { std::uint16_t v; std::memcpy(&v, at, 2); return v; }
    case FieldKind::I16: { std::int16_t v; std::memcpy(&v, at, 2); return v; }
    case FieldKind::U32: { std::uint32_t v; std::memcpy(&v, at, 4); return v; }
    case FieldKind::I32: { std::int32_t v; std::memcpy(&v, at, 4); return v; }
    }
    return 0;
}

bool InRange(long long value, FieldKind kind)
{
    switch (kind) {
    case FieldKind::U8: return value >= 0 && value <= 0xFF;
    case FieldKind::U16: return value >= 0 && value <= 0xFFFF;
    case FieldKind::U32: return value >= 0 && value <= 0xFFFFFFFFLL;
    case FieldKind::I16: return value >= std::numeric_limits<std::int16_t>::min() && value <= std::numeric_limits<std::int16_t>::max();
    case FieldKind::I32: return value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max();
    case FieldKind::Chars: return true;
    }
    return false;
}

void WriteValue(std::uint8_t* at, FieldKind kind, long long value)
{
    switch (kind) {
    case FieldKind::U8:
    case FieldKind::Chars: *at = static_cast<std::uint8_t>(value); break;
    case FieldKind::U16: { auto v = static_cast<std::uint16_t>(value); std::memcpy(at, &v, 2); break; }
    case FieldKind::I16: { auto v = static_cast<std::int16_t>(value); std::memcpy(at, &v, 2); break; }
    case FieldKind::U32: { auto v = static_cast<std::uint32_t>(value); std::memcpy(at, &v, 4); break; }
    case FieldKind::I32: { auto v = static_cast<std::int32_t>(value); std::memcpy(at, &v, 4); break; }
    }
}

}  // namespace

const std::vector<FieldInfo>& UnitFields()
{
    static const std::vector<FieldInfo> fields = {
        UNIT(mUnitFlag, U8, 1),         UNIT(mUserID, Chars, 6),         UNIT(mTestInterval, U8, 1),
        UNIT_RESERVED(mDummy1, 7),      UNIT(mAllowSuspend, U8, 1),      UNIT(mSerial, Chars, 10),
        UNIT(mBatLimit, U16, 2),        UNIT(mBatLimitStartUp, U16, 1),  UNIT(mBatLimitCritical, U16, 1),
        UNIT(mHWVersion, U8, 1),        UNIT(mFWVersion, U8, 1),         UNIT(mLifeRemaining, U32, 1),
        UNIT(mAlarmTime, U32, 1),       UNIT(mTestTime, U32, 1),         UNIT(mAlarmCount, U16, 1),
        UNIT(mTestCount, U16, 1),       UNIT(mPEventLog, U8, 1),         UNIT_RESERVED(mDummy2, 9),
        UNIT(mCRC, U16, 1),
    };
    return fields;
}

const std::vector<FieldInfo>& SensorFields()
{
    static const std::vector<FieldInfo> fields = {
        SENSOR(mAlarmHigh, U16, 1),     SENSOR(mAlarmLow, U16, 1),       SENSOR(mCalInterval, U32, 1),
        SENSOR(mBumpInterval, U16, 1),  SENSOR_RESERVED(mDummy1, 11),    SENSOR(mSensorType, U8, 1),
        SENSOR(mDeadZone, U16, 1),      SENSOR(mSpanGas, U16, 1),        SENSOR(mSensorMax, U16, 1),
        SENSOR(mSensorBase, U16, 1),    SENSOR(mTempCompSpan, I32, 3),   SENSOR(mZero, U16, 1),
        SENSOR(mSpan, U16, 1),          SENSOR(mTau, U16, 1),            SENSOR(mLastCal, U32, 1),
        SENSOR(mPeakTimer, U32, 1),     SENSOR(mMinSpan, U16, 1),        SENSOR(mLastBump, U32, 1),
        SENSOR(mCRC, U16, 1),
    };
    return fields;
}

const std::vector<FieldInfo>& IdentityFields()
{
    static const std::vector<FieldInfo> fields = {
        IDENT(mPID, U8, 1), IDENT(mHW, U8, 1), IDENT(mSW, U8, 1),
        IDENT(mSensor, U8, 1), IDENT(mLife, U32, 1), IDENT(mSerial, Chars, 10),
    };
    return fields;
}

QJsonObject RecordToJson(const void* record, const std::vector<FieldInfo>& fields)
{
    const auto* bytes = static_cast<const std::uint8_t*>(record);
    QJsonObject object;
    for (const FieldInfo& field : fields) {
        if (field.reserved)
            continue;
        const std::uint8_t* at = bytes + field.offset;
        if (field.kind == FieldKind::Chars) {
            // Latin-1 keeps every byte visible and reversible.
            object.insert(field.name, QString::fromLatin1(reinterpret_cast<const char*>(at), field.count));
        } else if (field.count == 1) {
            object.insert(field.name, static_cast<double>(ReadValue(at, field.kind)));
        } else {
            QJsonArray values;
            for (int i = 0; i < field.count; ++i)
                values.append(static_cast<double>(ReadValue(at + i * Width(field.kind), field.kind)));
            object.insert(field.name, values);
        }
    }
    return object;
}

std::optional<std::string> SetConfigField(RZELCFG& cfg, const std::string& name, const std::string& value)
{
    struct Block {
        const std::vector<FieldInfo>& fields;
        std::uint8_t* base;
    };
    const Block blocks[] = {{UnitFields(), reinterpret_cast<std::uint8_t*>(&cfg.mUnit)},
                            {SensorFields(), reinterpret_cast<std::uint8_t*>(&cfg.mSensor)}};
    for (const Block& block : blocks) {
        for (const FieldInfo& field : block.fields) {
            if (name != field.name)
                continue;
            std::uint8_t* at = block.base + field.offset;
            if (field.kind == FieldKind::Chars) {
                if (value.size() > static_cast<std::size_t>(field.count))
                    return name + " holds at most " + std::to_string(field.count) + " characters";
                std::memset(at, ' ', static_cast<std::size_t>(field.count));
                std::memcpy(at, value.data(), value.size());
                return std::nullopt;
            }
            std::vector<std::string> parts;
            std::size_t start = 0;
            for (std::size_t comma = value.find(','); ; comma = value.find(',', start)) {
                parts.push_back(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
            if (static_cast<int>(parts.size()) != field.count)
                return name + " takes " + std::to_string(field.count) + " comma-separated value(s)";
            for (int i = 0; i < field.count; ++i) {
                const auto number = ParseDecimalInteger(parts[static_cast<std::size_t>(i)]);
                if (!number || !InRange(*number, field.kind))
                    return "'" + parts[static_cast<std::size_t>(i)] + "' is not a valid value for " + name;
                WriteValue(at + static_cast<std::size_t>(i) * Width(field.kind), field.kind, *number);
            }
            return std::nullopt;
        }
    }
    return "unknown field '" + name + "'";
}
