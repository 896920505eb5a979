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
//          0x100  event log, 9-byte records, ended by a record whose start
//                 time is 0xFFFFFFFF; 85 slots
//   The life remaining (image bytes 36..39) is the value at the last save.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class SimProcess {
public:
    static constexpr int kStateHeaderSize = 8;
    static constexpr int kMemorySize = 1024;
    static constexpr int kConfigImageSize = 128;

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

private:
    QStringList extraArgs_;
    QTemporaryDir dir_;
    QProcess process_;
};
