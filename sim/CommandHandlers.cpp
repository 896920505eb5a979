#include "CommandHandlers.h"

#include "SimProtocol.h"

#include <algorithm>
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

}  // namespace

DetectorSession::DetectorSession(DetectorModel& model, LiveReadings& readings, int wakeFrames)
    : model_(model), readings_(readings), wakeFrames_(std::max(wakeFrames, 1))
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
            {cmd::kLifeValue, &DetectorSession::AnnounceLife},
            {cmd::kLogSize, &DetectorSession::LogSize},
            {cmd::kReadGas, &DetectorSession::LiveReading},
            {cmd::kReadTemperature, &DetectorSession::LiveReading},
            {cmd::kReadBattery, &DetectorSession::LiveReading},
            {cmd::kHibernate, &DetectorSession::Hibernate},
            {cmd::kLogReset, &DetectorSession::LogReset},
            {cmd::kResetUnit, &DetectorSession::ResetUnit},
            {cmd::kFactoryReset, &DetectorSession::FactoryReset},
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
    }
    return kCommandFrameLen;
}

Outcome DetectorSession::Handle(std::span<const std::uint8_t> frame)
{
    if (!awake_)
        return HandleAsleep(frame);
    if (frame.size() != ExpectedLength() || !FrameCrcValid(frame)) {
        // Whatever follows a damaged frame belongs to the same garbled
        // exchange: start over with a clean receiver.
        awaiting_ = Awaiting::Command;
        previousCommand_.reset();
        Outcome outcome = Nak();
        outcome.discardInput = true;
        return outcome;
    }
    const auto payload = frame.first(frame.size() - kCrcLen);
    const Awaiting awaiting = std::exchange(awaiting_, Awaiting::Command);
    switch (awaiting) {
    case Awaiting::Command:
        return HandleCommand(payload[0]);
    case Awaiting::AddressHeader:
        return HandleAddressHeader(payload);
    case Awaiting::ConfigData:
        return HandleConfigData(payload);
    case Awaiting::LifeValue:
        return HandleLifeValue(payload);
    }
    return Nak();
}

Outcome DetectorSession::Refuse(std::span<const std::uint8_t> frame)
{
    if (!awake_) {
        // Asleep, the detector only ever answers a wake-up frame.
        const bool wakeUp = frame.size() == kCommandFrameLen && frame[0] == cmd::kCheck && FrameCrcValid(frame);
        return wakeUp ? Nak() : Outcome{};
    }
    awaiting_ = Awaiting::Command;
    previousCommand_.reset();
    return Nak();
}

Outcome DetectorSession::HandleAsleep(std::span<const std::uint8_t> frame)
{
    // The receiver only listens for the wake-up frame; everything else,
    // damaged or not, goes unanswered.
    if (frame.size() != kCommandFrameLen || frame[0] != cmd::kCheck || !FrameCrcValid(frame))
        return {};
    if (++wakeCount_ < wakeFrames_)
        return {};
    awake_ = true;
    wakeCount_ = 0;
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
    packetSize_ = count;
    SelectMemory(address);
    return Ack();
}

Outcome DetectorSession::HandleConfigData(std::span<const std::uint8_t> payload)
{
    if (!header_ || !model_.WriteConfig(header_->address, payload))
        return Nak();
    SelectMemory(header_->address);
    return Changed(Ack());
}

Outcome DetectorSession::HandleLifeValue(std::span<const std::uint8_t> payload)
{
    model_.SetLife(ReadLe32(payload.data()));
    return Changed(Ack());
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
    Select({image.begin(), image.begin() + DetectorModel::kBlockSize});
    return Ack();
}

Outcome DetectorSession::SelectSensor(std::uint8_t)
{
    const auto image = model_.ConfigImage();
    Select({image.begin() + DetectorModel::kBlockSize, image.end()});
    return Ack();
}

Outcome DetectorSession::SelectLog(std::uint8_t)
{
    Select(model_.EventLog());
    return Ack();
}

Outcome DetectorSession::NextPacket(std::uint8_t)
{
    if (!selection_)
        return Nak();
    std::vector<std::uint8_t> packet(packetSize_, kErased);
    const auto& bytes = selection_->bytes;
    for (std::size_t i = 0; i < packetSize_ && selection_->next + i < bytes.size(); ++i)
        packet[i] = bytes[selection_->next + i];
    selection_->next += packetSize_;
    return Outcome{DataReply(packet)};
}

Outcome DetectorSession::AnnounceAddress(std::uint8_t)
{
    awaiting_ = Awaiting::AddressHeader;
    return Ack();
}

Outcome DetectorSession::AnnounceData(std::uint8_t)
{
    // A configuration write needs an address header first, and its range
    // must stay inside the 128-byte image.
    if (!header_ || header_->address + header_->count > DetectorModel::kConfigSize)
        return Nak();
    awaiting_ = Awaiting::ConfigData;
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
    return RecordReply(readings_.Read(mode));
}

Outcome DetectorSession::Hibernate(std::uint8_t command)
{
    // Refused units answer with the command byte itself, which is neither
    // ACK nor NAK.
    if (!model_.SuspendAllowed())
        return Outcome{StatusReply(command)};
    FallAsleep();
    return Ack();
}

Outcome DetectorSession::LogReset(std::uint8_t)
{
    model_.ClearEventLog();
    return Changed(Ack());
}

Outcome DetectorSession::ResetUnit(std::uint8_t)
{
    // The unit restarts and is back to sleep until woken again.
    FallAsleep();
    return Ack();
}

Outcome DetectorSession::FactoryReset(std::uint8_t)
{
    model_.RestoreFactoryConfig();
    return Changed(Ack());
}

Outcome DetectorSession::TestOutput(std::uint8_t)
{
    return Ack();
}

Outcome DetectorSession::SensorCommand(std::uint8_t)
{
    // Sensor commands are only taken straight after the 0x50 that opens them.
    return previousCommand_ == cmd::kSelectSensor ? Ack() : Nak();
}

void DetectorSession::Select(std::vector<std::uint8_t> bytes)
{
    selection_ = Selection{std::move(bytes), 0};
}

void DetectorSession::SelectMemory(std::size_t address)
{
    std::vector<std::uint8_t> memory = model_.MemorySnapshot();
    const std::size_t from = std::min(address, memory.size());
    Select({memory.begin() + static_cast<std::ptrdiff_t>(from), memory.end()});
}

void DetectorSession::FallAsleep()
{
    awake_ = false;
    wakeCount_ = 0;
    awaiting_ = Awaiting::Command;
    previousCommand_.reset();
    packetSize_ = kDefaultPacketSize;
    header_.reset();
    selection_.reset();
}

}  // namespace sim
