// "Save Event Log" and "Upgrade Firmware" end to end against the simulated
// detector: a log put into the unit's memory comes out as the expected CSV
// byte for byte, a full log of generated events, and images made by the
// simulator's own tool that change the unit's firmware version, with packet
// retries, repeated attempts, Cancel and a refused image.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>
#include <memory>

#include "DetectorScript.h"
#include "DeviceSettings.h"
#include "EventLogWorkflow.h"
#include "FirmwareUpgrade.h"
#include "MainWorkflows.h"
#include "ScriptedView.h"
#include "SimProcess.h"

namespace {

const QDateTime kBase(QDate(2024, 1, 15), QTime(10, 20, 30));
const QString kDownload = QStringLiteral("Download Image");

struct QuietFirmwareView : IFirmwareView {
    std::vector<int> progress;
    std::vector<int> maxima;
    std::function<void(int)> onProgress;
    void ShowImage(const QString&, const QString&, bool) override {}
    void SetUpgradeEnabled(bool) override {}
    void SetCancelEnabled(bool) override {}
    void SetProgressMaximum(int maximum) override { maxima.push_back(maximum); }
    void SetProgress(int value) override
    {
        progress.push_back(value);
        if (onProgress)
            onProgress(value);
    }
};

class Bench {
public:
    explicit Bench(const QStringList& simArgs = {}, const QByteArray& ini = {}) : sim(simArgs)
    {
        if (!ini.isEmpty()) {
            QFile file(programDir.filePath(QStringLiteral("LUMBRA.INI")));
            if (file.open(QIODevice::WriteOnly))
                file.write(ini);
        }
        SetCurrentSettings(LoadSettings(programDir.path().toStdString() + "/"));
        link.SetDefPort(sim.portPath().toStdString());
        main = std::make_unique<TMainWorkflows>(view, link, CurrentSettings());
        main->FormCreate();
        upgrade = std::make_unique<TFirmwareUpgrade>(*main, panels);
        view.ClearRecord();
    }
    ~Bench() { SetCurrentSettings(LoadedSettings{}); }

    // The event log workflow with a clock that moves on exactly as the
    // unit's life counter counts down from `life0`: an event stamped s is
    // then always dated kBase - (s - life0), however long the test took.
    std::unique_ptr<TEventLogWorkflow> EventsCountedFrom(std::uint32_t life0)
    {
        return std::make_unique<TEventLogWorkflow>(
            *main, [this, life0] { return kBase.addSecs(static_cast<qint64>(life0) - main->CurrentConfig().mUnit.mLifeRemaining); });
    }

    std::uint8_t UnitFirmware()
    {
        view.ClearRecord();
        main->UserReadDeviceBtnClick();
        return main->LastIdentity().mSW;
    }

    QString MakeImage(const QStringList& options)
    {
        const QString path = files.filePath(QStringLiteral("made-%1.img").arg(++madeImages));
        QProcess make;
        make.start(BEAMDOCK_SIM_PATH, QStringList{"make-image", "--out", path} + options);
        EXPECT_TRUE(make.waitForFinished(10000));
        EXPECT_EQ(make.exitCode(), 0) << make.readAllStandardError().toStdString();
        return path;
    }

    QStringList StatusTexts() const
    {
        QStringList texts;
        for (const ShownStatus& s : view.statuses)
            texts << s.text;
        return texts;
    }

    QTemporaryDir programDir;
    QTemporaryDir files;
    SimProcess sim;
    TComZEL link;
    ScriptedView view;
    QuietFirmwareView panels;
    std::unique_ptr<TMainWorkflows> main;
    std::unique_ptr<TFirmwareUpgrade> upgrade;
    int madeImages = 0;
};

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The simulator's memory with a unit block and an event log of the test's
// own, written back as its state file.
std::uint32_t PutLog(SimProcess& sim, const std::vector<RZELEvent>& relativeEvents)
{
    QByteArray memory = sim.stateMemory();
    EXPECT_EQ(memory.size(), SimProcess::kMemorySize);
    RZELUnitCFG unit{};
    std::memcpy(&unit, memory.constData(), sizeof unit);
    std::memcpy(unit.mUserID, "QA-7\0\0", 6);
    unit.mAlarmCount = 3;
    unit.mAlarmTime = 3725;
    unit.mTestCount = 5;
    unit = script::Sealed(unit);
    memory.replace(0, sizeof unit, script::Bytes(unit));
    const std::uint32_t life = unit.mLifeRemaining;
    QByteArray log(85 * 9, '\xFF');
    for (std::size_t i = 0; i < relativeEvents.size(); ++i) {
        RZELEvent e = relativeEvents[i];
        e.mStartEvent = e.mStartEvent == 0xFFFFFFFF ? e.mStartEvent : life + e.mStartEvent;
        log.replace(static_cast<int>(i * 9), 9, script::Bytes(e));
    }
    memory.replace(SimProcess::kLogAt, log.size(), log);
    QFile state(sim.statePath());
    EXPECT_TRUE(state.open(QIODevice::ReadWrite));
    state.seek(SimProcess::kStateHeaderSize);
    state.write(memory);
    return life;
}

TEST(SimulatedUnit, KnownLogByteForByte)
{
    Bench bench;
    ASSERT_TRUE(bench.sim.start());
    bench.sim.stop();
    // Ages in seconds before the state was saved; one stamped before the
    // life was set anew (below the count), and data after the end mark.
    const std::uint32_t life0 = PutLog(bench.sim, {
                                                      {3 * 86400, 0x8000 + 45, 0x00, 251},
                                                      {7200, 95, 0x04, -5},
                                                      {86400 + 60, 310, 0x0C, 0x7FFF},
                                                      {0xFFFFFFFF, 0, 0, 0},
                                                      {999, 1, 1, 1},
                                                  });
    ASSERT_TRUE(bench.sim.start());
    const auto events = bench.EventsCountedFrom(life0);
    const QString path = bench.programDir.filePath(QStringLiteral("EVENT/known.csv"));
    bench.view.saveFileAnswers = {path};
    events->UserLogSaveBtnClick();

    ASSERT_EQ(bench.view.LastStatus().text, QStringLiteral("Load Event Log... OK"));
    EXPECT_EQ(ReadAll(path), QByteArray("Product Name,Corvath Beamdock\r\n"
                                        "Log Type,Event Log\r\n"
                                        "Serial Number,SH10000123\r\n"
                                        "Firmware Version,1.3\r\n"
                                        "ID,QA-7\r\n"
                                        "Life Remaining,20months 2 days\r\n"
                                        "Total Number of Events,3\r\n"
                                        "Duration of events,1:02:05\r\n"
                                        "Number of self-tests,5\r\n"
                                        "\r\n"
                                        "Event Date,Event Time,BumpTest,Duration(seconds),Sensor Reading,Alarm\r\n"
                                        "2024-01-12,10:20:30,YES,0:00:45,25.1,\r\n"
                                        "2024-01-14,10:19:30,NO,0:05:10,O.L.,LOW Alarm HIGH Alarm \r\n"
                                        "2024-01-15,08:20:30,NO,0:01:35,-0.5,LOW Alarm \r\n"));
    ASSERT_EQ(bench.view.fileRequests.size(), 1u);
    EXPECT_TRUE(bench.view.fileRequests[0].fileName.startsWith(QStringLiteral("SH10000123_LOG_2401151020")));
}

TEST(SimulatedUnit, FullLogOfGeneratedEvents)
{
    Bench bench({"--events", "85"});
    ASSERT_TRUE(bench.sim.start());
    const auto events = bench.EventsCountedFrom(0);
    const QString path = bench.programDir.filePath(QStringLiteral("EVENT/full.csv"));
    bench.view.saveFileAnswers = {path};
    events->UserLogSaveBtnClick();

    const QList<QByteArray> lines = ReadAll(path).split('\n');
    ASSERT_EQ(lines.size(), 11 + 85 + 1);
    RZELUnitCFG unit{};
    std::memcpy(&unit, bench.sim.stateImage().constData(), sizeof unit);
    EXPECT_EQ(lines[6], "Total Number of Events," + QByteArray::number(unit.mAlarmCount) + "\r");
    int bumps = 0;
    int overLimit = 0;
    int negative = 0;
    int alarms = 0;
    QDateTime previous;
    for (int i = 11; i < 11 + 85; ++i) {
        const QList<QByteArray> fields = lines[i].split(',');
        ASSERT_EQ(fields.size(), 6) << lines[i].toStdString();
        const QDateTime when = QDateTime::fromString(QString::fromLatin1(fields[0] + "," + fields[1]),
                                                     QStringLiteral("yyyy-MM-dd,HH:mm:ss"));
        ASSERT_TRUE(when.isValid()) << lines[i].toStdString();
        if (previous.isValid()) {
            EXPECT_LE(previous, when) << "oldest first";
        }
        previous = when;
        bumps += fields[2] == "YES" ? 1 : 0;
        overLimit += fields[4] == "O.L." ? 1 : 0;
        negative += fields[4].startsWith('-') ? 1 : 0;
        alarms += fields[5].contains("Alarm") ? 1 : 0;
        EXPECT_TRUE(fields[5] == "\r" || fields[5].endsWith("Alarm \r")) << lines[i].toStdString();
    }
    EXPECT_GT(bumps, 0);
    EXPECT_GT(overLimit, 0);
    EXPECT_GT(negative, 0);
    EXPECT_EQ(alarms, +unit.mAlarmCount) << "the unit counts its alarm events";
}

TEST(SimulatedUnit, UpgradeTakesTheMadeImagesVersion)
{
    Bench bench({"--nak-packet", "5:2"}, "[ETC]\r\nLogEnable=1\r\n");
    ASSERT_TRUE(bench.sim.start());
    const QString image = bench.MakeImage({"--model", "2", "--fw", "14", "--hw", "1", "--min-fw", "10", "--min-hw", "1"});
    ASSERT_EQ(bench.upgrade->LoadUpgradeFile(image, false), 0);
    bench.view.ClearRecord();
    bench.upgrade->UserFMUpgradeBtnClick();

    EXPECT_EQ(bench.StatusTexts(), (QStringList{"Check Program...", "Check Program... OK", kDownload + "...",
                                                kDownload + "... OK"}));
    EXPECT_TRUE(bench.view.messages.empty());
    EXPECT_EQ(bench.panels.maxima, std::vector<int>{128});
    EXPECT_EQ(bench.panels.progress.back(), 128) << "the bars reach the packet count";
    const QStringList memo = bench.view.trace.filter(QStringLiteral("[SEND] Retry"));
    EXPECT_EQ(memo.size(), 2);
    for (const QString& line : memo) {
        EXPECT_TRUE(line.endsWith(QStringLiteral(" [SEND] Retry 5"))) << line.toStdString();
    }
    EXPECT_EQ(bench.view.trace.filter(QStringLiteral("[SEND] OK ")).size(), 128);
    EXPECT_EQ(bench.UnitFirmware(), 14);
    EXPECT_EQ(bench.view.form.user.fwVersion, QStringLiteral("1.4"));
}

TEST(SimulatedUnit, RepeatsCancelAndRefusal)
{
    struct Case {
        const char* name;
        QStringList simArgs;
        QStringList imageOptions;
        QByteArray ini;
        int cancelAt;  // progress value at which Cancel is pressed; 0: never
        QStringList statuses;
        QString box;
        std::uint8_t firmwareAfter;
    };
    const QString fail = QStringLiteral("Download Image...Fail");
    const QStringList check{"Check Program...", "Check Program... OK"};
    const Case cases[] = {
        {"packet 7 fails a whole attempt", {"--nak-packet", "7:4"}, {"--fw", "15"}, {}, 0,
         check + QStringList{kDownload + "...", fail, kDownload + "...", kDownload + "... OK"}, {}, 15},
        {"packet 3 fails all three attempts", {"--nak-packet", "3:12"}, {}, {}, 0,
         check + QStringList{kDownload + "...", fail, kDownload + "...", fail, kDownload + "...", fail,
                             kDownload + "... FAIL"},
         QStringLiteral("Varnolite comunication error - negative response\r") + kUpgradeModeText, 13},
        {"cancel", {}, {}, {}, 10, check + QStringList{kDownload + "...", kDownload + "... USER STOP"},
         QStringLiteral("User Stop...\r") + kUpgradeModeText, 13},
        {"unit refuses the image", {"--execute-refuse"}, {}, {}, 0,
         check + QStringList{kDownload + "...", fail, kDownload + "...", fail, kDownload + "...", fail,
                             kDownload + "... FAIL"},
         QStringLiteral("Program validation failed\rRetry download image\r") + kUpgradeModeText, 13},
        {"image for another model on the factory bench", {}, {"--model", "4"},
         "[Environment]\r\nModeEntry=ZTR_ENG__\r\n[FLASH]\r\nDownloadRetry=1\r\n", 0,
         check + QStringList{kDownload + "...", fail, kDownload + "... FAIL"},
         QStringLiteral("Program validation failed\rRetry download image\r") + kUpgradeModeText, 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.simArgs, c.ini);
        ASSERT_TRUE(bench.sim.start());
        const QString image = bench.MakeImage(c.imageOptions);
        ASSERT_EQ(bench.upgrade->LoadUpgradeFile(image, true), 0);
        if (c.cancelAt > 0) {
            bench.panels.onProgress = [&bench, &c](int value) {
                if (value == c.cancelAt)
                    bench.upgrade->UserFMCancelBtnClick();
            };
        }
        bench.upgrade->UserFMUpgradeBtnClick();
        EXPECT_EQ(bench.StatusTexts(), c.statuses);
        if (c.box.isEmpty()) {
            EXPECT_TRUE(bench.view.messages.empty());
        } else {
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].text, c.box);
        }
        if (c.cancelAt > 0) {
            EXPECT_EQ(bench.panels.progress.back(), c.cancelAt + 1) << "one packet after the click";
        }
        EXPECT_EQ(bench.UnitFirmware(), c.firmwareAfter);
    }
}

}  // namespace
