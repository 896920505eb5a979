#pragma once
// TComZEL: the one object through which the program talks to the detector.
// Every exchange is one request frame (optional command byte, payload, CRC-16
// high byte first) and one reply of a length known in advance; there is no
// start byte and no length field on this link.
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AdapterDiscovery.h"
#include "Comm.h"
#include "PreciseWait.h"
#include "ZelRecords.h"

// Result codes of the link (0 = success).
namespace zelstatus {
constexpr std::uint8_t kOK = 0;
constexpr std::uint8_t kSizeRefused = 147;      // a packet or range the buffers cannot hold
constexpr std::uint8_t kLogTooLarge = 149;      // announced event log above the transfer buffer
constexpr std::uint8_t kWriteNotKept = 150;     // a written range read back different
constexpr std::uint8_t kNoWakeUp = 160;
constexpr std::uint8_t kChannelError = 161;
constexpr std::uint8_t kNoResponse = 162;
constexpr std::uint8_t kNak = 176;
constexpr std::uint8_t kOtherStatus = 177;
constexpr std::uint8_t kReplyCrc = 178;
constexpr std::uint8_t kBlockCrc = 192;
}  // namespace zelstatus

// Command bytes of the detector.
namespace zelcmd {
constexpr std::uint8_t kUpgradeStart = 0x10;
constexpr std::uint8_t kUpgradeExecute = 0x11;
constexpr std::uint8_t kFactoryReset = 0x12;
constexpr std::uint8_t kLogReset = 0x13;
constexpr std::uint8_t kResetUnit = 0x14;
constexpr std::uint8_t kHibernate = 0x17;
constexpr std::uint8_t kSensorBase = 0x20;
constexpr std::uint8_t kSelectSensor = 0x50;
constexpr std::uint8_t kSelectUnit = 0x5F;
constexpr std::uint8_t kSelectLog = 0x60;
constexpr std::uint8_t kAddressHeader = 0x70;
constexpr std::uint8_t kLifeFollows = 0x71;
constexpr std::uint8_t kNextPacket = 0x81;
constexpr std::uint8_t kDataFollows = 0x91;
constexpr std::uint8_t kUpgradeBase = 0x90;
constexpr std::uint8_t kIdentify = 0xA0;
constexpr std::uint8_t kLogSize = 0xA1;
constexpr std::uint8_t kCheck = 0xB2;
constexpr std::uint8_t kKill = 0xB3;
}  // namespace zelcmd

// Reply status bytes.
namespace zelreply {
constexpr std::uint8_t kAck = 0xB5;
constexpr std::uint8_t kNak = 0xB6;
constexpr std::uint8_t kAckCrcHigh = 0xB7;
constexpr std::uint8_t kAckCrcLow = 0xC1;
}  // namespace zelreply

enum class TraceMode : std::uint8_t { Report = 0, Hold = 1, Quiet = 2 };

struct RZELLogRead {
    QDateTime mSendTime;
    QString mSendLog;
    QDateTime mRevTime;
    QString mRevLog;
    bool mOK = false;
};

// An EEPROM dump. The configured range reaches 32 KiB, far more than the
// link's 1 KiB buffer holds, so a dump gets a buffer of its own, sized to
// what was read.
struct RZELMemoryDump {
    std::int32_t mData = 0;          // bytes received from the detector
    std::vector<std::uint8_t> mBuf;  // those bytes, then one packet of 0xFF
};

class TComZEL;
using TOnZELEvent = std::function<void(TComZEL* sender, const QDateTime& now, const QString& log)>;

class TComZEL {
public:
    TComZEL();
    ~TComZEL();
    TComZEL(const TComZEL&) = delete;
    TComZEL& operator=(const TComZEL&) = delete;

    void SetOnZELEvent(TOnZELEvent handler) { FOnZELEvent = std::move(handler); }
    bool HasTraceHandler() const { return static_cast<bool>(FOnZELEvent); }

    // Preferred serial device; when set, adapter discovery is skipped.
    void SetDefPort(const std::string& path) { FDefPort = path; }
    const std::string& DefPort() const { return FDefPort; }
    // Replace the serial line (a line in memory for fuzzing and fault tests).
    // The port is closed first.
    void SetChannel(std::unique_ptr<ISerialChannel> channel);
    // Replace the adapter enumeration (tests present zero, one or two bridges).
    void SetAdapterSources(std::unique_ptr<discovery::AdapterSource> first,
                           std::unique_ptr<discovery::AdapterSource> second);

    // Port handling.
    void ComOpen(const std::string& devicePath);
    void ComClose();
    bool PortOpen() const { return FRSCom->Enabled(); }
    // Find the adapter, open its port, wake the detector. Errors of opening
    // the port are raised as ECommError and reach the caller.
    std::uint8_t OpenUSB(float rTimeOut);
    void CloseUSB(std::uint8_t nStatus);
    const std::string& LastPortPath() const { return FLastPort; }

    // Commands.
    std::uint8_t ConnectZEL(float rTimeOut);
    std::uint8_t ConnectZELCheck();
    std::uint8_t KillZEL();
    std::uint8_t ReadUnitCFGData(RZELUnitCFG& mData, std::uint16_t nPacket, std::uint16_t nSize);
    std::uint8_t ReadSensorCFGData(RZELSensorCFG& mData, std::uint16_t nPacket, std::uint16_t nSize);
    std::uint8_t WriteCFGData(const RComZELReadBuf& mBuf, std::uint16_t nAddress, std::uint16_t nSize);
    std::uint8_t WriteCFGTimeData(std::uint32_t nTime);
    std::uint8_t SendHibernate();
    std::uint8_t RequireIdenty(RZELIdenty& mData);
    std::uint8_t LoadLog(RComZELReadBuf& mBuf, int nReadPacket);
    // Bytes of the unit's event log the last LoadLog left out because the
    // buffer was full.
    std::uint32_t LogBytesLeftOut() const { return FLogBytesLeftOut; }
    std::uint8_t LogReset();
    std::uint8_t UpgradeStart();
    std::uint8_t UpgradeData(std::uint8_t nPointer, const RComZELReadBuf& mBuf);
    std::uint8_t UpgradeExecute();
    std::uint8_t ResetUnit();
    std::uint8_t FactoryReset();
    std::uint8_t RequireSensor(RZELSensor& mData, std::uint8_t nMode);
    std::uint8_t SensorCalibration(std::uint8_t nCom);
    std::uint8_t ReadEEPROMData(RZELMemoryDump& mBuf, std::uint16_t nPacket, std::uint16_t nStart, std::uint16_t nMax);
    std::uint8_t AVOn(std::uint8_t nCom);

    // Exchange engine (public so that tests can drive single frames).
    std::uint8_t SendCommand(TraceMode nTrace, std::uint8_t nCmd, int nLen, float rTimeOut);
    std::uint8_t SendPacket(TraceMode nTrace, std::uint8_t nCmd, const std::uint8_t* mData, int nCount, int nLen,
                            float rTimeOut);
    std::uint8_t Transfer(TraceMode nTrace, int nLen, float rTimeOut);
    void GetLog(RZELLogRead& mLog) const;
    const RComZELReadBuf& ReadBuffer() const { return FReadBuf; }
    const RComZELReadBuf& SendBuffer() const { return FSendBuf; }

    static QString HexDump(const std::uint8_t* data, int count);

private:
    std::uint8_t ReadBlock(std::uint8_t selectByte, std::uint8_t* record, std::uint16_t nPacket, std::uint16_t nSize);
    std::uint8_t SingleCommand(std::uint8_t cmd, float timeOut);
    // Drops the late answers to wake-up frames at the head of the reply
    // buffer; returns how many.
    int DropLateWakeAcks(int nLen);
    void Fire(const QDateTime& when, const QString& log);
    void FireHeld(const RZELLogRead* held, int count);
    // Pause after an exchange so the detector's infrared receiver can turn
    // around; the name says what it does now: a kernel sleep, not a spin.
    void SettlePause(double milliseconds);
    // Seconds of the line's clock since `start`.
    double SecondsSince(ISerialChannel::Clock::time_point start) const;

    // While the port is open the thread's sleeps (the pause after every
    // exchange, the one after a firmware frame, the waits for a reply) end
    // within 10 us of their deadlines instead of the kernel's default 50 us:
    // short operations are made of such pauses.
    std::optional<precise::TimerSlack> FLinkSlack;
    std::unique_ptr<ISerialChannel> FRSCom;
    // From a successful wake-up until the unit's first reply other than an
    // ACK: ACKs to wake-up frames may still be on their way.
    bool FWakeAcksOwed = false;
    std::string FDefPort;
    std::string FLastPort;
    RComZELReadBuf FReadBuf;
    RComZELReadBuf FSendBuf;
    TOnZELEvent FOnZELEvent;
    QDateTime FSendTime;
    QString FSendLog;
    QDateTime FRevTime;
    QString FRevLog;
    std::unique_ptr<discovery::AdapterSource> FFirstSource;
    std::unique_ptr<discovery::AdapterSource> FSecondSource;
    std::uint32_t FLogBytesLeftOut = 0;
};
