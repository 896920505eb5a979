#include "DetectorModel.h"

#include "Crc16.h"
#include "SimProtocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

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
constexpr std::size_t kSensorTypeAt = kSensorBlockAt + offsetof(RZELSensorCFG, mSensorType);

constexpr std::uint16_t kBumpTestBit = 0x8000;
constexpr std::uint8_t kLowAlarm = 0x04;
constexpr std::uint8_t kHighAlarm = 0x08;
constexpr std::int16_t kOverLimit = 0x7FFF;
constexpr std::uint32_t kHour = 3600;

// A short, plausible history: two bump tests with span gas and two alarms.
struct PastEvent {
    std::uint32_t age;  // seconds before the unit was first switched on here
    std::uint16_t duration;
    std::uint8_t flags;
    std::int16_t reading;
};
constexpr PastEvent kHistory[] = {
    {9 * zel::kDaySeconds, kBumpTestBit | 45, 0, 251},
    {6 * zel::kDaySeconds + 5 * kHour, 95, kLowAlarm, 124},
    {3 * zel::kDaySeconds + 2 * kHour, 310, kLowAlarm | kHighAlarm, kOverLimit},
    {1 * zel::kDaySeconds, kBumpTestBit | 60, 0, 248},
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t len)
{
    while (len > 0) {
        const ssize_t n = ::write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

DetectorModel DetectorModel::Fresh(const Identity& identity, std::uint32_t life)
{
    DetectorModel model;
    model.memory_.fill(kErased);
    model.WriteDefaultConfig(identity);
    model.lifeBase_ = life;
    model.lifeSince_ = Clock::now();
    model.WriteIdentity(identity);
    model.GenerateEventHistory();
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

    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0644);
    const bool written = WriteAll(fd, file.data(), file.size()) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot write state file " + path + ": " + std::strerror(written ? errno : savedErrno);
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
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
    std::fill_n(memory_.begin() + kLogAt, kLogSlots * sizeof(RZELEvent), kErased);
    Config()[offsetof(RZELUnitCFG, mPEventLog)] = 0;
    FixBlockCrcs();
}

void DetectorModel::RestoreFactoryConfig()
{
    WriteDefaultConfig(CurrentIdentity());
    // The life counter and the event log are not settings: they survive.
    Config()[offsetof(RZELUnitCFG, mPEventLog)] = static_cast<std::uint8_t>(EventCount());
    SyncLife();
}

bool DetectorModel::SuspendAllowed() const
{
    return Config()[kSuspendAt] == zel::kSuspendAllowed;
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

void DetectorModel::GenerateEventHistory()
{
    std::fill_n(memory_.begin() + kLogAt, kLogSlots * sizeof(RZELEvent), kErased);
    const std::uint32_t life = Life();
    std::uint16_t alarms = 0;
    std::uint32_t alarmTime = 0;
    std::size_t slot = 0;
    for (const PastEvent& past : kHistory) {
        RZELEvent event{};
        // Start times never lie before the unit's first day of service.
        event.mStartEvent = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(std::uint64_t{life} + past.age, zel::kFullLife));
        event.mDurationEvent = past.duration;
        event.mAlarmStatusFlag = past.flags;
        event.mSensorReading = past.reading;
        std::memcpy(memory_.data() + kLogAt + slot++ * sizeof event, &event, sizeof event);
        if ((past.duration & kBumpTestBit) == 0) {
            ++alarms;
            alarmTime += past.duration;
        }
    }
    WriteLe32(Config() + offsetof(RZELUnitCFG, mAlarmTime), alarmTime);
    WriteLe16(Config() + offsetof(RZELUnitCFG, mAlarmCount), alarms);
    Config()[offsetof(RZELUnitCFG, mPEventLog)] = static_cast<std::uint8_t>(slot);
    FixBlockCrcs();
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
    while (count < kLogSlots &&
           ReadLe32(memory_.data() + kLogAt + count * sizeof(RZELEvent)) != 0xFFFFFFFFu)
        ++count;
    return count;
}

}  // namespace sim
