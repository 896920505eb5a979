// The sensor tools end to end against the simulated detector over its real
// pseudo-terminal: a calibration that changes the unit's calibration fields,
// the data log of a run, a span calibration watched from the logging dialog,
// a detector out of reach that comes back, an unplugged adapter, and the
// command line's log and calibrate.
#include <gtest/gtest.h>

#include <signal.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>
#include <memory>

#include "DataLogCsv.h"
#include "DeviceSettings.h"
#include "ProfileFile.h"
#include "ScriptedSensorViews.h"
#include "SensorCalibration.h"
#include "SensorLogging.h"
#include "SimProcess.h"
#include "TestClock.h"

namespace {

const QByteArray kFactory = "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n"
                            "[Logging]\r\nInterval=1\r\nConnectTime=800\r\n"
                            "[Calibration]\r\nCalibrationCheckTime=1\r\n";

// A program directory, its settings and the simulator.
class SimBench {
public:
    explicit SimBench(const QStringList& simArgs, const QByteArray& ini = kFactory) : sim(simArgs)
    {
        QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
        file.close();
        SetCurrentSettings(LoadSettings(dir.path().toStdString() + "/"));
        link.SetDefPort(sim.portPath().toStdString());
    }

    RZELSensorCFG SensorBlock() const
    {
        RZELSensorCFG block{};
        const QByteArray image = sim.stateImage();
        if (image.size() == 128)
            std::memcpy(&block, image.constData() + 64, sizeof block);
        return block;
    }

    // The unit as a read sees it.
    RZELCFG ReadUnit()
    {
        RZELCFG cfg{};
        std::uint8_t status = link.OpenUSB(0.5f);
        if (status == 0)
            status = link.ReadUnitCFGData(cfg.mUnit, 32, 64);
        if (status == 0)
            status = link.ReadSensorCFGData(cfg.mSensor, 32, 64);
        link.CloseUSB(status);
        EXPECT_EQ(status, 0);
        return cfg;
    }

    QTemporaryDir dir;
    SimProcess sim;
    TComZEL link;
};

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(SensorToolsAgainstTheSimulator, CalibrationEndsOkAndChangesTheUnit)
{
    SimBench bench({"--cal-seconds", "3", "--noise", "0"});
    ASSERT_TRUE(bench.sim.start());
    const RZELCFG before = bench.ReadUnit();

    TSystemClock clock;
    TSensorCalRequests requests;
    ScriptedSensorCalView view(&clock);
    TSensorCalWorkflow run(view, bench.link, CurrentSettings(), clock, requests);
    ASSERT_TRUE(run.ShowDlg(before));
    run.CalBtnClick(30.0);

    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(run.Outcome(), CalOutcome::Ok);
    EXPECT_EQ(view.Texts(CalLine::Status), QStringList{QStringLiteral("Zero Calibration... OK")});
    EXPECT_EQ(view.Texts(CalLine::Apply), QStringList{QStringLiteral("Apply SPAN Gas (H2S)... 30 ppm")});
    EXPECT_EQ(view.Texts(CalLine::Result),
              (QStringList{QStringLiteral("SPAN Calibration..."), QStringLiteral("Calibration ... OK")}));
    EXPECT_EQ(view.progress.back(), 180);

    const RZELCFG after = bench.ReadUnit();
    EXPECT_EQ(after.mSensor.mSpanGas, 300) << "the span gas written before the start";
    EXPECT_NE(after.mSensor.mLastCal, before.mSensor.mLastCal);
    EXPECT_LE(after.mSensor.mLastCal, after.mUnit.mLifeRemaining + 60) << "the life count at the end";
    EXPECT_TRUE(after.mSensor.mZero != before.mSensor.mZero || after.mSensor.mSpan != before.mSensor.mSpan);
    EXPECT_EQ(after.mSensor.mDeadZone, before.mSensor.mDeadZone);
    EXPECT_EQ(bench.SensorBlock().mSpanGas, 300) << "kept in the detector's memory";
    const ProfileFile ini(bench.dir.filePath(QStringLiteral("LUMBRA.INI")).toStdString());
    EXPECT_EQ(ini.ReadString("SENSORCAL", "H2S", ""), "300");
}

TEST(SensorToolsAgainstTheSimulator, CalibrationThatFailsOrIsRefused)
{
    struct Case {
        QStringList simArgs;
        CalOutcome outcome;
        QString text;
    };
    const Case cases[] = {
        {{"--cal-seconds", "2", "--cal-fail"}, CalOutcome::Failed, QStringLiteral("Calibration ... FAIL")},
        {{"--zero-refuse"}, CalOutcome::ZeroRefused, QStringLiteral("Zero Calibration... FAIL")},
        {{"--gas", "20", "--noise", "0"}, CalOutcome::ZeroRefused, QStringLiteral("Zero Calibration... FAIL")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.simArgs.join(' ').toStdString());
        SimBench bench(c.simArgs);
        ASSERT_TRUE(bench.sim.start());
        const RZELCFG before = bench.ReadUnit();
        TSystemClock clock;
        TSensorCalRequests requests;
        ScriptedSensorCalView view(&clock);
        TSensorCalWorkflow run(view, bench.link, CurrentSettings(), clock, requests);
        ASSERT_TRUE(run.ShowDlg(before));
        run.CalBtnClick(25.0);
        EXPECT_EQ(run.Outcome(), c.outcome);
        ASSERT_NE(view.Find(c.text), nullptr);
        EXPECT_EQ(view.Find(c.text)->colour, colours::kRed);
        EXPECT_EQ(bench.ReadUnit().mSensor.mLastCal, before.mSensor.mLastCal) << "nothing calibrated";
    }
}

TEST(SensorToolsAgainstTheSimulator, CancelStopsTheDetectorsCalibration)
{
    SimBench bench({"--cal-seconds", "30"});
    ASSERT_TRUE(bench.sim.start());
    const RZELCFG before = bench.ReadUnit();
    TSystemClock clock;
    TSensorCalRequests requests;
    ScriptedSensorCalView view(&clock);
    TSensorCalWorkflow run(view, bench.link, CurrentSettings(), clock, requests);
    ASSERT_TRUE(run.ShowDlg(before));
    std::thread cancel([&requests] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        requests.Cancel();
    });
    run.CalBtnClick(25.0);
    cancel.join();
    EXPECT_EQ(run.Outcome(), CalOutcome::UserStop);
    EXPECT_EQ(view.Texts(CalLine::Result).back(), QStringLiteral("Calibration... User Stop"));
    // The detector's own calibration is over too: its progress flag is gone.
    RZELSensor gas{};
    std::uint8_t status = bench.link.OpenUSB(0.5f);
    if (status == 0)
        status = bench.link.RequireSensor(gas, 0);
    bench.link.CloseUSB(status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(gas.mHistory & 0x80, 0);
    EXPECT_EQ(bench.ReadUnit().mSensor.mLastCal, before.mSensor.mLastCal);
}

TEST(SensorToolsAgainstTheSimulator, DataLogOfARun)
{
    SimBench bench({"--gas", "12.5", "--noise", "0"});
    ASSERT_TRUE(bench.sim.start());
    TestClock clock;
    TSensorLogRequests requests;
    ScriptedSensorLogView view(&clock);
    const QString path = bench.dir.filePath(QStringLiteral("DAT/sim.CSV"));
    view.saveFileAnswers = {path};
    clock.At(3.5, [&requests] { requests.Stop(); });
    TSensorLogWorkflow run(view, bench.link, CurrentSettings(), clock, requests);
    run.StartBtnClick();

    ASSERT_EQ(view.readings.size(), 4u);
    const RZELCFG unit = bench.ReadUnit();
    QByteArray expected = DataLogHeader(unit.mUnit);
    for (int second = 0; second < 4; ++second)
        expected += "03-05 09:30:0" + QByteArray::number(second) +
                    ":000,12.5,12.5,,,,,,,LOW,,3.58,832,23.5,432\r\n\r\n";
    EXPECT_EQ(ReadFile(path), expected);
    EXPECT_TRUE(expected.startsWith("Product Name,Corvath Varnolite\r\nLog Type,Data Log\r\n"
                                    "Serial Number,SH10000123\r\nFirmware Version,1.3\r\n"));
    EXPECT_EQ(view.readings[0].alarm & (alarmbit::kLow | alarmbit::kHigh), alarmbit::kLow);
}

TEST(SensorToolsAgainstTheSimulator, OverLimitAndNegativeReadings)
{
    struct Case {
        QStringList simArgs;
        QString value;
        double chart;
    };
    const Case cases[] = {
        {{"--gas", "150", "--noise", "0"}, QStringLiteral("OL"), 3276.7},
        {{"--gas", "-1", "--noise", "0"}, QStringLiteral("-1.0"), -1.0},
        {{"--gas", "2.25", "--noise", "0", "--gas-decimals", "2"}, QStringLiteral("2.25"), 2.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        SimBench bench(c.simArgs);
        ASSERT_TRUE(bench.sim.start());
        TestClock clock;
        TSensorLogRequests requests;
        ScriptedSensorLogView view(&clock);
        clock.At(0.5, [&requests] { requests.Stop(); });
        TSensorLogWorkflow run(view, bench.link, CurrentSettings(), clock, requests);
        run.StartBtnClick();
        ASSERT_EQ(view.readings.size(), 1u);
        EXPECT_EQ(view.readings[0].sensorValue, c.value);
        ASSERT_EQ(view.charts.back().points.size(), 1);
        EXPECT_NEAR(view.charts.back().points[0].y(), c.chart, 1e-3);
    }
}

TEST(SensorToolsAgainstTheSimulator, SpanCalibrationWatchedFromTheLoggingDialog)
{
    SimBench bench({"--cal-seconds", "3", "--noise", "0"});
    ASSERT_TRUE(bench.sim.start());
    const RZELCFG before = bench.ReadUnit();
    TSystemClock clock;
    TSensorLogRequests requests;
    ScriptedSensorLogView view(&clock);
    view.onReading = [&](const RReadingDisplay&) {
        if (view.readings.size() == 2)
            requests.Press(LogButton::Span);
        if (!view.calLabels.empty() && view.calLabels.back().text == QStringLiteral("Calibration ... OK"))
            requests.Stop();
        if (view.readings.size() > 30)
            requests.Stop();
    };
    TSensorLogWorkflow run(view, bench.link, CurrentSettings(), clock, requests);
    run.StartBtnClick();
    EXPECT_EQ(view.CalTexts(), (QStringList{QStringLiteral("Span CAL. ... START"), QStringLiteral("Span Calibration...."),
                                            QStringLiteral("Calibration ... OK")}));
    EXPECT_EQ(run.WatchState(), CalWatchState::Finished);
    EXPECT_NE(bench.ReadUnit().mSensor.mLastCal, before.mSensor.mLastCal);
    EXPECT_TRUE(view.messages.empty());
}

TEST(SensorToolsAgainstTheSimulator, DetectorOutOfReachComesBack)
{
    SimBench bench({"--noise", "0"});
    ASSERT_TRUE(bench.sim.start());
    TSystemClock clock;
    TSensorLogRequests requests;
    ScriptedSensorLogView view(&clock);
    std::thread away([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        ::kill(static_cast<pid_t>(bench.sim.processId()), SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        ::kill(static_cast<pid_t>(bench.sim.processId()), SIGCONT);
        std::this_thread::sleep_for(std::chrono::milliseconds(4000));
        requests.Stop();
    });
    TSensorLogWorkflow run(view, bench.link, CurrentSettings(), clock, requests);
    run.StartBtnClick();
    away.join();

    EXPECT_TRUE(view.messages.empty()) << view.messages[0].text.toStdString();
    std::vector<double> times;
    for (const RReadingDisplay& reading : view.readings)
        times.push_back(reading.elapsed);
    ASSERT_GE(times.size(), 4u);
    double longestGap = 0;
    for (std::size_t i = 1; i < times.size(); ++i)
        longestGap = std::max(longestGap, times[i] - times[i - 1]);
    EXPECT_GT(longestGap, 2.0) << "no readings while it was away";
    EXPECT_GT(times.back(), 6.0) << "readings again after it came back";
}

TEST(SensorToolsAgainstTheSimulator, UnpluggedAdapterStopsTheRun)
{
    SimBench bench({"--unplug-after", "40", "--noise", "0"});
    ASSERT_TRUE(bench.sim.start());
    TSystemClock clock;
    TSensorLogRequests requests;
    ScriptedSensorLogView view(&clock);
    const QString path = bench.dir.filePath(QStringLiteral("DAT/unplug.CSV"));
    view.saveFileAnswers = {path};
    TSensorLogWorkflow run(view, bench.link, CurrentSettings(), clock, requests);
    run.StartBtnClick();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].caption, QStringLiteral("Beamdock Error"));
    EXPECT_EQ(view.messages[0].text, QStringLiteral("Beamdock Error\rCheck Beamdock connection\rData logging stopped"));
    EXPECT_TRUE(IsAdapterFailure(run.EndStatus()));
    EXPECT_FALSE(view.readings.empty());
    EXPECT_EQ(ReadFile(path).count("\r\n\r\n"), 1 + static_cast<qsizetype>(view.readings.size()));
    EXPECT_TRUE(bench.sim.waitForExit(5000));
}

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun RunCli(const QString& dir, const QStringList& args)
{
    QProcess cli;
    cli.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("BEAMDOCK_PORT");
    cli.setProcessEnvironment(env);
    cli.start(BEAMDOCK_CLI_PATH, args);
    cli.closeWriteChannel();
    CliRun run;
    if (!cli.waitForFinished(30000))
        return run;
    run.exitCode = cli.exitCode();
    run.out = QString::fromLatin1(cli.readAllStandardOutput());
    run.err = QString::fromLatin1(cli.readAllStandardError());
    return run;
}

TEST(SensorToolsAgainstTheSimulator, CommandLineLogAndCalibrate)
{
    SimBench bench({"--cal-seconds", "2", "--gas", "0.5", "--noise", "0"});
    ASSERT_TRUE(bench.sim.start());
    const QString port = bench.sim.portPath();
    const QString path = bench.dir.filePath(QStringLiteral("cli.CSV"));
    const CliRun log = RunCli(bench.dir.path(), {"--port", port, "log", "--seconds", "2.5", "--out", path});
    ASSERT_EQ(log.exitCode, 0) << log.err.toStdString();
    EXPECT_EQ(log.out.count(QStringLiteral(" sensor 0.5 peak 0.5 battery 3.58 (832) temperature 23.5 (432) flags -\n")), 3)
        << log.out.toStdString();
    EXPECT_EQ(ReadFile(path).count(",0.5,0.5,,,,,,,,,3.58,832,23.5,432\r\n\r\n"), 3);

    const RZELCFG before = bench.ReadUnit();
    const CliRun cal = RunCli(bench.dir.path(), {"--port", port, "calibrate", "--yes", "--span", "40"});
    EXPECT_EQ(cal.exitCode, 0) << cal.err.toStdString();
    EXPECT_TRUE(cal.err.endsWith(QStringLiteral("Calibration ... OK\n"))) << cal.err.toStdString();
    const RZELCFG after = bench.ReadUnit();
    EXPECT_EQ(after.mSensor.mSpanGas, 400);
    EXPECT_NE(after.mSensor.mLastCal, before.mSensor.mLastCal);
}

}  // namespace
