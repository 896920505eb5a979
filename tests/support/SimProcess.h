#pragma once
// Runs the simulated detector (varnolite-sim) for a test, on its own
// pseudo-terminal in a private temporary directory:
//   <dir>/ttyVARNO    symbolic link to the simulated port (open this)
//   <dir>/state.bin   the detector's memory, kept across stop()/start()
//   <dir>/record.txt  one line per frame: "RX .." received by the detector,
//                     "TX .." sent by it (upper-case hex pairs)
//
// State file layout (1032 bytes, replaced whole on every change):
//   0..3   "VSIM"
//   4..5   format version 1, little-endian
//   6..7   zero
//   8..    the detector's 1024-byte memory, as an EEPROM dump shows it:
//          0x000  128-byte configuration image (unit block, sensor block;
//                 each ends with its CRC-16, low byte first)
//          0x080  18-byte identity record (model, hardware, firmware, fitted
//                 sensor, life remaining, serial)
//          0x092  unit status: 0xFF nothing recorded (as in files from
//                 before it was kept), else bit 0 calibrated since the last
//                 factory reset, bit 3 last calibration failed, bit 4 last
//                 bump test failed
//          0x100  event log, 9-byte records, ended by a record whose start
//                 time is 0xFFFFFFFF; 85 slots
//   The life remaining (image bytes 36..39) is the value at the last save.
//
// SimPort is the PC's end of that line opened with plain POSIX calls, for
// byte-exact exchanges; simwire holds the frame helpers both use.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// Scheduling priority of the simulated peers (the simulator, PtyPeer's
// thread): ahead of the tool under test, as a detector's own processor is.
inline constexpr int kPeerNice = -10;

class SimProcess {
public:
    static constexpr int kStateHeaderSize = 8;
    static constexpr int kMemorySize = 1024;
    static constexpr int kConfigImageSize = 128;

    static constexpr int kStatusAt = 0x092;
    static constexpr int kLogAt = 0x100;

    explicit SimProcess(QStringList extraArgs = {});  // e.g. {"--wake-frames", "3"}
    ~SimProcess();                                    // stop() and remove the directory
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Launches the simulator and waits until it has printed the port path.
    // May be called again after stop(): the same state and record files are
    // used.
    bool start(int timeoutMs = 5000);
    // SIGTERM, then wait (SIGKILL if it does not end within 3 s).
    void stop();
    // For runs that end by themselves (--unplug-after).
    bool waitForExit(int timeoutMs);
    bool isRunning() const;
    int exitCode() const;
    // The simulator's process id (0 when it is not running), for tests that
    // hold it still (SIGSTOP) as a detector out of the adapter's reach.
    qint64 processId() const;

    QString dir() const;
    QString portPath() const;
    QString statePath() const;
    QString recordPath() const;
    QStringList recordedLines() const;
    // The 128-byte configuration image from the state file; empty when the
    // file is missing or not a state file.
    QByteArray stateImage() const;
    // The whole 1024-byte memory from the state file; empty likewise.
    QByteArray stateMemory() const;

    // Before start(): keep the simulator's standard error (its console)
    // for the test instead of passing it through.
    void captureConsole();
    // What the console has shown so far.
    QString console();
    // Waits until the console shows `text` (true) or `timeoutMs` passed.
    bool waitForConsole(const QString& text, int timeoutMs);

private:
    QStringList extraArgs_;
    QTemporaryDir dir_;
    QProcess process_;
    QString console_;
};

namespace simwire {

using Bytes = std::vector<std::uint8_t>;

constexpr int kReplyMs = 1000;  // generous: the suite may run under sanitizers
extern const Bytes kAck;        // B5 B7 C1
extern const Bytes kNak;        // B6 B6 81

// body + CRC-16, high byte first
Bytes Frame(Bytes body);
Bytes Cmd(std::uint8_t command);
// count, 0x00, address high, address low
Bytes Header(std::uint8_t count, std::uint16_t address);
Bytes Le32(std::uint32_t value);
std::uint16_t ReadLe16(const Bytes& b, std::size_t at);
std::uint32_t ReadLe32(const Bytes& b, std::size_t at);
bool ReplyCrcValid(const Bytes& reply);
// A 64-byte block whose last two bytes are the CRC of the rest, low first.
bool BlockCrcValid(const Bytes& block);
QString Hex(const Bytes& bytes);
Bytes ToBytes(const QByteArray& bytes);
void SleepMs(int ms);

}  // namespace simwire

// The PC side of the line, opened the way a serial tool opens it.
class SimPort {
public:
    using Bytes = simwire::Bytes;

    explicit SimPort(const QString& path);
    ~SimPort();
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    void Send(const Bytes& bytes);
    // Reads until `count` bytes came or `timeoutMs` passed.
    Bytes Receive(std::size_t count, int timeoutMs);
    // Everything that arrives within `ms`.
    Bytes Collect(int ms);
    // One exchange as the tool makes it: stale input dropped, frame out,
    // reply of known length in.
    Bytes Exchange(const Bytes& frame, std::size_t replyLen, int timeoutMs = simwire::kReplyMs);
    // A status exchange, also making sure nothing follows the reply.
    Bytes Status(const Bytes& frame);
    // Select byte, then two 32-byte packets; empty on any failure.
    Bytes Block(std::uint8_t select);
    // The 18 identity bytes; empty on failure.
    Bytes Identify();
    // End the connection and wake the unit again, as the tool does between
    // two operations.
    bool Reconnect();
    bool WriteConfig(std::uint16_t offset, const Bytes& data);
    // 0x50 then the sensor command: the status reply of the second frame
    // (empty when the 0x50 was not acknowledged).
    Bytes SensorCommand(std::uint8_t command);
    // The 6 data bytes of a live reading (0 gas, 1 temperature, 2 battery);
    // empty on failure.
    Bytes Reading(std::uint8_t mode);
    // The whole event log through 0x60, 0xA1 and packets of `packet` bytes.
    Bytes EventLog(std::size_t packet = 32);

private:
    int fd_ = -1;
};

// For tests (gtest): start a simulator, open its port, wake the unit.
#define START_SIM(sim) ASSERT_TRUE((sim).start()) << "simulator did not come up"
#define OPEN_PORT(port, sim)        \
    SimPort port((sim).portPath()); \
    ASSERT_TRUE(port.ok()) << "cannot open " << (sim).portPath().toStdString()
#define WAKE(port)                                                                            \
    ASSERT_EQ(simwire::Hex((port).Status(simwire::Cmd(0xB2))), simwire::Hex(simwire::kAck)) \
        << "detector did not wake"
