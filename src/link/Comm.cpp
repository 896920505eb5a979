#include "Comm.h"

#include "PreciseWait.h"

#include <QFileInfo>
#include <QSerialPort>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int ErrnoFor(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return ENOENT;
    case QSerialPort::PermissionError: return EACCES;
    case QSerialPort::OpenError: return EBUSY;
    case QSerialPort::ResourceError: return EIO;
    case QSerialPort::NotOpenError: return EBADF;
    case QSerialPort::TimeoutError: return ETIMEDOUT;
    case QSerialPort::UnsupportedOperationError: return ENOTSUP;
    default: return EIO;
    }
}

// QSerialPort::clearError() builds the translated text of "no error" each
// time it is called (some 700 instructions), and a wait that finds nothing
// builds the text of its time-out the same way. While it wakes a detector
// the link looks at the port about a thousand times a second and finds
// nothing almost every time, so an error is only cleared when there is one,
// and a look that must not wait asks the descriptor first (DescriptorReady).
void ClearError(QSerialPort& port)
{
    if (port.error() != QSerialPort::NoError)
        port.clearError();
}

// Whether the port's descriptor has anything to report right now (input, a
// hang-up, an error), without waiting. Only then is Qt asked to read it,
// which fills its buffer or finds the error exactly as before.
bool DescriptorReady(const QSerialPort& port)
{
    pollfd entry{};
    entry.fd = static_cast<int>(port.handle());
    entry.events = POLLIN;
    // An interrupted or failed poll is left to Qt, which looks again.
    return ::poll(&entry, 1, 0) != 0;
}

std::string GroupOwning(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return "dialout";
    const group* owner = ::getgrgid(info.st_gid);
    return owner ? owner->gr_name : "dialout";
}

std::string NotASerialPort(const std::string& path, const char* what)
{
    return path + " is not a serial port but " + what + ": give the Beamdock's port, for example /dev/ttyUSB0.";
}

}  // namespace

TComm::TComm() = default;

TComm::~TComm()
{
    Close();
}

void TComm::SetDeviceName(const std::string& name)
{
    if (Enabled())
        throw ECommError(commtext::kAlreadyOpen, -1);
    FDeviceName = name;
}

void TComm::SetBaudData(int baud)
{
    FBaudData = baud;
    if (Enabled())
        FPort->setBaudRate(baud);
}

void TComm::SetReadBufSize(int bytes)
{
    if (Enabled())
        throw ECommError(commtext::kAlreadyOpen, -1);
    FReadBufSize = bytes;
}

bool TComm::Enabled() const
{
    return FPort && FPort->isOpen();
}

void TComm::CheckDevice() const
{
    // Distinguish "no such device" and "not yours", which Qt collapses; a
    // port that exists and is ours but still fails to open is held by
    // another program (Qt takes a lock file for every open port).
    if (::access(FDeviceName.c_str(), F_OK) != 0)
        throw ECommError(commtext::kAccessError, errno,
                         "The device " + FDeviceName + " does not exist: check that the Beamdock is plugged in.");
    if (::access(FDeviceName.c_str(), R_OK | W_OK) != 0) {
        const int code = errno;
        std::string advice;
        if (code == EACCES)
            advice = "Your account may not use " + FDeviceName + ": add it to the group '" + GroupOwning(FDeviceName) +
                     "' (sudo usermod -aG " + GroupOwning(FDeviceName) + " $USER) and log in again.";
        throw ECommError(commtext::kAccessError, code, advice);
    }
    struct stat info {};
    if (::stat(FDeviceName.c_str(), &info) != 0)
        throw ECommError(commtext::kInvalidHandle, -1);
    if (!S_ISCHR(info.st_mode)) {
        const char* what = S_ISDIR(info.st_mode)    ? "a folder"
                           : S_ISFIFO(info.st_mode) ? "a FIFO"
                           : S_ISREG(info.st_mode)  ? "a file"
                                                    : "no character device";
        throw ECommError(commtext::kInvalidHandle, -1, NotASerialPort(FDeviceName, what));
    }
    // A character device that is no terminal (/dev/null, /dev/zero) refuses
    // the line settings; say what it is instead of the driver's error.
    const int fd = ::open(FDeviceName.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        const bool terminal = ::isatty(fd) == 1;
        ::close(fd);
        if (!terminal)
            throw ECommError(commtext::kAccessError, ENOTTY,
                             NotASerialPort(FDeviceName, "a device that is not a terminal"));
    }
}

void TComm::Open()
{
    if (Enabled())
        throw ECommError(commtext::kAlreadyOpen, -1);

    // The port object lives in the thread that opens it, so a worker thread
    // can run a whole operation without crossing thread affinity.
    FPort = std::make_unique<QSerialPort>();
    // Qt reads a bare name as one under /dev ("tty" would become /dev/tty),
    // so a path relative to the working folder is made absolute first.
    FPort->setPortName(QFileInfo(QString::fromStdString(FDeviceName)).absoluteFilePath());
    // Bounded: the longest reply is a 128-byte packet plus its CRC.
    FPort->setReadBufferSize(4096);
    // Line settings given before opening are applied by the open itself, in
    // one pass over the terminal settings; given afterwards, each one reads
    // and writes them again (about twenty system calls an operation).
    FPort->setBaudRate(FBaudData);
    FPort->setDataBits(QSerialPort::Data8);
    FPort->setParity(QSerialPort::NoParity);
    FPort->setStopBits(QSerialPort::OneStop);
    FPort->setFlowControl(QSerialPort::NoFlowControl);
    if (!FPort->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = FPort->error();
        FPort.reset();
        // Why it failed is looked up only once it has: the checks cost three
        // system calls that every successful open would pay for nothing.
        CheckDevice();
        if (error == QSerialPort::PermissionError)
            throw ECommError(commtext::kAccessError, EBUSY,
                             FDeviceName + " is in use by another program: close it and try again.");
        throw ECommError(commtext::kAccessError, ErrnoFor(error));
    }
    if (FPort->baudRate() != FBaudData || FPort->dataBits() != QSerialPort::Data8 ||
        FPort->parity() != QSerialPort::NoParity || FPort->stopBits() != QSerialPort::OneStop ||
        FPort->flowControl() != QSerialPort::NoFlowControl) {
        const int code = ErrnoFor(FPort->error());
        Close();
        throw ECommError(commtext::kLineStateError, code);
    }
    // Qt does not flush on open: stale bytes from before would be taken for a reply.
    FPort->clear(QSerialPort::AllDirections);
}

void TComm::Close()
{
    if (FPort) {
        if (FPort->isOpen())
            FPort->close();
        FPort.reset();
    }
}

void TComm::LinkLost(const char* text)
{
    // After an unplug Qt keeps reporting read errors on a port it still calls
    // open; close it at once so nothing spins on a dead line.
    const int code = FPort ? ErrnoFor(FPort->error()) : EBADF;
    Close();
    throw ECommError(text, code);
}

int TComm::Write(const std::uint8_t* buf, int count)
{
    if (!Enabled())
        throw ECommError(commtext::kWriteError, EBADF);
    if (count <= 0)
        return 0;
    ClearError(*FPort);
    if (FPort->write(reinterpret_cast<const char*>(buf), count) != count)
        LinkLost(commtext::kWriteError);
    while (FPort->bytesToWrite() > 0) {
        if (!FPort->waitForBytesWritten(FWriteTimeout)) {
            if (FPort->error() == QSerialPort::TimeoutError) {
                FPort->clearError();
                return -1;
            }
            LinkLost(commtext::kWriteError);
        }
    }
    return count;
}

bool TComm::WaitForInput(int ms)
{
    if (!Enabled())
        throw ECommError(commtext::kReadError, EBADF);
    if (FPort->bytesAvailable() > 0)
        return true;
    ClearError(*FPort);
    // A wait for a reply goes to Qt, which blocks in poll() and reads what
    // comes in one go; a look without waiting that would find nothing
    // stops here.
    if (ms <= 0 && !DescriptorReady(*FPort))
        return false;
    if (FPort->waitForReadyRead(ms < 0 ? 0 : ms))
        return true;
    const QSerialPort::SerialPortError error = FPort->error();
    if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError)
        LinkLost(commtext::kReadError);
    ClearError(*FPort);
    return FPort->bytesAvailable() > 0;
}

int TComm::Read(std::uint8_t* buf, int count)
{
    if (!Enabled())
        throw ECommError(commtext::kReadError, EBADF);
    if (count <= 0)
        return 0;
    if (FPort->bytesAvailable() == 0)
        WaitForInput(0);
    const qint64 got = FPort->read(reinterpret_cast<char*>(buf), count);
    if (got < 0)
        LinkLost(commtext::kReadError);
    return static_cast<int>(got);
}

void TComm::SleepUntil(Clock::time_point deadline)
{
    precise::SleepUntil(deadline);
}

void TComm::PurgeIn()
{
    if (!Enabled())
        return;
    // Take in what the driver already holds so that clear() drops it too.
    ClearError(*FPort);
    if (DescriptorReady(*FPort))
        FPort->waitForReadyRead(0);
    FPort->clear(QSerialPort::Input);
    ClearError(*FPort);
}
