#include <gtest/gtest.h>

#include "TextHelpers.h"

#include <optional>
#include <string>

namespace {

TEST(TextHelpers, NormalizeNumber)
{
    struct Case { NumberForm form; const char* in; const char* out; };
    for (const Case& c : {Case{NumberForm::Integer, " 12abc", "12"}, Case{NumberForm::Integer, "-007", "-7"},
                          Case{NumberForm::Integer, "abc", "0"}, Case{NumberForm::Integer, "- 5", "0"},
                          Case{NumberForm::Integer, "1.9", "1"}, Case{NumberForm::Integer, "", "0"},
                          Case{NumberForm::Decimal, "0.50 ppm", "0.5"}, Case{NumberForm::Decimal, "3.", "3"},
                          Case{NumberForm::Decimal, "-2.5.1", "-2.5"}, Case{NumberForm::Decimal, "0.123456789", "0.12345679"}}) {
        const auto got = NormalizeNumber(c.form, c.in);
        ASSERT_TRUE(got.has_value()) << c.in;
        EXPECT_EQ(*got, c.out) << c.in;
    }
    EXPECT_FALSE(NormalizeNumber(NumberForm::Integer, "99999999999").has_value());
    EXPECT_FALSE(NormalizeNumber(NumberForm::Decimal, ".").has_value());
    EXPECT_FALSE(NormalizeNumber(NumberForm::Decimal, " -. ").has_value());
}

TEST(TextHelpers, ParseWordReducesTo16BitsThenClamps)
{
    struct Case { const char* in; std::uint16_t low, high, out; };
    for (const Case& c : {Case{"", 1, 128, 1}, Case{"300", 1, 128, 128}, Case{"-1", 0, 5, 5}, Case{"12 ms", 1, 600, 12},
                          Case{"70000", 500, 60000, 4464}, Case{"abc", 500, 60000, 500}, Case{"-1", 500, 60000, 60000}})
        EXPECT_EQ(ParseWord(c.in, c.low, c.high), c.out) << c.in;
    EXPECT_EQ(ParseWord("99999999999", 1, 600, 7), 7);  // unconvertible: the caller's default
}

TEST(TextHelpers, PadAndSplit)
{
    EXPECT_EQ(PadText(PadSide::Left, 3, '0', "7"), "007");
    EXPECT_EQ(PadText(PadSide::Right, 10, '0', "SH1"), "SH10000000");
    EXPECT_EQ(PadText(PadSide::Left, 2, 'S', "XYZ"), "XY");
    EXPECT_EQ(PadText(PadSide::Right, 2, 'S', "XYZ"), "XY");

    using Pieces = std::vector<std::string>;
    struct Case { const char* text; const char* sep; std::size_t n; Pieces out; };
    for (const Case& c : {Case{"H2S=1,ppm", "=", 2, {"H2S", "1,ppm"}}, Case{"A=1=2", "=", 2, {"A", "1"}},
                          Case{"1,ppm,H", ",", 6, {"1", "ppm", "H", "", "", ""}}, Case{"", ",", 3, {"", "", ""}},
                          Case{"  whole  ", ",", 2, {"whole", ""}}, Case{"a , b", ",", 2, {"a ", "b"}}})
        EXPECT_EQ(SplitText(c.text, c.sep, c.n), c.out) << c.text;
}

TEST(TextHelpers, VersionTexts)
{
    for (auto [v, text] : {std::pair<int, const char*>{7, "007"}, {12, "012"}, {255, "255"}, {0, "000"}})
        EXPECT_EQ(HWVersionText(static_cast<std::uint8_t>(v)), text);
    for (auto [v, text] : {std::pair<int, const char*>{13, "1.3"}, {7, "0.7"}, {100, "10.0"}, {255, "25.5"}})
        EXPECT_EQ(FWVersionText(static_cast<std::uint8_t>(v)), text);
}

TEST(TextHelpers, SplitLife)
{
    struct Case { std::uint32_t s, months, days; };
    for (const Case& c : {Case{0, 0, 1}, Case{86400, 0, 1}, Case{86401, 0, 2}, Case{100000, 0, 2},
                          Case{2628000, 0, 31}, Case{2628001, 1, 1}, Case{5200000, 2, 0}, Case{63072000, 24, 0},
                          Case{63072001, 24, 1}, Case{70000000, 24, 30}, Case{4294880896u, 24, 30},
                          Case{4294967295u, 24, 30}}) {
        const LifeSplit life = SplitLife(c.s);
        EXPECT_EQ(life.months, c.months) << c.s;
        EXPECT_EQ(life.days, c.days) << c.s;
    }
}

}  // namespace

// Every number a person types is read in decimal: a leading zero is not
// octal, and nothing else (blanks, hex, exponents, NaN, infinities) passes.
TEST(TextHelpers, TypedNumbersAreDecimalOnly)
{
    struct Case {
        std::string text;
        std::optional<long long> integer;
        std::optional<double> number;
    };
    const Case cases[] = {
        {"0100", 100, 100.0},   {"010", 10, 10.0},           {"-7", -7, -7.0},
        {"12.5", {}, 12.5},     {"0x10", {}, {}},            {" 5", {}, {}},
        {"5 ", {}, {}},         {"", {}, {}},                {"-", {}, {}},
        {"nan", {}, {}},        {"inf", {}, {}},             {"-infinity", {}, {}},
        {"1e3", {}, {}},        {"+5", {}, {}},              {"1.2.3", {}, {}},
        {"99999999999999999999", {}, 99999999999999999999.0}, {"1" + std::string(400, '0'), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseDecimalInteger(c.text), c.integer);
        EXPECT_EQ(ParseDecimalNumber(c.text), c.number);
    }
}
