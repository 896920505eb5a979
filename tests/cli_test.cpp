// The command line as a script sees it: settings loading in its program
// directory, configuration files, exit codes and texts.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "SimProcess.h"

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun RunCli(const QStringList& args, const QString& workDir, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess cli;
    cli.setWorkingDirectory(workDir);
    QProcessEnvironment clean = env;
    clean.remove("BEAMDOCK_PORT");
    cli.setProcessEnvironment(clean);
    cli.start(BEAMDOCK_CLI_PATH, args);
    CliRun run;
    if (!cli.waitForFinished(15000))
        return run;
    run.exitCode = cli.exitCode();
    run.out = QString::fromLatin1(cli.readAllStandardOutput());
    run.err = QString::fromLatin1(cli.readAllStandardError());
    return run;
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

TEST(Cli, SettingsOfTheProgramDirectoryAsJson)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("LUMBRA.INI"),
              "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=70000\r\n[SENSOR]\r\nNH3=8,ppm,N,120,0,50\r\n");
    const CliRun run = RunCli({"settings", "--json"}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject root = QJsonDocument::fromJson(run.out.toLatin1()).object();
    EXPECT_TRUE(root.value("factoryMode").toBool());
    EXPECT_EQ(root.value("settings").toObject().value("mConnectTime").toInt(), 4464);
    EXPECT_EQ(root.value("settings").toObject().value("mEVENTSaveDir").toString(), dir.path() + "/EVENT/");
    const QJsonArray sensors = root.value("sensors").toArray();
    ASSERT_EQ(sensors.size(), 1);
    EXPECT_EQ(sensors[0].toObject().value("mName").toString(), "NH3");
    EXPECT_EQ(sensors[0].toObject().value("mSpec").toString(), "SN");
    EXPECT_EQ(sensors[0].toObject().value("mMax").toDouble(), 50.0);
    // Settings are only looked at: not even factory mode's folders are made.
    for (const char* folder : {"Configure", "IMG", "EVENT", "EEPROM", "DAT"})
        EXPECT_FALSE(QDir(dir.filePath(folder)).exists()) << folder;
}

TEST(Cli, DirOptionStandsInForTheProgramDirectory)
{
    QTemporaryDir work;
    QTemporaryDir program;
    const CliRun run = RunCli({"--dir", program.path(), "settings", "--json"}, work.path());
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains(program.path() + "/EVENT/")) << run.out.toStdString();
    const CliRun written = RunCli({"--dir", program.path(), "eventlog", "--port", "/nonexistent"}, work.path());
    EXPECT_TRUE(QFile::exists(program.filePath("LUMBRA.INI")));
    EXPECT_FALSE(QFile::exists(work.filePath("LUMBRA.INI")));
    EXPECT_TRUE(QDir(program.filePath("Configure")).exists());
}

// Bad arguments end with status 2 and a text that names them; help is
// asked for, so it goes to standard output with status 0.
TEST(Cli, ArgumentsAreCheckedAndNamed)
{
    QTemporaryDir dir;
    ASSERT_EQ(::mkfifo(dir.filePath("fifo").toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    struct Case {
        QStringList args;
        int exitCode;
        bool toOut;
        QString text;
    };
    const std::vector<Case> cases = {
        {{"--help"}, 0, true, "usage: beamdock-cli [--port PATH]"},
        {{"identify", "--help"}, 0, true, "beamdock-cli [--port PATH] [--trace] [--dir DIR] identify\n"},
        {{"log", "--help"}, 0, true, "log [--seconds N]"},
        {{"identify", "extra"}, 2, false, "beamdock-cli: unexpected argument 'extra'\n"},
        {{"settings", "x"}, 2, false, "unexpected argument 'x'"},
        {{"--dir", dir.filePath("missing"), "identify"}, 2, false, "the program folder " + dir.filePath("missing")},
        {{"log", "--seconds"}, 2, false, "beamdock-cli: option --seconds needs a value\n"},
        {{"read", "--save", "--json"}, 2, false, "option --save needs a value"},
        {{"log", "--seconds", "nan"}, 2, false, "--seconds 'nan' is not allowed: a decimal number from 0.001 to"},
        {{"log", "--seconds", "inf"}, 2, false, "--seconds 'inf' is not allowed"},
        {{"log", "--interval", "0x10"}, 2, false, "--interval '0x10' is not allowed"},
        {{"log", "--interval", " 5"}, 2, false, "--interval ' 5' is not allowed"},
        {{"calibrate", "--span", "nan"}, 2, false, "--span 'nan' is not allowed"},
        {{"calibrate", "--span", "0"}, 2, false, "--span '0' is not allowed: a decimal number from 0.1 to 6553.5"},
        {{"write", "--set", "mAlarmLow=0x10"}, 2, false, "mAlarmLow=0x10 is refused"},
        {{"--port", "/dev/null", "identify"}, 161, false, "/dev/null is not a serial port but a device that is not a terminal"},
        {{"--port", dir.filePath("fifo"), "identify"}, 161, false, "fifo is not a serial port but a FIFO"},
        {{"--port", dir.filePath("folder"), "identify"}, 161, false, "folder is not a serial port but a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun run = RunCli(c.args, dir.path());
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        EXPECT_TRUE((c.toOut ? run.out : run.err).contains(c.text)) << run.out.toStdString() << run.err.toStdString();
        if (c.toOut) {
            EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
        }
    }
}

// Commands that only look leave the program folder as it was, apart from
// Comm.TXT when LogEnable=1 asks for it; the frames reach standard error
// only with --trace.
TEST(Cli, LookingCommandsWriteNothingButTheAskedForTrace)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    WriteFile(dir.filePath("LUMBRA.INI"), "[ETC]\r\nLogEnable=1\r\n");
    WriteFile(dir.filePath("unit.cfg"), QByteArray("\x07\x00\x00\x00", 4) + QByteArray(136, '\0'));
    WriteFile(dir.filePath("old.cfg"), QByteArray("\x04\x00\x00\x00", 4) + QByteArray(132, '\0'));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const QStringList port{"--port", sim.portPath()};
    const std::vector<QStringList> runs = {
        port + QStringList{"identify"}, port + QStringList{"read"}, {"settings"}, {"cfg", "show", "unit.cfg"},
        {"image", "check", "unit.cfg"}, {"adapters"}};
    for (const QStringList& args : runs) {
        const CliRun run = RunCli(args, dir.path());
        EXPECT_FALSE(run.err.contains("[SEND]")) << args.join(' ').toStdString() << ": " << run.err.toStdString();
    }
    QStringList expected = before;
    expected << "Comm.TXT";
    expected.sort();
    QStringList after = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    after.sort();
    EXPECT_EQ(after, expected);
    QFile comm(dir.filePath("Comm.TXT"));
    ASSERT_TRUE(comm.open(QIODevice::ReadOnly));
    EXPECT_TRUE(comm.readAll().contains(" [SEND] 5F "));
    EXPECT_TRUE(RunCli(port + QStringList{"--trace", "identify"}, dir.path()).err.contains(" [SEND] A0 "));
    // A file of an older release says which fields it lacks.
    EXPECT_TRUE(RunCli({"cfg", "show", "old.cfg"}, dir.path())
                    .err.contains("This file does not hold: user ID (all but its first 3 characters), "
                                  "self-test interval, hibernation allowed ("));
}

TEST(Cli, ReadSavesAFileThatCfgShowReadsBack)
{
    SimProcess sim({"--serial", "SH55512345"});
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    const CliRun read = RunCli({"--port", sim.portPath(), "read", "--json", "--save", "unit.cfg"}, dir.path());
    ASSERT_EQ(read.exitCode, 0) << read.err.toStdString();
    QFile saved(dir.filePath("unit.cfg"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    ASSERT_EQ(bytes.size(), 140);
    EXPECT_EQ(bytes.left(4), QByteArray("\x07\x00\x00\x00", 4));
    EXPECT_EQ(bytes.at(16), 0);

    const CliRun show = RunCli({"cfg", "show", "unit.cfg", "--json"}, dir.path());
    ASSERT_EQ(show.exitCode, 0) << show.err.toStdString();
    const QJsonObject fromFile = QJsonDocument::fromJson(show.out.toLatin1()).object();
    const QJsonObject fromDevice = QJsonDocument::fromJson(read.out.toLatin1()).object();
    EXPECT_EQ(fromFile.value("unit").toObject().value("mSerial").toString(), "SH55512345");
    for (const char* field : {"mAlarmHigh", "mAlarmLow", "mSensorType", "mTempCompSpan"})
        EXPECT_EQ(fromFile.value("sensor").toObject().value(field), fromDevice.value("sensor").toObject().value(field))
            << field;
    // Counters are not carried by a file: they show the defaults.
    EXPECT_EQ(fromFile.value("unit").toObject().value("mAlarmCount").toInt(), 0);
}

TEST(Cli, BadFilesAndUsage)
{
    QTemporaryDir dir;
    WriteFile(dir.filePath("v9.cfg"), QByteArray("\x09\x00\x00\x00", 4) + QByteArray(136, '\0'));
    struct Case { QStringList args; int exitCode; QString err; };
    const std::vector<Case> cases = {
        {{"cfg", "show", "missing.cfg"}, 3, "Read Configuration File\nConfiguration File did not open\nRetry READ FILE\n"},
        {{"cfg", "show", "v9.cfg"}, 3, "Read Configuration File\nConfiguration File is wrong\nReselect file\n"},
        {{"cfg", "list"}, 2, "usage: beamdock-cli cfg show FILE [--json]\n"},
    };
    for (const Case& c : cases) {
        const CliRun run = RunCli(c.args, dir.path());
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_EQ(run.err, c.err) << c.args.join(' ').toStdString();
    }
    EXPECT_EQ(RunCli({"frobnicate"}, dir.path()).exitCode, 2);
}

TEST(Cli, PortOptionWinsOverTheSettingsKey)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    WriteFile(dir.filePath("LUMBRA.INI"), "[Environment]\nPort=/dev/nonexistent-beamdock\n");
    const CliRun fromSettings = RunCli({"identify"}, dir.path());
    EXPECT_NE(fromSettings.exitCode, 0);
    EXPECT_TRUE(fromSettings.err.startsWith("Error accessing specified device (Error: 2) ")) << fromSettings.err.toStdString();
    const CliRun fromOption = RunCli({"--port", sim.portPath(), "identify"}, dir.path());
    EXPECT_EQ(fromOption.exitCode, 0) << fromOption.err.toStdString();
    EXPECT_TRUE(fromOption.out.contains("Varnolite (2)"));
}

}  // namespace

namespace {

QJsonObject ReadJson(const QString& port, const QString& dir)
{
    const CliRun run = RunCli({"--port", port, "read", "--json"}, dir);
    return QJsonDocument::fromJson(run.out.toLatin1()).object();
}

// write goes through the window's own workflow: in user mode only the user
// ranges reach the detector, whatever fields the command names.
TEST(Cli, WriteSetsFieldsThroughTheUserRanges)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    const QByteArray before = sim.stateImage();
    const CliRun run =
        RunCli({"--port", sim.portPath(), "write", "--set", "mAlarmHigh=200", "--set", "mUserID=AB-1"}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.err, "Read Varnolite Information... OK\nWrite Varnolite Information... OK\n");
    const QJsonObject after = ReadJson(sim.portPath(), dir.path());
    EXPECT_EQ(after.value("sensor").toObject().value("mAlarmHigh").toInt(), 200);
    EXPECT_EQ(after.value("unit").toObject().value("mUserID").toString(), "AB-1  ");
    // Not in a user range (and refused by name, see below): the detector
    // keeps its own value.
    EXPECT_EQ(after.value("unit").toObject().value("mBatLimitCritical").toInt(),
              static_cast<unsigned char>(before[32]) | (static_cast<unsigned char>(before[33]) << 8));
}

// --set by the window's names in display units writes the same bytes as by
// the record's names raw; a value out of range, a field the mode does not
// write or an unknown field is refused with status 2 and nothing is written.
TEST(Cli, WriteSetMeansWhatItSays)
{
    QTemporaryDir dir;
    const auto imageAfter = [&](const QStringList& sets) {
        SimProcess sim;
        EXPECT_TRUE(sim.start());
        const CliRun run = RunCli(QStringList{"--port", sim.portPath(), "write"} + sets, dir.path());
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        QByteArray image = sim.stateImage();
        image.replace(36, 4, QByteArray(4, '\0'));  // the life count runs on
        return image;
    };
    const QByteArray shown = imageAfter({"--set", "high-alarm=20.0", "--set", "cal-interval-days=30", "--set",
                                         "test-interval-hours=12"});
    const QByteArray raw = imageAfter({"--set", "mAlarmHigh=200", "--set", "mCalInterval=2592000", "--set",
                                       "mTestInterval=12"});
    EXPECT_EQ(shown.toHex().toStdString(), raw.toHex().toStdString());
    EXPECT_EQ(static_cast<unsigned char>(shown[64]), 200);

    struct Case {
        QStringList sets;
        const char* says;  // part of standard error
        bool unitRead;     // refused only once the fitted sensor is known
    };
    const Case cases[] = {
        {{"mTestInterval=30"}, "mTestInterval=30 is refused: mTestInterval takes 6 to 24 hours", false},
        {{"test-interval-hours=30"}, "test-interval-hours=30 is refused: test-interval-hours takes 6 to 24 hours",
         false},
        {{"high-alarm=20.05"}, "high-alarm=20.05 is refused", false},
        {{"mSerial=XX"}, "mSerial=XX is refused: mSerial is written in factory mode only", false},
        {{"mSpanGas=300"}, "mSpanGas=300 is refused: mSpanGas is written in factory mode only", false},
        {{"mBatLimitCritical=550"}, "mBatLimitCritical=550 is refused", false},
        {{"mZero=5"}, "mZero=5 is refused: mZero is not written by this tool in user mode", false},
        {{"colour=red"}, "unknown field 'colour'; valid fields: high-alarm, low-alarm, cal-interval-days", false},
        {{"high-alarm=5.0", "low-alarm=10.0"}, "The high alarm (5.0 ppm) must lie above the low alarm (10.0 ppm).",
         true},
    };
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const int framesBefore = sim.recordedLines().size();
        QStringList args{"--port", sim.portPath(), "write"};
        for (const QString& set : c.sets)
            args << "--set" << set;
        const CliRun run = RunCli(args, dir.path());
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains(QLatin1String(c.says))) << run.err.toStdString();
        const QStringList frames = sim.recordedLines().mid(framesBefore);
        EXPECT_EQ(!frames.isEmpty(), c.unitRead);
        for (const QString& frame : frames)
            EXPECT_FALSE(frame.startsWith("RX 70")) << "a write reached the unit";
    }
}

TEST(Cli, WriteFileTakesTheFilesFields)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    ASSERT_EQ(RunCli({"--port", sim.portPath(), "write", "--set", "mAlarmLow=80"}, dir.path()).exitCode, 0);
    ASSERT_EQ(RunCli({"--port", sim.portPath(), "read", "--save", "low80.cfg"}, dir.path()).exitCode, 0);
    ASSERT_EQ(RunCli({"--port", sim.portPath(), "write", "--set", "mAlarmLow=60"}, dir.path()).exitCode, 0);
    const CliRun run = RunCli({"--port", sim.portPath(), "write", "--file", "low80.cfg"}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(ReadJson(sim.portPath(), dir.path()).value("sensor").toObject().value("mAlarmLow").toInt(), 80);

    struct Case { QStringList args; int exitCode; };
    for (const Case& c : {Case{{"write", "--file", "missing.cfg"}, 3}, Case{{"write", "--set", "mFoo=1"}, 2},
                          Case{{"write"}, 2}, Case{{"write", "--file", "a", "--set", "mTau=1"}, 2}})
        EXPECT_EQ(RunCli(QStringList{"--port", sim.portPath()} + c.args, dir.path()).exitCode, c.exitCode)
            << c.args.join(' ').toStdString();
}

TEST(Cli, HibernateAsksFirstAndNeedsAUnitThatAllowsIt)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    const CliRun refused = RunCli({"--port", sim.portPath(), "hibernate", "--yes"}, dir.path());
    EXPECT_EQ(refused.exitCode, 4);
    EXPECT_TRUE(refused.err.contains("Check Unit:\nThis feature is only supported on the Varnolite+ instrument\n"))
        << refused.err.toStdString();

    // The factory bench can allow suspension when its write range covers it.
    WriteFile(dir.filePath("LUMBRA.INI"),
              "[Environment]\nModeEntry=ZTR_ENG__\n[UNIT]\nUnitWriteFactoryStart=16\nUnitWriteFactorySize=1\n");
    ASSERT_EQ(RunCli({"--port", sim.portPath(), "write", "--set", "mAllowSuspend=128"}, dir.path()).exitCode, 0);
    EXPECT_EQ(static_cast<unsigned char>(sim.stateImage().at(15)), 0x80);

    QProcess declined;
    declined.setWorkingDirectory(dir.path());
    declined.start(BEAMDOCK_CLI_PATH, {"--port", sim.portPath(), "hibernate"});
    declined.write("n\n");
    declined.closeWriteChannel();
    ASSERT_TRUE(declined.waitForFinished(10000));
    EXPECT_EQ(declined.exitCode(), 4);
    EXPECT_TRUE(declined.readAllStandardError().contains("Hibernation will clear the event log."));

    const CliRun accepted = RunCli({"--port", sim.portPath(), "hibernate", "--yes"}, dir.path());
    EXPECT_EQ(accepted.exitCode, 0) << accepted.err.toStdString();
    EXPECT_TRUE(accepted.err.endsWith("Hibernate... OK\n")) << accepted.err.toStdString();
    // The unit sleeps: no end-of-connection command followed the hibernate command.
    const QStringList record = sim.recordedLines();
    ASSERT_FALSE(record.isEmpty());
    EXPECT_TRUE(record.filter("RX 17").size() == 1);
    EXPECT_FALSE(record.last().startsWith("RX B3"));
}

}  // namespace
