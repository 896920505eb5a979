#include "SimOptions.h"

#include "GasSource.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <string_view>

namespace sim {
namespace {

template <typename T>
bool ParseInteger(std::string_view text, T low, T high, T& out)
{
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool ParseDecimal(std::string_view text, double low, double high, double& out)
{
    // from_chars for double is not in every standard library here; strtod
    // on a copy, checked to the last character, does the same.
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || !std::isfinite(value) || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool ParseRate(std::string_view text, double& out)
{
    return ParseDecimal(text, 0.0, 1.0, out);
}

bool IsSerialChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}

// Up to ten characters 0-9 and A-Z, padded on the right with '0' as the
// unit stores it.
bool ParseSerial(std::string_view text, std::array<char, 10>& out)
{
    if (text.empty() || text.size() > out.size())
        return false;
    for (char c : text)
        if (!IsSerialChar(c))
            return false;
    out.fill('0');
    std::copy(text.begin(), text.end(), out.begin());
    return true;
}

bool ParseByte(std::string_view text, std::optional<std::uint8_t>& out)
{
    unsigned value = 0;
    if (!ParseInteger<unsigned>(text, 0, 255, value))
        return false;
    out = static_cast<std::uint8_t>(value);
    return true;
}

bool ParseByte(std::string_view text, std::uint8_t& out)
{
    std::optional<std::uint8_t> value;
    if (!ParseByte(text, value))
        return false;
    out = *value;
    return true;
}

template <typename T>
bool ParseSize(std::string_view text, T low, T high, std::size_t& out)
{
    T value{};
    if (!ParseInteger<T>(text, low, high, value))
        return false;
    out = static_cast<std::size_t>(value);
    return true;
}

constexpr unsigned kMaxRefusalsOfAPacket = 1000;

// K or K:TIMES
bool ParseRefusal(std::string_view text, PacketRefusal& out)
{
    const auto colon = text.find(':');
    unsigned packet = 0;
    unsigned times = 1;
    if (!ParseInteger<unsigned>(text.substr(0, colon), 0, image::kMaxSize - 1, packet))
        return false;
    if (colon != std::string_view::npos &&
        !ParseInteger<unsigned>(text.substr(colon + 1), 1, kMaxRefusalsOfAPacket, times))
        return false;
    out = PacketRefusal{packet, static_cast<int>(times)};
    return true;
}

template <typename Options>
struct ValueRule {
    std::function<bool(std::string_view, Options&)> set;
    const char* expected;
};

template <typename Options>
using ValueRules = std::map<std::string_view, ValueRule<Options>>;
template <typename Options>
using FlagRules = std::map<std::string_view, std::function<void(Options&)>>;

const ValueRules<SimOptions>& SimValueOptions()
{
    static const ValueRules<SimOptions> options{
        {"--link", {[](auto v, auto& o) { o.linkPath = v; return !v.empty(); }, "a path"}},
        {"--state", {[](auto v, auto& o) { o.statePath = v; return !v.empty(); }, "a path"}},
        {"--units", {[](auto v, auto& o) { return ParseInteger<int>(v, 1, 64, o.units); }, "a count 1..64"}},
        {"--refuse-writes",
         {[](auto v, auto& o) {
              int unit = 0;
              if (!ParseInteger<int>(v, 1, 64, unit))
                  return false;
              o.refusingUnits.push_back(unit);
              return true;
          },
          "a unit number 1..64"}},
        {"--control", {[](auto v, auto& o) { o.controlPath = v; return !v.empty(); }, "a path"}},
        {"--record", {[](auto v, auto& o) { o.recordPath = v; return !v.empty(); }, "a path"}},
        {"--serial",
         {[](auto v, auto& o) {
              std::array<char, 10> serial{};
              if (!ParseSerial(v, serial))
                  return false;
              o.identity.serial = serial;
              return true;
          },
          "1 to 10 characters 0-9 or A-Z"}},
        {"--sensor", {[](auto v, auto& o) { return ParseByte(v, o.identity.sensor); }, "a sensor code 0..255"}},
        {"--model", {[](auto v, auto& o) { return ParseByte(v, o.identity.model); }, "a product id 0..255"}},
        {"--fw", {[](auto v, auto& o) { return ParseByte(v, o.identity.firmware); }, "a version byte 0..255"}},
        {"--hw", {[](auto v, auto& o) { return ParseByte(v, o.identity.hardware); }, "a version byte 0..255"}},
        {"--life",
         {[](auto v, auto& o) {
              std::uint32_t life = 0;
              if (!ParseInteger<std::uint32_t>(v, 0, zel::kFullLife, life))
                  return false;
              o.life = life;
              return true;
          },
          "seconds 0..63072000"}},
        {"--events",
         {[](auto v, auto& o) {
              std::size_t events = 0;
              if (!ParseSize<unsigned>(v, 0, DetectorModel::kLogSlots, events))
                  return false;
              o.events = events;
              return true;
          },
          "a count 0..85"}},
        {"--baud", {[](auto v, auto& o) { return ParseInteger<std::uint32_t>(v, 0, 4'000'000, o.baud); }, "0..4000000"}},
        {"--turnaround",
         {[](auto v, auto& o) {
              double ms = 0.0;
              if (!ParseDecimal(v, 0.0, 1000.0, ms))
                  return false;
              o.turnaround = std::chrono::microseconds(std::llround(ms * 1000.0));
              return true;
          },
          "milliseconds 0..1000, e.g. 0.3 or 2"}},
        {"--drop-rate", {[](auto v, auto& o) { return ParseRate(v, o.dropRate); }, "a probability 0..1"}},
        {"--corrupt-rate", {[](auto v, auto& o) { return ParseRate(v, o.corruptRate); }, "a probability 0..1"}},
        {"--nak-rate", {[](auto v, auto& o) { return ParseRate(v, o.nakRate); }, "a probability 0..1"}},
        {"--split-rate", {[](auto v, auto& o) { return ParseRate(v, o.splitRate); }, "a probability 0..1"}},
        {"--stray-rate", {[](auto v, auto& o) { return ParseRate(v, o.strayRate); }, "a probability 0..1"}},
        {"--wake-frames",
         {[](auto v, auto& o) { return ParseInteger<int>(v, 1, 100000, o.session.wakeFrames); }, "1..100000"}},
        {"--unplug-after",
         {[](auto v, auto& o) {
              std::uint64_t n = 0;
              if (!ParseInteger<std::uint64_t>(v, 1, UINT64_MAX, n))
                  return false;
              o.unplugAfter = n;
              return true;
          },
          "a count of 1 or more"}},
        {"--seed", {[](auto v, auto& o) { return ParseInteger<std::uint32_t>(v, 0, UINT32_MAX, o.seed); }, "0..4294967295"}},
        {"--packet-size",
         {[](auto v, auto& o) { return ParseSize<unsigned>(v, 1, 128, o.session.blockPacketSize); }, "bytes 1..128"}},
        {"--fw-packet-size",
         {[](auto v, auto& o) { return ParseSize<unsigned>(v, 1, 256, o.session.firmwarePacketSize); },
          "bytes 1..256"}},
        {"--fw-image-size",
         {[](auto v, auto& o) {
              return ParseSize<unsigned>(v, image::kHeaderSize, image::kMaxSize, o.session.firmwareImageSize);
          },
          "bytes 7..65536"}},
        {"--nak-packet",
         {[](auto v, auto& o) {
              PacketRefusal refusal;
              if (!ParseRefusal(v, refusal))
                  return false;
              o.session.firmwareRefusals.push_back(refusal);
              return true;
          },
          "a packet number K or K:TIMES (TIMES 1..1000)"}},
        {"--gas",
         {[](auto v, auto& o) {
              o.gasGiven = true;
              return ParseDecimal(v, -GasSource::kMaxMagnitude, GasSource::kMaxMagnitude, o.gas);
          },
          "a concentration in the gas unit, e.g. 25 or 12.5"}},
        {"--gas-script", {[](auto v, auto& o) { o.gasScriptPath = v; return !v.empty(); }, "a path"}},
        {"--gas-control", {[](auto v, auto& o) { o.gasControlPath = v; return !v.empty(); }, "a path"}},
        {"--gas-t90", {[](auto v, auto& o) { return ParseDecimal(v, 0.0, 3600.0, o.gasT90); }, "seconds 0..3600"}},
        {"--noise", {[](auto v, auto& o) { return ParseInteger<int>(v, 0, 1000, o.noiseTenths); }, "tenths 0..1000"}},
        {"--gas-decimals", {[](auto v, auto& o) { return ParseInteger<int>(v, 0, 3, o.gasDecimals); }, "0..3"}},
        {"--cal-seconds",
         {[](auto v, auto& o) {
              int seconds = 0;
              if (!ParseInteger<int>(v, 1, 86400, seconds))
                  return false;
              o.session.calibrationTime = std::chrono::seconds{seconds};
              return true;
          },
          "seconds 1..86400"}},
    };
    return options;
}

const FlagRules<SimOptions>& SimFlagOptions()
{
    static const FlagRules<SimOptions> flags{
        {"--help", [](auto& o) { o.help = true; }},
        {"-h", [](auto& o) { o.help = true; }},
        {"--execute-refuse", [](auto& o) { o.session.refuseExecute = true; }},
        {"--zero-refuse", [](auto& o) { o.session.refuseZero = true; }},
        {"--cal-fail", [](auto& o) { o.session.calibrationFails = true; }},
    };
    return flags;
}

const ValueRules<MakeImageOptions>& MakeImageValueOptions()
{
    static const ValueRules<MakeImageOptions> options{
        {"--out", {[](auto v, auto& o) { o.outPath = v; return !v.empty(); }, "a path"}},
        {"--model", {[](auto v, auto& o) { return ParseByte(v, o.header.model); }, "a product id 0..255"}},
        {"--fw", {[](auto v, auto& o) { return ParseByte(v, o.header.firmware); }, "a version byte 0..255"}},
        {"--hw", {[](auto v, auto& o) { return ParseByte(v, o.header.hardware); }, "a version byte 0..255"}},
        {"--min-fw", {[](auto v, auto& o) { return ParseByte(v, o.header.minFirmware); }, "a version byte 0..255"}},
        {"--min-hw", {[](auto v, auto& o) { return ParseByte(v, o.header.minHardware); }, "a version byte 0..255"}},
        {"--size",
         {[](auto v, auto& o) { return ParseSize<unsigned>(v, image::kHeaderSize, image::kMaxSize, o.size); },
          "bytes 7..65536"}},
        {"--seed", {[](auto v, auto& o) { return ParseInteger<std::uint32_t>(v, 0, UINT32_MAX, o.seed); }, "0..4294967295"}},
    };
    return options;
}

const FlagRules<MakeImageOptions>& MakeImageFlagOptions()
{
    static const FlagRules<MakeImageOptions> flags{
        {"--help", [](auto& o) { o.help = true; }},
        {"-h", [](auto& o) { o.help = true; }},
    };
    return flags;
}

// "--name value" or "--name=value" for value options, "--name" for flags.
template <typename Options>
bool Parse(int first, int argc, char** argv, const ValueRules<Options>& values, const FlagRules<Options>& flags,
           Options& options, std::string& error)
{
    for (int i = first; i < argc; ++i) {
        const std::string_view given = argv[i];
        std::string_view arg = given;
        if (const auto flag = flags.find(arg); flag != flags.end()) {
            flag->second(options);
            continue;
        }
        std::string_view value;
        bool haveValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            haveValue = true;
        }
        const auto it = values.find(arg);
        if (it == values.end()) {
            error = flags.count(arg) ? std::string(arg) + " takes no value: " + std::string(given)
                                     : "unknown option " + std::string(arg);
            return false;
        }
        if (!haveValue) {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value (" + it->second.expected + ")";
                return false;
            }
            value = argv[++i];
        }
        if (!it->second.set(value, options)) {
            error = "bad value '" + std::string(value) + "' for " + std::string(arg) + ": expected " +
                    it->second.expected;
            return false;
        }
    }
    return true;
}

}  // namespace

Identity SimOptions::FreshIdentity() const
{
    Identity id;
    id.model = identity.model.value_or(id.model);
    id.hardware = identity.hardware.value_or(id.hardware);
    id.firmware = identity.firmware.value_or(id.firmware);
    id.sensor = identity.sensor.value_or(id.sensor);
    id.serial = identity.serial.value_or(id.serial);
    return id;
}

bool ParseOptions(int argc, char** argv, SimOptions& options, std::string& error)
{
    return Parse(1, argc, argv, SimValueOptions(), SimFlagOptions(), options, error);
}

bool ParseMakeImageOptions(int argc, char** argv, MakeImageOptions& options, std::string& error)
{
    if (!Parse(2, argc, argv, MakeImageValueOptions(), MakeImageFlagOptions(), options, error))
        return false;
    if (!options.help && options.outPath.empty()) {
        error = "make-image needs --out FILE";
        return false;
    }
    return true;
}

const char* UsageText()
{
    return R"(Usage: varnolite-sim [options]
       varnolite-sim make-image --out FILE [image options]   (see make-image --help)
A simulated Varnolite detector behind a Beamdock adapter, served on a
pseudo-terminal. Runs until SIGINT or SIGTERM.

Line:
  --link PATH          make PATH a symbolic link to the simulated port and
                       print it (without it the pseudo-terminal's own path is
                       printed)
  --baud N             delay every reply by its wire time at N baud (10 bits a
                       byte). 0 = no wire time (default)
  --turnaround MS      from the end of a frame to the start of its answer,
                       in milliseconds 0..1000 (default 0.3). Every frame is
                       answered, each wake-up frame too, however many wait
  --record FILE        append "RX .."/"TX .." lines, one per received frame and
                       per reply, in upper-case hex
  --units N            serve N units at once, 1..64 (default 1), each on a
                       pseudo-terminal of its own, answering on its own
                       thread. With N > 1 unit K (1..N) uses PATH-K for
                       --link, FILE-K for --state and --record, and the
                       serial number of --serial (default SH10000123) plus
                       K-1 (SH10000123, SH10000124, ...); one port path a
                       line is printed, in unit order
  --control FIFO       create the named pipe FIFO (removed at exit) and take
                       lines from it, each acknowledged by a line on
                       standard output once done:
                         away K            unit K is taken away from its
                                           adapter: it hears nothing and
                                           answers nothing ("unit K away")
                         front K [SERIAL]  a unit is put in front of adapter
                                           K again: with SERIAL a fresh unit
                                           with that serial number (its
                                           state replaces the old unit's
                                           file), without it the unit taken
                                           away ("unit K front SERIAL")
                       Bad lines are reported on standard error and ignored
  --packet-size N      bytes per 0x81 packet of a unit block, sensor block or
                       event log read, 1..128 (default 32); an EEPROM read uses
                       the count of its address header instead

Detector:
  --state FILE         the detector's memory (configuration, life, event log,
                       identity, calibration and bump status); loaded at start
                       when present, saved after every change
  --serial TEXT        serial number, up to 10 of 0-9 A-Z (default SH10000123)
  --sensor CODE        fitted sensor type (default 1, H2S)
  --model PID          product id (default 2, Varnolite)
  --fw V               firmware version byte, 13 = 1.3 (default 13)
  --hw V               hardware version byte (default 1)
  --life SECONDS       life remaining of a new unit (default 52704000, four
                       months in service); a loaded state keeps its own
  --events N           replace the event log with N events, 0..85: alarms
                       (low, high, over the range), bump tests (one with a
                       reading below zero), at varied times in the past; the
                       unit's alarm count and alarm time match them. Applies
                       to a loaded state too. Without it a new unit has four
                       events and a loaded state keeps its own
  --wake-frames N      wake-up frames needed before the first ACK (default 1)

Gas readings (0x20 gas, 0x21 temperature, 0x22 battery):
  --gas VALUE          concentration in the gas unit, e.g. 25 or 12.5; may be
                       negative (default 0, clean air)
  --gas-script FILE    lines "SECONDS VALUE": from that many seconds after the
                       start the value holds until the next line; '#' starts a
                       comment; before the first line --gas applies
  --gas-control FILE   a file holding one value: whenever its content changes
                       the gas becomes that value from then on
  --gas-t90 SECONDS    response time: the reading reaches 90 % of a change of
                       gas after SECONDS, as a first-order lag (default 0)
                       An oxygen unit (--sensor 4) reads 20.9 without --gas
                       and alarms LOW at or below its low set point.
  --noise TENTHS       random noise of the gas value, in tenths of the gas
                       unit (default 3); 0 gives exact values everywhere
  --gas-decimals D     decimals of the gas value and peak, 0..3 (default 1)
                       The reading is 0x7FFF above the sensor block's maximum.
                       LOW/HIGH: reading at or above the block's set points;
                       STEL/TWA: mean of the last 15 min / 8 h (of the time
                       run so far while shorter) above the high / low set
                       point. Battery 3.58 V (2 decimals), temperature 23.5 C
                       (1 decimal), each with its converter count as the peak.

Calibration and tests (0x50 then 0x40..0x46):
  --cal-seconds N      a span (0x41) or zero and span (0x42) calibration
                       raises "Calibration progress" for N s, 1..86400
                       (default 20); it goes on while the PC is disconnected
                       and then updates the sensor block's last calibration,
                       zero and span
  --cal-fail           calibrations end with "Calibration Fail" instead
  --zero-refuse        a zero (0x40, 0x42) is always refused; without it only
                       with gas above the sensor block's dead zone
                       Refusals answer with the command byte as the status.
                       Bump pass/fail (0x46/0x45) add a bump test to the event
                       log (a full log loses its oldest entry) and clear/set
                       "Bump Test Fail". Turn off (0x14) is refused until a
                       calibration has completed on this unit (kept in the
                       state; a factory reset forgets it). Buzzer, LEDs and
                       vibrator are shown on standard error.

Firmware upgrade (0x10 start, 0x91/0x93 packets, 0x11 execute):
  --fw-packet-size N   bytes per firmware packet, 1..256 (default 128)
  --fw-image-size N    bytes the image must have at 0x11, 7..65536 (default
                       16384); 0x11 also checks the image CRC and that its
                       model byte is the unit's, then takes its firmware
                       version, or refuses with the command byte as status
  --nak-packet K[:T]   NAK the data frame of packet K (from 0) T times
                       (default 1) before taking it, counted over 0x91 and
                       0x93 sendings and over the whole run; repeatable
  --execute-refuse     0x11 always refuses

Faults (each a probability 0..1, rolled per frame the detector answers):
  --drop-rate P        the reply is lost (a firmware data frame is lost on its
                       way in and stores nothing)
  --corrupt-rate P     one reply byte arrives damaged
  --nak-rate P         the detector answers NAK instead
  --refuse-writes K    unit K (1 with a single unit) refuses every
                       configuration write: it answers each data frame of a
                       write with NAK and keeps nothing; repeatable
  --split-rate P       the reply arrives in two parts 3 ms apart
  --stray-rate P       a stray byte (00) arrives just before the reply
  --unplug-after N     after N answered exchanges the port disappears and the
                       simulator exits
  --seed S             seed of the fault, reading and event generators
                       (default 1)

Identity options also apply to a loaded state (a unit upgraded or re-labelled;
--sensor then only changes the fitted sensor, not the configuration).
Bad option values end the program with status 2.
)";
}

const char* MakeImageUsageText()
{
    return R"(Usage: varnolite-sim make-image --out FILE [options]
Writes a firmware image file the tool accepts: bytes 0..1 the CRC-16 of
bytes 2 to the end (low byte first), then model, firmware version, hardware
version, lowest firmware and lowest hardware version that may take it, then
pseudo-random firmware bytes. The file appears whole or not at all.

  --out FILE     where to write it (required)
  --model PID    model the image is for (default 2, Varnolite)
  --fw V         firmware version of the image, 14 = 1.4 (default 14)
  --hw V         hardware version of the image (default 1)
  --min-fw V     lowest unit firmware version that may take it (default 10)
  --min-hw V     lowest unit hardware version that may take it (default 1)
  --size BYTES   image size, 7..65536 (default 16384 = 128 packets of 128)
  --seed S       seed of the firmware bytes (default 1)

Exit status 0 when written, 2 for a bad option, 1 when the file cannot be
written.
)";
}

}  // namespace sim
