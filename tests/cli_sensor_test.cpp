// The command line's log and calibrate against a scripted detector: usage
// errors, the reading lines and the data log, Ctrl-C as Stop and Cancel, and
// the exit status of every way a calibration can end.
#include <gtest/gtest.h>

#include <signal.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

#include "ProfileFile.h"
#include "ScriptedDetector.h"
#include "SensorReading.h"

namespace {

const QByteArray kFactory = "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n"
                            "[Logging]\r\nInterval=1\r\n[Calibration]\r\nCalibrationCheckTime=1\r\n";

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class CliBench {
public:
    explicit CliBench(const QByteArray& ini = kFactory)
    {
        QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
    }

    // Runs the command; `whileRunning` gets the process once it printed
    // `waitFor` (on either stream).
    CliRun Run(const QStringList& args, const QString& waitFor = {},
               const std::function<void(QProcess&)>& whileRunning = {}, const QByteArray& input = {})
    {
        QProcess cli;
        cli.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("BEAMDOCK_PORT");
        cli.setProcessEnvironment(env);
        cli.start(BEAMDOCK_CLI_PATH, QStringList{"--port", QString::fromStdString(detector.Port())} + args);
        CliRun run;
        if (!cli.waitForStarted(5000))
            return run;
        pid.store(cli.processId());
        if (!input.isEmpty())
            cli.write(input);
        cli.closeWriteChannel();
        QByteArray out;
        QByteArray err;
        if (whileRunning) {
            const QDeadlineTimer deadline(15000);
            while (!deadline.hasExpired() && cli.state() == QProcess::Running) {
                cli.waitForReadyRead(50);
                out += cli.readAllStandardOutput();
                err += cli.readAllStandardError();
                if (out.contains(waitFor.toLatin1()) || err.contains(waitFor.toLatin1())) {
                    whileRunning(cli);
                    break;
                }
            }
        }
        if (!cli.waitForFinished(20000)) {
            cli.kill();
            cli.waitForFinished();
            return run;
        }
        run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -2;
        run.out = QString::fromLatin1(out + cli.readAllStandardOutput());
        run.err = QString::fromLatin1(err + cli.readAllStandardError());
        return run;
    }

    QTemporaryDir dir;
    ScriptedDetector detector;
    std::atomic<qint64> pid{0};  // of the command running now
};

void Interrupt(QProcess& process)
{
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
}

TEST(CliSensorTools, UsageErrors)
{
    const QStringList cases[] = {
        {"log", "--interval", "0"},   {"log", "--interval", "601"}, {"log", "--interval", "1.5"},
        {"log", "--seconds", "abc"},  {"log", "--seconds", "0"},    {"log", "now"},
        {"calibrate", "--span", "x"}, {"calibrate", "--span", "-1"}, {"calibrate", "soon"},
    };
    CliBench bench;
    for (const QStringList& args : cases) {
        const CliRun run = bench.Run(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        // The bad value is named first, then the usage follows.
        EXPECT_TRUE(run.err.contains(QStringLiteral("usage: beamdock-cli ") + args[0])) << run.err.toStdString();
        EXPECT_TRUE(args.size() < 3 || run.err.startsWith(QStringLiteral("beamdock-cli: ") + args[1] + " '" + args[2] +
                                                          "' is not allowed"))
            << run.err.toStdString();
    }
    EXPECT_TRUE(bench.detector.Frames().isEmpty()) << "nothing reaches the unit";
}

TEST(CliSensorTools, LogPrintsAReadingALineAndWritesTheDataLog)
{
    CliBench bench;
    bench.detector.SetReading(sensormode::kGas, RZELSensor{0x7FFF, 1500, 0x01 | historybit::kBumpDue, alarmbit::kHigh});
    const QString path = bench.dir.filePath(QStringLiteral("run.CSV"));
    const CliRun run = bench.Run({"log", "--seconds", "2.5", "--out", path});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << run.out.toStdString();
    for (const QString& line : lines)
        EXPECT_TRUE(line.contains(QRegularExpression(QStringLiteral(
            "^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} sensor OL peak 150\\.0 battery 3\\.05 \\(700\\) temperature 23\\.5 \\(512\\) "
            "flags Bump Due,HIGH$"))))
            << line.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> csv = file.readAll().split('\n');
    ASSERT_EQ(csv.size(), 17);
    EXPECT_EQ(csv[0], "Product Name,Corvath Varnolite\r");
    EXPECT_TRUE(csv[10].endsWith(",OL,150.0,,,,,YES,,,HIGH,3.05,700,23.5,512\r")) << csv[10].toStdString();
    EXPECT_EQ(csv[11], "\r");
    EXPECT_EQ(bench.detector.CountCommand(0xB3), 2) << "the unit read, then the end of the run";
}

TEST(CliSensorTools, CtrlCStopsTheLog)
{
    CliBench bench;
    const CliRun run = bench.Run({"log"}, QStringLiteral("sensor"), Interrupt);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_GE(run.out.count('\n'), 1);
    const QString kill = QString::fromLatin1(WithCrc(QByteArray(1, '\xB3')).toHex(' ').toUpper());
    EXPECT_EQ(bench.detector.Frames().last(), kill) << "the run ends its connection";
}

TEST(CliSensorTools, LogFailures)
{
    struct Case {
        const char* name;
        std::function<void(CliBench&)> arrange;
        QStringList args;
        int exitCode;
        QString err;
    };
    const Case cases[] = {
        {"no detector", [](CliBench& b) { b.detector.SetSilent(true); }, {"log", "--seconds", "1"}, 160,
         QStringLiteral("Varnolite Unit Information Error:\nDo not read Varnolite unit configuration data\n"
                        "Check Varnolite and Beamdock connection\n")},
        {"data log cannot be written", [](CliBench&) {}, {"log", "--seconds", "1.5", "--out", "/nonexistent/x.CSV"},
         3, QStringLiteral("Data log file error ... 1 record lost\n/nonexistent/x.CSV\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CliBench bench;
        c.arrange(bench);
        const CliRun run = bench.Run(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith(c.err)) << run.err.toStdString();
    }
}

// A unit that goes silent after two readings: standard error says when
// readings stop and start again; a run that ends while it is silent ends
// with the link's status.
TEST(CliSensorTools, LogOfAUnitThatGoesSilent)
{
    struct Case {
        const char* name;
        bool comesBack;
        int exitCode;
        int readings;
    };
    const Case cases[] = {{"silent to the end", false, 160, 2}, {"back after a while", true, 0, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CliBench bench;
        auto silentFor = std::make_shared<QElapsedTimer>();
        bench.detector.SetOnFrame([&bench, &c, silentFor](const QByteArray& frame) {
            if (frame == WithCrc(QByteArray(1, '\x20')) && bench.detector.CountCommand(0x20) == 3) {
                bench.detector.SetSilent(true);
                silentFor->start();
            } else if (c.comesBack && silentFor->isValid() && silentFor->elapsed() > 1500) {
                bench.detector.SetSilent(false);
                silentFor->invalidate();
            }
        });
        const CliRun run = bench.Run({"log", "--seconds", "5"});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        EXPECT_GE(run.out.count(QStringLiteral(" sensor ")), c.readings) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("the unit does not answer (162 Varnolite comunication error - no "
                                                    "response): readings stopped")))
            << run.err.toStdString();
        EXPECT_EQ(run.err.contains(QStringLiteral("the unit answers again: readings go on")), c.comesBack);
    }
}

TEST(CliSensorTools, UnpluggedAdapterEndsTheLogWithItsStatus)
{
    CliBench bench;
    const CliRun run = bench.Run({"log"}, QStringLiteral("sensor"), [&bench](QProcess&) { bench.detector.HangUp(); });
    EXPECT_EQ(run.exitCode, 161) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("Beamdock Error:\nBeamdock Error\nCheck Beamdock connection\n"
                                                "Data logging stopped")))
        << run.err.toStdString();
}

// The first poll finds the calibration in progress, the second over.
void CalibratesForOnePoll(CliBench& b)
{
    b.detector.SetGasFlags(0x01 | historybit::kCalibrationProgress, 0);
    b.detector.SetOnFrame([&b, polls = std::make_shared<int>(0)](const QByteArray& frame) {
        if (frame == WithCrc(QByteArray(1, '\x20')) && ++*polls == 2)
            b.detector.SetGasFlags(0x01, 0);
    });
}

TEST(CliSensorTools, CalibrationOutcomesAreExitStatuses)
{
    struct Case {
        const char* name;
        QByteArray ini;
        std::function<void(CliBench&)> arrange;
        QStringList args;
        QString interruptAfter;  // send Ctrl-C once this text appeared
        int exitCode;
        QString lastLine;
    };
    const QByteArray shortCal = kFactory + "[SENSOR]\r\nH2S=1,ppm,H,2,0,100\r\n";
    const auto progress = [](CliBench& b) { b.detector.SetGasFlags(0x01 | historybit::kCalibrationProgress, 0); };
    const Case cases[] = {
        {"ends well", kFactory, CalibratesForOnePoll, {"calibrate", "--yes"}, {}, 0, "Calibration ... OK"},
        {"never in progress", kFactory, [](CliBench&) {}, {"calibrate", "--yes"}, {}, 177,
         "Calibration ... FAIL: the unit took the start but never showed it in progress"},
        {"detector reports a failure", kFactory,
         [](CliBench& b) { b.detector.SetGasFlags(0x01 | historybit::kCalibrationFail, 0); }, {"calibrate", "--yes"},
         {}, 177, "Calibration ... FAIL"},
        {"zero refused", kFactory, [](CliBench& b) { b.detector.SetSensorReply(0x42, 0x42); },
         {"calibrate", "--yes"}, {}, 194, "Zero Calibration... FAIL"},
        {"Ctrl-C", kFactory, progress, {"calibrate", "--yes"}, "SPAN Calibration...", 134,
         "Calibration... User Stop"},
        {"time-out", shortCal, progress, {"calibrate", "--yes"}, {}, 162, "Calibration... Time-out"},
        {"another model", kFactory,
         [](CliBench& b) {
             RZELIdenty id = ScriptedDetector::DefaultIdentity();
             id.mPID = 5;
             b.detector.SetIdentity(id);
         },
         {"calibrate", "--yes"}, {}, 146, "This is not Varnolite module"},
        {"unknown sensor type", kFactory,
         [](CliBench& b) {
             RZELCFG cfg = ScriptedDetector::DefaultUnitConfig();
             cfg.mSensor.mSensorType = 9;
             b.detector.SetConfig(cfg);
         },
         {"calibrate", "--yes"}, {}, 4, "Did not sensor calibration"},
        {"span beyond the sensor's range", kFactory, [](CliBench&) {}, {"calibrate", "--yes", "--span", "150"}, {}, 2,
         "beamdock-cli: --span '150' is not allowed: the span gas must lie between 0.1 and 100 ppm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CliBench bench(c.ini);
        c.arrange(bench);
        const CliRun run = c.interruptAfter.isEmpty() ? bench.Run(c.args) : bench.Run(c.args, c.interruptAfter, Interrupt);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines.last(), c.lastLine) << run.err.toStdString();
        const bool stopSent = c.exitCode == 134 || c.exitCode == 162 || c.lastLine.contains(QStringLiteral("never"));
        EXPECT_EQ(bench.detector.CountCommand(0x43), stopSent ? 1 : 0);
    }
}

TEST(CliSensorTools, CalibrateWithANewSpanGasAndTheQuestion)
{
    CliBench bench;
    // Declined: nothing sent to the unit after its read.
    const CliRun declined = bench.Run({"calibrate", "--span", "30"}, {}, {}, "n\n");
    EXPECT_EQ(declined.exitCode, 4) << declined.err.toStdString();
    EXPECT_TRUE(declined.err.contains(QStringLiteral("Sensor Calibration (H2S): zero, then span with 30 ppm\n")));
    EXPECT_TRUE(declined.err.contains(QStringLiteral("Start the calibration? [y/N]")));
    EXPECT_EQ(bench.detector.CountCommand(0x42), 0);
    EXPECT_EQ(bench.detector.Config().mSensor.mSpanGas, 250);

    CalibratesForOnePoll(bench);
    const CliRun run = bench.Run({"calibrate", "--span", "30"}, {}, {}, "y\n");
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("Apply SPAN Gas (H2S)... 30 ppm\n")));
    EXPECT_EQ(bench.detector.Config().mSensor.mSpanGas, 300);
    const ProfileFile ini(bench.dir.filePath(QStringLiteral("LUMBRA.INI")).toStdString());
    EXPECT_EQ(ini.ReadString("SENSORCAL", "H2S", ""), "300");
}

// Writes that do not end as sent: a unit that acknowledges but does not
// keep, Ctrl-C while a range is on the wire, a configuration block that
// fails its CRC with and without --repair.
TEST(CliWrite, OutcomesOtherThanOK)
{
    const QString partly = QStringLiteral("The unit may now hold part of the new settings. Write again before using it.");
    struct Case {
        const char* name;
        std::function<void(CliBench&)> arrange;
        QStringList extra;
        QByteArray input;
        int exitCode;
        QStringList texts;  // on standard error
        int ranges;         // address headers sent
    };
    const Case cases[] = {
        {"not kept", [](CliBench& b) { b.detector.SetIgnoreWrites(true); }, {}, {}, 150,
         {QStringLiteral("The unit acknowledged the write but did not keep it: 1 byte(s) read back differ from "
                         "those sent (the first at address 2: sent 0x20, read back 0x52)"),
          partly},
         2},
        {"Ctrl-C in the first range",
         [](CliBench& b) {
             b.detector.SetOnFrame([&b](const QByteArray& frame) {
                 if (frame == WithCrc(QByteArray(1, '\x70')) && b.detector.CountCommand(0x70) == 1)
                     ::kill(static_cast<pid_t>(b.pid.load()), SIGINT);
             });
         },
         {}, {}, 134,
         {QStringLiteral("Stopped after writing UnitWriteUser (bytes 1..8)."), partly,
          QStringLiteral("stopped by Ctrl-C between steps")},
         1},
        {"damaged block", [](CliBench& b) { b.detector.SetDamagedBlock(0); }, {}, {}, 192, {}, 0},
        {"damaged block, --repair declined", [](CliBench& b) { b.detector.SetDamagedBlock(0); }, {"--repair"}, "n\n",
         4, {QStringLiteral("The unit's unit configuration block (bytes 1..64) failed its CRC check")}, 0},
        {"damaged block, --repair", [](CliBench& b) { b.detector.SetDamagedBlock(0); }, {"--repair"}, "y\n", 0,
         {QStringLiteral("Write the configuration shown over it? [y/N]")}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CliBench bench(kFactory + "[UNIT]\r\nUnitWriteUserSize=8\r\n");
        const QString file = bench.dir.filePath(QStringLiteral("unit.cfg"));
        ASSERT_EQ(bench.Run({"read", "--save", file}).exitCode, 0);
        RZELCFG cfg = bench.detector.Config();
        cfg.mUnit.mUserID[0] = 'R';  // for the file's write to change
        bench.detector.SetConfig(cfg);
        bench.detector.ClearFrames();
        c.arrange(bench);

        const CliRun run = bench.Run(QStringList{"write", "--file", file} + c.extra, {}, {}, c.input);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        for (const QString& text : c.texts)
            EXPECT_TRUE(run.err.contains(text)) << run.err.toStdString();
        EXPECT_EQ(run.err.contains(partly), c.ranges > 0 && c.exitCode != 0);
        EXPECT_EQ(bench.detector.CountCommand(0x70), c.ranges);
        ASSERT_FALSE(bench.detector.Frames().isEmpty());
        EXPECT_EQ(bench.detector.Frames().last(), QString::fromLatin1(WithCrc(QByteArray(1, '\xB3')).toHex(' ').toUpper()))
            << "the connection ends with the unit";
    }
}

// The other commands that change the unit: a Ctrl-C while they talk to it
// lets the command end and the connection close before the program exits.
TEST(CliWrite, CtrlCLetsTheCommandUnderWayEnd)
{
    const QStringList commands[] = {{"logreset", "--yes"}, {"test", "clear-peak"}};
    for (const QStringList& command : commands) {
        SCOPED_TRACE(command.join(' ').toStdString());
        CliBench bench;
        // At the first command after the wake-up.
        bench.detector.SetOnFrame([&bench, sent = std::make_shared<bool>(false)](const QByteArray& frame) {
            if (!*sent && frame != WithCrc(QByteArray(1, '\xB2'))) {
                *sent = true;
                ::kill(static_cast<pid_t>(bench.pid.load()), SIGINT);
            }
        });
        const CliRun run = bench.Run(command);
        EXPECT_EQ(run.exitCode, 134) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("stopped by Ctrl-C after the step under way had ended")))
            << run.err.toStdString();
        ASSERT_FALSE(bench.detector.Frames().isEmpty());
        EXPECT_EQ(bench.detector.Frames().last(), QString::fromLatin1(WithCrc(QByteArray(1, '\xB3')).toHex(' ').toUpper()));
    }
}

}  // namespace
