#include "SensorTypes.h"

#include <cmath>
#include <cstdlib>
#include <optional>

#include "TextHelpers.h"

namespace {

constexpr std::uint8_t kCodeCO = 2;
constexpr std::uint8_t kCodeO2 = 4;
// A range narrower than this is no range at all: the editors could not step.
constexpr double kMinimumSpan = 0.1;

std::optional<long long> IntegerValue(const std::string& text)
{
    const auto normalized = NormalizeNumber(NumberForm::Integer, text);
    if (!normalized)
        return std::nullopt;
    return std::strtoll(normalized->c_str(), nullptr, 10);
}

// The bound as written (kept as a double so that "0.3" minus 0.1 is compared
// as the user reads it), or nothing when it does not convert or does not fit
// the single-precision field.
std::optional<double> BoundValue(const std::string& text)
{
    const auto normalized = NormalizeNumber(NumberForm::Decimal, text);
    if (!normalized)
        return std::nullopt;
    const double value = std::strtod(normalized->c_str(), nullptr);
    if (!std::isfinite(static_cast<float>(value)))
        return std::nullopt;
    return value;
}

}  // namespace

std::vector<RSensorType> BuiltInSensorTypes()
{
    return {
        {"H2S", 1, "ppm", "SH", 180, 0, 100},
        {"CO", kCodeCO, "ppm", "SC", 180, 0, 300},
        {"O2", kCodeO2, "%", "SO", 60, 0, 30},
    };
}

SensorRange DefaultSensorRange(std::uint8_t code)
{
    if (code == kCodeCO)
        return {0, 300};
    if (code == kCodeO2)
        return {0, 30};
    return {0, 100};
}

RSensorType ParseSensorEntry(const std::string& line)
{
    const std::vector<std::string> nameValue = SplitText(line, "=", 2);
    const std::vector<std::string> field = SplitText(nameValue[1], ",", 6);

    RSensorType type;
    type.mName = nameValue[0];
    // Codes and times are kept to their field widths as the detector would.
    type.mIndex = static_cast<std::uint8_t>(static_cast<unsigned long long>(IntegerValue(field[0]).value_or(0)) & 0xFFu);
    type.mUnit = field[1];
    type.mSpec = PadText(PadSide::Left, 2, 'S', field[2]);
    type.mCalTime = static_cast<std::uint16_t>(static_cast<unsigned long long>(IntegerValue(field[3]).value_or(0)) & 0xFFFFu);

    const auto min = BoundValue(field[4]);
    const auto max = BoundValue(field[5]);
    // The span must hold as written and as stored: single precision keeps
    // about seven digits, so bounds such as 1022222222218 and 1022222222221
    // are a range of 3 in the file but one and the same value in the table,
    // a range the editors could not step through.
    if (min && max && *max - kMinimumSpan > *min &&
        static_cast<float>(*max) - static_cast<float>(kMinimumSpan) > static_cast<float>(*min)) {
        type.mMin = static_cast<float>(*min);
        type.mMax = static_cast<float>(*max);
    } else {
        const SensorRange range = DefaultSensorRange(type.mIndex);
        type.mMin = range.min;
        type.mMax = range.max;
    }
    return type;
}

std::vector<RSensorType> BuildSensorTypes(const std::vector<std::string>& lines)
{
    if (lines.empty())
        return BuiltInSensorTypes();
    std::vector<RSensorType> table;
    table.reserve(lines.size());
    for (const std::string& line : lines)
        table.push_back(ParseSensorEntry(line));
    return table;
}

int FindSensorType(const std::vector<RSensorType>& table, std::uint8_t code)
{
    int found = -1;
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i].mIndex == code)
            found = static_cast<int>(i);
    return found;
}
