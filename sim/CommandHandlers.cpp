#include "CommandHandlers.h"

#include "EventHistory.h"
#include "FirmwareImage.h"
#include "SimProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace sim {
namespace {

constexpr std::uint8_t kErased = 0xFF;

Outcome Ack()
{
    return Outcome{StatusReply(kAck)};
}

Outcome Nak()
{
    return Outcome{StatusReply(kNak)};
}

// The unit's way of saying no to a command it understood: the command byte
// itself as the status, which is neither ACK nor NAK.
Outcome Refusal(std::uint8_t command)
{
    return Outcome{StatusReply(command)};
}

Outcome Changed(Outcome outcome)
{
    outcome.memoryChanged = true;
    return outcome;
}

template <typename Record>
Outcome RecordReply(const Record& record)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record);
    return Outcome{DataReply({bytes, sizeof record})};
}

std::string VersionText(std::uint8_t version)
{
    return std::to_string(version / 10) + "." + std::to_string(version % 10);
}

// A time field older than the unit's whole life (an erased 0xFFFFFFFF, or 0
// for a bump timer that was never set) means it never happened.
bool NeverSet(std::uint32_t stamp)
{
    return stamp == 0 || stamp > zel::kFullLife;
}

bool Overdue(std::uint32_t stamp, std::uint32_t life, std::uint64_t interval)
{
    if (interval == 0)
        return false;
    if (NeverSet(stamp))
        return true;
    return stamp > life && stamp - life >= interval;
}

}  // namespace

DetectorSession::DetectorSession(DetectorModel& model, LiveReadings& readings, const SessionSettings& settings,
                                 std::ostream& console)
    : model_(model),
      readings_(readings),
      settings_(settings),
      console_(console),
      firmware_(settings.firmwarePacketSize, settings.firmwareRefusals),
      calibration_(settings.calibrationTime, settings.calibrationFails),
      outputs_(console)
{
}

const std::map<std::uint8_t, DetectorSession::Handler>& DetectorSession::Handlers()
{
    static const std::map<std::uint8_t, Handler> table = [] {
        std::map<std::uint8_t, Handler> t{
            {cmd::kCheck, &DetectorSession::Check},
            {cmd::kRelease, &DetectorSession::Release},
            {cmd::kIdentify, &DetectorSession::Identify},
            {cmd::kSelectUnit, &DetectorSession::SelectUnit},
            {cmd::kSelectSensor, &DetectorSession::SelectSensor},
            {cmd::kSelectLog, &DetectorSession::SelectLog},
            {cmd::kNextPacket, &DetectorSession::NextPacket},
            {cmd::kAddressHeader, &DetectorSession::AnnounceAddress},
            {cmd::kDataFrame, &DetectorSession::AnnounceData},
            {cmd::kDataRepeat, &DetectorSession::AnnounceRepeat},
            {cmd::kLifeValue, &DetectorSession::AnnounceLife},
            {cmd::kLogSize, &DetectorSession::LogSize},
            {cmd::kReadGas, &DetectorSession::LiveReading},
            {cmd::kReadTemperature, &DetectorSession::LiveReading},
            {cmd::kReadBattery, &DetectorSession::LiveReading},
            {cmd::kHibernate, &DetectorSession::Hibernate},
            {cmd::kLogReset, &DetectorSession::LogReset},
            {cmd::kResetUnit, &DetectorSession::ResetUnit},
            {cmd::kFactoryReset, &DetectorSession::FactoryReset},
            {cmd::kUpgradeStart, &DetectorSession::UpgradeStart},
            {cmd::kUpgradeExecute, &DetectorSession::UpgradeExecute},
            {cmd::kBuzzer, &DetectorSession::TestOutput},
            {cmd::kRightLed, &DetectorSession::TestOutput},
            {cmd::kLeftLed, &DetectorSession::TestOutput},
            {cmd::kVibrator, &DetectorSession::TestOutput},
        };
        for (int c = cmd::kSensorCommandFirst; c <= cmd::kSensorCommandLast; ++c)
            t.emplace(static_cast<std::uint8_t>(c), &DetectorSession::SensorCommand);
        return t;
    }();
    return table;
}

std::size_t DetectorSession::ExpectedLength() const
{
    switch (awaiting_) {
    case Awaiting::Command:
        return kCommandFrameLen;
    case Awaiting::AddressHeader:
        return kAddressHeaderLen;
    case Awaiting::ConfigData:
        return header_ ? header_->count + kCrcLen : kCommandFrameLen;
    case Awaiting::LifeValue:
        return kLifeFrameLen;
    case Awaiting::FirmwarePacket:
        return firmware_.PacketSize() + kCrcLen;
    }
    return kCommandFrameLen;
}

Outcome DetectorSession::Handle(std::span<const std::uint8_t> frame)
{
    if (!awake_)
        return HandleAsleep(frame);
    const auto now = Clock::now();
    // The cell sees the gas applied since the last exchange, whatever is asked.
    readings_.PollControl(now);
    const bool finished = FinishCalibration(now);
    // A test output stays on until the next command comes in.
    outputs_.SwitchOff(now);
    Outcome outcome;
    if (frame.size() != ExpectedLength() || !FrameCrcValid(frame)) {
        // Whatever follows a damaged frame belongs to the same garbled
        // exchange: start over with a clean receiver.
        awaiting_ = Awaiting::Command;
        previousCommand_.reset();
        outcome = Nak();
        outcome.discardInput = true;
    } else {
        const auto payload = frame.first(frame.size() - kCrcLen);
        switch (std::exchange(awaiting_, Awaiting::Command)) {
        case Awaiting::Command:
            outcome = HandleCommand(payload[0]);
            break;
        case Awaiting::AddressHeader:
            outcome = HandleAddressHeader(payload);
            break;
        case Awaiting::ConfigData:
            outcome = HandleConfigData(payload);
            break;
        case Awaiting::LifeValue:
            outcome = HandleLifeValue(payload);
            break;
        case Awaiting::FirmwarePacket:
            outcome = HandleFirmwarePacket(payload);
            break;
        }
    }
    outcome.memoryChanged |= finished;
    return outcome;
}

Outcome DetectorSession::Refuse(std::span<const std::uint8_t> frame)
{
    if (!awake_) {
        // Asleep, the detector only ever answers a wake-up frame.
        const bool wakeUp = frame.size() == kCommandFrameLen && frame[0] == cmd::kCheck && FrameCrcValid(frame);
        return wakeUp ? Nak() : Outcome{};
    }
    outputs_.SwitchOff(Clock::now());
    // A refused 0x91 still tells the unit that the PC has moved on to the
    // next packet: the repeat that follows carries that one.
    if (firmware_.Open() && awaiting_ == Awaiting::Command && frame.size() == kCommandFrameLen &&
        frame[0] == cmd::kDataFrame && FrameCrcValid(frame))
        firmware_.Announce(false);
    awaiting_ = Awaiting::Command;
    previousCommand_.reset();
    return Nak();
}

Outcome DetectorSession::Lose(std::span<const std::uint8_t>)
{
    if (awake_)
        awaiting_ = Awaiting::Command;
    return {};
}

void DetectorSession::AbortFollowUp()
{
    if (awaiting_ == Awaiting::Command)
        return;
    awaiting_ = Awaiting::Command;
    previousCommand_.reset();
}

std::optional<DetectorSession::Clock::time_point> DetectorSession::NextDeadline() const
{
    return calibration_.Deadline();
}

bool DetectorSession::Advance(Clock::time_point now)
{
    return FinishCalibration(now);
}

void DetectorSession::Shutdown()
{
    outputs_.SwitchOff(Clock::now());
}

Outcome DetectorSession::HandleAsleep(std::span<const std::uint8_t> frame)
{
    // The receiver only listens for the wake-up frame; everything else,
    // damaged or not, goes unanswered.
    if (frame.size() != kCommandFrameLen || frame[0] != cmd::kCheck || !FrameCrcValid(frame))
        return {};
    if (++wakeCount_ < std::max(settings_.wakeFrames, 1))
        return {};
    awake_ = true;
    wakeCount_ = 0;
    // A download never spans two connections.
    firmware_.Abandon();
    return Ack();
}

Outcome DetectorSession::HandleCommand(std::uint8_t command)
{
    const auto& handlers = Handlers();
    const auto it = handlers.find(command);
    Outcome outcome = it == handlers.end() ? Nak() : (this->*(it->second))(command);
    previousCommand_ = command;
    return outcome;
}

Outcome DetectorSession::HandleAddressHeader(std::span<const std::uint8_t> payload)
{
    // count, 0x00, address high, address low
    const std::size_t count = payload[0];
    if (count == 0 || payload[1] != 0)
        return Nak();
    const std::size_t address = (std::size_t{payload[2]} << 8) | payload[3];
    header_ = AddressHeader{count, address};
    // Read straight away, this is a memory dump in packets of the count.
    SelectMemory(address, count);
    return Ack();
}

Outcome DetectorSession::HandleConfigData(std::span<const std::uint8_t> payload)
{
    if (!header_ || !model_.WriteConfig(header_->address, payload))
        return Nak();
    // The count was the size of the write, not a packet size for reading.
    SelectMemory(header_->address, settings_.blockPacketSize);
    return Changed(Ack());
}

Outcome DetectorSession::HandleLifeValue(std::span<const std::uint8_t> payload)
{
    model_.SetLife(ReadLe32(payload.data()));
    return Changed(Ack());
}

Outcome DetectorSession::HandleFirmwarePacket(std::span<const std::uint8_t> payload)
{
    return firmware_.Receive(payload) ? Ack() : Nak();
}

Outcome DetectorSession::Check(std::uint8_t)
{
    return Ack();
}

Outcome DetectorSession::Release(std::uint8_t)
{
    FallAsleep();
    return Ack();
}

Outcome DetectorSession::Identify(std::uint8_t)
{
    return RecordReply(model_.IdentityRecord());
}

Outcome DetectorSession::SelectUnit(std::uint8_t)
{
    const auto image = model_.ConfigImage();
    Select({image.begin(), image.begin() + DetectorModel::kBlockSize}, settings_.blockPacketSize);
    return Ack();
}

Outcome DetectorSession::SelectSensor(std::uint8_t)
{
    const auto image = model_.ConfigImage();
    Select({image.begin() + DetectorModel::kBlockSize, image.end()}, settings_.blockPacketSize);
    return Ack();
}

Outcome DetectorSession::SelectLog(std::uint8_t)
{
    Select(model_.EventLog(), settings_.blockPacketSize);
    return Ack();
}

Outcome DetectorSession::NextPacket(std::uint8_t)
{
    if (!selection_)
        return Nak();
    const std::size_t size = selection_->packetSize;
    std::vector<std::uint8_t> packet(size, kErased);
    const auto& bytes = selection_->bytes;
    for (std::size_t i = 0; i < size && selection_->next + i < bytes.size(); ++i)
        packet[i] = bytes[selection_->next + i];
    selection_->next += size;
    return Outcome{DataReply(packet)};
}

Outcome DetectorSession::AnnounceAddress(std::uint8_t)
{
    awaiting_ = Awaiting::AddressHeader;
    return Ack();
}

Outcome DetectorSession::AnnounceData(std::uint8_t)
{
    if (firmware_.Open()) {
        firmware_.Announce(false);
        awaiting_ = Awaiting::FirmwarePacket;
        return Ack();
    }
    // A configuration write needs an address header first, and its range
    // must stay inside the 128-byte image.
    if (!header_ || header_->address + header_->count > DetectorModel::kConfigSize)
        return Nak();
    awaiting_ = Awaiting::ConfigData;
    return Ack();
}

Outcome DetectorSession::AnnounceRepeat(std::uint8_t)
{
    if (!firmware_.Open())
        return Nak();
    firmware_.Announce(true);
    awaiting_ = Awaiting::FirmwarePacket;
    return Ack();
}

Outcome DetectorSession::AnnounceLife(std::uint8_t)
{
    awaiting_ = Awaiting::LifeValue;
    return Ack();
}

Outcome DetectorSession::LogSize(std::uint8_t)
{
    std::uint8_t size[4];
    WriteLe32(size, static_cast<std::uint32_t>(model_.EventLog().size()));
    return Outcome{DataReply(size)};
}

Outcome DetectorSession::LiveReading(std::uint8_t command)
{
    const auto mode = static_cast<LiveReadings::Mode>(command - cmd::kReadGas);
    return RecordReply(readings_.Read(mode, model_.SensorBlock(), HistoryFlags(), Clock::now()));
}

Outcome DetectorSession::Hibernate(std::uint8_t command)
{
    if (!model_.SuspendAllowed())
        return Refusal(command);
    FallAsleep();
    return Ack();
}

Outcome DetectorSession::LogReset(std::uint8_t)
{
    model_.ClearEventLog();
    return Changed(Ack());
}

Outcome DetectorSession::ResetUnit(std::uint8_t command)
{
    // A unit leaves the bench switched off only once it has been
    // calibrated.
    if ((model_.StatusFlags() & unitstatus::kCalibrated) == 0)
        return Refusal(command);
    console_ << "varnolite-sim: unit switched off until the next wake-up" << std::endl;
    FallAsleep();
    return Ack();
}

Outcome DetectorSession::FactoryReset(std::uint8_t)
{
    calibration_.Stop();
    model_.RestoreFactoryConfig();
    return Changed(Ack());
}

Outcome DetectorSession::UpgradeStart(std::uint8_t)
{
    firmware_.Start();
    return Ack();
}

Outcome DetectorSession::UpgradeExecute(std::uint8_t command)
{
    // Checked or not, the received image is used up: another try starts
    // over with 0x10.
    const bool open = firmware_.Open();
    const std::vector<std::uint8_t> received(firmware_.Received().begin(), firmware_.Received().end());
    const std::size_t packets = firmware_.PacketsReceived();
    firmware_.Abandon();
    if (!open) {
        console_ << "varnolite-sim: firmware refused: no download open" << std::endl;
        return Refusal(command);
    }
    if (settings_.refuseExecute) {
        console_ << "varnolite-sim: firmware refused as told (--execute-refuse)" << std::endl;
        return Refusal(command);
    }
    const ImageVerdict verdict = CheckImage(received, settings_.firmwareImageSize, model_.CurrentIdentity().model);
    if (verdict != ImageVerdict::Good) {
        console_ << "varnolite-sim: firmware refused: " << VerdictText(verdict) << " (" << packets << " packets, "
                 << received.size() << " bytes)" << std::endl;
        return Refusal(command);
    }
    const std::uint8_t version = received[image::kFirmwareAt];
    model_.TakeFirmware(version);
    console_ << "varnolite-sim: firmware " << VersionText(version) << " programmed" << std::endl;
    return Changed(Ack());
}

Outcome DetectorSession::TestOutput(std::uint8_t command)
{
    outputs_.SwitchOn(command, Clock::now());
    return Ack();
}

Outcome DetectorSession::SensorCommand(std::uint8_t command)
{
    // Sensor commands are only taken straight after the 0x50 that opens them.
    if (previousCommand_ != cmd::kSelectSensor)
        return Nak();
    switch (command) {
    case cmd::kZeroCalibration:
        return ZeroCalibration(command);
    case cmd::kSpanCalibration:
        return StartCalibration(command, SensorCalibration::Kind::Span);
    case cmd::kZeroSpanCalibration:
        return StartCalibration(command, SensorCalibration::Kind::ZeroSpan);
    case cmd::kStopCalibration:
        if (calibration_.Running())
            console_ << "varnolite-sim: calibration stopped" << std::endl;
        calibration_.Stop();
        return Ack();
    case cmd::kClearPeak:
        readings_.ClearPeak(Clock::now());
        return Ack();
    case cmd::kBumpFail:
        return RecordBump(false);
    case cmd::kBumpPass:
        return RecordBump(true);
    default:
        return Nak();
    }
}

Outcome DetectorSession::ZeroCalibration(std::uint8_t command)
{
    if (calibration_.Running() || ZeroRefused())
        return Refusal(command);
    RZELSensorCFG sensor = model_.SensorBlock();
    sensor.mZero = ZeroNow();
    model_.WriteSensorBlock(sensor);
    return Changed(Ack());
}

Outcome DetectorSession::StartCalibration(std::uint8_t command, SensorCalibration::Kind kind)
{
    // One calibration at a time; a zero-then-span cannot start in gas.
    if (calibration_.Running() || (kind == SensorCalibration::Kind::ZeroSpan && ZeroRefused()))
        return Refusal(command);
    pendingZero_ = ZeroNow();
    calibration_.Start(kind, Clock::now());
    console_ << "varnolite-sim: " << (kind == SensorCalibration::Kind::Span ? "span" : "zero and span")
             << " calibration running for " << settings_.calibrationTime.count() << " s" << std::endl;
    return Ack();
}

Outcome DetectorSession::RecordBump(bool passed)
{
    const auto now = Clock::now();
    RZELSensorCFG sensor = model_.SensorBlock();
    const std::uint32_t life = model_.Life();
    RZELEvent bump{};
    // Recorded as it ends: the test started its duration ago.
    bump.mStartEvent = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{life} + kBumpSeconds, event::kErasedStart - 1));
    bump.mDurationEvent = event::kBumpTestBit | kBumpSeconds;
    bump.mAlarmStatusFlag = 0;
    bump.mSensorReading = readings_.EventReading(sensor, now);
    model_.AppendEvent(bump);

    std::uint8_t flags = model_.StatusFlags();
    if (passed) {
        flags &= static_cast<std::uint8_t>(~unitstatus::kBumpFailed);
        // Only a passed test restarts the bump interval.
        sensor.mLastBump = life;
        model_.WriteSensorBlock(sensor);
    } else {
        flags |= unitstatus::kBumpFailed;
    }
    model_.SetStatusFlags(flags);
    return Changed(Ack());
}

bool DetectorSession::ZeroRefused() const
{
    const std::uint16_t deadZone = model_.SensorBlock().mDeadZone;
    return settings_.refuseZero || readings_.ConcentrationTenths(Clock::now()) > deadZone;
}

std::uint16_t DetectorSession::ZeroNow() const
{
    // Gas within the dead zone shifts the zero the cell is given.
    const double counts = kCellZero + readings_.ConcentrationTenths(Clock::now()) * 1000.0 / kCellSpan;
    return static_cast<std::uint16_t>(std::clamp(std::lround(counts), 0L, 0xFFFFL));
}

bool DetectorSession::FinishCalibration(Clock::time_point now)
{
    const auto result = calibration_.Finish(now);
    if (!result)
        return false;
    std::uint8_t flags = model_.StatusFlags();
    if (result->passed) {
        RZELSensorCFG sensor = model_.SensorBlock();
        sensor.mLastCal = model_.Life();
        sensor.mSpan = kCellSpan;
        if (result->kind == SensorCalibration::Kind::ZeroSpan)
            sensor.mZero = pendingZero_;
        model_.WriteSensorBlock(sensor);
        flags |= unitstatus::kCalibrated;
        flags &= static_cast<std::uint8_t>(~unitstatus::kCalibrationFailed);
    } else {
        flags |= unitstatus::kCalibrationFailed;
    }
    model_.SetStatusFlags(flags);
    console_ << "varnolite-sim: calibration " << (result->passed ? "done" : "failed") << std::endl;
    return true;
}

std::uint8_t DetectorSession::HistoryFlags() const
{
    const std::uint8_t status = model_.StatusFlags();
    std::uint8_t flags = 0;
    if (status & unitstatus::kCalibrationFailed)
        flags |= history::kCalibrationFail;
    if (status & unitstatus::kBumpFailed)
        flags |= history::kBumpTestFail;
    if (calibration_.Running())
        flags |= history::kCalibrationProgress;
    const RZELSensorCFG sensor = model_.SensorBlock();
    const std::uint32_t life = model_.Life();
    if (Overdue(sensor.mLastCal, life, sensor.mCalInterval))
        flags |= history::kCalibrationDue;
    if (Overdue(sensor.mLastBump, life, std::uint64_t{sensor.mBumpInterval} * zel::kDaySeconds))
        flags |= history::kBumpDue;
    return flags;
}

void DetectorSession::Select(std::vector<std::uint8_t> bytes, std::size_t packetSize)
{
    selection_ = Selection{std::move(bytes), std::max<std::size_t>(packetSize, 1), 0};
}

void DetectorSession::SelectMemory(std::size_t address, std::size_t packetSize)
{
    std::vector<std::uint8_t> memory = model_.MemorySnapshot();
    const std::size_t from = std::min(address, memory.size());
    Select({memory.begin() + static_cast<std::ptrdiff_t>(from), memory.end()}, packetSize);
}

void DetectorSession::FallAsleep()
{
    outputs_.SwitchOff(Clock::now());
    firmware_.Abandon();
    awake_ = false;
    wakeCount_ = 0;
    awaiting_ = Awaiting::Command;
    previousCommand_.reset();
    header_.reset();
    selection_.reset();
}

}  // namespace sim
