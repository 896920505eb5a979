// Firmware images and downloads against the simulated detector: make-image
// output, byte-exact download frames, the checks at execute, planned packet
// refusals and line faults that the tool's retries get through.
#include "Crc16.h"
#include "SimProcess.h"
#include "ZelComms.h"
#include "ZelRecords.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using namespace simwire;

constexpr std::size_t kImageSize = 16384;
constexpr std::size_t kPacket = 128;

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun MakeImage(const QStringList& args)
{
    QProcess process;
    process.start(BEAMDOCK_SIM_PATH, QStringList{"make-image"} + args);
    ToolRun run;
    if (!process.waitForFinished(10000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

Bytes ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? ToBytes(file.readAll()) : Bytes{};
}

// An image as make-image writes it, read back; empty when that failed.
Bytes Image(const QTemporaryDir& dir, const QString& name, const QStringList& args)
{
    const QString path = dir.filePath(name);
    if (MakeImage(QStringList{"--out", path} + args).exitCode != 0)
        return {};
    return ReadFile(path);
}

std::uint16_t ImageCrc(const Bytes& image)
{
    return crc16::Compute(image.data() + 2, image.size() - 2);
}

// One packet on the wire: the announcing command and the data frame, each
// answered by a status reply. Returns the data frame's reply (or the
// command's when that was not an ACK).
Bytes SendFirmwarePacket(SimPort& port, std::uint8_t command, const Bytes& image, std::size_t row,
                         std::size_t packet = kPacket)
{
    const Bytes announced = port.Status(Cmd(command));
    if (announced != kAck)
        return announced;
    const auto from = image.begin() + static_cast<std::ptrdiff_t>(row * packet);
    return port.Status(Frame(Bytes(from, from + static_cast<std::ptrdiff_t>(packet))));
}

std::uint8_t FirmwareOf(SimPort& port)
{
    const Bytes identity = port.Identify();
    return identity.size() == 18 ? identity[2] : 0xFF;
}

// The download of the tool: 0x91 for each packet, up to `retries` repeats
// with 0x93, the whole attempt up to `attempts` times on a new connection.
std::uint8_t DownloadWithRetries(SimProcess& sim, const Bytes& image, int retries, int attempts, int& attemptsMade)
{
    std::uint8_t status = 0xFF;
    for (attemptsMade = 1; attemptsMade <= attempts; ++attemptsMade) {
        TComZEL link;
        link.SetDefPort(sim.portPath().toStdString());
        status = link.OpenUSB(2.0f);
        if (status == 0)
            status = link.UpgradeStart();
        for (std::size_t row = 0; status == 0 && row * kPacket < image.size(); ++row) {
            RComZELReadBuf buffer;
            buffer.mData = static_cast<std::int32_t>(kPacket);
            std::memcpy(buffer.mBuf, image.data() + row * kPacket, kPacket);
            status = link.UpgradeData(1, buffer);
            for (int retry = 0; status != 0 && retry < retries; ++retry)
                status = link.UpgradeData(3, buffer);
        }
        if (status == 0)
            status = link.UpgradeExecute();
        link.CloseUSB(status);
        if (status == 0)
            return 0;
    }
    attemptsMade = attempts;
    return status;
}

TEST(SimMakeImage, WritesAValidImageOfTheAskedShape)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        QStringList args;
        std::size_t size;
        Bytes header;  // bytes 2..6
    };
    const std::vector<Case> cases = {
        {{"--model", "2", "--fw", "14", "--hw", "1", "--min-fw", "10", "--min-hw", "1"}, kImageSize,
         {0x02, 0x0E, 0x01, 0x0A, 0x01}},
        {{}, kImageSize, {0x02, 0x0E, 0x01, 0x0A, 0x01}},
        {{"--model", "0", "--fw", "255", "--hw", "7", "--min-fw", "0", "--min-hw", "9", "--size", "4096"}, 4096,
         {0x00, 0xFF, 0x07, 0x00, 0x09}},
        {{"--size", "7", "--fw", "21"}, 7, {0x02, 0x15, 0x01, 0x0A, 0x01}},
        {{"--size", "65536", "--seed", "77"}, 65536, {0x02, 0x0E, 0x01, 0x0A, 0x01}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const QString path = dir.filePath(QString("img%1.img").arg(n++));
        const ToolRun run = MakeImage(QStringList{"--out", path} + c.args);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_TRUE(run.err.isEmpty());
        const Bytes image = ReadFile(path);
        ASSERT_EQ(image.size(), c.size);
        EXPECT_EQ(Hex(Bytes(image.begin() + 2, image.begin() + 7)), Hex(c.header));
        EXPECT_EQ(ReadLe16(image, 0), ImageCrc(image)) << "CRC low byte first over bytes 2..";
        // Nothing but the image: no temporary left behind.
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), n);
    }
}

TEST(SimMakeImage, FirmwareBytesFollowTheSeed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Bytes first = Image(dir, "a.img", {"--seed", "3"});
    const Bytes same = Image(dir, "b.img", {"--seed", "3"});
    const Bytes other = Image(dir, "c.img", {"--seed", "4"});
    ASSERT_EQ(first.size(), kImageSize);
    EXPECT_EQ(Hex(same), Hex(first));
    ASSERT_EQ(other.size(), kImageSize);
    EXPECT_EQ(Bytes(other.begin() + 2, other.begin() + 7), Bytes(first.begin() + 2, first.begin() + 7));
    EXPECT_NE(Hex(Bytes(other.begin() + 7, other.end())), Hex(Bytes(first.begin() + 7, first.end())));
    // Not a constant fill: many different byte values.
    std::vector<bool> seen(256);
    for (std::size_t i = 7; i < first.size(); ++i)
        seen[first[i]] = true;
    EXPECT_GT(std::count(seen.begin(), seen.end(), true), 200);
}

TEST(SimMakeImage, BadOptionsEndWithStatusTwoAndOneLine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath("x.img");
    struct Case {
        QStringList args;
        const char* named;
    };
    const std::vector<Case> cases = {
        {{}, "--out"},
        {{"--out"}, "--out"},
        {{"--out", out, "--model", "256"}, "--model"},
        {{"--out", out, "--fw", "x"}, "--fw"},
        {{"--out", out, "--hw", "-1"}, "--hw"},
        {{"--out", out, "--min-fw", "1.5"}, "--min-fw"},
        {{"--out", out, "--min-hw", ""}, "--min-hw"},
        {{"--out", out, "--size", "6"}, "--size"},
        {{"--out", out, "--size", "65537"}, "--size"},
        {{"--out", out, "--seed", "-3"}, "--seed"},
        {{"--out", out, "--link", "/tmp/x"}, "--link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const ToolRun run = MakeImage(c.args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains(c.named)) << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << "one line";
        EXPECT_FALSE(QFileInfo::exists(out));
    }
    const ToolRun unwritable = MakeImage({"--out", dir.filePath("missing/x.img")});
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_EQ(unwritable.err.count('\n'), 1) << unwritable.err.toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());

    const ToolRun help = MakeImage({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--out", "--model", "--fw", "--hw", "--min-fw", "--min-hw", "--size", "--seed"})
        EXPECT_TRUE(help.out.contains(option)) << option;
}

TEST(SimFirmware, DownloadOnTheWireChangesTheFirmwareVersion)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Bytes image = Image(dir, "fw.img", {"--fw", "14"});
    ASSERT_EQ(image.size(), kImageSize);
    SimProcess sim;
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    ASSERT_EQ(FirmwareOf(port), 13);
    ASSERT_EQ(Hex(port.Status(Cmd(0x10))), Hex(kAck));
    for (std::size_t row = 0; row < kImageSize / kPacket; ++row)
        ASSERT_EQ(Hex(SendFirmwarePacket(port, 0x91, image, row)), Hex(kAck)) << "packet " << row;
    ASSERT_EQ(Hex(port.Status(Cmd(0x11))), Hex(kAck));
    EXPECT_EQ(FirmwareOf(port), 14);
    const Bytes unit = port.Block(0x5F);
    ASSERT_EQ(unit.size(), 64u);
    EXPECT_EQ(unit[35], 14);
    EXPECT_TRUE(BlockCrcValid(unit));
    EXPECT_EQ(unit[34], 1) << "hardware stays";

    const QStringList lines = sim.recordedLines();
    const int start = static_cast<int>(lines.indexOf("RX " + Hex(Cmd(0x10))));
    ASSERT_GE(start, 0);
    EXPECT_EQ(lines.mid(start, 6),
              (QStringList{"RX " + Hex(Cmd(0x10)), "TX B5 B7 C1", "RX 91 AC C1", "TX B5 B7 C1",
                           "RX " + Hex(Frame(Bytes(image.begin(), image.begin() + kPacket))), "TX B5 B7 C1"}));

    // Kept in the state across a restart.
    ASSERT_EQ(Hex(port.Status(Cmd(0xB3))), Hex(kAck));
    EXPECT_EQ(sim.stateImage().at(35), 14);
    sim.stop();
    START_SIM(sim);
    OPEN_PORT(again, sim);
    WAKE(again);
    EXPECT_EQ(FirmwareOf(again), 14);
}

TEST(SimFirmware, ExecuteChecksLengthCrcAndModel)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList small{"--fw-image-size", "2048"};
    const Bytes good = Image(dir, "good.img", {"--size", "2048", "--fw", "15"});
    const Bytes otherModel = Image(dir, "model3.img", {"--size", "2048", "--model", "3"});
    ASSERT_EQ(good.size(), 2048u);
    Bytes wrongCrc = good;
    wrongCrc[1000] ^= 0x01;
    Bytes crcOffByOne = good;
    const std::uint16_t crc = static_cast<std::uint16_t>(ReadLe16(good, 0) + 1);
    crcOffByOne[0] = static_cast<std::uint8_t>(crc & 0xFF);
    crcOffByOne[1] = static_cast<std::uint8_t>(crc >> 8);
    const Bytes refused = Frame({0x11});

    struct Case {
        const char* name;
        QStringList args;
        Bytes image;
        std::size_t packets;  // sent with 0x91
        bool startFirst;      // 0x10 before the packets
        bool reconnectBeforeExecute;
        Bytes expect;
        std::uint8_t firmwareAfter;
    };
    const std::vector<Case> cases = {
        {"good image", small, good, 16, true, false, kAck, 15},
        {"one bit flipped", small, wrongCrc, 16, true, false, refused, 13},
        {"CRC off by one", small, crcOffByOne, 16, true, false, refused, 13},
        {"made for another model", small, otherModel, 16, true, false, refused, 13},
        {"one packet short", small, good, 15, true, false, refused, 13},
        {"one packet too many", small, good, 17, true, false, refused, 13},
        {"the unit expects the default size", {}, good, 16, true, false, refused, 13},
        {"refusal asked for", small + QStringList{"--execute-refuse"}, good, 16, true, false, refused, 13},
        {"no download started", small, good, 0, false, false, refused, 13},
        {"download lost with the connection", small, good, 16, true, true, refused, 13},
        {"a model 3 unit takes a model 3 image", small + QStringList{"--model", "3"}, otherModel, 16, true, false,
         kAck, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.args);
        START_SIM(sim);
        OPEN_PORT(port, sim);
        WAKE(port);
        if (c.startFirst) {
            ASSERT_EQ(Hex(port.Status(Cmd(0x10))), Hex(kAck));
        }
        Bytes padded = c.image;
        padded.resize(std::max(padded.size(), (c.packets) * kPacket), 0x5A);
        for (std::size_t row = 0; row < c.packets; ++row)
            ASSERT_EQ(Hex(SendFirmwarePacket(port, 0x91, padded, row)), Hex(kAck)) << "packet " << row;
        if (c.reconnectBeforeExecute) {
            ASSERT_TRUE(port.Reconnect());
        }
        EXPECT_EQ(Hex(port.Status(Cmd(0x11))), Hex(c.expect));
        EXPECT_EQ(FirmwareOf(port), c.firmwareAfter);
        // Whatever the verdict, the download is over.
        EXPECT_EQ(Hex(port.Status(Cmd(0x93))), Hex(kNak));
        EXPECT_EQ(Hex(port.Status(Cmd(0x11))), Hex(refused));
    }
}

TEST(SimFirmware, PlannedRefusalsAndRepeatsKeepTheImageInPlace)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Bytes image = Image(dir, "fw.img", {"--size", "1024", "--fw", "16"});
    ASSERT_EQ(image.size(), 1024u);
    SimProcess sim({"--fw-image-size", "1024", "--nak-packet", "2:3", "--nak-packet", "5"});
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    ASSERT_EQ(Hex(port.Status(Cmd(0x10))), Hex(kAck));
    struct Sending {
        std::uint8_t command;
        std::size_t row;
        Bytes expect;
    };
    const std::vector<Sending> sendings = {
        {0x91, 0, kAck}, {0x91, 1, kAck},
        // Packet 2: refused on its first sending and on two repeats.
        {0x91, 2, kNak}, {0x93, 2, kNak}, {0x93, 2, kNak}, {0x93, 2, kAck},
        // A repeat of a packet already taken (its ACK lost on the way)
        // rewrites it instead of adding it again.
        {0x91, 3, kAck}, {0x93, 3, kAck}, {0x93, 3, kAck},
        {0x91, 4, kAck},
        {0x91, 5, kNak}, {0x93, 5, kAck},
        {0x91, 6, kAck}, {0x91, 7, kAck},
    };
    for (const Sending& s : sendings) {
        SCOPED_TRACE(std::to_string(s.command) + " packet " + std::to_string(s.row));
        EXPECT_EQ(Hex(SendFirmwarePacket(port, s.command, image, s.row)), Hex(s.expect));
    }
    EXPECT_EQ(Hex(port.Status(Cmd(0x11))), Hex(kAck));
    EXPECT_EQ(FirmwareOf(port), 16);
}

TEST(SimFirmware, RefusalsCountOverAttemptsSoAWholeAttemptIsRepeated)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Bytes image = Image(dir, "fw.img", {"--size", "2048", "--fw", "17"});
    ASSERT_EQ(image.size(), 2048u);
    struct Case {
        QStringList args;
        std::uint8_t status;
        int attempts;
        std::uint8_t firmware;
    };
    const std::vector<Case> cases = {
        // The first sending and three repeats are refused: attempt 1 fails,
        // attempt 2 finds the packet taken at once.
        {{"--nak-packet", "9:4"}, 0, 2, 17},
        {{"--nak-packet", "9:3"}, 0, 1, 17},
        // Two refusals more than three attempts can use up.
        {{"--nak-packet", "0:12"}, 176, 3, 13},
        // Every attempt ends at the execute check: 177 (neither ACK nor NAK).
        {{"--execute-refuse"}, 177, 3, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        SimProcess sim(c.args + QStringList{"--fw-image-size", "2048"});
        START_SIM(sim);
        int attempts = 0;
        EXPECT_EQ(DownloadWithRetries(sim, image, 3, 3, attempts), c.status);
        EXPECT_EQ(attempts, c.attempts);
        OPEN_PORT(port, sim);
        WAKE(port);
        EXPECT_EQ(FirmwareOf(port), c.firmware);
    }
}

TEST(SimFirmware, LineFaultsAreRetriedToASuccess)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Bytes image = Image(dir, "fw.img", {"--size", "4096", "--fw", "18"});
    ASSERT_EQ(image.size(), 4096u);
    const std::vector<QStringList> cases = {
        {"--drop-rate", "0.05", "--seed", "11"},
        {"--corrupt-rate", "0.05", "--seed", "12"},
        {"--nak-rate", "0.05", "--seed", "13"},
        {"--drop-rate", "0.02", "--corrupt-rate", "0.02", "--nak-rate", "0.02", "--seed", "14"},
    };
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        SimProcess sim(args + QStringList{"--fw-image-size", "4096"});
        START_SIM(sim);
        int attempts = 0;
        EXPECT_EQ(DownloadWithRetries(sim, image, 3, 3, attempts), 0);
        // Faults were there and were repeated past.
        EXPECT_GT(sim.recordedLines().filter("RX 93 ").size(), 0);
        sim.stop();
        EXPECT_EQ(sim.stateImage().at(35), 18);
    }
}

}  // namespace
