#pragma once
// Firmware image files made for tests: the header fields, the size and a
// stated CRC that can be put off on purpose.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <string>

struct ImageRecipe {
    int size = 16384;
    std::uint8_t model = 2;
    std::uint8_t firmware = 14;
    std::uint8_t hardware = 1;
    std::uint8_t minFirmware = 10;
    std::uint8_t minHardware = 1;
    int crcDelta = 0;  // added to the stated CRC
};

// Header, then firmware bytes below 0x80 (so that no run of them reads as
// the tool's wake-up frame in a recording), CRC in bytes 0..1.
QByteArray ImageBytes(const ImageRecipe& recipe);
// Writes `bytes` as `name` in `dir`; the full path.
std::string WriteTestFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);
