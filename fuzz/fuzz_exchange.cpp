// The exchange engine and every command built on it, fed arbitrary replies
// through a line in memory: replies split across reads, garbage before a
// reply, short and long replies, wrong CRCs, silence. Whatever comes back,
// each command ends with one of the link's status codes, buffers keep their
// bounds, and nothing reads or writes past them.
#include <cstdint>
#include <cstring>
#include <memory>

#include "LineScript.h"
#include "LocalZone.h"
#include "ZelComms.h"

namespace {

bool KnownStatus(std::uint8_t status)
{
    switch (status) {
    case 0: case 147: case 149: case 160: case 161: case 162: case 176: case 177: case 178: case 192:
        return true;
    default:
        return false;
    }
}

void Check(std::uint8_t status)
{
    if (!KnownStatus(status))
        __builtin_trap();
}

void CheckBuffer(const RComZELReadBuf& buf)
{
    if (buf.mData < 0 || buf.mData > RComZELReadBuf::kCapacity)
        __builtin_trap();
}

// A dump holds what arrived, plus one erased packet after a whole read.
void CheckDump(const RZELMemoryDump& dump, std::uint16_t packet)
{
    const auto held = static_cast<std::int64_t>(dump.mBuf.size());
    if (dump.mData < 0 || (held != dump.mData && held != dump.mData + packet))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool zonePinned = PinLocalZone();
    (void)zonePinned;
    auto script = std::make_shared<TLineScript>(data, size);
    auto channel = std::make_unique<TMemoryChannel>([script](const std::vector<std::uint8_t>&) { return script->Next(); });
    TComZEL link;
    std::size_t traced = 0;
    link.SetOnZELEvent([&traced](TComZEL*, const QDateTime&, const QString& log) { traced += static_cast<std::size_t>(log.size()); });
    link.SetChannel(std::move(channel));
    link.ComOpen("memory");

    // The first input byte chooses the block packet size, as the settings do.
    const std::uint16_t packet = size > 0 ? static_cast<std::uint16_t>(1 + data[0] % 128) : 32;
    Check(link.ConnectZEL(0.02f));
    RZELIdenty identity{};
    Check(link.RequireIdenty(identity));
    RZELUnitCFG unit{};
    Check(link.ReadUnitCFGData(unit, packet, 64));
    RZELSensorCFG sensor{};
    Check(link.ReadSensorCFGData(sensor, 32, 64));
    RComZELReadBuf log;
    Check(link.LoadLog(log, packet));
    CheckBuffer(log);
    RZELMemoryDump dump;
    Check(link.ReadEEPROMData(dump, packet, 0, 1024));
    CheckDump(dump, packet);
    const RComZELReadBuf image = PackConfigImage(DefaultConfig());
    Check(link.WriteCFGData(image, 64, 10));
    Check(link.WriteCFGTimeData(63071999));
    RComZELReadBuf frame;
    frame.mData = 128;
    Check(link.UpgradeData(1, frame));
    RZELSensor reading{};
    Check(link.RequireSensor(reading, 0));
    Check(link.SensorCalibration(0x42));
    link.CloseUSB(0);
    return 0;
}
