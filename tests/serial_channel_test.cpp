// The serial channel and the adapter discovery: open errors with their codes
// and advice, non-blocking reads, and discovery's result codes.
#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "AdapterDiscovery.h"
#include "Comm.h"
#include "PortNaming.h"
#include "PtyPeer.h"
#include "ZelComms.h"

namespace {

std::string OpenError(const std::string& path)
{
    TComm comm;
    comm.SetDeviceName(path);
    try {
        comm.Open();
    } catch (const ECommError& error) {
        return error.what();
    }
    return "opened";
}

TEST(SerialChannel, OpenFailuresCarryTextAndCode)
{
    QTemporaryDir dir;
    const std::string plainFile = dir.filePath("not-a-tty").toStdString();
    std::ofstream(plainFile) << "x";
    EXPECT_EQ(OpenError(dir.filePath("missing").toStdString()),
              "Error accessing specified device (Error: " + std::to_string(ENOENT) + ") ");
    EXPECT_EQ(OpenError(plainFile), "Invalid device handle, access denied (Error: -1) ");
}

TEST(SerialChannel, PortHeldByAnotherProgramSaysSo)
{
    PtyPeer peer;
    TComm first;
    first.SetDeviceName(peer.SlavePath());
    first.Open();
    TComm second;
    second.SetDeviceName(peer.SlavePath());
    try {
        second.Open();
        FAIL() << "a second open of a locked port succeeded";
    } catch (const ECommError& error) {
        EXPECT_EQ(error.Text(), "Error accessing specified device");
        EXPECT_EQ(error.ErrorCode(), EBUSY);
        EXPECT_NE(error.UserMessage().find("in use by another program"), std::string::npos);
    }
}

TEST(SerialChannel, ClosedAndIdlePortRules)
{
    PtyPeer peer;
    TComm comm;
    comm.Close();
    comm.PurgeIn();  // both do nothing on a closed port
    std::uint8_t byte = 0xB2;
    try {
        comm.Write(&byte, 1);
        FAIL() << "write on a closed port did not raise";
    } catch (const ECommError& error) {
        EXPECT_EQ(error.Text(), "Write error");
    }
    comm.SetDeviceName(peer.SlavePath());
    comm.Open();
    EXPECT_THROW(comm.SetDeviceName("/dev/null"), ECommError);
    EXPECT_THROW(comm.Open(), ECommError);
    EXPECT_EQ(comm.Read(&byte, 1), 0);
    comm.Close();
    EXPECT_FALSE(comm.Enabled());
}

TEST(SerialChannel, ComOpenOnAnOpenPortChangesNothing)
{
    PtyPeer peer;
    TComZEL link;
    link.ComOpen(peer.SlavePath());
    EXPECT_NO_THROW(link.ComOpen("/dev/does-not-exist"));
    EXPECT_TRUE(link.PortOpen());
}

TEST(SerialChannel, TenOpenCloseCyclesInARow)
{
    PtyPeer peer;
    peer.Play({});
    TComZEL link;
    for (int i = 0; i < 10; ++i) {
        link.ComOpen(peer.SlavePath());
        EXPECT_EQ(link.ConnectZELCheck(), zelstatus::kNoResponse);
        link.ComClose();
    }
    EXPECT_EQ(peer.Received(30).size(), 30);
}

TEST(SerialChannel, WindowsPortNames)
{
    EXPECT_EQ(WindowsComDeviceName(3), "COM3");
    EXPECT_EQ(WindowsComDeviceName(9), "COM9");
    EXPECT_EQ(WindowsComDeviceName(10), "\\\\.\\COM10");
    EXPECT_EQ(WindowsComDeviceName(12), "\\\\.\\COM12");
    const auto names = discovery::WindowsInstanceNames(0x10C4, 0xEA60, "00 1");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "VID_10C4&PID_EA60\\00_1");
    EXPECT_EQ(names[1], "VID_10C4&PID_EA60&Mi_00\\00_1_00");
}

class FakeSource : public discovery::AdapterSource {
public:
    FakeSource(std::vector<std::string> ports, std::uint8_t status = 0) : FPorts(std::move(ports)), FStatus(status) {}
    std::uint8_t List(std::vector<discovery::Adapter>& adapters) override
    {
        ++calls;
        for (const auto& port : FPorts)
            adapters.push_back({port, 0x10C4, 0xEA60, "0001"});
        return FStatus;
    }
    int calls = 0;

private:
    std::vector<std::string> FPorts;
    std::uint8_t FStatus;
};

TEST(Discovery, ResultCodes)
{
    struct Case {
        const char* name;
        std::vector<std::string> first;
        std::uint8_t firstStatus;
        std::vector<std::string> second;
        std::string preferred;
        std::uint8_t status;
        std::string port;
        int secondCalls;
    };
    const std::vector<Case> cases = {
        {"none anywhere", {}, 0, {}, "", 255, "", 1},
        {"one", {"/dev/ttyUSB0"}, 0, {}, "", 0, "/dev/ttyUSB0", 0},
        {"two in both passes", {"/dev/ttyUSB0", "/dev/ttyUSB1"}, 0, {"/dev/ttyUSB0", "/dev/ttyUSB1"}, "", 254, "", 1},
        // The first pass counts every Silicon Labs port, the second only
        // cp210x ttys: a Beamdock beside another Silicon Labs device.
        {"another Silicon Labs device beside it", {"/dev/ttyUSB0", "/dev/ttyACM0"}, 0, {"/dev/ttyUSB0"}, "", 0,
         "/dev/ttyUSB0", 1},
        {"second pass finds it", {}, 0, {"/dev/ttyUSB3"}, "", 0, "/dev/ttyUSB3", 1},
        {"library failure passed on", {"/dev/ttyUSB0"}, 4, {}, "", 255, "", 1},
        {"failure in both passes", {}, 9, {}, "", 255, "", 1},
        {"preferred skips discovery", {"/dev/ttyUSB0", "/dev/ttyUSB1"}, 0, {}, "/tmp/sim", 0, "/tmp/sim", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSource first(c.first, c.firstStatus);
        FakeSource second(c.second);
        const discovery::Result result = discovery::FindAdapterPort(c.preferred, first, second);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.portPath, c.port);
        EXPECT_EQ(second.calls, c.secondCalls);
    }
    FakeSource failing({}, 4);
    FakeSource alsoFailing({}, 4);
    EXPECT_EQ(discovery::FindAdapterPort("", failing, alsoFailing).status, 4);
}

TEST(Discovery, NoAdapterMeansNoPortAndNothingSent)
{
    TComZEL link;
    link.SetAdapterSources(std::make_unique<FakeSource>(std::vector<std::string>{}),
                           std::make_unique<FakeSource>(std::vector<std::string>{"/dev/a", "/dev/b"}));
    EXPECT_EQ(link.OpenUSB(0.1f), 254);
    EXPECT_FALSE(link.PortOpen());
    link.CloseUSB(254);
    EXPECT_FALSE(link.PortOpen());
}

TEST(Discovery, SysfsCp210xTtys)
{
    namespace fs = std::filesystem;
    QTemporaryDir dir;
    const fs::path root = dir.path().toStdString();
    const fs::path device = root / "devices/usb1/1-1";
    const fs::path tty = device / "1-1:1.0/ttyUSB2";
    fs::create_directories(tty);
    std::ofstream(device / "idVendor") << "10c4\n";
    std::ofstream(device / "idProduct") << "ea60\n";
    std::ofstream(device / "serial") << "0001\n";
    const fs::path driver = root / "bus/usb-serial/drivers/cp210x";
    fs::create_directories(driver);
    fs::create_directory_symlink(tty, driver / "ttyUSB2");
    fs::create_directory(driver / "module");

    discovery::SysfsCp210xSource source(root.string(), "/dev");
    std::vector<discovery::Adapter> adapters;
    EXPECT_EQ(source.List(adapters), 0);
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].portPath, "/dev/ttyUSB2");
    EXPECT_EQ(adapters[0].vendorId, 0x10C4);
    EXPECT_EQ(adapters[0].productId, 0xEA60);
    EXPECT_EQ(adapters[0].serial, "0001");

    discovery::SysfsCp210xSource empty((root / "nothing").string());
    adapters.clear();
    EXPECT_EQ(empty.List(adapters), 0);
    EXPECT_TRUE(adapters.empty());
}

}  // namespace

namespace {

// A recorded CP210x presented to the real enumeration through umockdev.
TEST(Discovery, RecordedCp210xIsFoundThroughTheSystemEnumeration)
{
    const QString umockdev = QStandardPaths::findExecutable("umockdev-run");
    if (umockdev.isEmpty())
        GTEST_SKIP() << "umockdev-run is not installed";
    QProcess run;
    // umockdev preloads its own library; a sanitized build must not insist on
    // coming first in the library list.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
    run.setProcessEnvironment(env);
    run.start(umockdev, {"--device", BEAMDOCK_SOURCE_DIR "/tests/data/cp210x.umockdev", "--", BEAMDOCK_CLI_PATH, "adapters"});
    ASSERT_TRUE(run.waitForFinished(20000));
    const QString out = QString::fromLatin1(run.readAllStandardOutput());
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    EXPECT_TRUE(out.contains("serial port enumeration: 1 bridge(s)\n  /dev/ttyUSB0  10C4:EA60  serial 0001")) << out.toStdString();
    EXPECT_TRUE(out.contains("Beamdock port: /dev/ttyUSB0")) << out.toStdString();
}

}  // namespace

namespace {

// A port the user may not open: the message carries the system's code and
// one line that says which group to join. Needs root to drop to another user.
TEST(SerialChannel, PermissionDeniedSaysWhichGroupToJoin)
{
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (::geteuid() != 0 || setpriv.isEmpty())
        GTEST_SKIP() << "needs root and setpriv to try the port as another user";
    PtyPeer peer;
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                          QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    ASSERT_EQ(::chmod(peer.DevicePath().c_str(), 0660), 0);
    struct stat info {};
    ASSERT_EQ(::stat(peer.DevicePath().c_str(), &info), 0);
    const group* owner = ::getgrgid(info.st_gid);
    ASSERT_NE(owner, nullptr);

    QProcess run;
    run.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", BEAMDOCK_CLI_PATH, "--dir", dir.path(),
                        "--no-history", "--port", QString::fromStdString(peer.DevicePath()), "identify"});
    ASSERT_TRUE(run.waitForFinished(10000));
    const QString err = QString::fromLatin1(run.readAllStandardError());
    EXPECT_EQ(run.exitCode(), 161);
    EXPECT_TRUE(err.startsWith(QStringLiteral("Error accessing specified device (Error: %1) \n").arg(EACCES)))
        << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("add it to the group '%1'").arg(QString::fromLatin1(owner->gr_name))))
        << err.toStdString();
}

}  // namespace
