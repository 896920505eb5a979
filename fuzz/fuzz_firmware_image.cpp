// A firmware image file of arbitrary bytes and size, loaded with packet
// counts and sizes the settings allow: refused with its status, or loaded
// with a header and rows that lie inside what was read, never read past the
// expected size.
#include <cstdint>
#include <cstring>
#include <fstream>

#include "FirmwareImage.h"
#include "ScratchDir.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the layout, the rest is the file.
    const int rows = 1 + data[0] % 4;
    const int packetSize = 1 + data[1] % 64;
    data += 2;
    size -= 2;
    static const std::string path = ScratchPath("fuzz.img");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (const bool factoryMode : {false, true}) {
        TFirmwareImage image;
        const RFirmwareCheck check = image.Load(path, rows, packetSize, factoryMode);
        const bool rightSize = size == static_cast<std::size_t>(rows * packetSize);
        if (check.status == fwstatus::kOK) {
            if (!rightSize || !image.Loaded() || image.Rows() != rows || image.PacketSize() != packetSize)
                __builtin_trap();
            if (std::memcmp(image.Row(rows - 1), data + (rows - 1) * packetSize, static_cast<std::size_t>(packetSize)) != 0)
                __builtin_trap();
            if (TFirmwareImage::ImageCrc(data, size) != image.Header().mCRC)
                __builtin_trap();
        } else if (image.Loaded() || (!rightSize && check.status != fwstatus::kFileSize &&
                                      check.status != fwstatus::kFileUnreadable)) {
            __builtin_trap();
        }
    }
    return 0;
}
