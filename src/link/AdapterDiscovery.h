#pragma once
// Finding the Beamdock adapter: a Silicon Labs CP210x USB-UART bridge that
// Linux presents as /dev/ttyUSBn.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace discovery {

constexpr std::uint16_t kSiliconLabsVendorId = 0x10C4;
constexpr std::uint8_t kFound = 0;
constexpr std::uint8_t kOsNotSupported = 253;
constexpr std::uint8_t kMoreThanOne = 254;
constexpr std::uint8_t kNoAdapter = 255;

struct Adapter {
    std::string portPath;  // e.g. /dev/ttyUSB0
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;
};

// One way of listing the bridges. `status` is 0 or the source's own nonzero
// failure code, which discovery passes on unchanged.
class AdapterSource {
public:
    virtual ~AdapterSource() = default;
    virtual std::uint8_t List(std::vector<Adapter>& adapters) = 0;
};

// Qt's serial port enumeration (udev underneath), filtered on the vendor id.
class QtPortSource : public AdapterSource {
public:
    std::uint8_t List(std::vector<Adapter>& adapters) override;
};

// Fallback: ttys bound to the kernel's cp210x driver, read from sysfs, for
// systems where the enumeration library sees nothing (no udev database).
class SysfsCp210xSource : public AdapterSource {
public:
    explicit SysfsCp210xSource(std::string sysRoot = "/sys", std::string devRoot = "/dev");
    std::uint8_t List(std::vector<Adapter>& adapters) override;

private:
    std::string FSysRoot;
    std::string FDevRoot;
};

struct Result {
    std::uint8_t status = kNoAdapter;
    std::string portPath;
};

// A preferred port skips discovery entirely. Otherwise the first source is
// asked, and the second whenever the first did not find exactly one adapter
// (none, two or more, or a failure of its own); the second's result is final.
Result FindAdapterPort(const std::string& preferredPort, AdapterSource& first, AdapterSource& second);

// Instance names a Windows registry lookup would try for a bridge; kept for a
// Windows build of the discovery.
std::vector<std::string> WindowsInstanceNames(std::uint16_t vendorId, std::uint16_t productId, const std::string& serial);

}  // namespace discovery
