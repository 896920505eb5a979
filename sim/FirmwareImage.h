#pragma once
// Firmware image files as the tool loads them and the unit checks them:
//   0..1  CRC-16/ARC of every byte from offset 2 to the end, low byte first
//   2     model code the image is made for (the identity's product id)
//   3     firmware version of the image (13 = 1.3)
//   4     hardware version of the image
//   5     lowest unit firmware version that may take it
//   6     lowest unit hardware version that may take it
//   7..   firmware
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

namespace image {
constexpr std::size_t kCrcAt = 0;
constexpr std::size_t kModelAt = 2;
constexpr std::size_t kFirmwareAt = 3;
constexpr std::size_t kHardwareAt = 4;
constexpr std::size_t kMinFirmwareAt = 5;
constexpr std::size_t kMinHardwareAt = 6;
constexpr std::size_t kHeaderSize = 7;
constexpr std::size_t kDefaultSize = 128 * 128;
// 256 packets of 256 bytes: the largest image any tool settings describe.
constexpr std::size_t kMaxSize = 256 * 256;
}  // namespace image

struct ImageHeader {
    std::uint8_t model = 2;
    std::uint8_t firmware = 14;
    std::uint8_t hardware = 1;
    std::uint8_t minFirmware = 10;
    std::uint8_t minHardware = 1;
};

// An image of `size` bytes (kHeaderSize..kMaxSize) with the header, its CRC
// and pseudo-random firmware bytes drawn from `seed`.
std::vector<std::uint8_t> MakeImage(const ImageHeader& header, std::size_t size, std::uint32_t seed);

// CRC over bytes 2 onwards; 0 for an image shorter than its CRC field.
std::uint16_t ImageCrc(std::span<const std::uint8_t> image);

enum class ImageVerdict { Good, WrongLength, WrongCrc, WrongModel };

// What the unit makes of a received image before it programs it.
ImageVerdict CheckImage(std::span<const std::uint8_t> image, std::size_t expectedSize, std::uint8_t unitModel);
const char* VerdictText(ImageVerdict verdict);

}  // namespace sim
