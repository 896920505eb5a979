#pragma once
// A small detector on the far side of a pseudo-terminal, for the sensor
// tools' tests: it answers the commands they use (wake-up and check, end of
// connection, identify, both block reads, the configuration write, live
// readings, the sensor commands) from state the test sets and changes while
// the workflow runs, and keeps every frame it received. Unlike PtyPeer it
// does not need the order of the requests in advance; unlike the simulator
// it does nothing by itself (a calibration's progress flag rises when the
// test says so).
#include <QByteArray>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "ZelRecords.h"

class ScriptedDetector {
public:
    ScriptedDetector();
    ~ScriptedDetector();
    ScriptedDetector(const ScriptedDetector&) = delete;
    ScriptedDetector& operator=(const ScriptedDetector&) = delete;

    // The path the tool opens (a link in a folder of this detector's own).
    const std::string& Port() const { return FLinkPath; }

    // State, safe to change from any thread while the detector runs.
    void SetIdentity(const RZELIdenty& identity);
    void SetConfig(const RZELCFG& cfg);  // block CRCs are filled in when sent
    RZELCFG Config() const;
    // mode: 0 gas, 1 temperature, 2 battery.
    void SetReading(std::uint8_t mode, const RZELSensor& reading);
    void SetGasFlags(std::uint8_t history, std::uint8_t alarm);
    // Reply to a sensor command (0x40..0x46) taken after 0x50: a status byte
    // (0xB5 ACK, 0xB6 NAK, anything else an error status). Default ACK.
    void SetSensorReply(std::uint8_t command, std::uint8_t statusByte);
    // Stop answering anything (and start again).
    void SetSilent(bool silent) { FSilent.store(silent); }
    // Ignore configuration data frames: the write is acknowledged, the
    // memory keeps its old bytes.
    void SetIgnoreWrites(bool ignore) { FIgnoreWrites.store(ignore); }
    // A configuration block (0 unit, 1 sensor) that fails its CRC until a
    // configuration write reaches it, as a unit's does after a write.
    void SetDamagedBlock(int block, bool damaged = true);
    // Called on the detector's thread with every frame received, before
    // it is answered.
    void SetOnFrame(std::function<void(const QByteArray&)> onFrame);
    // Drop the line, as an unplugged adapter does.
    void HangUp();

    // Every frame received, upper-case hex pairs separated by blanks.
    QStringList Frames() const;
    // Only the frames whose first byte is `command` (command frames only).
    int CountCommand(std::uint8_t command) const;
    void ClearFrames();

    // Canned identity and configuration of an H2S Varnolite, serial
    // SH10000123, firmware 1.3, span gas 25.0 ppm.
    static RZELIdenty DefaultIdentity();
    static RZELCFG DefaultUnitConfig();

private:
    enum class Expect { Command, Header, Data };
    void Run();
    void HandleFrame(const QByteArray& frame);
    QByteArray Reply(const QByteArray& frame);
    QByteArray CommandReply(std::uint8_t command);
    int FrameLength() const;

    int FMaster = -1;
    int FSlaveKeep = -1;
    std::string FLinkDir;
    std::string FLinkPath;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FSilent{false};
    std::atomic<bool> FIgnoreWrites{false};

    mutable std::mutex FLock;
    RZELIdenty FIdentity{};
    RZELCFG FCfg{};
    std::array<RZELSensor, 3> FReadings{};
    std::map<std::uint8_t, std::uint8_t> FSensorReplies;
    std::array<bool, 2> FDamaged{};
    std::function<void(const QByteArray&)> FOnFrame;
    QStringList FFrames;
    // Protocol state of the line (reader thread only).
    Expect FExpect = Expect::Command;
    std::uint8_t FPrevious = 0;
    int FBlock = -1;  // 0 unit, 1 sensor
    int FBlockPos = 0;
    int FWriteCount = 0;
    int FWriteAddress = 0;
};

// Bytes of a status reply: the byte and its CRC-16, high byte first.
QByteArray StatusReply(std::uint8_t statusByte);
// `data` followed by its CRC-16, high byte first.
QByteArray WithCrc(const QByteArray& data);
