#pragma once
// What stands between the tool and the detector when "Beamdock isnot found"
// or "Beamdock connection error" comes up: the CP210x bridges plugged in, the
// device node and whether this user may open it, a program holding the port,
// ModemManager and brltty, and the udev rule. Each finding is one line, with
// one line that says what to do about it. Nothing here talks to the detector;
// the command line adds a wake-up test of its own.
#include <string>
#include <vector>

namespace doctor {

struct Finding {
    bool problem = false;  // false: a plain fact, nothing to do
    std::string text;      // what was found, one line
    std::string fix;       // what to do about it, one line; empty for facts
};

// Where the system keeps what the doctor looks at. Tests point these at
// trees of their own.
struct Places {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    std::string procRoot = "/proc";
    // Folders where serial programs (Qt's among them) leave "LCK..name" files.
    std::vector<std::string> lockDirs = {"/var/lock", "/run/lock", "/tmp"};
    std::vector<std::string> ruleDirs = {"/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
    std::vector<std::string> programDirs = {"/usr/sbin", "/usr/bin", "/sbin", "/bin"};
};

// `port`: the serial device the tool was told to use (--port, BEAMDOCK_PORT,
// Port=); empty when it looks for the adapter itself.
std::vector<Finding> Examine(const std::string& port, const Places& places = Places());

// "[ok] text" / "[PROBLEM] text" lines, each problem followed by its
// "  fix: ..." line.
std::string FormatFindings(const std::vector<Finding>& findings);

// The name of the lock file Qt and the uucp convention use for a port:
// "LCK.." followed by the path without "/dev/", each "/" made "_".
std::string LockFileName(const std::string& portPath, const std::string& devRoot = "/dev");

}  // namespace doctor
