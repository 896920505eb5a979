#pragma once
// A firmware image file: raw bytes, exactly rows x packet size of them, sent
// to the unit row by row as they are. The first row starts with a header
// that says which unit may take the image, and the whole image is guarded by
// a CRC-16 in its first two bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Status bytes of the firmware upgrade (0 = success).
namespace fwstatus {
constexpr std::uint8_t kOK = 0;
constexpr std::uint8_t kFileUnreadable = 128;
constexpr std::uint8_t kFileSize = 129;
constexpr std::uint8_t kFileCrc = 130;
constexpr std::uint8_t kWrongModel = 131;
constexpr std::uint8_t kOlderDeclined = 132;
constexpr std::uint8_t kNotForThisUnit = 133;
constexpr std::uint8_t kUserStop = 134;
constexpr std::uint8_t kValidationFailed = 135;
}  // namespace fwstatus

struct RFirmwareHeader {
    std::uint16_t mCRC = 0;        // bytes 0..1, low byte first
    std::uint8_t mModel = 0;       // product id the image is made for
    std::uint8_t mFirmware = 0;    // version the image brings
    std::uint8_t mHardware = 0;
    std::uint8_t mMinFirmware = 0; // lowest unit firmware that may take it
    std::uint8_t mMinHardware = 0; // lowest unit hardware that may take it
};

// What loading a file found out, for the upgrade panel and for `image check`.
struct RFirmwareCheck {
    std::uint8_t status = fwstatus::kFileUnreadable;
    std::int64_t fileSize = -1;                // -1: not known (the file would not open)
    std::size_t expectedSize = 0;
    std::optional<RFirmwareHeader> header;     // once the whole file was read
    std::uint16_t computedCrc = 0;             // valid with `header`
};

class TFirmwareImage {
public:
    // Packet count and packet size are each at most 256 (the settings hold
    // them there), so an image is at most 64 KiB.
    static constexpr int kMaxRows = 256;
    static constexpr int kMaxPacketSize = 256;
    static constexpr std::size_t kHeaderSize = 7;

    // Reads and checks `path` for an image of `rows` packets of `packetSize`
    // bytes: 128 when it cannot be read, 129 when its size differs (nothing
    // is read then), 130 on a CRC mismatch, 131 when it is made for another
    // model (the factory bench serves all its models), 0 when it may be sent.
    // The file is never read past the expected size. Only a successful load
    // keeps the bytes; any other result leaves no image.
    RFirmwareCheck Load(const std::string& path, int rows, int packetSize, bool factoryMode);
    void Clear();

    bool Loaded() const { return !FBytes.empty(); }
    int Rows() const { return FRows; }
    int PacketSize() const { return FPacketSize; }
    // `PacketSize()` bytes of packet `row`.
    const std::uint8_t* Row(int row) const;
    RFirmwareHeader Header() const;

    // CRC-16/ARC over every byte but the first two, in file order.
    static std::uint16_t ImageCrc(const std::uint8_t* bytes, std::size_t size);
    static RFirmwareHeader ReadHeader(const std::uint8_t* bytes);

private:
    std::vector<std::uint8_t> FBytes;
    int FRows = 0;
    int FPacketSize = 0;
};
