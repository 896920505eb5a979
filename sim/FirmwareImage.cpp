#include "FirmwareImage.h"

#include "Crc16.h"
#include "SimProtocol.h"

#include <random>

namespace sim {

std::vector<std::uint8_t> MakeImage(const ImageHeader& header, std::size_t size, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(size < image::kHeaderSize ? image::kHeaderSize : size);
    bytes[image::kModelAt] = header.model;
    bytes[image::kFirmwareAt] = header.firmware;
    bytes[image::kHardwareAt] = header.hardware;
    bytes[image::kMinFirmwareAt] = header.minFirmware;
    bytes[image::kMinHardwareAt] = header.minHardware;
    std::mt19937 rng(seed);
    for (std::size_t i = image::kHeaderSize; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(rng() >> 24);
    WriteLe16(bytes.data() + image::kCrcAt, ImageCrc(bytes));
    return bytes;
}

std::uint16_t ImageCrc(std::span<const std::uint8_t> bytes)
{
    constexpr std::size_t kCovered = image::kCrcAt + 2;
    if (bytes.size() < kCovered)
        return 0;
    return crc16::Compute(bytes.data() + kCovered, bytes.size() - kCovered);
}

ImageVerdict CheckImage(std::span<const std::uint8_t> bytes, std::size_t expectedSize, std::uint8_t unitModel)
{
    if (bytes.size() != expectedSize || bytes.size() < image::kHeaderSize)
        return ImageVerdict::WrongLength;
    if (ReadLe16(bytes.data() + image::kCrcAt) != ImageCrc(bytes))
        return ImageVerdict::WrongCrc;
    if (bytes[image::kModelAt] != unitModel)
        return ImageVerdict::WrongModel;
    return ImageVerdict::Good;
}

const char* VerdictText(ImageVerdict verdict)
{
    switch (verdict) {
    case ImageVerdict::Good:
        return "image good";
    case ImageVerdict::WrongLength:
        return "image length wrong";
    case ImageVerdict::WrongCrc:
        return "image CRC wrong";
    case ImageVerdict::WrongModel:
        return "image made for another model";
    }
    return "image refused";
}

}  // namespace sim
