#include "SimOptions.h"

#include <algorithm>
#include <array>
#include <charconv>
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

bool ParseRate(std::string_view text, double& out)
{
    // from_chars for double is not in every standard library here; strtod
    // on a copy, checked to the last character, does the same.
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || !(value >= 0.0 && value <= 1.0))
        return false;
    out = value;
    return true;
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

using Setter = std::function<bool(std::string_view, SimOptions&)>;

struct OptionRule {
    Setter set;
    const char* expected;
};

const std::map<std::string_view, OptionRule>& ValueOptions()
{
    static const std::map<std::string_view, OptionRule> options{
        {"--link", {[](auto v, auto& o) { o.linkPath = v; return !v.empty(); }, "a path"}},
        {"--state", {[](auto v, auto& o) { o.statePath = v; return !v.empty(); }, "a path"}},
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
        {"--baud", {[](auto v, auto& o) { return ParseInteger<std::uint32_t>(v, 0, 4'000'000, o.baud); }, "0..4000000"}},
        {"--drop-rate", {[](auto v, auto& o) { return ParseRate(v, o.dropRate); }, "a probability 0..1"}},
        {"--corrupt-rate", {[](auto v, auto& o) { return ParseRate(v, o.corruptRate); }, "a probability 0..1"}},
        {"--nak-rate", {[](auto v, auto& o) { return ParseRate(v, o.nakRate); }, "a probability 0..1"}},
        {"--wake-frames", {[](auto v, auto& o) { return ParseInteger<int>(v, 1, 100000, o.wakeFrames); }, "1..100000"}},
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
    };
    return options;
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
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        std::string_view value;
        bool haveValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            haveValue = true;
        }
        const auto& known = ValueOptions();
        const auto it = known.find(arg);
        if (it == known.end()) {
            error = "unknown option " + std::string(arg);
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

const char* UsageText()
{
    return R"(Usage: varnolite-sim [options]
A simulated Varnolite detector behind a Beamdock adapter, served on a
pseudo-terminal. Runs until SIGINT or SIGTERM.

Line:
  --link PATH          make PATH a symbolic link to the simulated port and
                       print it (without it the pseudo-terminal's own path is
                       printed)
  --baud N             delay every reply by its wire time at N baud (10 bits a
                       byte) plus 0.3 ms; bytes sent to the detector while it
                       transmits are lost, as on the infrared link. 0 = no
                       delay (default)
  --record FILE        append "RX .."/"TX .." lines, one per received frame and
                       per reply, in upper-case hex

Detector:
  --state FILE         the detector's memory (configuration, life, event log,
                       identity); loaded at start when present, saved after
                       every change
  --serial TEXT        serial number, up to 10 of 0-9 A-Z (default SH10000123)
  --sensor CODE        fitted sensor type (default 1, H2S)
  --model PID          product id (default 2, Varnolite)
  --fw V               firmware version byte, 13 = 1.3 (default 13)
  --hw V               hardware version byte (default 1)
  --life SECONDS       life remaining of a new unit (default 52704000, four
                       months in service); a loaded state keeps its own
  --wake-frames N      wake-up frames needed before the first ACK (default 1)

Faults (each a probability 0..1, rolled per reply):
  --drop-rate P        the reply is lost
  --corrupt-rate P     one reply byte arrives damaged
  --nak-rate P         the detector answers NAK instead
  --unplug-after N     after N answered exchanges the port disappears and the
                       simulator exits
  --seed S             seed of the fault and reading generators (default 1)

Identity options also apply to a loaded state (a unit upgraded or re-labelled;
--sensor then only changes the fitted sensor, not the configuration).
Bad option values end the program with status 2.
)";
}

}  // namespace sim
