#include "TextHelpers.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "ZelRecords.h"

std::string TrimBlanks(const std::string& text)
{
    // Blanks here mean every control character and space, as the settings
    // file may carry tabs or a stray CR.
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

std::optional<std::string> NormalizeNumber(NumberForm form, const std::string& text)
{
    const std::string trimmed = TrimBlanks(text);
    std::size_t pos = 0;
    bool negative = false;
    if (pos < trimmed.size() && trimmed[pos] == '-') {
        negative = true;
        ++pos;
    }
    std::string digits;
    bool seenPoint = false;
    for (; pos < trimmed.size(); ++pos) {
        const char c = trimmed[pos];
        if (c >= '0' && c <= '9') {
            digits += c;
        } else if (form == NumberForm::Decimal && c == '.' && !seenPoint) {
            seenPoint = true;
            digits += c;
        } else {
            break;
        }
    }
    if (digits.empty())
        return std::string("0");
    const std::string signedDigits = (negative ? "-" : "") + digits;

    if (form == NumberForm::Integer) {
        std::int32_t value = 0;
        const auto [end, ec] = std::from_chars(signedDigits.data(), signedDigits.data() + signedDigits.size(), value);
        if (ec != std::errc() || end != signedDigits.data() + signedDigits.size())
            return std::nullopt;
        return std::to_string(value);
    }

    if (digits == ".")
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(signedDigits.c_str(), &end);
    if (errno == ERANGE || !std::isfinite(value))
        return std::nullopt;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.8f", value);
    std::string out = buffer;
    while (!out.empty() && out.back() == '0')
        out.pop_back();
    if (!out.empty() && out.back() == '.')
        out.pop_back();
    if (out == "-0")
        out = "0";
    return out;
}

std::uint16_t ParseWord(const std::string& text, std::uint16_t low, std::uint16_t high, std::uint16_t fallback)
{
    const auto normalized = NormalizeNumber(NumberForm::Integer, text);
    std::uint16_t value = fallback;
    if (normalized) {
        const long long n = std::strtoll(normalized->c_str(), nullptr, 10);
        value = static_cast<std::uint16_t>(static_cast<unsigned long long>(n) & 0xFFFFu);
    }
    if (value < low)
        return low;
    if (value > high)
        return high;
    return value;
}

namespace {

// The digits of a typed number: '-'? digits ('.' digits)?, with at least one
// digit; `point` allows the fraction.
bool IsDecimalText(const std::string& text, bool point)
{
    std::size_t pos = text.size() > 1 && text[0] == '-' ? 1 : 0;
    bool digits = false;
    bool seenPoint = false;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c >= '0' && c <= '9')
            digits = true;
        else if (c == '.' && point && !seenPoint)
            seenPoint = true;
        else
            return false;
    }
    return digits;
}

}  // namespace

std::optional<long long> ParseDecimalInteger(const std::string& text)
{
    if (!IsDecimalText(text, false))
        return std::nullopt;
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> ParseDecimalNumber(const std::string& text)
{
    if (!IsDecimalText(text, true))
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno == ERANGE || !std::isfinite(value) || end != text.c_str() + text.size())
        return std::nullopt;
    return value;
}

std::string PadText(PadSide side, std::size_t width, char fill, const std::string& text)
{
    if (text.size() > width)
        return text.substr(0, width);
    const std::string padding(width - text.size(), fill);
    return side == PadSide::Left ? padding + text : text + padding;
}

std::vector<std::string> SplitText(const std::string& text, const std::string& separator, std::size_t count)
{
    std::vector<std::string> pieces(count);
    if (count == 0)
        return pieces;
    std::string rest = TrimBlanks(text);
    std::size_t taken = 0;
    if (!separator.empty()) {
        for (std::size_t at = rest.find(separator); at != std::string::npos; at = rest.find(separator)) {
            pieces[taken++] = rest.substr(0, at);
            if (taken == count)
                return pieces;
            rest = TrimBlanks(rest.substr(at + separator.size()));
        }
    }
    if (taken < count && !rest.empty())
        pieces[taken] = rest;
    return pieces;
}

std::string HWVersionText(std::uint8_t version)
{
    return PadText(PadSide::Left, 3, '0', std::to_string(version));
}

std::string FWVersionText(std::uint8_t version)
{
    return std::to_string(version / 10) + "." + std::to_string(version % 10);
}

LifeSplit SplitLife(std::uint32_t seconds)
{
    if (seconds <= zel::kDaySeconds)
        return {0, 1};
    if (seconds <= zel::kMonthSeconds)
        return {0, seconds / zel::kDaySeconds + 1};
    // 64-bit so that an erased 0xFFFFFFFF does not wrap around.
    const std::uint64_t s = seconds;
    const std::uint64_t months = std::min<std::uint64_t>((s + zel::kDaySeconds - 1) / zel::kMonthSeconds, 24);
    if (months * zel::kMonthSeconds >= s)
        return {static_cast<std::uint32_t>(months), 0};
    const std::uint64_t days = std::min<std::uint64_t>((s - months * zel::kMonthSeconds) / zel::kDaySeconds + 1, 30);
    return {static_cast<std::uint32_t>(months), static_cast<std::uint32_t>(days)};
}
