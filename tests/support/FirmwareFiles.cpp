#include "FirmwareFiles.h"

#include <QFile>

#include "Crc16.h"

QByteArray ImageBytes(const ImageRecipe& recipe)
{
    QByteArray bytes(recipe.size, '\0');
    for (int i = 7; i < recipe.size; ++i)
        bytes[i] = static_cast<char>((i * 13 + 5) & 0x7F);
    const char header[5] = {static_cast<char>(recipe.model), static_cast<char>(recipe.firmware),
                            static_cast<char>(recipe.hardware), static_cast<char>(recipe.minFirmware),
                            static_cast<char>(recipe.minHardware)};
    for (int i = 0; i < 5 && i + 2 < recipe.size; ++i)
        bytes[2 + i] = header[i];
    if (recipe.size > 2) {
        const std::uint16_t crc = static_cast<std::uint16_t>(
            crc16::Compute(reinterpret_cast<const std::uint8_t*>(bytes.constData()) + 2,
                           static_cast<std::size_t>(recipe.size - 2)) +
            recipe.crcDelta);
        bytes[0] = static_cast<char>(crc & 0xFF);
        bytes[1] = static_cast<char>(crc >> 8);
    }
    return bytes;
}

std::string WriteTestFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return file.fileName().toStdString();
}
