#include "WritableFields.h"

#include "TextHelpers.h"

#include <QStringList>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "RecordFields.h"

namespace {

enum class Shown { Tenths, Days, Whole, Text };

struct RWritable {
    const char* name;    // the window's field; nullptr: by record name only
    const char* record;  // the record's field
    int element;         // within an array field
    Shown shown;
    double min;          // display units (Text: length)
    double max;
    const char* unit;
    bool factoryOnly;
    const char* characters;  // Text: what it may hold
};

constexpr double kI32Min = std::numeric_limits<std::int32_t>::min();
constexpr double kI32Max = std::numeric_limits<std::int32_t>::max();
constexpr const char* kUserIDCharacters = "A-Z, 0-9, '-' and blanks";
constexpr const char* kSerialCharacters = "A-Z and 0-9";

// The editors of the window and their limits, user fields first.
constexpr std::array<RWritable, 22> kWritable{{
    {"high-alarm", "mAlarmHigh", 0, Shown::Tenths, 0, 6553.5, "gas unit; within the sensor's range", false, nullptr},
    {"low-alarm", "mAlarmLow", 0, Shown::Tenths, 0, 6553.5, "gas unit; within the sensor's range", false, nullptr},
    {"cal-interval-days", "mCalInterval", 0, Shown::Days, 0, 365, "days", false, nullptr},
    {"bump-interval-days", "mBumpInterval", 0, Shown::Whole, 0, 365, "days", false, nullptr},
    {"test-interval-hours", "mTestInterval", 0, Shown::Whole, 6, 24, "hours", false, nullptr},
    {"user-id", "mUserID", 0, Shown::Text, 0, 6, "characters", false, kUserIDCharacters},
    {nullptr, "mUnitFlag", 0, Shown::Whole, 0, 7, "display and bump LED flags", false, nullptr},
    {"serial", "mSerial", 0, Shown::Text, 10, 10, "characters", true, kSerialCharacters},
    {"hw-version", "mHWVersion", 0, Shown::Whole, 1, 255, "", true, nullptr},
    {nullptr, "mAllowSuspend", 0, Shown::Whole, 128, 255, "(128 allows suspension, 255 does not)", true, nullptr},
    {nullptr, "mLifeRemaining", 0, Shown::Whole, 0, 63072000, "seconds", true, nullptr},
    {"battery-critical", "mBatLimitCritical", 0, Shown::Whole, 0, 1024, "", true, nullptr},
    {"battery-startup", "mBatLimitStartUp", 0, Shown::Whole, 0, 1024, "", true, nullptr},
    {"battery-cold", "mBatLimit", 0, Shown::Whole, 0, 1024, "", true, nullptr},
    {"battery-warm", "mBatLimit", 1, Shown::Whole, 0, 1024, "", true, nullptr},
    {"span-gas", "mSpanGas", 0, Shown::Tenths, 0, 6553.5, "gas unit", true, nullptr},
    {"sensor-max", "mSensorMax", 0, Shown::Tenths, 0, 6553.5, "gas unit", true, nullptr},
    {"sensor-base", "mSensorBase", 0, Shown::Tenths, 0, 6553.5, "gas unit", true, nullptr},
    {"dead-zone", "mDeadZone", 0, Shown::Tenths, 0, 6553.5, "gas unit", true, nullptr},
    {"temp-comp-1", "mTempCompSpan", 0, Shown::Whole, kI32Min, kI32Max, "", true, nullptr},
    {"temp-comp-2", "mTempCompSpan", 1, Shown::Whole, kI32Min, kI32Max, "", true, nullptr},
    {"temp-comp-3", "mTempCompSpan", 2, Shown::Whole, kI32Min, kI32Max, "", true, nullptr},
}};

double RawScale(Shown shown)
{
    switch (shown) {
    case Shown::Tenths: return 10.0;
    case Shown::Days: return zel::kDaySeconds;
    default: return 1.0;
    }
}

QString Number(double value, Shown shown)
{
    return shown == Shown::Tenths ? QString::number(value, 'f', 1) : QString::number(static_cast<long long>(value));
}

QString Allowed(const RWritable& w, bool raw)
{
    if (w.shown == Shown::Text)
        return w.min == w.max ? QStringLiteral("exactly %1 characters of %2").arg(w.max).arg(QLatin1String(w.characters))
                              : QStringLiteral("up to %1 characters of %2").arg(w.max).arg(QLatin1String(w.characters));
    const double scale = raw ? RawScale(w.shown) : 1.0;
    const Shown as = raw ? Shown::Whole : w.shown;
    QString text = Number(w.min * scale, as) + QStringLiteral(" to ") + Number(w.max * scale, as);
    if (raw && w.shown == Shown::Tenths)
        text += QStringLiteral(" tenths");
    else if (raw && w.shown == Shown::Days)
        text += QStringLiteral(" seconds (whole days)");
    else if (*w.unit)
        text += QLatin1Char(' ') + QLatin1String(w.unit);
    return text;
}

const FieldInfo* RecordField(const char* record, bool& inSensor)
{
    for (const bool sensor : {false, true}) {
        for (const FieldInfo& field : sensor ? SensorFields() : UnitFields()) {
            if (std::strcmp(field.name, record) == 0) {
                inSensor = sensor;
                return &field;
            }
        }
    }
    return nullptr;
}

std::size_t Width(FieldKind kind)
{
    switch (kind) {
    case FieldKind::U16:
    case FieldKind::I16: return 2;
    case FieldKind::U32:
    case FieldKind::I32: return 4;
    default: return 1;
    }
}

void Store(RZELCFG& cfg, const RWritable& w, long long value, const QString& text)
{
    bool inSensor = false;
    const FieldInfo* field = RecordField(w.record, inSensor);
    auto* base = inSensor ? reinterpret_cast<std::uint8_t*>(&cfg.mSensor) : reinterpret_cast<std::uint8_t*>(&cfg.mUnit);
    std::uint8_t* at = base + field->offset + static_cast<std::size_t>(w.element) * Width(field->kind);
    if (field->kind == FieldKind::Chars) {
        const QByteArray bytes = text.toLatin1();
        std::memset(at, ' ', static_cast<std::size_t>(field->count));
        std::memcpy(at, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        return;
    }
    const std::size_t width = Width(field->kind);
    if (width == 1) {
        const auto v = static_cast<std::uint8_t>(value);
        std::memcpy(at, &v, 1);
    } else if (width == 2) {
        const auto v = static_cast<std::uint16_t>(value);
        std::memcpy(at, &v, 2);
    } else {
        const auto v = static_cast<std::uint32_t>(static_cast<std::int64_t>(value));
        std::memcpy(at, &v, 4);
    }
}

bool TextAllowed(const QString& text, const RWritable& w)
{
    if (text.size() < w.min || text.size() > w.max)
        return false;
    const bool userID = w.characters == kUserIDCharacters;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || (userID && (u == u'-' || u == u' '));
        if (!ok)
            return false;
    }
    return true;
}

// One value for one editor: display units or raw.
std::optional<QString> CheckedValue(const RWritable& w, const QString& field, const QString& text, bool raw,
                                    long long& rawValue)
{
    const QString refusal = QStringLiteral("%1=%2 is refused: %1 takes %3").arg(field, text, Allowed(w, raw));
    if (w.shown == Shown::Text)
        return TextAllowed(text, w) ? std::nullopt : std::optional<QString>(refusal);
    // Decimal only, as typed: a leading zero is no octal and a blank no digit.
    const double scale = RawScale(w.shown);
    if (raw) {
        const auto parsed = ParseDecimalInteger(text.toStdString());
        if (!parsed || *parsed < w.min * scale || *parsed > w.max * scale)
            return refusal;
        rawValue = *parsed;
        return std::nullopt;
    }
    const auto parsed = ParseDecimalNumber(text.toStdString());
    if (!parsed || !std::isfinite(*parsed) || *parsed < w.min || *parsed > w.max)
        return refusal;
    const double value = *parsed;
    const double scaled = value * scale;
    // One decimal for a gas value, whole numbers otherwise.
    if (std::fabs(scaled - std::nearbyint(scaled)) > 1e-6)
        return refusal;
    rawValue = static_cast<long long>(std::nearbyint(scaled));
    return std::nullopt;
}

QStringList ValidNames(bool factoryMode)
{
    QStringList names;
    for (const RWritable& w : kWritable) {
        if (w.name && (factoryMode || !w.factoryOnly))
            names << QLatin1String(w.name);
    }
    for (const RWritable& w : kWritable) {
        if ((factoryMode || !w.factoryOnly) && !names.contains(QLatin1String(w.record)))
            names << QLatin1String(w.record);
    }
    return names;
}

}  // namespace

std::optional<QString> ApplyFieldAssignment(RZELCFG& cfg, const QString& field, const QString& value,
                                            bool factoryMode)
{
    const QString mode = factoryMode ? QStringLiteral("factory mode") : QStringLiteral("user mode");
    std::vector<const RWritable*> rows;
    bool raw = false;
    for (const RWritable& w : kWritable) {
        if (w.name && field == QLatin1String(w.name)) {
            rows = {&w};
            break;
        }
        if (field == QLatin1String(w.record)) {
            rows.push_back(&w);
            raw = true;
        }
    }
    if (rows.empty()) {
        bool inSensor = false;
        const QString valid = ValidNames(factoryMode).join(QStringLiteral(", "));
        if (RecordField(field.toLatin1().constData(), inSensor))
            return QStringLiteral("%1=%2 is refused: %1 is not written by this tool in %3; the fields it writes: %4")
                .arg(field, value, mode, valid);
        return QStringLiteral("unknown field '%1'; valid fields: %2").arg(field, valid);
    }
    if (rows.front()->factoryOnly && !factoryMode)
        return QStringLiteral("%1=%2 is refused: %1 is written in factory mode only; the fields user mode writes: %3")
            .arg(field, value, ValidNames(false).join(QStringLiteral(", ")));

    const QStringList parts = rows.size() > 1 ? value.split(QLatin1Char(',')) : QStringList{value};
    if (parts.size() != static_cast<qsizetype>(rows.size()))
        return QStringLiteral("%1=%2 is refused: %1 takes %3 comma-separated values").arg(field, value).arg(rows.size());
    RZELCFG changed = cfg;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        long long rawValue = 0;
        if (const auto refusal = CheckedValue(*rows[i], field, parts[static_cast<qsizetype>(i)], raw, rawValue))
            return refusal;
        Store(changed, *rows[i], rawValue, parts[static_cast<qsizetype>(i)]);
    }
    cfg = changed;
    return std::nullopt;
}

QString WritableFieldsHelp(bool factoryMode)
{
    QString text;
    for (const RWritable& w : kWritable) {
        if (w.factoryOnly && !factoryMode)
            continue;
        const QString name = w.name ? QLatin1String(w.name) : QString();
        QString record = QLatin1String(w.record);
        if (w.record == std::string_view("mBatLimit") || w.record == std::string_view("mTempCompSpan"))
            record += QStringLiteral("[%1]").arg(w.element);
        QString line = QStringLiteral("  %1%2").arg(name, -22).arg(record, -20);
        line += w.name ? Allowed(w, false) : QString();
        if (w.shown != Shown::Text)
            line += (w.name ? QStringLiteral("; raw ") : QString()) + Allowed(w, true);
        text += line + QLatin1Char('\n');
    }
    return text;
}
