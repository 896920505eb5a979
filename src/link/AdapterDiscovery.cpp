#include "AdapterDiscovery.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace discovery {
namespace {

std::string ReadLine(const std::filesystem::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::uint16_t ReadHex16(const std::filesystem::path& file)
{
    try {
        return static_cast<std::uint16_t>(std::stoul(ReadLine(file), nullptr, 16));
    } catch (...) {
        return 0;
    }
}

std::uint8_t Pass(const std::string& preferredPort, AdapterSource& source, Result& result)
{
    std::vector<Adapter> adapters;
    std::uint8_t status = source.List(adapters);
    if (status != kFound)
        return status;
    if (adapters.empty())
        return kNoAdapter;
    if (adapters.size() > 1 && preferredPort.empty())
        return kMoreThanOne;
    result.portPath = adapters.front().portPath;
    for (const Adapter& adapter : adapters)
        if (adapter.portPath == preferredPort)
            result.portPath = adapter.portPath;
    return kFound;
}

}  // namespace

std::uint8_t QtPortSource::List(std::vector<Adapter>& adapters)
{
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (!info.hasVendorIdentifier() || info.vendorIdentifier() != kSiliconLabsVendorId)
            continue;
        adapters.push_back({info.systemLocation().toStdString(), info.vendorIdentifier(), info.productIdentifier(),
                            info.serialNumber().toStdString()});
    }
    return kFound;
}

SysfsCp210xSource::SysfsCp210xSource(std::string sysRoot, std::string devRoot)
    : FSysRoot(std::move(sysRoot)), FDevRoot(std::move(devRoot))
{
}

std::uint8_t SysfsCp210xSource::List(std::vector<Adapter>& adapters)
{
    namespace fs = std::filesystem;
    const fs::path driver = fs::path(FSysRoot) / "bus/usb-serial/drivers/cp210x";
    std::error_code ec;
    if (!fs::is_directory(driver, ec))
        return kFound;
    std::vector<std::string> ttys;
    for (const auto& entry : fs::directory_iterator(driver, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("tty", 0) == 0)
            ttys.push_back(name);
    }
    std::sort(ttys.begin(), ttys.end());
    for (const std::string& tty : ttys) {
        Adapter adapter;
        adapter.portPath = (fs::path(FDevRoot) / tty).string();
        // ttyUSBn -> its USB interface -> the USB device holding the ids.
        const fs::path usbDevice = fs::canonical(driver / tty, ec).parent_path().parent_path();
        if (!ec) {
            adapter.vendorId = ReadHex16(usbDevice / "idVendor");
            adapter.productId = ReadHex16(usbDevice / "idProduct");
            adapter.serial = ReadLine(usbDevice / "serial");
        }
        adapters.push_back(adapter);
    }
    return kFound;
}

Result FindAdapterPort(const std::string& preferredPort, AdapterSource& first, AdapterSource& second)
{
    Result result;
    if (!preferredPort.empty()) {
        result.status = kFound;
        result.portPath = preferredPort;
        return result;
    }
    result.status = Pass(preferredPort, first, result);
    // The second pass runs after any failure of the first, two bridges
    // included: the first counts every Silicon Labs port, the second only
    // ttys bound to the cp210x driver, so a Beamdock next to another Silicon
    // Labs serial device is found by the second.
    if (result.status != kFound) {
        result.portPath.clear();
        result.status = Pass(preferredPort, second, result);
    }
    return result;
}

std::vector<std::string> WindowsInstanceNames(std::uint16_t vendorId, std::uint16_t productId, const std::string& serial)
{
    char ids[32];
    std::snprintf(ids, sizeof ids, "VID_%04X&PID_%04X", vendorId, productId);
    std::string serialName = serial;
    for (char& c : serialName)
        if (c == ' ')
            c = '_';
    return {std::string(ids) + "\\" + serialName, std::string(ids) + "&Mi_00\\" + serialName + "_00"};
}

}  // namespace discovery
