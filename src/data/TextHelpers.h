#pragma once
// Small text and number routines shared by settings loading, the editors and
// the exports. They keep no state.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class NumberForm { Integer, Decimal };
enum class PadSide { Left, Right };

// Canonical text of the number at the start of `text` ("0" when none). Returns
// nothing when the digits do not convert (too long for 32 bits, or a decimal
// that is only a point), so callers can fall back to their default.
std::optional<std::string> NormalizeNumber(NumberForm form, const std::string& text);

// Integer at the start of `text`, reduced to 16 bits, then clamped to [low, high].
// `fallback` is used before clamping when the digits do not convert.
std::uint16_t ParseWord(const std::string& text, std::uint16_t low, std::uint16_t high,
                        std::uint16_t fallback = 0);

// A number as a person types it: decimal digits with an optional leading
// '-' (and, for the second, one decimal point), nothing else. A leading zero
// is read as decimal, never as octal; blanks, "0x", exponents, NaN and
// infinities are refused, as is an integer beyond 64 bits.
std::optional<long long> ParseDecimalInteger(const std::string& text);
std::optional<double> ParseDecimalNumber(const std::string& text);

std::string PadText(PadSide side, std::size_t width, char fill, const std::string& text);
std::vector<std::string> SplitText(const std::string& text, const std::string& separator, std::size_t count);

std::string HWVersionText(std::uint8_t version);
std::string FWVersionText(std::uint8_t version);

struct LifeSplit {
    std::uint32_t months = 0;
    std::uint32_t days = 0;
};
LifeSplit SplitLife(std::uint32_t seconds);

std::string TrimBlanks(const std::string& text);
