#include "FirmwareImage.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include "Crc16.h"
#include "ZelRecords.h"

namespace {

constexpr std::size_t kCrcBytes = 2;
constexpr std::size_t kModelAt = 2;
constexpr std::size_t kFirmwareAt = 3;
constexpr std::size_t kHardwareAt = 4;
constexpr std::size_t kMinFirmwareAt = 5;
constexpr std::size_t kMinHardwareAt = 6;

// Reads exactly `size` bytes, or says it could not.
bool ReadExactly(QFile& file, std::vector<std::uint8_t>& bytes, std::size_t size)
{
    bytes.assign(size, 0);
    std::size_t got = 0;
    while (got < size) {
        const qint64 n = file.read(reinterpret_cast<char*>(bytes.data() + got), static_cast<qint64>(size - got));
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::uint16_t TFirmwareImage::ImageCrc(const std::uint8_t* bytes, std::size_t size)
{
    return size <= kCrcBytes ? 0 : crc16::Compute(bytes + kCrcBytes, size - kCrcBytes);
}

RFirmwareHeader TFirmwareImage::ReadHeader(const std::uint8_t* bytes)
{
    RFirmwareHeader h;
    h.mCRC = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    h.mModel = bytes[kModelAt];
    h.mFirmware = bytes[kFirmwareAt];
    h.mHardware = bytes[kHardwareAt];
    h.mMinFirmware = bytes[kMinFirmwareAt];
    h.mMinHardware = bytes[kMinHardwareAt];
    return h;
}

RFirmwareCheck TFirmwareImage::Load(const std::string& path, int rows, int packetSize, bool factoryMode)
{
    Clear();
    RFirmwareCheck check;
    if (rows < 1 || rows > kMaxRows || packetSize < 1 || packetSize > kMaxPacketSize)
        return check;
    check.expectedSize = static_cast<std::size_t>(rows) * static_cast<std::size_t>(packetSize);

    const QString name = QString::fromStdString(path);
    // Only a plain file has a size to compare; a pipe or a device would be
    // read for ever or block.
    const QFileInfo info(name);
    if (!info.exists() || !info.isFile())
        return check;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return check;
    check.fileSize = file.size();
    // An image too small to hold its own header cannot be checked at all.
    if (check.fileSize != static_cast<std::int64_t>(check.expectedSize) || check.expectedSize < kHeaderSize) {
        check.status = fwstatus::kFileSize;
        return check;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadExactly(file, bytes, check.expectedSize))
        return check;

    check.header = ReadHeader(bytes.data());
    check.computedCrc = ImageCrc(bytes.data(), bytes.size());
    if (check.computedCrc != check.header->mCRC)
        check.status = fwstatus::kFileCrc;
    else if (CheckProduct(check.header->mModel, zel::kVarnoliteModel, factoryMode) != 0)
        check.status = fwstatus::kWrongModel;
    else
        check.status = fwstatus::kOK;

    if (check.status == fwstatus::kOK) {
        FBytes = std::move(bytes);
        FRows = rows;
        FPacketSize = packetSize;
    }
    return check;
}

void TFirmwareImage::Clear()
{
    FBytes.clear();
    FRows = 0;
    FPacketSize = 0;
}

const std::uint8_t* TFirmwareImage::Row(int row) const
{
    if (row < 0 || row >= FRows)
        return nullptr;
    return FBytes.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(FPacketSize);
}

RFirmwareHeader TFirmwareImage::Header() const
{
    return Loaded() ? ReadHeader(FBytes.data()) : RFirmwareHeader{};
}
