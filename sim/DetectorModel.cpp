#include "DetectorModel.h"

#include "AtomicFile.h"
#include "Crc16.h"
#include "EventHistory.h"
#include "SimProtocol.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace sim {
namespace {

constexpr char kStateMagic[4] = {'V', 'S', 'I', 'M'};
constexpr std::uint16_t kStateVersion = 1;
constexpr std::uint8_t kErased = 0xFF;

constexpr std::size_t kSensorBlockAt = DetectorModel::kBlockSize;
constexpr std::size_t kBlockCrcAt = 62;
constexpr std::size_t kLifeAt = offsetof(RZELUnitCFG, mLifeRemaining);
constexpr std::size_t kSerialAt = offsetof(RZELUnitCFG, mSerial);
constexpr std::size_t kSerialLen = sizeof(RZELUnitCFG::mSerial);
constexpr std::size_t kHardwareAt = offsetof(RZELUnitCFG, mHWVersion);
constexpr std::size_t kFirmwareAt = offsetof(RZELUnitCFG, mFWVersion);
constexpr std::size_t kSuspendAt = offsetof(RZELUnitCFG, mAllowSuspend);
constexpr std::size_t kAlarmTimeAt = offsetof(RZELUnitCFG, mAlarmTime);
constexpr std::size_t kAlarmCountAt = offsetof(RZELUnitCFG, mAlarmCount);
constexpr std::size_t kEventPointerAt = offsetof(RZELUnitCFG, mPEventLog);
constexpr std::size_t kEventSize = sizeof(RZELEvent);
// Bits the status byte may hold; an erased byte has all of them and more.
constexpr std::uint8_t kStatusBits =
    unitstatus::kCalibrated | unitstatus::kCalibrationFailed | unitstatus::kBumpFailed;

}  // namespace

DetectorModel DetectorModel::Fresh(const Identity& identity, std::uint32_t life)
{
    DetectorModel model;
    model.memory_.fill(kErased);
    model.WriteDefaultConfig(identity);
    model.lifeBase_ = life;
    model.lifeSince_ = Clock::now();
    model.WriteIdentity(identity);
    model.SetStatusFlags(0);
    model.ReplaceEventLog(ShortHistory(model.Life()));
    model.SyncLife();
    return model;
}

std::optional<DetectorModel> DetectorModel::Load(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open state file " + path;
        return std::nullopt;
    }
    std::vector<char> bytes(kStateFileSize + 1);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::size_t>(in.gcount()) != kStateFileSize) {
        error = "state file " + path + " is not " + std::to_string(kStateFileSize) + " bytes long";
        return std::nullopt;
    }
    const auto* raw = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (std::memcmp(raw, kStateMagic, sizeof kStateMagic) != 0 || ReadLe16(raw + 4) != kStateVersion) {
        error = "state file " + path + " is not a detector state (version 1)";
        return std::nullopt;
    }
    DetectorModel model;
    std::copy_n(raw + kStateHeaderSize, kMemorySize, model.memory_.begin());
    model.lifeBase_ = ReadLe32(model.Config() + kLifeAt);
    model.lifeSince_ = Clock::now();
    model.SyncLife();
    return model;
}

bool DetectorModel::Save(const std::string& path, std::string& error)
{
    SyncLife();
    std::array<std::uint8_t, kStateFileSize> file{};
    std::copy(std::begin(kStateMagic), std::end(kStateMagic), file.begin());
    WriteLe16(file.data() + 4, kStateVersion);
    std::copy(memory_.begin(), memory_.end(), file.begin() + kStateHeaderSize);

    if (!WriteFileWhole(path, file, error)) {
        error = "state file: " + error;
        return false;
    }
    return true;
}

void DetectorModel::ApplyOverrides(const IdentityOverrides& overrides)
{
    Identity identity = CurrentIdentity();
    if (overrides.model)
        identity.model = *overrides.model;
    // A different sensor fitted: the sensor block still says what it was
    // made for, so the tool can notice the mismatch.
    if (overrides.sensor)
        identity.sensor = *overrides.sensor;
    if (overrides.hardware)
        identity.hardware = *overrides.hardware;
    if (overrides.firmware)
        identity.firmware = *overrides.firmware;
    if (overrides.serial)
        identity.serial = *overrides.serial;
    WriteIdentity(identity);
    std::copy(identity.serial.begin(), identity.serial.end(), Config() + kSerialAt);
    Config()[kHardwareAt] = identity.hardware;
    Config()[kFirmwareAt] = identity.firmware;
    FixBlockCrcs();
}

std::uint32_t DetectorModel::Life() const
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - lifeSince_).count();
    if (elapsed <= 0)
        return lifeBase_;
    return static_cast<std::uint64_t>(elapsed) >= lifeBase_ ? 0 : lifeBase_ - static_cast<std::uint32_t>(elapsed);
}

void DetectorModel::SetLife(std::uint32_t life)
{
    lifeBase_ = life;
    lifeSince_ = Clock::now();
    SyncLife();
}

Identity DetectorModel::CurrentIdentity() const
{
    const RZELIdenty record = IdentityRecord();
    Identity identity;
    identity.model = record.mPID;
    identity.hardware = record.mHW;
    identity.firmware = record.mSW;
    identity.sensor = record.mSensor;
    std::copy(std::begin(record.mSerial), std::end(record.mSerial), identity.serial.begin());
    return identity;
}

RZELIdenty DetectorModel::IdentityRecord() const
{
    RZELIdenty record;
    std::memcpy(&record, memory_.data() + kIdentityAt, sizeof record);
    record.mLife = Life();
    return record;
}

std::array<std::uint8_t, DetectorModel::kConfigSize> DetectorModel::ConfigImage()
{
    SyncLife();
    std::array<std::uint8_t, kConfigSize> image{};
    std::copy_n(Config(), kConfigSize, image.begin());
    return image;
}

bool DetectorModel::WriteConfig(std::size_t offset, std::span<const std::uint8_t> bytes)
{
    if (offset > kConfigSize || bytes.size() > kConfigSize - offset)
        return false;
    SyncLife();
    std::copy(bytes.begin(), bytes.end(), Config() + offset);
    const std::size_t end = offset + bytes.size();
    const auto touches = [&](std::size_t at, std::size_t len) { return offset < at + len && at < end; };
    // The image is the unit's own memory: writing its life, serial or
    // hardware version changes what the unit reports about itself.
    if (touches(kLifeAt, 4))
        SetLife(ReadLe32(Config() + kLifeAt));
    Identity identity = CurrentIdentity();
    std::copy_n(Config() + kSerialAt, kSerialLen, identity.serial.begin());
    identity.hardware = Config()[kHardwareAt];
    WriteIdentity(identity);
    FixBlockCrcs();
    return true;
}

std::vector<std::uint8_t> DetectorModel::MemorySnapshot()
{
    SyncLife();
    return {memory_.begin(), memory_.end()};
}

std::vector<std::uint8_t> DetectorModel::EventLog() const
{
    const auto begin = memory_.begin() + kLogAt;
    return {begin, begin + static_cast<std::ptrdiff_t>(EventCount() * sizeof(RZELEvent))};
}

void DetectorModel::ClearEventLog()
{
    WriteEvents({});
}

void DetectorModel::ReplaceEventLog(const std::vector<RZELEvent>& events)
{
    const std::vector<RZELEvent> kept(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(
                                                                          std::min(events.size(), kLogSlots)));
    const AlarmTotals totals = TotalsOf(kept);
    WriteLe16(Config() + kAlarmCountAt, totals.count);
    WriteLe32(Config() + kAlarmTimeAt, totals.seconds);
    WriteEvents(kept);
}

void DetectorModel::AppendEvent(const RZELEvent& event)
{
    std::vector<RZELEvent> events = Events();
    if (events.size() >= kLogSlots) {
        const auto oldest = std::max_element(events.begin(), events.end(), [](const RZELEvent& a, const RZELEvent& b) {
            return a.mStartEvent < b.mStartEvent;
        });
        events.erase(oldest);
    }
    events.push_back(event);
    WriteEvents(events);
}

void DetectorModel::RestoreFactoryConfig()
{
    WriteDefaultConfig(CurrentIdentity());
    // The life counter and the event log are not settings: they survive.
    Config()[kEventPointerAt] = static_cast<std::uint8_t>(EventCount());
    SetStatusFlags(0);
    SyncLife();
}

bool DetectorModel::SuspendAllowed() const
{
    return Config()[kSuspendAt] == zel::kSuspendAllowed;
}

RZELUnitCFG DetectorModel::UnitBlock() const
{
    RZELUnitCFG block;
    std::memcpy(&block, Config(), sizeof block);
    return block;
}

RZELSensorCFG DetectorModel::SensorBlock() const
{
    RZELSensorCFG block;
    std::memcpy(&block, Config() + kSensorBlockAt, sizeof block);
    return block;
}

void DetectorModel::WriteUnitBlock(const RZELUnitCFG& block)
{
    std::memcpy(Config(), &block, sizeof block);
    SyncLife();
}

void DetectorModel::WriteSensorBlock(const RZELSensorCFG& block)
{
    std::memcpy(Config() + kSensorBlockAt, &block, sizeof block);
    FixBlockCrcs();
}

void DetectorModel::TakeFirmware(std::uint8_t version)
{
    Identity identity = CurrentIdentity();
    identity.firmware = version;
    WriteIdentity(identity);
    Config()[kFirmwareAt] = version;
    FixBlockCrcs();
}

std::uint8_t DetectorModel::StatusFlags() const
{
    const std::uint8_t stored = memory_[kStatusAt];
    // An erased byte (a state saved before the unit kept one) records nothing.
    return (stored & ~kStatusBits) != 0 ? 0 : stored;
}

void DetectorModel::SetStatusFlags(std::uint8_t flags)
{
    memory_[kStatusAt] = flags & kStatusBits;
}

void DetectorModel::WriteDefaultConfig(const Identity& identity)
{
    RZELCFG cfg = DefaultConfig();
    std::copy(identity.serial.begin(), identity.serial.end(), cfg.mUnit.mSerial);
    cfg.mUnit.mHWVersion = identity.hardware;
    cfg.mUnit.mFWVersion = identity.firmware;
    cfg.mSensor.mSensorType = identity.sensor;
    std::memcpy(Config(), &cfg, sizeof cfg);
    FixBlockCrcs();
}

void DetectorModel::WriteIdentity(const Identity& identity)
{
    RZELIdenty record{};
    record.mPID = identity.model;
    record.mHW = identity.hardware;
    record.mSW = identity.firmware;
    record.mSensor = identity.sensor;
    record.mLife = Life();
    std::copy(identity.serial.begin(), identity.serial.end(), record.mSerial);
    std::memcpy(memory_.data() + kIdentityAt, &record, sizeof record);
}

void DetectorModel::SyncLife()
{
    const std::uint32_t life = Life();
    WriteLe32(Config() + kLifeAt, life);
    WriteLe32(memory_.data() + kIdentityAt + offsetof(RZELIdenty, mLife), life);
    FixBlockCrcs();
}

void DetectorModel::FixBlockCrcs()
{
    for (std::size_t block = 0; block < kConfigSize; block += kBlockSize) {
        std::uint8_t* p = Config() + block;
        WriteLe16(p + kBlockCrcAt, crc16::Compute(p, kBlockCrcAt));
    }
}

std::size_t DetectorModel::EventCount() const
{
    std::size_t count = 0;
    while (count < kLogSlots && ReadLe32(memory_.data() + kLogAt + count * kEventSize) != event::kErasedStart)
        ++count;
    return count;
}

std::vector<RZELEvent> DetectorModel::Events() const
{
    std::vector<RZELEvent> events(EventCount());
    for (std::size_t i = 0; i < events.size(); ++i)
        std::memcpy(&events[i], memory_.data() + kLogAt + i * kEventSize, kEventSize);
    return events;
}

void DetectorModel::WriteEvents(const std::vector<RZELEvent>& events)
{
    std::fill_n(memory_.begin() + kLogAt, kLogSlots * kEventSize, kErased);
    const std::size_t count = std::min(events.size(), kLogSlots);
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(memory_.data() + kLogAt + i * kEventSize, &events[i], kEventSize);
    Config()[kEventPointerAt] = static_cast<std::uint8_t>(count);
    FixBlockCrcs();
}

}  // namespace sim
