#include "ZelComms.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "Crc16.h"
#include "PreciseWait.h"

namespace {

constexpr int kStatusReplyLen = 3;
constexpr int kReadTimeoutMs = 10;
constexpr int kReadBufSize = 128;
constexpr int kBaudRate = 115200;
constexpr double kSettleMs = 1.0;
constexpr double kWakeSpacingMs = 1.05;
constexpr unsigned long kLinkTimerSlackNs = 10'000;
constexpr double kFirmwareFramePauseMs = 4.0;
constexpr float kShortTimeout = 0.1f;
constexpr float kLongTimeout = 0.5f;
constexpr int kMaxPacket = 128;
constexpr int kBlockBytes = 64;
constexpr int kImageBytes = 128;
constexpr int kMaxBlockSize = 256;

bool IsNoResponse(std::uint8_t status)
{
    return status == 0x00 || status == zelcmd::kCheck;
}

int RemainingMs(double elapsedSeconds, float timeOutSeconds)
{
    const double remaining = (timeOutSeconds - elapsedSeconds) * 1000.0;
    return remaining <= 0 ? 0 : static_cast<int>(std::ceil(remaining));
}

std::chrono::steady_clock::duration Milliseconds(double ms)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double, std::milli>(ms));
}

std::unique_ptr<TComm> SerialPort()
{
    auto port = std::make_unique<TComm>();
    port->SetReadTimeout(kReadTimeoutMs);
    port->SetReadBufSize(kReadBufSize);
    return port;
}

}  // namespace

TComZEL::TComZEL()
    : FRSCom(SerialPort()),
      FFirstSource(std::make_unique<discovery::QtPortSource>()),
      FSecondSource(std::make_unique<discovery::SysfsCp210xSource>())
{
}

void TComZEL::SetChannel(std::unique_ptr<ISerialChannel> channel)
{
    ComClose();
    FRSCom = std::move(channel);
}

double TComZEL::SecondsSince(ISerialChannel::Clock::time_point start) const
{
    return std::chrono::duration<double>(FRSCom->Now() - start).count();
}

TComZEL::~TComZEL()
{
    ComClose();
}

void TComZEL::SetAdapterSources(std::unique_ptr<discovery::AdapterSource> first,
                                std::unique_ptr<discovery::AdapterSource> second)
{
    FFirstSource = std::move(first);
    FSecondSource = std::move(second);
}

void TComZEL::ComOpen(const std::string& devicePath)
{
    if (FRSCom->Enabled())
        return;
    FRSCom->SetDeviceName(devicePath);
    FRSCom->SetBaudData(kBaudRate);
    FRSCom->Open();
    FLinkSlack.emplace(kLinkTimerSlackNs);
}

void TComZEL::ComClose()
{
    FWakeAcksOwed = false;
    if (FRSCom->Enabled())
        FRSCom->Close();
    FLinkSlack.reset();
}

std::uint8_t TComZEL::OpenUSB(float rTimeOut)
{
    const discovery::Result found = discovery::FindAdapterPort(FDefPort, *FFirstSource, *FSecondSource);
    FLastPort = found.portPath;
    if (found.status != discovery::kFound)
        return found.status;
    ComOpen(found.portPath);
    return ConnectZEL(rTimeOut);
}

void TComZEL::CloseUSB(std::uint8_t nStatus)
{
    // These codes mean the detector was answering, so it is told the
    // connection ends; otherwise nothing is sent to a unit that cannot hear.
    // The tool's own refusals (147, 149, 150) happen on a link that is up.
    switch (nStatus) {
    case 0:
    case 146:
    case zelstatus::kSizeRefused:
    case zelstatus::kLogTooLarge:
    case zelstatus::kWriteNotKept:
    case zelstatus::kNak:
    case zelstatus::kOtherStatus:
    case zelstatus::kReplyCrc:
    case zelstatus::kBlockCrc:
        if (KillZEL() != zelstatus::kOK)
            KillZEL();
        break;
    default:
        break;
    }
    ComClose();
}

void TComZEL::SettlePause(double milliseconds)
{
    FRSCom->SleepUntil(FRSCom->Now() + Milliseconds(milliseconds));
}

QString TComZEL::HexDump(const std::uint8_t* data, int count)
{
    static const char kDigits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(count * 3);
    for (int i = 0; i < count; ++i) {
        out += QLatin1Char(kDigits[data[i] >> 4]);
        out += QLatin1Char(kDigits[data[i] & 0x0F]);
        out += QLatin1Char(' ');
    }
    return out;
}

void TComZEL::Fire(const QDateTime& when, const QString& log)
{
    if (FOnZELEvent)
        FOnZELEvent(this, when, log);
}

void TComZEL::FireHeld(const RZELLogRead* held, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!held[i].mOK)
            continue;
        Fire(held[i].mSendTime, held[i].mSendLog);
        Fire(held[i].mRevTime, held[i].mRevLog);
    }
}

void TComZEL::GetLog(RZELLogRead& mLog) const
{
    mLog.mSendTime = FSendTime;
    mLog.mSendLog = FSendLog;
    mLog.mRevTime = FRevTime;
    mLog.mRevLog = FRevLog;
    mLog.mOK = true;
}

std::uint8_t TComZEL::SendCommand(TraceMode nTrace, std::uint8_t nCmd, int nLen, float rTimeOut)
{
    return SendPacket(nTrace, nCmd, nullptr, 0, nLen, rTimeOut);
}

std::uint8_t TComZEL::SendPacket(TraceMode nTrace, std::uint8_t nCmd, const std::uint8_t* mData, int nCount, int nLen,
                                 float rTimeOut)
{
    // The frame must leave room for the command byte and the CRC.
    const int maxPayload = RComZELReadBuf::kCapacity - 2 - (nCmd != 0 ? 1 : 0);
    if (nCount < 0 || nCount > maxPayload || (nCount > 0 && !mData))
        return zelstatus::kSizeRefused;
    int at = 0;
    if (nCmd != 0)
        FSendBuf.mBuf[at++] = nCmd;
    if (nCount > 0)
        std::memcpy(FSendBuf.mBuf + at, mData, static_cast<std::size_t>(nCount));
    at += nCount;
    const std::uint16_t crc = crc16::Compute(FSendBuf.mBuf, static_cast<std::size_t>(at));
    FSendBuf.mBuf[at++] = static_cast<std::uint8_t>(crc >> 8);
    FSendBuf.mBuf[at++] = static_cast<std::uint8_t>(crc & 0xFF);
    FSendBuf.mData = at;
    FReadBuf.mData = 0;
    return Transfer(nTrace, nLen, rTimeOut);
}

std::uint8_t TComZEL::Transfer(TraceMode nTrace, int nLen, float rTimeOut)
{
    std::uint8_t result = zelstatus::kChannelError;
    FSendTime = QDateTime::currentDateTime();
    FSendLog = nTrace == TraceMode::Quiet ? QString() : QStringLiteral("[SEND] ") + HexDump(FSendBuf.mBuf, FSendBuf.mData);
    FRevLog.clear();
    // A reply must fit the receive buffer; anything else is a caller's error.
    if (nLen < kStatusReplyLen || nLen > RComZELReadBuf::kCapacity) {
        FRevTime = QDateTime::currentDateTime();
        FRevLog = QStringLiteral("[READ] ");
        return zelstatus::kSizeRefused;
    }

    std::uint8_t status = zelstatus::kNoResponse;
    int lateAcks = 0;
    try {
        FRSCom->PurgeIn();
        const auto start = FRSCom->Now();
        FRSCom->Write(FSendBuf.mBuf, FSendBuf.mData);
        // Appends what has arrived; true once the whole reply is in.
        const auto takeWhatArrived = [&] {
            const int room = RComZELReadBuf::kCapacity - FReadBuf.mData;
            const int got = FRSCom->Read(FReadBuf.mBuf + FReadBuf.mData, std::min(nLen + 10, room));
            if (got > 0)
                FReadBuf.mData += got;
            lateAcks += DropLateWakeAcks(nLen);
            return FReadBuf.mData >= nLen;
        };
        while (SecondsSince(start) < rTimeOut && status == zelstatus::kNoResponse) {
            if (takeWhatArrived())
                status = zelstatus::kOK;
            else
                FRSCom->WaitForInput(RemainingMs(SecondsSince(start), rTimeOut));
        }
        // On a busy machine the thread may get the processor back only after
        // the time-out, with the reply already waiting in the driver: it is
        // taken, not called silence (which would cost a retry or a failed
        // operation for a unit that answered).
        if (status == zelstatus::kNoResponse && takeWhatArrived())
            status = zelstatus::kOK;
        FRevTime = QDateTime::currentDateTime();
        FRevLog = HexDump(FReadBuf.mBuf, FReadBuf.mData);
        if (status == zelstatus::kOK) {
            const std::uint8_t* reply = FReadBuf.mBuf;
            const std::uint16_t computed = crc16::Compute(reply, static_cast<std::size_t>(nLen - 2));
            const std::uint16_t received = static_cast<std::uint16_t>((reply[nLen - 2] << 8) | reply[nLen - 1]);
            if (computed != received) {
                if (nLen == kStatusReplyLen && reply[0] == zelreply::kAck && reply[1] == zelreply::kAckCrcHigh) {
                    // An ACK whose last byte was damaged on the infrared path.
                    FRevLog.prepend(QStringLiteral("WRONGACK:"));
                } else {
                    status = zelstatus::kReplyCrc;
                    FRevLog.prepend(QStringLiteral("CRCERROR:"));
                }
            } else if (nLen == kStatusReplyLen) {
                if (IsNoResponse(reply[0])) {
                    status = zelstatus::kNoResponse;
                    FRevLog.prepend(QStringLiteral("NORESPONSE:"));
                } else if (reply[0] == zelreply::kAck) {
                    FRevLog.prepend(QStringLiteral("ACK:"));
                } else if (reply[0] == zelreply::kNak) {
                    status = zelstatus::kNak;
                    FRevLog.prepend(QStringLiteral("NAK:"));
                } else {
                    status = zelstatus::kOtherStatus;
                    FRevLog.prepend(QStringLiteral("ERROR:"));
                }
            }
        }
        if (lateAcks > 0)
            FRevLog += QStringLiteral("(late wake-up ACK dropped: %1)").arg(lateAcks);
        // A whole reply other than an ACK shows the unit answering this
        // frame, so nothing owed from the wake-up can still be on its way.
        if (status != zelstatus::kNoResponse && status != zelstatus::kReplyCrc &&
            (nLen != kStatusReplyLen || FReadBuf.mBuf[0] != zelreply::kAck))
            FWakeAcksOwed = false;
        result = status;
    } catch (const ECommError&) {
        // The exchange was cut short: whatever arrived before the error is
        // not a reply, so the trace shows none.
        FRevTime = QDateTime::currentDateTime();
        FRevLog.clear();
        result = zelstatus::kChannelError;
    }
    FRevLog.prepend(QStringLiteral("[READ] "));
    SettlePause(kSettleMs);
    if (nTrace == TraceMode::Report) {
        Fire(FSendTime, FSendLog);
        Fire(FRevTime, FRevLog);
    }
    return result;
}

// The unit acknowledges every wake-up frame it hears, and the tool sends
// them until the first ACK reaches it; with a slow turnaround or an adapter
// that hands bytes over in USB frames, the ACKs of the last frames arrive
// after the purges, in front of the first reply. Such leading ACK frames are
// dropped where they cannot be the reply: a status reply with more bytes
// behind it (the unit sends one frame per command), or a longer reply whose
// CRC fails with the ACK in front and may hold once the ACK is gone. A lone
// ACK in answer to a status command is taken: it cannot be told apart.
int TComZEL::DropLateWakeAcks(int nLen)
{
    static constexpr std::uint8_t kAckFrame[kStatusReplyLen] = {zelreply::kAck, zelreply::kAckCrcHigh,
                                                                  zelreply::kAckCrcLow};
    int dropped = 0;
    while (FWakeAcksOwed && FReadBuf.mData >= kStatusReplyLen &&
           std::memcmp(FReadBuf.mBuf, kAckFrame, sizeof kAckFrame) == 0) {
        const bool moreBehind = nLen == kStatusReplyLen && FReadBuf.mData > kStatusReplyLen;
        const bool replyBroken = nLen > kStatusReplyLen && FReadBuf.mData >= nLen &&
                                 crc16::Compute(FReadBuf.mBuf, static_cast<std::size_t>(nLen - 2)) !=
                                     static_cast<std::uint16_t>((FReadBuf.mBuf[nLen - 2] << 8) | FReadBuf.mBuf[nLen - 1]);
        if (!moreBehind && !replyBroken)
            break;
        FReadBuf.mData -= kStatusReplyLen;
        std::memmove(FReadBuf.mBuf, FReadBuf.mBuf + kStatusReplyLen, static_cast<std::size_t>(FReadBuf.mData));
        ++dropped;
    }
    return dropped;
}

std::uint8_t TComZEL::ConnectZEL(float rTimeOut)
{
    FWakeAcksOwed = false;
    const std::uint8_t frame[3] = {zelcmd::kCheck, 0x75, 0x80};
    std::uint8_t status = zelstatus::kNoWakeUp;
    int framesSent = 0;
    const auto start = FRSCom->Now();
    std::uint8_t reply[256];
    // Slot deadlines lie on a fixed grid from the start: every sleep wakes a
    // little late, and deadlines taken from the end of the last slot would
    // add those delays up (1.19 ms instead of 1.05 ms per frame). The finer
    // timer slack also holds here when the wake-up runs on a channel opened
    // elsewhere.
    const precise::TimerSlack slack(kLinkTimerSlackNs);
    const auto slot = Milliseconds(kWakeSpacingMs);
    auto deadline = start;
    try {
        while (SecondsSince(start) < rTimeOut) {
            // A slot missed while the machine was busy elsewhere is made up at
            // once: the frames keep their count over the connect time.
            deadline += slot;
            ++framesSent;
            try {
                FRSCom->Write(frame, sizeof frame);
            } catch (const ECommError&) {
                status = zelstatus::kChannelError;
            }
            if (status == zelstatus::kNoWakeUp) {
                // Sleep out the frame slot in the kernel; an early reply
                // simply waits in the driver until the slot ends.
                FRSCom->SleepUntil(deadline);
                int got = 0;
                try {
                    got = FRSCom->Read(reply, 10);
                } catch (const ECommError&) {
                    status = zelstatus::kChannelError;
                }
                if (got >= 3)
                    status = zelstatus::kOK;
                int offset = 0;
                // Replies come in threes; skip valid non-ACK replies (a NAK
                // from a half-awake unit) until an ACK or the end.
                while (status == zelstatus::kOK) {
                    const std::uint16_t crc = crc16::Step(0, reply[offset]);
                    const std::uint16_t stated = static_cast<std::uint16_t>((reply[offset + 1] << 8) | reply[offset + 2]);
                    if (crc != stated) {
                        status = zelstatus::kNoWakeUp;
                        break;
                    }
                    Fire(QDateTime::currentDateTime(), HexDump(reply + offset, got - offset));
                    if (reply[offset] == zelreply::kAck)
                        break;
                    offset += 3;
                    if (got - offset < 3)
                        status = zelstatus::kNoWakeUp;
                }
            }
            if (status == zelstatus::kOK || status == zelstatus::kChannelError)
                break;
        }
        FRSCom->PurgeIn();
    } catch (const ECommError&) {
        status = zelstatus::kChannelError;
    }
    const double seconds = SecondsSince(start);
    Fire(QDateTime::currentDateTime(), QStringLiteral("[CHECK TIME] %1 (%2)")
                                           .arg(QLocale().toString(seconds, 'f', 3))
                                           .arg(framesSent));
    try {
        SettlePause(kSettleMs);
        FRSCom->PurgeIn();
        SettlePause(kSettleMs);
    } catch (const ECommError&) {
        status = zelstatus::kChannelError;
    }
    FWakeAcksOwed = status == zelstatus::kOK;
    return status;
}

std::uint8_t TComZEL::SingleCommand(std::uint8_t cmd, float timeOut)
{
    return SendCommand(TraceMode::Report, cmd, kStatusReplyLen, timeOut);
}

std::uint8_t TComZEL::ConnectZELCheck() { return SingleCommand(zelcmd::kCheck, kShortTimeout); }
std::uint8_t TComZEL::KillZEL() { return SingleCommand(zelcmd::kKill, kShortTimeout); }
std::uint8_t TComZEL::SendHibernate() { return SingleCommand(zelcmd::kHibernate, kShortTimeout); }
std::uint8_t TComZEL::LogReset() { return SingleCommand(zelcmd::kLogReset, kLongTimeout); }
std::uint8_t TComZEL::UpgradeStart() { return SingleCommand(zelcmd::kUpgradeStart, kShortTimeout); }
std::uint8_t TComZEL::UpgradeExecute() { return SingleCommand(zelcmd::kUpgradeExecute, kLongTimeout); }
std::uint8_t TComZEL::ResetUnit() { return SingleCommand(zelcmd::kResetUnit, kLongTimeout); }
std::uint8_t TComZEL::FactoryReset() { return SingleCommand(zelcmd::kFactoryReset, kLongTimeout); }
std::uint8_t TComZEL::AVOn(std::uint8_t nCom) { return SingleCommand(nCom, kShortTimeout); }

std::uint8_t TComZEL::ReadBlock(std::uint8_t selectByte, std::uint8_t* record, std::uint16_t nPacket,
                                std::uint16_t nSize)
{
    // The record is 64 bytes: a packet size the link cannot carry, or a size
    // whose whole packets do not cover the record, would leave it half filled.
    if (nPacket < 1 || nPacket > kMaxPacket || nSize > kMaxBlockSize || (nSize / nPacket) * nPacket < kBlockBytes)
        return zelstatus::kSizeRefused;
    std::uint8_t status = SendCommand(TraceMode::Report, selectByte, kStatusReplyLen, kShortTimeout);
    if (status != zelstatus::kOK)
        return status;
    std::uint8_t assembly[kMaxBlockSize];
    int assembled = 0;
    for (int i = 0; i < nSize / nPacket; ++i) {
        status = SendCommand(TraceMode::Report, zelcmd::kNextPacket, nPacket + 2, kShortTimeout);
        if (status != zelstatus::kOK)
            return status;
        std::memcpy(assembly + assembled, FReadBuf.mBuf, nPacket);
        assembled += nPacket;
    }
    std::memcpy(record, assembly, kBlockBytes);
    const std::uint16_t computed = crc16::Compute(assembly, static_cast<std::size_t>(assembled - 2));
    const std::uint16_t stored = static_cast<std::uint16_t>(record[62] | (record[63] << 8));
    return computed == stored ? zelstatus::kOK : zelstatus::kBlockCrc;
}

std::uint8_t TComZEL::ReadUnitCFGData(RZELUnitCFG& mData, std::uint16_t nPacket, std::uint16_t nSize)
{
    return ReadBlock(zelcmd::kSelectUnit, reinterpret_cast<std::uint8_t*>(&mData), nPacket, nSize);
}

std::uint8_t TComZEL::ReadSensorCFGData(RZELSensorCFG& mData, std::uint16_t nPacket, std::uint16_t nSize)
{
    return ReadBlock(zelcmd::kSelectSensor, reinterpret_cast<std::uint8_t*>(&mData), nPacket, nSize);
}

std::uint8_t TComZEL::WriteCFGData(const RComZELReadBuf& mBuf, std::uint16_t nAddress, std::uint16_t nSize)
{
    // Only the 128-byte configuration image may be written; a range beyond it
    // would send whatever happens to follow in the buffer.
    if (nSize < 1 || nSize > kImageBytes || nAddress + nSize > kImageBytes)
        return zelstatus::kSizeRefused;
    RZELLogRead held[4];
    const std::uint8_t header[4] = {static_cast<std::uint8_t>(nSize & 0xFF), 0x00,
                                    static_cast<std::uint8_t>(nAddress >> 8), static_cast<std::uint8_t>(nAddress & 0xFF)};
    std::uint8_t status = SendCommand(TraceMode::Hold, zelcmd::kAddressHeader, kStatusReplyLen, kShortTimeout);
    GetLog(held[0]);
    if (status == zelstatus::kOK) {
        status = SendPacket(TraceMode::Hold, 0, header, sizeof header, kStatusReplyLen, kShortTimeout);
        GetLog(held[1]);
    }
    if (status == zelstatus::kOK) {
        status = SendCommand(TraceMode::Hold, zelcmd::kDataFollows, kStatusReplyLen, kShortTimeout);
        GetLog(held[2]);
    }
    if (status == zelstatus::kOK) {
        status = SendPacket(TraceMode::Hold, 0, mBuf.mBuf + nAddress, nSize, kStatusReplyLen, kShortTimeout);
        GetLog(held[3]);
    }
    FireHeld(held, 4);
    return status;
}

std::uint8_t TComZEL::WriteCFGTimeData(std::uint32_t nTime)
{
    RZELLogRead held[2];
    const std::uint8_t payload[4] = {static_cast<std::uint8_t>(nTime & 0xFF), static_cast<std::uint8_t>((nTime >> 8) & 0xFF),
                                     static_cast<std::uint8_t>((nTime >> 16) & 0xFF),
                                     static_cast<std::uint8_t>((nTime >> 24) & 0xFF)};
    std::uint8_t status = SendCommand(TraceMode::Hold, zelcmd::kLifeFollows, kStatusReplyLen, kShortTimeout);
    GetLog(held[0]);
    if (status == zelstatus::kOK) {
        status = SendPacket(TraceMode::Hold, 0, payload, sizeof payload, kStatusReplyLen, kShortTimeout);
        GetLog(held[1]);
    }
    FireHeld(held, 2);
    return status;
}

std::uint8_t TComZEL::RequireIdenty(RZELIdenty& mData)
{
    const std::uint8_t status =
        SendCommand(TraceMode::Report, zelcmd::kIdentify, sizeof(RZELIdenty) + 2, kShortTimeout);
    if (status == zelstatus::kOK)
        std::memcpy(&mData, FReadBuf.mBuf, sizeof mData);
    return status;
}

std::uint8_t TComZEL::RequireSensor(RZELSensor& mData, std::uint8_t nMode)
{
    const std::uint8_t status = SendCommand(TraceMode::Report, static_cast<std::uint8_t>(zelcmd::kSensorBase + nMode),
                                            sizeof(RZELSensor) + 2, kShortTimeout);
    if (status == zelstatus::kOK)
        std::memcpy(&mData, FReadBuf.mBuf, sizeof mData);
    return status;
}

std::uint8_t TComZEL::SensorCalibration(std::uint8_t nCom)
{
    std::uint8_t status = SendCommand(TraceMode::Report, zelcmd::kSelectSensor, kStatusReplyLen, kShortTimeout);
    if (status == zelstatus::kOK)
        status = SendCommand(TraceMode::Report, nCom, kStatusReplyLen, kLongTimeout);
    return status;
}

std::uint8_t TComZEL::LoadLog(RComZELReadBuf& mBuf, int nReadPacket)
{
    mBuf.mData = 0;
    if (nReadPacket < 1 || nReadPacket > kMaxPacket)
        return zelstatus::kSizeRefused;
    std::uint32_t logSize = 0;
    std::uint8_t status = SendCommand(TraceMode::Report, zelcmd::kSelectLog, kStatusReplyLen, kShortTimeout);
    if (status == zelstatus::kOK) {
        status = SendCommand(TraceMode::Report, zelcmd::kLogSize, 6, kShortTimeout);
        if (status == zelstatus::kOK)
            std::memcpy(&logSize, FReadBuf.mBuf, sizeof logSize);
    }
    // The size comes from the detector: never let it steer a copy past the
    // buffer. A longer log is read as far as the buffer holds (its oldest
    // part comes first); the caller learns how much was left out.
    FLogBytesLeftOut = 0;
    if (status == zelstatus::kOK && logSize > static_cast<std::uint32_t>(RComZELReadBuf::kCapacity)) {
        FLogBytesLeftOut = logSize - static_cast<std::uint32_t>(RComZELReadBuf::kCapacity);
        logSize = RComZELReadBuf::kCapacity;
    }
    while (status == zelstatus::kOK && static_cast<std::uint32_t>(mBuf.mData) < logSize) {
        status = SendCommand(TraceMode::Report, zelcmd::kNextPacket, nReadPacket + 2, kShortTimeout);
        if (status == zelstatus::kOK) {
            const int fits = std::min(nReadPacket, RComZELReadBuf::kCapacity - mBuf.mData);
            std::memcpy(mBuf.mBuf + mBuf.mData, FReadBuf.mBuf, static_cast<std::size_t>(fits));
            mBuf.mData += nReadPacket;
        }
    }
    if (status == zelstatus::kOK)
        mBuf.mData = static_cast<std::int32_t>(logSize);
    else
        mBuf.mData = std::min(mBuf.mData, RComZELReadBuf::kCapacity);
    return status;
}

std::uint8_t TComZEL::UpgradeData(std::uint8_t nPointer, const RComZELReadBuf& mBuf)
{
    if (mBuf.mData < 0 || mBuf.mData > RComZELReadBuf::kCapacity - 2)
        return zelstatus::kSizeRefused;
    RZELLogRead first;
    RZELLogRead data;
    std::uint8_t status = SendCommand(TraceMode::Hold, static_cast<std::uint8_t>(zelcmd::kUpgradeBase + nPointer),
                                      kStatusReplyLen, kShortTimeout);
    GetLog(first);
    if (status == zelstatus::kOK) {
        status = SendPacket(TraceMode::Quiet, 0, mBuf.mBuf, mBuf.mData, kStatusReplyLen, kLongTimeout);
        GetLog(data);
        SettlePause(kFirmwareFramePauseMs);
    }
    // A successful frame leaves no trace: a whole image would flood the memo.
    if (status != zelstatus::kOK) {
        Fire(first.mSendTime, first.mSendLog);
        Fire(first.mRevTime, first.mRevLog);
        if (data.mOK)
            Fire(data.mRevTime, data.mRevLog);
    }
    return status;
}

std::uint8_t TComZEL::ReadEEPROMData(RZELMemoryDump& mBuf, std::uint16_t nPacket, std::uint16_t nStart,
                                     std::uint16_t nMax)
{
    mBuf.mData = 0;
    mBuf.mBuf.clear();
    if (nPacket < 1 || nPacket > kMaxPacket)
        return zelstatus::kSizeRefused;
    // The detector is never asked for the last packet of the range: the
    // first packet always, then more while the bytes received stay below
    // nMax - nPacket. The tail is filled with erased bytes instead.
    const int lastStart = static_cast<int>(nMax) - static_cast<int>(nPacket);
    const int packets = lastStart <= 0 ? 1 : (lastStart + nPacket - 1) / nPacket;
    mBuf.mBuf.reserve(static_cast<std::size_t>(packets + 1) * nPacket);
    const std::uint8_t header[4] = {static_cast<std::uint8_t>(nPacket & 0xFF), 0x00,
                                    static_cast<std::uint8_t>(nStart >> 8), static_cast<std::uint8_t>(nStart & 0xFF)};
    std::uint8_t status = SendCommand(TraceMode::Report, zelcmd::kAddressHeader, kStatusReplyLen, kShortTimeout);
    if (status == zelstatus::kOK)
        status = SendPacket(TraceMode::Report, 0, header, sizeof header, kStatusReplyLen, kShortTimeout);
    while (status == zelstatus::kOK) {
        status = SendCommand(TraceMode::Report, zelcmd::kNextPacket, nPacket + 2, kShortTimeout);
        if (status != zelstatus::kOK)
            break;
        mBuf.mBuf.insert(mBuf.mBuf.end(), FReadBuf.mBuf, FReadBuf.mBuf + nPacket);
        mBuf.mData += nPacket;
        if (mBuf.mData >= lastStart)
            break;
    }
    if (status == zelstatus::kOK)
        mBuf.mBuf.insert(mBuf.mBuf.end(), nPacket, 0xFF);
    return status;
}
