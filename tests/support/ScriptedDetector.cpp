#include "ScriptedDetector.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "Crc16.h"
#include "SimProcess.h"

namespace {

constexpr std::uint8_t kAck = 0xB5;
constexpr std::uint8_t kNak = 0xB6;
constexpr int kPacket = 32;

QString HexOf(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

void FixBlockCrc(std::uint8_t* block)
{
    const std::uint16_t crc = crc16::Compute(block, 62);
    block[62] = static_cast<std::uint8_t>(crc & 0xFF);
    block[63] = static_cast<std::uint8_t>(crc >> 8);
}

}  // namespace

QByteArray WithCrc(const QByteArray& data)
{
    const std::uint16_t crc =
        crc16::Compute(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size()));
    QByteArray out = data;
    out.append(static_cast<char>(crc >> 8));
    out.append(static_cast<char>(crc & 0xFF));
    return out;
}

QByteArray StatusReply(std::uint8_t statusByte)
{
    return WithCrc(QByteArray(1, static_cast<char>(statusByte)));
}

RZELIdenty ScriptedDetector::DefaultIdentity()
{
    RZELIdenty id{};
    id.mPID = 2;
    id.mHW = 1;
    id.mSW = 13;
    id.mSensor = 1;
    id.mLife = 52704000;
    std::memcpy(id.mSerial, "SH10000123", 10);
    return id;
}

RZELCFG ScriptedDetector::DefaultUnitConfig()
{
    RZELCFG cfg = DefaultConfig();
    std::memcpy(cfg.mUnit.mSerial, "SH10000123", 10);
    cfg.mUnit.mFWVersion = 13;
    cfg.mUnit.mHWVersion = 1;
    cfg.mUnit.mLifeRemaining = 52704000;
    cfg.mUnit.mAlarmCount = 3;
    cfg.mUnit.mAlarmTime = 95;
    cfg.mUnit.mTestCount = 41;
    cfg.mSensor.mSensorType = 1;
    cfg.mSensor.mSpanGas = 250;
    return cfg;
}

ScriptedDetector::ScriptedDetector()
    : FIdentity(DefaultIdentity()), FCfg(DefaultUnitConfig())
{
    FReadings[0] = RZELSensor{0, 0, 0x01, 0};
    FReadings[1] = RZELSensor{235, 512, 0x01, 0};
    FReadings[2] = RZELSensor{305, 700, 0x02, 0};

    // Close-on-exec: a command line tool started by the test must not hold
    // the far end of the line, or hanging up would not unplug anything.
    FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const std::string slave = ptsname(FMaster);
    std::string dir = "/tmp/detector-XXXXXX";
    if (!::mkdtemp(dir.data()))
        throw std::runtime_error("no folder for the pseudo-terminal's link");
    FLinkDir = dir;
    FLinkPath = FLinkDir + "/ttyDETECTOR";
    if (::symlink(slave.c_str(), FLinkPath.c_str()) != 0)
        throw std::runtime_error("no link to the pseudo-terminal");
    // Holding the slave open keeps the line up while the tool opens and closes it.
    FSlaveKeep = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    tcgetattr(FSlaveKeep, &tio);
    cfmakeraw(&tio);
    tcsetattr(FSlaveKeep, TCSANOW, &tio);
    FThread = std::thread([this] {
        // A detector has a processor of its own: its answers must not queue
        // behind a busy test suite, or wake-up frames it should have answered
        // at once are answered after the tool has moved on, and those late
        // ACKs land in the next reply. The same priority as the other peers.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kPeerNice);
        Run();
    });
}

ScriptedDetector::~ScriptedDetector()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FSlaveKeep >= 0)
        ::close(FSlaveKeep);
    if (FMaster >= 0)
        ::close(FMaster);
    ::unlink(FLinkPath.c_str());
    ::rmdir(FLinkDir.c_str());
}

void ScriptedDetector::SetIdentity(const RZELIdenty& identity)
{
    const std::lock_guard<std::mutex> hold(FLock);
    FIdentity = identity;
}

void ScriptedDetector::SetConfig(const RZELCFG& cfg)
{
    const std::lock_guard<std::mutex> hold(FLock);
    FCfg = cfg;
}

RZELCFG ScriptedDetector::Config() const
{
    const std::lock_guard<std::mutex> hold(FLock);
    return FCfg;
}

void ScriptedDetector::SetReading(std::uint8_t mode, const RZELSensor& reading)
{
    const std::lock_guard<std::mutex> hold(FLock);
    FReadings.at(mode) = reading;
}

void ScriptedDetector::SetGasFlags(std::uint8_t history, std::uint8_t alarm)
{
    const std::lock_guard<std::mutex> hold(FLock);
    FReadings[0].mHistory = history;
    FReadings[0].mAlarm = alarm;
}

void ScriptedDetector::SetSensorReply(std::uint8_t command, std::uint8_t statusByte)
{
    const std::lock_guard<std::mutex> hold(FLock);
    FSensorReplies[command] = statusByte;
}

void ScriptedDetector::SetDamagedBlock(int block, bool damaged)
{
    const std::lock_guard<std::mutex> hold(FLock);
    FDamaged.at(static_cast<std::size_t>(block)) = damaged;
}

void ScriptedDetector::SetOnFrame(std::function<void(const QByteArray&)> onFrame)
{
    const std::lock_guard<std::mutex> hold(FLock);
    FOnFrame = std::move(onFrame);
}

void ScriptedDetector::HangUp()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FSlaveKeep >= 0)
        ::close(FSlaveKeep);
    FSlaveKeep = -1;
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}

QStringList ScriptedDetector::Frames() const
{
    const std::lock_guard<std::mutex> hold(FLock);
    return FFrames;
}

int ScriptedDetector::CountCommand(std::uint8_t command) const
{
    const QString prefix = QString::fromLatin1(QByteArray(1, static_cast<char>(command)).toHex().toUpper());
    int count = 0;
    for (const QString& frame : Frames())
        if (frame.size() == 8 && frame.startsWith(prefix))
            ++count;
    return count;
}

void ScriptedDetector::ClearFrames()
{
    const std::lock_guard<std::mutex> hold(FLock);
    FFrames.clear();
}

int ScriptedDetector::FrameLength() const
{
    switch (FExpect) {
    case Expect::Header:
        return 6;
    case Expect::Data:
        return FWriteCount + 2;
    case Expect::Command:
        break;
    }
    return 3;
}

void ScriptedDetector::Run()
{
    QByteArray pending;
    while (!FStop) {
        pollfd pfd{FMaster, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0)
            continue;
        char buf[512];
        const ssize_t got = ::read(FMaster, buf, sizeof buf);
        if (got <= 0)
            continue;
        pending.append(buf, static_cast<int>(got));
        while (pending.size() >= FrameLength()) {
            const QByteArray frame = pending.left(FrameLength());
            pending.remove(0, frame.size());
            HandleFrame(frame);
        }
    }
}

void ScriptedDetector::HandleFrame(const QByteArray& frame)
{
    std::function<void(const QByteArray&)> onFrame;
    {
        const std::lock_guard<std::mutex> hold(FLock);
        FFrames << HexOf(frame);
        onFrame = FOnFrame;
    }
    if (onFrame)
        onFrame(frame);
    const QByteArray reply = Reply(frame);
    if (!reply.isEmpty() && !FSilent)
        (void)!::write(FMaster, reply.constData(), static_cast<size_t>(reply.size()));
}

QByteArray ScriptedDetector::Reply(const QByteArray& frame)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.constData());
    const auto size = static_cast<std::size_t>(frame.size());
    const std::uint16_t crc = crc16::Compute(bytes, size - 2);
    const bool crcOk = bytes[size - 2] == (crc >> 8) && bytes[size - 1] == (crc & 0xFF);
    const Expect expected = FExpect;
    FExpect = Expect::Command;
    if (FSilent)
        return {};
    if (!crcOk)
        return StatusReply(kNak);

    const std::lock_guard<std::mutex> hold(FLock);
    switch (expected) {
    case Expect::Header:
        FWriteCount = bytes[0];
        FWriteAddress = (bytes[2] << 8) | bytes[3];
        FPrevious = 0;
        return StatusReply(kAck);
    case Expect::Data:
        if (!FIgnoreWrites && FWriteAddress + FWriteCount <= static_cast<int>(sizeof FCfg)) {
            std::memcpy(reinterpret_cast<std::uint8_t*>(&FCfg) + FWriteAddress, bytes,
                        static_cast<std::size_t>(FWriteCount));
            // The unit seals a block again after writing into it.
            FDamaged[static_cast<std::size_t>(FWriteAddress / 64)] = false;
            FDamaged[static_cast<std::size_t>((FWriteAddress + FWriteCount - 1) / 64)] = false;
        }
        FPrevious = 0;
        return StatusReply(kAck);
    case Expect::Command:
        break;
    }
    const std::uint8_t command = bytes[0];
    QByteArray reply = CommandReply(command);
    FPrevious = command;
    return reply;
}

// Called with FLock held.
QByteArray ScriptedDetector::CommandReply(std::uint8_t command)
{
    switch (command) {
    case 0xB2:
    case 0xB3:
        FBlock = -1;
        return StatusReply(kAck);
    case 0xA0:
        return WithCrc(QByteArray(reinterpret_cast<const char*>(&FIdentity), sizeof FIdentity));
    case 0x5F:
    case 0x50:
        FBlock = command == 0x5F ? 0 : 1;
        FBlockPos = 0;
        return StatusReply(kAck);
    case 0x81: {
        if (FBlock < 0 || FBlockPos + kPacket > 64)
            return StatusReply(kNak);
        RZELCFG cfg = FCfg;
        auto* block = reinterpret_cast<std::uint8_t*>(FBlock == 0 ? static_cast<void*>(&cfg.mUnit)
                                                                   : static_cast<void*>(&cfg.mSensor));
        FixBlockCrc(block);
        if (FDamaged[static_cast<std::size_t>(FBlock)])
            block[62] ^= 0x5A;
        const QByteArray packet(reinterpret_cast<const char*>(block) + FBlockPos, kPacket);
        FBlockPos += kPacket;
        return WithCrc(packet);
    }
    case 0x20:
    case 0x21:
    case 0x22: {
        const RZELSensor& reading = FReadings[command - 0x20];
        return WithCrc(QByteArray(reinterpret_cast<const char*>(&reading), sizeof reading));
    }
    case 0x70:
        FExpect = Expect::Header;
        return StatusReply(kAck);
    case 0x91:
        FExpect = Expect::Data;
        return StatusReply(kAck);
    case 0x71:  // the life count follows, four bytes
        FExpect = Expect::Data;
        FWriteCount = 4;
        FWriteAddress = offsetof(RZELUnitCFG, mLifeRemaining);
        return StatusReply(kAck);
    default:
        break;
    }
    if (command >= 0x40 && command <= 0x46) {
        if (FPrevious != 0x50)
            return StatusReply(kNak);
        const auto it = FSensorReplies.find(command);
        return StatusReply(it == FSensorReplies.end() ? kAck : it->second);
    }
    return StatusReply(kNak);
}
