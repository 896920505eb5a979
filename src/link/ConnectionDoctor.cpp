#include "ConnectionDoctor.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "AdapterDiscovery.h"

namespace doctor {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSiliconLabsVendor = "10c4";
constexpr const char* kRuleName = "beamdock";

std::string FirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

Finding Fact(std::string text)
{
    return {false, std::move(text), {}};
}

Finding Problem(std::string text, std::string fix)
{
    return {true, std::move(text), std::move(fix)};
}

// One CP210x bridge as sysfs shows it.
struct Bridge {
    std::string ids;      // "10C4:EA60"
    std::string serial;
    std::string product;  // the bridge's own name string
    std::string driver;   // bound to its first interface; empty: none
    std::string tty;      // "ttyUSB0"; empty: no serial port made
};

void FindInterfaceTty(const fs::path& interface, Bridge& bridge)
{
    std::error_code ec;
    const fs::path driver = interface / "driver";
    if (fs::is_symlink(driver, ec))
        bridge.driver = fs::read_symlink(driver, ec).filename().string();
    for (const auto& child : fs::directory_iterator(interface, ec)) {
        const std::string name = child.path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0)
            bridge.tty = name;
    }
}

std::vector<Bridge> UsbBridges(const Places& places)
{
    std::vector<Bridge> bridges;
    std::error_code ec;
    const fs::path devices = fs::path(places.sysRoot) / "bus/usb/devices";
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(devices, ec))
        entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& device : entries) {
        if (FirstLine(device / "idVendor") != kSiliconLabsVendor)
            continue;
        Bridge bridge;
        bridge.ids = Upper(std::string(kSiliconLabsVendor) + ":" + FirstLine(device / "idProduct"));
        bridge.serial = FirstLine(device / "serial");
        bridge.product = FirstLine(device / "product");
        const std::string name = device.filename().string();
        for (const auto& child : fs::directory_iterator(device, ec)) {
            const std::string childName = child.path().filename().string();
            if (childName.rfind(name + ":", 0) == 0 && bridge.tty.empty())
                FindInterfaceTty(child.path(), bridge);
        }
        bridges.push_back(bridge);
    }
    if (!bridges.empty() || fs::exists(devices, ec))
        return bridges;
    // Some containers show no USB tree, only the driver's ttys.
    discovery::SysfsCp210xSource source(places.sysRoot, places.devRoot);
    std::vector<discovery::Adapter> adapters;
    source.List(adapters);
    for (const discovery::Adapter& adapter : adapters) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04X:%04X", adapter.vendorId, adapter.productId);
        bridges.push_back({ids, adapter.serial, {}, "cp210x", fs::path(adapter.portPath).filename().string()});
    }
    return bridges;
}

std::string Describe(const Bridge& bridge, const Places& places)
{
    std::string text = "CP210x bridge " + bridge.ids;
    if (!bridge.serial.empty())
        text += " serial " + bridge.serial;
    if (!bridge.product.empty())
        text += " (\"" + bridge.product + "\")";
    if (!bridge.tty.empty())
        text += " on " + (fs::path(places.devRoot) / bridge.tty).string();
    text += bridge.driver.empty() ? ", no driver bound" : ", driver " + bridge.driver;
    return text;
}

void ExamineBridges(const std::vector<Bridge>& bridges, const std::string& port, const Places& places,
                    std::vector<Finding>& findings)
{
    for (const Bridge& bridge : bridges) {
        if (bridge.tty.empty())
            findings.push_back(Problem(Describe(bridge, places) + ": it has no serial port",
                                       "Load the bridge's driver: sudo modprobe cp210x (then unplug and replug)"));
        else
            findings.push_back(Fact(Describe(bridge, places)));
    }
    if (!port.empty())
        return;
    if (bridges.empty())
        findings.push_back(Problem("No CP210x bridge is plugged in (no USB device with vendor id 10C4)",
                                   "Plug the Beamdock in and check that `lsusb` lists 10c4:ea60; in a virtual "
                                   "machine, pass the USB device through"));
    else if (bridges.size() > 1)
        findings.push_back(Problem(std::to_string(bridges.size()) +
                                       " CP210x bridges are plugged in; the tool looks for exactly one",
                                   "Unplug the others, or name the Beamdock's port with --port, BEAMDOCK_PORT or "
                                   "Port= in section Environment of LUMBRA.INI"));
}

std::string ModeText(mode_t mode)
{
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : "-";
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? letters[bit] : '-';
    return text;
}

std::string UserName(uid_t uid)
{
    const passwd* user = ::getpwuid(uid);
    return user ? user->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid)
{
    const group* owner = ::getgrgid(gid);
    return owner ? owner->gr_name : std::to_string(gid);
}

// NotTerminal: a character device of another kind (/dev/null, /dev/zero).
enum class NodeKind { Missing, NotSerial, NotTerminal, PseudoTerminal, Serial };

// What kind of character device the node is, from the subsystem the kernel
// files it under (/sys/dev/char/MAJOR:MINOR): a terminal is "tty", /dev/null
// is "mem". Pseudo-terminals have no entry there; they live under /dev/pts.
NodeKind CharDeviceKind(const std::string& node, const struct stat& info, const Places& places)
{
    std::error_code ec;
    const std::string canonical = fs::weakly_canonical(node, ec).string();
    if (canonical.rfind(places.devRoot + "/pts/", 0) == 0)
        return NodeKind::PseudoTerminal;
    const fs::path subsystem = fs::path(places.sysRoot) / "dev" / "char" /
                               (std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev))) /
                               "subsystem";
    const fs::path target = fs::read_symlink(subsystem, ec);
    if (ec)
        return NodeKind::Serial;  // nothing known against it
    return target.filename() == "tty" ? NodeKind::Serial : NodeKind::NotTerminal;
}

NodeKind ExamineNode(const std::string& node, const Places& places, std::vector<Finding>& findings)
{
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0) {
        findings.push_back(Problem(node + " does not exist",
                                   "Check that the Beamdock is plugged in, and the port name given to the tool"));
        return NodeKind::Missing;
    }
    const std::string who = UserName(::geteuid());
    const std::string owner = "owner " + UserName(info.st_uid) + ", group " + GroupName(info.st_gid) + ", mode " +
                              ModeText(info.st_mode);
    const NodeKind kind = S_ISCHR(info.st_mode) ? CharDeviceKind(node, info, places) : NodeKind::NotSerial;
    if (kind == NodeKind::NotSerial || kind == NodeKind::NotTerminal) {
        findings.push_back(Problem(node + " is not a serial port (" + owner + ")",
                                   "Name the Beamdock's port, for example /dev/ttyUSB0"));
        return kind;
    }
    if (kind == NodeKind::PseudoTerminal)
        findings.push_back(Fact(node + " is a pseudo-terminal (a simulated detector or a forwarded line), "
                                       "not a USB adapter"));
    if (::access(node.c_str(), R_OK | W_OK) == 0) {
        findings.push_back(Fact("This user (" + who + ") may open " + node + " (" + owner + ")"));
        return kind;
    }
    const std::string groupName = GroupName(info.st_gid);
    findings.push_back(Problem("This user (" + who + ") may not open " + node + " (" + owner + ")",
                               "Install the beamdock package's udev rule (it gives the logged-in user access), or: "
                               "sudo usermod -aG " + groupName + " " + who + ", then log out and in again"));
    return kind;
}

struct Holder {
    std::string name;
    std::string lockFile;  // the lock it holds, empty when it only has the port open
    bool open = false;
};

std::string ProcessName(const Places& places, long pid)
{
    return FirstLine(fs::path(places.procRoot) / std::to_string(pid) / "comm");
}

bool ProcessAlive(const Places& places, long pid)
{
    std::error_code ec;
    return pid > 0 && fs::exists(fs::path(places.procRoot) / std::to_string(pid), ec);
}

void FindOpeners(const Places& places, const std::string& target, std::map<long, Holder>& holders)
{
    std::error_code ec;
    const long self = static_cast<long>(::getpid());
    for (const auto& entry : fs::directory_iterator(places.procRoot, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const long pid = std::stol(name);
        if (pid == self)
            continue;
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(entry.path() / "fd", fdError)) {
            std::error_code linkError;
            if (fs::read_symlink(fd.path(), linkError).string() == target) {
                Holder& holder = holders[pid];
                holder.name = ProcessName(places, pid);
                holder.open = true;
                break;
            }
        }
    }
}

void FindLocks(const Places& places, const std::vector<std::string>& ports, std::map<long, Holder>& holders,
               std::vector<Finding>& findings)
{
    for (const std::string& dir : places.lockDirs) {
        for (const std::string& port : ports) {
            const fs::path lock = fs::path(dir) / LockFileName(port, places.devRoot);
            std::error_code ec;
            if (!fs::exists(lock, ec))
                continue;
            // Qt writes the holder's process id on the first line; the uucp
            // convention pads it with blanks.
            long pid = 0;
            std::istringstream(FirstLine(lock)) >> pid;
            if (ProcessAlive(places, pid)) {
                Holder& holder = holders[pid];
                holder.name = ProcessName(places, pid);
                holder.lockFile = lock.string();
            } else {
                findings.push_back(Fact("A lock file of a program that has ended is left: " + lock.string() +
                                        " (the tool takes it over)"));
            }
        }
    }
}

std::string HolderFix(const Holder& holder, long pid)
{
    if (holder.name == "ModemManager")
        return "Install the beamdock package's udev rule (it tells ModemManager to leave the port alone), or: "
               "sudo systemctl stop ModemManager";
    if (holder.name == "brltty")
        return "Unless a braille display is used here: sudo apt remove brltty";
    return "Close " + (holder.name.empty() ? std::string("that program") : holder.name) + " (process " +
           std::to_string(pid) + ") and try again";
}

// A pseudo-terminal is open in the program that serves it (a simulator, a
// forwarder) as long as the line exists: that program is named, not blamed.
// Only a lock on it keeps the tool out.
void ExamineHolders(const std::string& node, NodeKind kind, const Places& places, std::vector<Finding>& findings)
{
    std::error_code ec;
    const std::string canonical = fs::weakly_canonical(node, ec).string();
    std::vector<std::string> ports{node};
    if (!canonical.empty() && canonical != node)
        ports.push_back(canonical);
    std::map<long, Holder> holders;
    FindLocks(places, ports, holders, findings);
    FindOpeners(places, canonical.empty() ? node : canonical, holders);
    for (const auto& [pid, holder] : holders) {
        if (kind == NodeKind::PseudoTerminal && holder.lockFile.empty()) {
            findings.push_back(Fact("The pseudo-terminal is served by process " + std::to_string(pid) + " (" +
                                    holder.name + ")"));
            continue;
        }
        std::string text = "The port is held by process " + std::to_string(pid) + " (" + holder.name + ")";
        if (!holder.lockFile.empty())
            text += ": it holds the lock file " + holder.lockFile;
        else
            text += ": it has " + node + " open";
        findings.push_back(Problem(text, HolderFix(holder, pid)));
    }
    if (holders.empty())
        findings.push_back(Fact("No other program holds " + node));
}

bool Installed(const Places& places, const std::string& program)
{
    std::error_code ec;
    for (const std::string& dir : places.programDirs)
        if (fs::exists(fs::path(dir) / program, ec))
            return true;
    return false;
}

bool Running(const Places& places, const std::string& program)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(places.procRoot, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos &&
            FirstLine(entry.path() / "comm") == program)
            return true;
    }
    return false;
}

std::string InstalledRule(const Places& places)
{
    std::error_code ec;
    for (const std::string& dir : places.ruleDirs)
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.find(kRuleName) != std::string::npos && entry.path().extension() == ".rules")
                return entry.path().string();
        }
    return {};
}

void ExamineServices(const Places& places, std::vector<Finding>& findings)
{
    const std::string rule = InstalledRule(places);
    if (rule.empty())
        findings.push_back(Problem("The Beamdock udev rule is not installed",
                                   "Install the beamdock package, or copy packaging/70-beamdock.rules to "
                                   "/etc/udev/rules.d/ and run: sudo udevadm control --reload-rules"));
    else
        findings.push_back(Fact("The Beamdock udev rule is installed: " + rule));

    if (Running(places, "ModemManager")) {
        if (rule.empty())
            findings.push_back(Problem("ModemManager is running and may probe the Beamdock's port",
                                       "Install the beamdock package's udev rule, or: sudo systemctl stop ModemManager"));
        else
            findings.push_back(Fact("ModemManager is running; the udev rule tells it to leave the Beamdock alone"));
    } else {
        findings.push_back(Fact(Installed(places, "ModemManager") ? "ModemManager is installed but not running"
                                                                  : "ModemManager is not installed"));
    }
    if (Installed(places, "brltty"))
        findings.push_back(Problem("brltty is installed; its udev rules claim CP210x bridges for braille displays and "
                                   "take their serial port away",
                                   "Unless a braille display is used here: sudo apt remove brltty"));
    else
        findings.push_back(Fact("brltty is not installed"));
}

}  // namespace

std::string LockFileName(const std::string& portPath, const std::string& devRoot)
{
    const std::string dev = devRoot + "/";
    std::string name = portPath.rfind(dev, 0) == 0 ? portPath.substr(dev.size()) : portPath;
    std::replace(name.begin(), name.end(), '/', '_');
    return "LCK.." + name;
}

std::vector<Finding> Examine(const std::string& port, const Places& places)
{
    std::vector<Finding> findings;
    const std::vector<Bridge> bridges = UsbBridges(places);
    ExamineBridges(bridges, port, places, findings);
    std::string node = port;
    if (node.empty() && bridges.size() == 1 && !bridges.front().tty.empty())
        node = (fs::path(places.devRoot) / bridges.front().tty).string();
    if (!node.empty()) {
        // Who holds the node matters only for a port: every process has
        // /dev/null open, none of them in the adapter's way.
        const NodeKind kind = ExamineNode(node, places, findings);
        if (kind != NodeKind::Missing && kind != NodeKind::NotTerminal)
            ExamineHolders(node, kind, places, findings);
    }
    ExamineServices(places, findings);
    return findings;
}

std::string FormatFindings(const std::vector<Finding>& findings)
{
    std::string out;
    for (const Finding& finding : findings) {
        out += (finding.problem ? "[PROBLEM] " : "[ok]      ") + finding.text + "\n";
        if (finding.problem && !finding.fix.empty())
            out += "          fix: " + finding.fix + "\n";
    }
    return out;
}

}  // namespace doctor
