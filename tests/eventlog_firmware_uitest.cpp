// The event log and firmware controls of the real window: both firmware
// panels mirroring each other, the buttons held during a download while the
// window keeps painting, Cancel from the GUI thread, a close request during
// a download, and "Save Event Log" through the real file dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

#include "DetectorScript.h"
#include "DeviceSettings.h"
#include "FirmwareFiles.h"
#include "FirmwareUpgrade.h"
#include "ModalAnswerer.h"
#include "ProfileFile.h"
#include "PtyPeer.h"
#include "SimProcess.h"
#include "TVarnoIRMainForm.h"

namespace {

using script::Script;

// A program directory made the process's settings, and the window over it.
class Window {
public:
    explicit Window(const QByteArray& ini, const QString& port)
    {
        QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
        file.close();
        SetCurrentSettings(LoadSettings(dir.path().toStdString() + "/"));
        form = std::make_unique<TVarnoIRMainForm>(CurrentSettings(), port);
    }
    ~Window()
    {
        form.reset();
        SetCurrentSettings(LoadedSettings{});
    }

    template <typename T>
    T* Find(const char* name) const
    {
        return form->findChild<T*>(QString::fromLatin1(name));
    }

    // Runs the event loop until `done` holds or `ms` have passed.
    static bool RunUntil(const std::function<bool()>& done, int ms = 15000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    }

    QTemporaryDir dir;
    std::unique_ptr<TVarnoIRMainForm> form;
};

const QByteArray kFactoryIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\n[ETC]\r\nLogEnable=1\r\n"
                               "[FLASH]\r\nPacketSize=16\r\nMaxAddress=32\r\nRetry=3\r\nDownloadRetry=1\r\n";

const ImageRecipe kImage{.size = 32 * 16};

RZELIdenty Unit()
{
    RZELIdenty id{};
    id.mPID = 2;
    id.mHW = 1;
    id.mSW = 13;
    id.mSensor = 1;
    id.mLife = 40000000;
    return id;
}

// A unit that takes each firmware packet `delayMs` after it arrived.
Script SlowUnit(const QByteArray& image, int delayMs)
{
    Script s;
    s.Wake();
    s.Identify(Unit());
    s.Kill();
    s.Wake();
    s.Ack(0x10);
    for (int r = 0; r < 32; ++r) {
        s.Ack(0x91);
        s.Data(image.mid(r * 16, 16), script::kAck, delayMs);
    }
    s.Ack(0x11);
    s.Kill();
    return s;
}

int DataFramesIn(const QByteArray& received)
{
    // Each packet goes as 91 + CRC, then 16 bytes + CRC.
    return static_cast<int>(received.count(script::Command(0x91)));
}

QByteArray IniWithImage(const QString& path)
{
    return kFactoryIni + "ImageFile=" + path.toLatin1() + "\r\n";
}

const char* const kHeldButtons[] = {
    "UserReadFileBtn",      "UserReadDeviceBtn",    "UserWriteFileBtn",     "UserWriteDeviceBtn",
    "UserHibernateBtn",     "UserLogSaveBtn",       "UserCalBtn",           "UserFMOpenBtn",
    "UserFMUpgradeBtn",     "UserOptReadFileBtn",   "UserOptReadDeviceBtn", "UserOptWriteFileBtn",
    "UserOptWriteDeviceBtn", "UserOptLogSaveBtn",   "UserOptFMOpenBtn",     "UserOptFMUpgradeBtn",
    "UserOptHibernateBtn",  "FatoryOptLogResetBtn", "FatoryOptCalBtn",      "FatoryOptTurnOffBtn",
    "FatoryOptLogSensorBtn",
};

TEST(FirmwarePanels, MirrorTheImageLoadedAtStartUp)
{
    QTemporaryDir files;
    const QString path = QString::fromStdString(WriteTestFile(files, QStringLiteral("v14.img"), ImageBytes(kImage)));
    Window window(IniWithImage(path), {});
    for (const char* prefix : {"UserFM", "UserOptFM"}) {
        SCOPED_TRACE(prefix);
        const QByteArray p(prefix);
        EXPECT_FALSE(window.Find<QPushButton>((p + "UpgradeBtn").constData())->isEnabled()) << "before the first activation";
        EXPECT_EQ(window.Find<QLabel>((p + "DescLabel").constData())->text(), QStringLiteral("Varnolite Firmware Upgrade ... Select File"));
    }
    window.form->show();
    for (const char* prefix : {"UserFM", "UserOptFM"}) {
        SCOPED_TRACE(prefix);
        const QByteArray p(prefix);
        EXPECT_TRUE(window.Find<QPushButton>((p + "UpgradeBtn").constData())->isEnabled());
        EXPECT_FALSE(window.Find<QPushButton>((p + "CancelBtn").constData())->isEnabled());
        EXPECT_EQ(window.Find<QLabel>((p + "FileLabel").constData())->text(), path);
        EXPECT_EQ(window.Find<QLabel>((p + "DescLabel").constData())->text(),
                  QStringLiteral("Varnolite Firmware Upgrade ... Firmware Version 1.4"));
    }
    EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), QString()) << "loaded silently";
    window.form->close();
}

// While the image goes out the window keeps painting, only Cancel and the
// TEST page can be used, and Cancel stops the download within one packet.
TEST(FirmwarePanels, DownloadHoldsTheButtonsAndCancelStopsWithinAPacket)
{
    QTemporaryDir files;
    const QByteArray image = ImageBytes(kImage);
    const QString path = QString::fromStdString(WriteTestFile(files, QStringLiteral("v14.img"), image));
    PtyPeer peer;
    Window window(IniWithImage(path), QString::fromStdString(peer.SlavePath()));
    const Script s = SlowUnit(image, 40);
    peer.Play(s.Steps());
    window.form->show();
    ModalAnswerer boxes;
    boxes.confirm = true;  // the question before the upgrade starts

    // The clock of the GUI thread: how long it ever waited between ticks.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (sinceTick.isValid())
            longestGap = std::max(longestGap, sinceTick.elapsed());
        sinceTick.restart();
    });

    auto* cancel = window.Find<QPushButton>("UserOptFMCancelBtn");
    auto* bar = window.Find<QProgressBar>("UserOptFMProgressBar");
    window.Find<QPushButton>("UserOptFMUpgradeBtn")->click();
    ASSERT_TRUE(Window::RunUntil([&] { return cancel->isEnabled() && bar->value() >= 4; }));
    ticker.start(10);
    ASSERT_TRUE(Window::RunUntil([&] { return bar->value() >= 8; }));

    for (const char* name : kHeldButtons) {
        EXPECT_FALSE(window.Find<QPushButton>(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(window.Find<QPushButton>("UserFMCancelBtn")->isEnabled());
    EXPECT_TRUE(window.Find<QWidget>("ETCTS")->isEnabled()) << "the TEST page stays usable";
    EXPECT_TRUE(window.form->OperationRunning()) << "so its buttons find the link busy";
    EXPECT_EQ(bar->maximum(), 32);
    EXPECT_EQ(window.Find<QProgressBar>("UserFMProgressBar")->value(), bar->value());
    EXPECT_LT(longestGap, 150) << "the GUI thread never waits for the link";

    const int sentAtClick = DataFramesIn(peer.Received());
    cancel->click();
    ASSERT_TRUE(Window::RunUntil([&] { return !window.form->OperationRunning(); }));
    Window::RunUntil([&] { return !boxes.shown.isEmpty(); }, 2000);
    ticker.stop();

    const QByteArray sent = peer.Received(0, 200);
    EXPECT_LE(DataFramesIn(sent), sentAtClick + 1) << "at most one packet after the click";
    EXPECT_FALSE(sent.contains(script::Command(0x11))) << "the unit is not asked to take a partial image";
    EXPECT_EQ(boxes.shown, QStringList{QStringLiteral("Download Image|User Stop...\n") + kUpgradeModeText})
        << "the unit took the upgrade start and waits in upgrade mode";
    EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), QStringLiteral("Download Image... USER STOP"));
    for (const char* name : kHeldButtons) {
        EXPECT_TRUE(window.Find<QPushButton>(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(cancel->isEnabled());
    EXPECT_FALSE(window.Find<QPushButton>("UserFMCancelBtn")->isEnabled());
    window.form->close();
}

// Closing the window during a download lets the download finish, then ends
// without writing the trace or the window position.
TEST(FirmwarePanels, CloseDuringADownloadWaitsAndSavesNothing)
{
    QTemporaryDir files;
    const QByteArray image = ImageBytes(kImage);
    const QString path = QString::fromStdString(WriteTestFile(files, QStringLiteral("v14.img"), image));
    PtyPeer peer;
    Window window(IniWithImage(path), QString::fromStdString(peer.SlavePath()));
    const Script s = SlowUnit(image, 5);
    peer.Play(s.Steps());
    window.form->show();
    ModalAnswerer boxes;
    boxes.confirm = true;  // the question before the upgrade starts

    auto* bar = window.Find<QProgressBar>("UserFMProgressBar");
    window.Find<QPushButton>("UserOptFMUpgradeBtn")->click();
    ASSERT_TRUE(Window::RunUntil([&] { return bar->value() >= 2; }));
    window.form->close();
    EXPECT_TRUE(window.form->isVisible()) << "the download is not interrupted";
    ASSERT_TRUE(Window::RunUntil([&] { return !window.form->isVisible(); }));

    // Then the unit is read again (this peer answers no more).
    EXPECT_EQ(script::OneWakeFramePerConnection(peer.Received(s.Expected().size())).left(s.Expected().size()),
              s.Expected())
        << "every packet, the unit's check and the end of connection";
    EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), QStringLiteral("Download Image... OK"));
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_FALSE(QFile::exists(window.dir.filePath(QStringLiteral("Comm.TXT"))));
    EXPECT_FALSE(ProfileFile(CurrentSettings().programDir + "LUMBRA.INI").HasKey("WINDOW", "WIDTH"));
}

TEST(EventLogButtons, SaveEventLogThroughTheFileDialog)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    Window window("", sim.portPath());
    window.form->show();
    const QString target = window.dir.filePath(QStringLiteral("EVENT/from-window.csv"));
    ModalAnswerer answers(target);
    window.Find<QPushButton>("UserLogSaveBtn")->click();
    const bool saved = Window::RunUntil([&] { return !window.form->OperationRunning() && QFile::exists(target); });
    ASSERT_TRUE(saved) << answers.dialogs.join(",").toStdString() << " " << window.Find<QLabel>("StatusLabel")->text().toStdString() << " " << answers.shown.join(",").toStdString();
    EXPECT_EQ(answers.dialogs, QStringList{QStringLiteral("Save Logging Data...")});
    EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), QStringLiteral("Load Event Log... OK"));
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    EXPECT_TRUE(csv.startsWith("Product Name,Corvath Beamdock\r\nLog Type,Event Log\r\nSerial Number,SH10000123\r\n"));
    EXPECT_EQ(csv.count("\r\n"), 15);
    EXPECT_TRUE(answers.shown.isEmpty());
    window.form->close();
}

TEST(FirmwarePanels, Screenshots)
{
    const QString shots = QStringLiteral(BEAMDOCK_BUILD_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(shots));
    QTemporaryDir files;
    const QByteArray image = ImageBytes(kImage);
    const QString path = QString::fromStdString(WriteTestFile(files, QStringLiteral("v14.img"), image));
    PtyPeer peer;
    Window window(IniWithImage(path) + "[WINDOW]\r\nWIDTH=820\r\nHEIGHT=900\r\n", QString::fromStdString(peer.SlavePath()));
    peer.Play(SlowUnit(image, 30).Steps());
    window.form->show();
    ModalAnswerer boxes;
    boxes.confirm = true;  // the question before the upgrade starts
    auto* bar = window.Find<QProgressBar>("UserOptFMProgressBar");
    window.Find<QPushButton>("UserOptFMUpgradeBtn")->click();
    ASSERT_TRUE(Window::RunUntil([&] { return bar->value() >= 12; }));
    EXPECT_TRUE(window.form->grab().save(shots + QStringLiteral("/firmware-download.png")));
    ASSERT_TRUE(Window::RunUntil([&] { return !window.form->OperationRunning(); }));
    EXPECT_EQ(bar->value(), 32) << "the bars reach the packet count";
    EXPECT_TRUE(window.form->grab().save(shots + QStringLiteral("/firmware-done.png")));
    window.form->close();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
