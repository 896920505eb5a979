// The connection doctor: each cause of "Beamdock isnot found" or "Beamdock
// connection error" produced for real (or in a fake sysfs where only the
// kernel could produce it) and named, with its fix.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <fstream>
#include <unistd.h>

#include "Comm.h"
#include "ConnectionDoctor.h"
#include "PtyPeer.h"
#include "SimProcess.h"

namespace {

namespace fs = std::filesystem;

// A machine of our own making: sysfs with the given bridges, empty /proc,
// lock, rule and program folders.
class FakeMachine {
public:
    FakeMachine()
    {
        places.sysRoot = Path("sys");
        places.devRoot = Path("dev");
        places.procRoot = Path("proc");
        places.lockDirs = {Path("lock")};
        places.ruleDirs = {Path("rules")};
        places.programDirs = {Path("bin")};
        for (const char* dir : {"sys/bus/usb/devices", "dev", "proc", "lock", "rules", "bin"})
            fs::create_directories(Path(dir));
    }

    // A USB device 10c4:`product`; `tty` empty: no driver bound, no port.
    void AddBridge(const std::string& name, const std::string& product, const std::string& serial,
                   const std::string& tty)
    {
        const fs::path device = fs::path(Path("sys/devices/usb1")) / name;
        const fs::path interface = device / (name + ":1.0");
        fs::create_directories(interface);
        std::ofstream(device / "idVendor") << "10c4\n";
        std::ofstream(device / "idProduct") << product << "\n";
        std::ofstream(device / "serial") << serial << "\n";
        std::ofstream(device / "product") << "CP2102 USB to UART Bridge Controller\n";
        if (!tty.empty()) {
            fs::create_directories(Path("sys/bus/usb-serial/drivers/cp210x"));
            fs::create_directory_symlink(Path("sys/bus/usb-serial/drivers/cp210x"), interface / "driver");
            fs::create_directories(interface / tty);
            std::ofstream(Path("dev/" + tty)) << "";
        }
        fs::create_directory_symlink(device, fs::path(Path("sys/bus/usb/devices")) / name);
    }

    std::string Path(const std::string& relative) const { return dir.path().toStdString() + "/" + relative; }

    std::string Findings(const std::string& port = {}) const
    {
        return doctor::FormatFindings(doctor::Examine(port, places));
    }

    QTemporaryDir dir;
    doctor::Places places;
};

TEST(ConnectionDoctor, NamesTheBridgesAndWhatIsMissing)
{
    struct Case {
        const char* name;
        std::function<void(FakeMachine&)> setUp;
        std::vector<std::string> expected;  // lines that must appear
    };
    const std::vector<Case> cases = {
        {"no adapter", [](FakeMachine&) {},
         {"[PROBLEM] No CP210x bridge is plugged in (no USB device with vendor id 10C4)\n"
          "          fix: Plug the Beamdock in and check that `lsusb` lists 10c4:ea60"}},
        {"one adapter", [](FakeMachine& m) { m.AddBridge("1-1", "ea60", "0001", "ttyUSB0"); },
         {"[ok]      CP210x bridge 10C4:EA60 serial 0001 (\"CP2102 USB to UART Bridge Controller\") on ",
          "/dev/ttyUSB0, driver cp210x\n", "[ok]      No other program holds "}},
        {"two adapters",
         [](FakeMachine& m) {
             m.AddBridge("1-1", "ea60", "0001", "ttyUSB0");
             m.AddBridge("1-2", "ea60", "0002", "ttyUSB1");
         },
         {"serial 0002", "[PROBLEM] 2 CP210x bridges are plugged in; the tool looks for exactly one\n"
                         "          fix: Unplug the others, or name the Beamdock's port with --port"}},
        {"bridge without its driver", [](FakeMachine& m) { m.AddBridge("1-1", "ea60", "0001", ""); },
         {"no driver bound: it has no serial port\n          fix: Load the bridge's driver: sudo modprobe cp210x"}},
        {"no udev rule, brltty present",
         [](FakeMachine& m) { std::ofstream(m.Path("bin/brltty")) << ""; },
         {"[PROBLEM] The Beamdock udev rule is not installed\n", "[PROBLEM] brltty is installed; ",
          "fix: Unless a braille display is used here: sudo apt remove brltty"}},
        {"rule installed",
         [](FakeMachine& m) {
             std::ofstream(m.Path("rules/70-beamdock.rules")) << "";
             std::ofstream(m.Path("bin/ModemManager")) << "";
         },
         {"[ok]      The Beamdock udev rule is installed: ", "70-beamdock.rules\n",
          "[ok]      ModemManager is installed but not running\n", "[ok]      brltty is not installed\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine machine;
        c.setUp(machine);
        const std::string found = machine.Findings();
        for (const std::string& line : c.expected)
            EXPECT_NE(found.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << found;
    }
}

TEST(ConnectionDoctor, LockFilesAndTheirHolders)
{
    EXPECT_EQ(doctor::LockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
    EXPECT_EQ(doctor::LockFileName("/dev/pts/3"), "LCK..pts_3");
    EXPECT_EQ(doctor::LockFileName("/tmp/demo/ttyVARNO"), "LCK.._tmp_demo_ttyVARNO");

    FakeMachine machine;
    machine.AddBridge("1-1", "ea60", "0001", "ttyUSB0");
    // A lock of a live process (uucp style: the pid padded with blanks), and
    // its process as /proc shows it.
    std::ofstream(machine.Path("lock/LCK..ttyUSB0")) << "      4242\n";
    fs::create_directories(machine.Path("proc/4242/fd"));
    std::ofstream(machine.Path("proc/4242/comm")) << "minicom\n";
    std::string found = machine.Findings();
    EXPECT_NE(found.find("[PROBLEM] The port is held by process 4242 (minicom): it holds the lock file "),
              std::string::npos)
        << found;
    EXPECT_NE(found.find("fix: Close minicom (process 4242) and try again"), std::string::npos) << found;

    fs::remove_all(machine.Path("proc/4242"));
    found = machine.Findings();
    EXPECT_NE(found.find("[ok]      A lock file of a program that has ended is left: "), std::string::npos) << found;
}

// The command line's doctor against ports of this test's own: the settings
// give a short connect time so a silent port does not take 3 s.
class Doctor {
public:
    Doctor()
    {
        QFile ini(dir.filePath(QStringLiteral("LUMBRA.INI")));
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n");
    }

    int Run(const std::string& port, const QStringList& before = {})
    {
        QProcess run;
        QStringList args = before;
        args << BEAMDOCK_CLI_PATH << "--dir" << dir.path() << "--port" << QString::fromStdString(port) << "doctor";
        const QString program = args.takeFirst();
        run.start(program, args);
        run.waitForFinished(20000);
        out = QString::fromLocal8Bit(run.readAllStandardOutput());
        return run.exitCode();
    }

    QTemporaryDir dir;
    QString out;
};

TEST(ConnectionDoctor, PortHeldByAnotherProgram)
{
    PtyPeer peer;
    TComm holder;  // this test process holds the port, as another program would
    holder.SetDeviceName(peer.SlavePath());
    holder.Open();
    Doctor doctor;
    EXPECT_EQ(doctor.Run(peer.SlavePath()), 161) << doctor.out.toStdString();
    const QString self = QStringLiteral("held by process %1 (").arg(::getpid());
    EXPECT_TRUE(doctor.out.contains(self)) << doctor.out.toStdString();
    EXPECT_TRUE(doctor.out.contains(QStringLiteral("it holds the lock file"))) << doctor.out.toStdString();
    EXPECT_TRUE(doctor.out.contains(QStringLiteral("and try again\n"))) << doctor.out.toStdString();
}

TEST(ConnectionDoctor, SilentDetectorAndAnAnsweringOne)
{
    PtyPeer silent;
    silent.Play({});
    Doctor doctor;
    EXPECT_EQ(doctor.Run(silent.SlavePath()), 160);
    EXPECT_TRUE(doctor.out.contains(QStringLiteral("[PROBLEM] No Varnolite answered on ")));
    EXPECT_TRUE(doctor.out.contains(QStringLiteral(" within 0.500 s (")));
    EXPECT_TRUE(doctor.out.contains(QStringLiteral("fix: Hold the detector's infrared window"))) << doctor.out.toStdString();

    SimProcess sim;
    ASSERT_TRUE(sim.start());
    // The wake-up works; the status says whether anything else was found.
    const int status = doctor.Run(sim.portPath().toStdString());
    EXPECT_EQ(status, doctor.out.contains(QStringLiteral("[PROBLEM]")) ? 4 : 0) << doctor.out.toStdString();
    EXPECT_TRUE(doctor.out.contains(QStringLiteral("[ok]      A Varnolite answered the wake-up on ") + sim.portPath()))
        << doctor.out.toStdString();
    EXPECT_TRUE(doctor.out.contains(QStringLiteral(" frames)\n")));
}

// Only the adapter's own node is looked at: /dev/null is no port (and the
// processes holding it are none of the tool's business), and the
// simulator's pseudo-terminal is named as such, its server not blamed.
TEST(ConnectionDoctor, NotAPortAndAPseudoTerminal)
{
    const std::string null = doctor::FormatFindings(doctor::Examine("/dev/null"));
    EXPECT_NE(null.find("[PROBLEM] /dev/null is not a serial port ("), std::string::npos) << null;
    EXPECT_EQ(null.find("held by process"), std::string::npos) << null;

    SimProcess sim;
    ASSERT_TRUE(sim.start());
    const std::string port = sim.portPath().toStdString();
    const std::string pty = doctor::FormatFindings(doctor::Examine(port));
    EXPECT_NE(pty.find("[ok]      " + port + " is a pseudo-terminal"), std::string::npos) << pty;
    EXPECT_NE(pty.find("[ok]      The pseudo-terminal is served by process "), std::string::npos) << pty;
    EXPECT_EQ(pty.find("held by process"), std::string::npos) << pty;

    Doctor run;
    EXPECT_NE(run.Run("/dev/null"), 0) << run.out.toStdString();
}

// Needs root to try the port as another user.
TEST(ConnectionDoctor, NoPermissionNamesTheGroup)
{
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (::geteuid() != 0 || setpriv.isEmpty())
        GTEST_SKIP() << "needs root and setpriv to try the port as another user";
    PtyPeer peer;
    ASSERT_EQ(::chmod(peer.DevicePath().c_str(), 0660), 0);
    Doctor doctor;
    QFile::setPermissions(doctor.dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                 QFileDevice::WriteOther | QFileDevice::ExeOther);
    doctor.Run(peer.DevicePath(), {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
    EXPECT_TRUE(doctor.out.contains(QStringLiteral("[PROBLEM] This user (nobody) may not open ") +
                                    QString::fromStdString(peer.DevicePath())))
        << doctor.out.toStdString();
    EXPECT_TRUE(doctor.out.contains(QStringLiteral("fix: Install the beamdock package's udev rule")));
    EXPECT_TRUE(doctor.out.contains(QStringLiteral("sudo usermod -aG ")));
}

}  // namespace
