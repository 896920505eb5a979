#include "Crc16.h"

#include <array>

namespace crc16 {
namespace {

constexpr std::array<std::uint16_t, 256> MakeTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t value = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1u) ? static_cast<std::uint16_t>((value >> 1) ^ 0xA001u) : static_cast<std::uint16_t>(value >> 1);
        table[i] = value;
    }
    return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

std::uint16_t Step(std::uint16_t crc, std::uint8_t byte)
{
    return static_cast<std::uint16_t>(kTable[(crc ^ byte) & 0xFFu] ^ (crc >> 8));
}

std::uint16_t Compute(const std::uint8_t* data, std::size_t len, std::uint16_t crc)
{
    for (std::size_t i = 0; i < len; ++i)
        crc = Step(crc, data[i]);
    return crc;
}

}  // namespace crc16
