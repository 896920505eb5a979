#pragma once
#include <cstddef>
#include <cstdint>

// CRC-16/ARC (reflected polynomial 0xA001, initial 0, no final XOR). The
// detector closes every frame with it (high byte first on the wire) and every
// 64-byte configuration block (low byte first inside the block).
namespace crc16 {

std::uint16_t Step(std::uint16_t crc, std::uint8_t byte);
std::uint16_t Compute(const std::uint8_t* data, std::size_t len, std::uint16_t crc = 0);

}  // namespace crc16
