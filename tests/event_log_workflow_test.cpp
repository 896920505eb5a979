// "Save Event Log" and "Log Reset" as the user runs them: the exchanges on
// the wire, the status lines and boxes, the save dialog, the file written
// (whole or not at all) and the folder remembered; against a scripted
// detector where bytes must be exact, and against the simulated one.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <memory>

#include "DetectorScript.h"
#include "DeviceSettings.h"
#include "EventLogCsv.h"
#include "EventLogWorkflow.h"
#include "MainWorkflows.h"
#include "ProfileFile.h"
#include "PtyPeer.h"
#include "ScriptedView.h"
#include "SimProcess.h"

namespace {

using script::Script;

const QDateTime kT(QDate(2024, 1, 15), QTime(10, 20, 30));
const QString kLoad = QStringLiteral("Load Event Log");
const QString kReset = QStringLiteral("Event Log Reset");

// A program directory made the process's settings, the link, the window
// logic and the event log workflow with a clock standing at kT.
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
        events = std::make_unique<TEventLogWorkflow>(*main, [] { return kT; });
        view.ClearRecord();
    }
    ~Bench() { SetCurrentSettings(LoadedSettings{}); }

    QString EventDir() const { return programDir.filePath(QStringLiteral("EVENT")); }
    std::string SavedFolderKey() const
    {
        return ProfileFile(CurrentSettings().programDir + "LUMBRA.INI").ReadString("EVENT", "SaveDirectory", "");
    }

    QTemporaryDir programDir;
    SimProcess sim;
    TComZEL link;
    ScriptedView view;
    std::unique_ptr<TMainWorkflows> main;
    std::unique_ptr<TEventLogWorkflow> events;
};

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

RZELIdenty Identity(std::uint32_t life)
{
    RZELIdenty id{};
    id.mPID = 2;
    id.mHW = 1;
    id.mSW = 13;
    id.mSensor = 1;
    id.mLife = life;
    std::memcpy(id.mSerial, "SH10000123", 10);
    return id;
}

RZELCFG Blocks()
{
    RZELCFG cfg = DefaultConfig();
    std::memcpy(cfg.mUnit.mSerial, "SH10000123", 10);
    std::memcpy(cfg.mUnit.mUserID, "QA-7\0\0", 6);
    cfg.mUnit.mFWVersion = 13;
    cfg.mUnit.mLifeRemaining = 40000000;  // older than the identity's count
    cfg.mUnit.mAlarmCount = 2;
    cfg.mUnit.mAlarmTime = 405;
    cfg.mUnit.mTestCount = 7;
    cfg.mUnit = script::Sealed(cfg.mUnit);
    cfg.mSensor = script::Sealed(cfg.mSensor);
    return cfg;
}

QByteArray LogBytes(const std::vector<RZELEvent>& events)
{
    QByteArray bytes;
    for (const RZELEvent& e : events)
        bytes += script::Bytes(e);
    return bytes;
}

// The download up to the log size: identify, both blocks, identify again,
// select the log and ask for its size.
Script DownloadUpToSize(std::uint32_t life, std::uint32_t logSize)
{
    const RZELCFG cfg = Blocks();
    Script s;
    s.Wake();
    s.Identify(Identity(life + 3));
    s.ReadBlock(0x5F, script::Bytes(cfg.mUnit), 32);
    s.ReadBlock(0x50, script::Bytes(cfg.mSensor), 32);
    s.Identify(Identity(life));
    s.Ack(0x60);
    QByteArray size(4, '\0');
    std::memcpy(size.data(), &logSize, 4);
    s.Reply(0xA1, script::WithCrc(size));
    return s;
}

TEST(SaveEventLog, ScriptedUnitByteForByte)
{
    Bench bench;
    PtyPeer peer;
    bench.link.SetDefPort(peer.SlavePath());
    const std::uint32_t life = 50000000;
    const QByteArray log = LogBytes({
        {life + 3600, 95, 0x04, -5},
        {life + 2 * 86400, 0x8000 + 45, 0x00, 251},
        {life + 60, 310, 0x0C, 0x7FFF},
        {life - 10, 20, 0x08, 30},
        {0xFFFFFFFF, 0xFFFF, 0xFF, -1},
    });  // 45 bytes: two packets of 32
    Script s = DownloadUpToSize(life, static_cast<std::uint32_t>(log.size()));
    s.Reply(0x81, script::WithCrc(log.left(32)));
    s.Reply(0x81, script::WithCrc(log.mid(32) + QByteArray(64 - log.size(), '\xEE')));
    s.Kill();
    peer.Play(s.Steps());
    const QString path = bench.EventDir() + QStringLiteral("/unit.csv");
    bench.view.saveFileAnswers = {path};

    bench.events->UserLogSaveBtnClick();

    EXPECT_EQ(script::OneWakeFramePerConnection(peer.Received(s.Expected().size())), s.Expected());
    ASSERT_EQ(bench.view.statuses.size(), 2u);
    EXPECT_EQ(bench.view.statuses[0].text, kLoad + "...");
    EXPECT_EQ(bench.view.statuses[0].background, colours::kWhite);
    EXPECT_EQ(bench.view.statuses[1].text, kLoad + "... OK");
    EXPECT_EQ(bench.view.statuses[1].background, colours::kGreen);
    EXPECT_TRUE(bench.view.messages.empty());
    EXPECT_EQ(bench.view.buttonStates, (std::vector<bool>{false, true}));
    EXPECT_EQ(bench.view.form.user.serial, QStringLiteral("SH10000123")) << "the read is shown";

    ASSERT_EQ(bench.view.fileRequests.size(), 1u);
    const RFileRequest& dialog = bench.view.fileRequests[0];
    EXPECT_EQ(dialog.title, QStringLiteral("Save Logging Data..."));
    EXPECT_EQ(dialog.filter, QStringLiteral("Data file|*.csv"));
    EXPECT_EQ(dialog.defaultSuffix, QStringLiteral("csv"));
    EXPECT_EQ(dialog.folder, bench.EventDir() + QLatin1Char('/'));
    EXPECT_EQ(dialog.fileName, QStringLiteral("SH10000123_LOG_240115102030.CSV"));

    // Dated against the second identify's count, which also becomes the
    // current record's life.
    EXPECT_EQ(+bench.main->CurrentConfig().mUnit.mLifeRemaining, life);
    EXPECT_EQ(ReadAll(path), QByteArray("Product Name,Corvath Beamdock\r\n"
                                        "Log Type,Event Log\r\n"
                                        "Serial Number,SH10000123\r\n"
                                        "Firmware Version,1.3\r\n"
                                        "ID,QA-7\r\n"
                                        "Life Remaining,19months 1 days\r\n"
                                        "Total Number of Events,2\r\n"
                                        "Duration of events,0:06:45\r\n"
                                        "Number of self-tests,7\r\n"
                                        "\r\n"
                                        "Event Date,Event Time,BumpTest,Duration(seconds),Sensor Reading,Alarm\r\n"
                                        "2024-01-13,10:20:30,YES,0:00:45,25.1,\r\n"
                                        "2024-01-15,09:20:30,NO,0:01:35,-0.5,LOW Alarm \r\n"
                                        "2024-01-15,10:19:30,NO,0:05:10,O.L.,LOW Alarm HIGH Alarm \r\n"
                                        "---,---,NO,0:00:20,3.0,HIGH Alarm \r\n"));
    EXPECT_EQ(bench.SavedFolderKey(), bench.EventDir().toStdString() + "/");
    EXPECT_EQ(bench.events->LastSavedFile(), std::optional<QString>(path));
}

// The detector announces more log than the transfer buffer holds: the
// records of the first 1,024 bytes are saved and the user learns how many
// bytes were left out.
TEST(SaveEventLog, AnnouncedLogLargerThanTheBuffer)
{
    Bench bench;
    PtyPeer peer;
    bench.link.SetDefPort(peer.SlavePath());
    const std::uint32_t life = 1000000;
    std::vector<RZELEvent> events;
    for (std::uint32_t i = 0; i < 120; ++i)
        events.push_back({life + 60 * (120 - i), 10, 0x00, static_cast<std::int16_t>(i)});
    const QByteArray log = LogBytes(events);  // 1,080 bytes
    Script s = DownloadUpToSize(life, static_cast<std::uint32_t>(log.size()));
    for (int at = 0; at < 1024; at += 32)
        s.Reply(0x81, script::WithCrc(log.mid(at, 32)));
    s.Kill();
    peer.Play(s.Steps());
    const QString path = bench.EventDir() + QStringLiteral("/long.csv");
    bench.view.saveFileAnswers = {path};
    bench.events->UserLogSaveBtnClick();

    const QByteArray sent = script::OneWakeFramePerConnection(peer.Received(s.Expected().size() + 3, 300));
    EXPECT_EQ(sent, s.Expected()) << "no packet request beyond the buffer";
    ASSERT_EQ(bench.view.statuses.size(), 2u);
    EXPECT_EQ(bench.view.statuses[1].text, kLoad + "... OK");
    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_EQ(bench.view.messages[0].text,
              QStringLiteral("The unit's event log was longer than the 1024 bytes the program can hold: the records "
                             "that fit were saved, 56 bytes of the log were left out."));
    const QByteArray csv = ReadAll(path);
    EXPECT_EQ(csv.count(",NO,"), 113) << "the whole records of the first 1,024 bytes";
    EXPECT_TRUE(csv.contains(",0:00:10,0.0,\r\n")) << "the oldest record first";
    EXPECT_EQ(bench.main->LastResult(), std::optional<std::uint8_t>(0));
}

TEST(SaveEventLog, DialogAndFileOutcomes)
{
    struct Case {
        const char* name;
        bool cancel;
        QString subPath;    // below the program directory
        bool written;
        bool failureBox;
    };
    const Case cases[] = {
        {"saved in another folder", false, QStringLiteral("elsewhere/log.csv"), true, false},
        {"cancelled", true, {}, false, false},
        {"folder missing", false, QStringLiteral("missing/log.csv"), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        ASSERT_TRUE(QDir(bench.programDir.path()).mkdir(QStringLiteral("elsewhere")));
        ASSERT_TRUE(bench.sim.start());
        const QString path = bench.programDir.filePath(c.subPath);
        if (!c.cancel)
            bench.view.saveFileAnswers = {path};
        bench.events->UserLogSaveBtnClick();

        EXPECT_EQ(bench.view.LastStatus().text, kLoad + "... OK");
        ASSERT_EQ(bench.view.fileRequests.size(), 1u);
        EXPECT_EQ(!c.cancel && QFile::exists(path), c.written);
        if (c.cancel) {
            EXPECT_TRUE(QDir(bench.EventDir()).entryList(QDir::Files).isEmpty());
        }
        EXPECT_EQ(bench.events->LastSavedFile().has_value(), c.written);
        if (c.failureBox) {
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
            EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Save Event Log"));
            EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("Event logging file did not save\rRetry SAVE EVENT LOG"));
        } else {
            EXPECT_TRUE(bench.view.messages.empty());
        }
        // The folder chosen is remembered, also when the write failed.
        const std::string folder = c.cancel ? bench.EventDir().toStdString() + "/" : QFileInfo(path).absolutePath().toStdString() + "/";
        EXPECT_EQ(bench.SavedFolderKey(), folder);
        EXPECT_EQ(CurrentSettings().cfg.mEVENTSaveDir, folder);
        EXPECT_EQ(bench.main->CurrentConfig().mUnit.mSerial[0], 'S') << "the read counts even when nothing is saved";
    }
}

// A write that breaks off half-way leaves the file as it was: a reader takes
// a file that is there for a whole log.
TEST(SaveEventLog, WrittenWholeOrNotAtAll)
{
    Bench bench;
    ASSERT_TRUE(bench.sim.start());
    const QString path = bench.EventDir() + QStringLiteral("/kept.csv");
    {
        QFile earlier(path);
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("an earlier export\r\n");
    }
    bench.view.saveFileAnswers = {path};

    // Files of this process may not grow past 300 bytes (room for the serial
    // port's lock file): the export is larger, so its write fails part of
    // the way through.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 300;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bench.events->UserLogSaveBtnClick();
    setrlimit(RLIMIT_FSIZE, &previous);

    EXPECT_EQ(ReadAll(path), QByteArray("an earlier export\r\n"));
    EXPECT_EQ(QDir(bench.EventDir()).entryList(QDir::Files), QStringList{QStringLiteral("kept.csv")})
        << "no part-written file left beside it";
    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("Event logging file did not save\rRetry SAVE EVENT LOG"));

    // With room again the same click writes the whole log.
    bench.view.saveFileAnswers = {path};
    bench.events->UserLogSaveBtnClick();
    const QByteArray csv = ReadAll(path);
    EXPECT_TRUE(csv.startsWith("Product Name,Corvath Beamdock\r\n"));
    EXPECT_EQ(csv.count("\r\n"), 11 + 4) << "header lines and the simulated unit's four events";
}

TEST(SaveEventLog, SimulatedUnitsLogOldestFirst)
{
    Bench bench;
    ASSERT_TRUE(bench.sim.start());
    const QString path = bench.EventDir() + QStringLiteral("/sim.csv");
    bench.view.saveFileAnswers = {path};
    bench.events->UserLogSaveBtnClick();

    const QList<QByteArray> lines = ReadAll(path).split('\n');
    ASSERT_EQ(lines.size(), 16);
    EXPECT_EQ(lines[2], "Serial Number,SH10000123\r");
    EXPECT_EQ(lines[6], "Total Number of Events,2\r");
    // The simulated history: two bump tests around two alarms, oldest first.
    const char* tails[] = {",YES,0:00:45,25.1,\r", ",NO,0:01:35,12.4,LOW Alarm \r",
                           ",NO,0:05:10,O.L.,LOW Alarm HIGH Alarm \r", ",YES,0:01:00,24.8,\r"};
    QDateTime previous;
    for (int i = 0; i < 4; ++i) {
        const QByteArray& line = lines[11 + i];
        EXPECT_TRUE(line.endsWith(tails[i])) << line.toStdString();
        const QDateTime when = QDateTime::fromString(QString::fromLatin1(line.left(19)), QStringLiteral("yyyy-MM-dd,HH:mm:ss"));
        ASSERT_TRUE(when.isValid()) << line.toStdString();
        EXPECT_LT(when, kT);
        if (previous.isValid()) {
            EXPECT_LT(previous, when);
        }
        previous = when;
    }
    // The newest was a day before the unit was first switched on here.
    EXPECT_NEAR(previous.secsTo(kT), 86400, 5);
}

TEST(SaveEventLog, EmptyLogAndRefusals)
{
    {
        Bench bench;
        ASSERT_TRUE(bench.sim.start());
        bench.events->UserLogResetBtnClick();
        bench.view.ClearRecord();
        bench.events->UserLogSaveBtnClick();
        EXPECT_EQ(bench.view.LastStatus().text, kLoad + "... OK");
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Information);
        EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Log Event"));
        EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("No logging event data..."));
        EXPECT_TRUE(bench.view.fileRequests.empty()) << "no dialog for an empty log";
    }
    {
        Bench bench({"--model", "3"});
        ASSERT_TRUE(bench.sim.start());
        bench.events->UserLogSaveBtnClick();
        EXPECT_EQ(bench.view.LastStatus().text, kLoad + "... FAIL");
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("This is not Varnolite module"));
        EXPECT_TRUE(bench.view.fileRequests.empty());
        int logRequests = 0;
        for (const QString& line : bench.sim.recordedLines())
            logRequests += line.startsWith(QStringLiteral("RX 60")) ? 1 : 0;
        EXPECT_EQ(logRequests, 0);
    }
}

TEST(LogReset, ClearsTheLogWithoutAQuestion)
{
    struct Case {
        QStringList simArgs;
        QString status;
        QString box;
        bool cleared;
    };
    const Case cases[] = {
        {{}, kReset + "... OK", {}, true},
        {{"--model", "4"}, kReset + "... FAIL", QStringLiteral("This is not Varnolite module"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status.toStdString());
        Bench bench(c.simArgs);
        ASSERT_TRUE(bench.sim.start());
        bench.events->UserLogResetBtnClick();
        ASSERT_EQ(bench.view.statuses.size(), 2u);
        EXPECT_EQ(bench.view.statuses[0].text, kReset + "...");
        EXPECT_EQ(bench.view.statuses[1].text, c.status);
        EXPECT_TRUE(bench.view.questions.empty());
        EXPECT_EQ(bench.view.buttonStates, (std::vector<bool>{false, true}));
        if (c.box.isEmpty()) {
            EXPECT_TRUE(bench.view.messages.empty());
        } else {
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].caption, kReset);
            EXPECT_EQ(bench.view.messages[0].text, c.box);
        }
        const QByteArray memory = bench.sim.stateMemory();
        ASSERT_EQ(memory.size(), SimProcess::kMemorySize);
        EXPECT_EQ(memory.mid(0x100, 4) == QByteArray(4, '\xFF'), c.cleared);
    }
}

// Both workflows count as "another operation" for the hibernate question.
TEST(EventLogWorkflows, ForgetTheHibernateAnswer)
{
    // A factory bench that can write the unit's suspend flag (address 16).
    Bench bench({}, "[Environment]\r\nModeEntry=ZTR_ENG__\r\n[UNIT]\r\nUnitWriteUserSize=8\r\n"
                    "UnitWriteFactoryStart=16\r\nUnitWriteFactorySize=20\r\n");
    ASSERT_TRUE(bench.sim.start());
    bench.main->UserReadDeviceBtnClick();
    bench.view.form.factory.hibernateItem = 1;
    bench.main->UserWriteDeviceBtnClick();
    ASSERT_EQ(bench.view.LastStatus().text, QStringLiteral("Write Varnolite Information... OK"));
    for (auto run : {&TEventLogWorkflow::UserLogSaveBtnClick, &TEventLogWorkflow::UserLogResetBtnClick}) {
        bench.view.yesNoAnswers = {true};
        bench.main->UserOptHibernateBtnClick();
        ASSERT_TRUE(bench.main->HibernateConfirmed());
        ((*bench.events).*run)();
        EXPECT_FALSE(bench.main->HibernateConfirmed());
    }
}

}  // namespace
