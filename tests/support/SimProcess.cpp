#include "SimProcess.h"

#include "Crc16.h"

#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>

#include <QDeadlineTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kStopWaitMs = 3000;
constexpr char kStateMagic[] = "VSIM";

}  // namespace

SimProcess::SimProcess(QStringList extraArgs) : extraArgs_(std::move(extraArgs))
{
    process_.setReadChannel(QProcess::StandardOutput);
    // The simulator's complaints belong in the test log.
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that aborts (a sanitizer report) must not leave its simulator
    // running and holding the test runner's output pipe.
    process_.setChildProcessModifier([] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // A real detector answers within its time-outs however busy the PC
        // is; the simulated one shares the CPU with a parallel test suite,
        // so it gets ahead of it where the system allows (as root).
        ::setpriority(PRIO_PROCESS, 0, kPeerNice);
    });
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::start(int timeoutMs)
{
    if (!dir_.isValid() || isRunning())
        return false;
    QStringList args{"--link", portPath(), "--record", recordPath(), "--state", statePath()};
    args += extraArgs_;
    process_.start(QStringLiteral(BEAMDOCK_SIM_PATH), args);
    if (!process_.waitForStarted(timeoutMs))
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray out;
    while (!out.contains('\n')) {
        if (deadline.hasExpired() || process_.state() != QProcess::Running)
            return false;
        if (process_.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            out += process_.readAllStandardOutput();
    }
    return QString::fromLocal8Bit(out.left(out.indexOf('\n'))) == portPath();
}

void SimProcess::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(kStopWaitMs)) {
        process_.kill();
        process_.waitForFinished(kStopWaitMs);
    }
}

bool SimProcess::waitForExit(int timeoutMs)
{
    if (process_.state() == QProcess::NotRunning)
        return true;
    return process_.waitForFinished(timeoutMs);
}

qint64 SimProcess::processId() const
{
    return process_.processId();
}

bool SimProcess::isRunning() const
{
    return process_.state() != QProcess::NotRunning;
}

int SimProcess::exitCode() const
{
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString SimProcess::dir() const
{
    return dir_.path();
}

QString SimProcess::portPath() const
{
    return dir_.filePath(QStringLiteral("ttyVARNO"));
}

QString SimProcess::statePath() const
{
    return dir_.filePath(QStringLiteral("state.bin"));
}

QString SimProcess::recordPath() const
{
    return dir_.filePath(QStringLiteral("record.txt"));
}

QStringList SimProcess::recordedLines() const
{
    QFile file(recordPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray SimProcess::stateMemory() const
{
    QFile file(statePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.size() != kStateHeaderSize + kMemorySize || !bytes.startsWith(kStateMagic) || bytes[4] != 1 ||
        bytes[5] != 0)
        return {};
    return bytes.mid(kStateHeaderSize, kMemorySize);
}

QByteArray SimProcess::stateImage() const
{
    return stateMemory().left(kConfigImageSize);
}

void SimProcess::captureConsole()
{
    process_.setProcessChannelMode(QProcess::SeparateChannels);
}

QString SimProcess::console()
{
    console_ += QString::fromLocal8Bit(process_.readAllStandardError());
    return console_;
}

bool SimProcess::waitForConsole(const QString& text, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!console().contains(text)) {
        if (deadline.hasExpired() || process_.state() != QProcess::Running)
            return console().contains(text);
        // Only the current read channel can be waited for.
        process_.setReadChannel(QProcess::StandardError);
        process_.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
        process_.setReadChannel(QProcess::StandardOutput);
    }
    return true;
}

namespace simwire {

const Bytes kAck{0xB5, 0xB7, 0xC1};
const Bytes kNak{0xB6, 0xB6, 0x81};

Bytes Frame(Bytes body)
{
    const std::uint16_t crc = crc16::Compute(body.data(), body.size());
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return body;
}

Bytes Cmd(std::uint8_t command)
{
    return Frame({command});
}

Bytes Header(std::uint8_t count, std::uint16_t address)
{
    return Frame({count, 0x00, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF)});
}

Bytes Le32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::uint16_t ReadLe16(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t ReadLe32(const Bytes& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

bool ReplyCrcValid(const Bytes& reply)
{
    if (reply.size() < 3)
        return false;
    const std::uint16_t crc = crc16::Compute(reply.data(), reply.size() - 2);
    return reply[reply.size() - 2] == (crc >> 8) && reply[reply.size() - 1] == (crc & 0xFF);
}

bool BlockCrcValid(const Bytes& block)
{
    return block.size() == 64 && crc16::Compute(block.data(), 62) == (block[62] | (block[63] << 8));
}

QString Hex(const Bytes& bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()))
        .toHex(' ')
        .toUpper();
}

Bytes ToBytes(const QByteArray& bytes)
{
    return Bytes(bytes.begin(), bytes.end());
}

void SleepMs(int ms)
{
    const timespec ts{ms / 1000, (ms % 1000) * 1'000'000L};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, nullptr);
}

}  // namespace simwire

using namespace simwire;

SimPort::SimPort(const QString& path)
{
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return;
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
    ::tcflush(fd_, TCIOFLUSH);
}

SimPort::~SimPort()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void SimPort::Send(const Bytes& bytes)
{
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

SimPort::Bytes SimPort::Receive(std::size_t count, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    Bytes got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0 || !(pfd.revents & POLLIN))
            break;
        std::uint8_t chunk[256];
        const ssize_t n = ::read(fd_, chunk, std::min(sizeof chunk, count - got.size()));
        if (n <= 0)
            break;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

SimPort::Bytes SimPort::Collect(int ms)
{
    return Receive(SIZE_MAX, ms);
}

SimPort::Bytes SimPort::Exchange(const Bytes& frame, std::size_t replyLen, int timeoutMs)
{
    ::tcflush(fd_, TCIFLUSH);
    Send(frame);
    return Receive(replyLen, timeoutMs);
}

SimPort::Bytes SimPort::Status(const Bytes& frame)
{
    Bytes reply = Exchange(frame, 3);
    const Bytes extra = Collect(10);
    reply.insert(reply.end(), extra.begin(), extra.end());
    return reply;
}

SimPort::Bytes SimPort::Block(std::uint8_t select)
{
    if (Status(Cmd(select)) != kAck)
        return {};
    Bytes block;
    for (int packet = 0; packet < 2; ++packet) {
        const Bytes reply = Exchange(Cmd(0x81), 34);
        if (reply.size() != 34 || !ReplyCrcValid(reply))
            return {};
        block.insert(block.end(), reply.begin(), reply.end() - 2);
    }
    return block;
}

SimPort::Bytes SimPort::Identify()
{
    const Bytes reply = Exchange(Cmd(0xA0), 20);
    return ReplyCrcValid(reply) ? Bytes(reply.begin(), reply.end() - 2) : Bytes{};
}

bool SimPort::Reconnect()
{
    return Status(Cmd(0xB3)) == kAck && Status(Cmd(0xB2)) == kAck;
}

bool SimPort::WriteConfig(std::uint16_t offset, const Bytes& data)
{
    return Status(Cmd(0x70)) == kAck && Status(Header(static_cast<std::uint8_t>(data.size()), offset)) == kAck &&
           Status(Cmd(0x91)) == kAck && Status(Frame(data)) == kAck;
}

SimPort::Bytes SimPort::SensorCommand(std::uint8_t command)
{
    if (Status(Cmd(0x50)) != kAck)
        return {};
    return Status(Cmd(command));
}

SimPort::Bytes SimPort::Reading(std::uint8_t mode)
{
    const Bytes reply = Exchange(Cmd(static_cast<std::uint8_t>(0x20 + mode)), 8);
    return reply.size() == 8 && ReplyCrcValid(reply) ? Bytes(reply.begin(), reply.end() - 2) : Bytes{};
}

SimPort::Bytes SimPort::EventLog(std::size_t packet)
{
    if (Status(Cmd(0x60)) != kAck)
        return {};
    const Bytes size = Exchange(Cmd(0xA1), 6);
    if (size.size() != 6 || !ReplyCrcValid(size))
        return {};
    const std::uint32_t length = ReadLe32(size, 0);
    Bytes log;
    while (log.size() < length) {
        const Bytes reply = Exchange(Cmd(0x81), packet + 2);
        if (reply.size() != packet + 2 || !ReplyCrcValid(reply))
            return {};
        log.insert(log.end(), reply.begin(), reply.end() - 2);
    }
    log.resize(length);
    return log;
}
