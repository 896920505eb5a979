// Firmware image files: the size, CRC and model checks with their status
// bytes, the header fields, the rows the download sends, and files that are
// not images at all.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "FirmwareFiles.h"
#include "FirmwareImage.h"

namespace {

TEST(FirmwareImage, LoadStatuses)
{
    QTemporaryDir dir;
    struct Case {
        const char* name;
        ImageRecipe recipe;
        bool factoryMode;
        std::uint8_t status;
    };
    const Case cases[] = {
        {"valid", {}, false, 0},
        {"one byte short", {.size = 16383}, false, 129},
        {"one byte long", {.size = 16385}, false, 129},
        {"empty file", {.size = 0}, false, 129},
        {"CRC off by one", {.crcDelta = 1}, false, 130},
        {"CRC off by one, factory", {.crcDelta = -1}, true, 130},
        {"model 0, user mode", {.model = 0}, false, 131},
        {"model 0, factory mode", {.model = 0}, true, 0},
        {"model 4, user mode", {.model = 4}, false, 131},
        {"model 4, factory mode", {.model = 4}, true, 0},
        {"model 3 is a (TS) unit", {.model = 3}, true, 131},
        {"bad CRC wins over a wrong model", {.model = 9, .crcDelta = 5}, false, 130},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = WriteTestFile(dir, QString::fromLatin1(c.name) + ".img", ImageBytes(c.recipe));
        TFirmwareImage image;
        const RFirmwareCheck check = image.Load(path, 128, 128, c.factoryMode);
        EXPECT_EQ(check.status, c.status);
        EXPECT_EQ(image.Loaded(), c.status == 0);
        EXPECT_EQ(check.expectedSize, 16384u);
        EXPECT_EQ(check.fileSize, c.recipe.size);
        EXPECT_EQ(check.header.has_value(), c.status != 129) << "the header is known once the file was read";
    }
}

TEST(FirmwareImage, FilesThatAreNotImages)
{
    QTemporaryDir dir;
    const std::string fifo = dir.filePath("pipe.img").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.img"));
    const std::string cases[] = {dir.filePath("missing.img").toStdString(), fifo,
                                 dir.filePath("folder.img").toStdString(), "/dev/zero", ""};
    for (const std::string& path : cases) {
        TFirmwareImage image;
        const RFirmwareCheck check = image.Load(path, 128, 128, false);
        EXPECT_EQ(check.status, 128) << path << ": reading it would block or never end";
        EXPECT_FALSE(check.header.has_value());
        EXPECT_FALSE(image.Loaded());
    }
}

TEST(FirmwareImage, SizesFromTheSettings)
{
    QTemporaryDir dir;
    struct Case {
        int rows;
        int packet;
        int fileSize;
        std::uint8_t status;
    };
    const Case cases[] = {
        {4, 16, 64, 0},     {4, 16, 65, 129},   {256, 256, 65536, 0}, {1, 7, 7, 0},
        {1, 6, 6, 129},     // too small to hold its own header
        {257, 128, 32896, 128}, {0, 128, 0, 128}, {128, 0, 0, 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + " x " + std::to_string(c.packet));
        ImageRecipe recipe;
        recipe.size = c.fileSize;
        const std::string path = WriteTestFile(dir, QStringLiteral("image.img"), ImageBytes(recipe));
        TFirmwareImage image;
        EXPECT_EQ(image.Load(path, c.rows, c.packet, false).status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(image.Rows(), c.rows);
            EXPECT_EQ(image.PacketSize(), c.packet);
        }
    }
}

TEST(FirmwareImage, RowsHeaderAndCrc)
{
    QTemporaryDir dir;
    ImageRecipe recipe;
    recipe.size = 64;
    recipe.model = 2;
    recipe.firmware = 21;
    recipe.hardware = 3;
    recipe.minFirmware = 12;
    recipe.minHardware = 2;
    const QByteArray bytes = ImageBytes(recipe);
    TFirmwareImage image;
    ASSERT_EQ(image.Load(WriteTestFile(dir, "a.img", bytes), 4, 16, false).status, 0);
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(image.Row(row)), 16), bytes.mid(row * 16, 16))
            << "row " << row << " is sent as the file holds it";
    }
    EXPECT_EQ(image.Row(4), nullptr);
    EXPECT_EQ(image.Row(-1), nullptr);
    const RFirmwareHeader h = image.Header();
    EXPECT_EQ(h.mModel, 2);
    EXPECT_EQ(h.mFirmware, 21);
    EXPECT_EQ(h.mHardware, 3);
    EXPECT_EQ(h.mMinFirmware, 12);
    EXPECT_EQ(h.mMinHardware, 2);
    EXPECT_EQ(h.mCRC, static_cast<std::uint8_t>(bytes[0]) | (static_cast<std::uint8_t>(bytes[1]) << 8));

    // The CRC leaves out its own two bytes: CRC-16/ARC of "123456789" is BB3D.
    const std::uint8_t check[] = {0xAA, 0x55, '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(TFirmwareImage::ImageCrc(check, sizeof check), 0xBB3D);

    // A failed load leaves no image behind, not even the earlier one.
    recipe.crcDelta = 1;
    EXPECT_EQ(image.Load(WriteTestFile(dir, "b.img", ImageBytes(recipe)), 4, 16, false).status, 130);
    EXPECT_FALSE(image.Loaded());
    EXPECT_EQ(image.Row(0), nullptr);
}

}  // namespace
