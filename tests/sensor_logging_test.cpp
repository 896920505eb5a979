// The logging run against a scripted detector on a pseudo-terminal, in the
// virtual time of a test clock: when readings and link checks go out, what
// the user sees of them, the calibration watch with its time-outs, the
// chart's axis, the data log file, and a detector or adapter that goes away.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <memory>

#include "DataLogCsv.h"
#include "DeviceSettings.h"
#include "ProfileFile.h"
#include "ScriptedDetector.h"
#include "ScriptedSensorViews.h"
#include "SensorLogging.h"
#include "TestClock.h"

namespace {

const QByteArray kFactory = "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n";

QString Frame(std::uint8_t command)
{
    return QString::fromLatin1(WithCrc(QByteArray(1, static_cast<char>(command))).toHex(' ').toUpper());
}

const QString kCheck = QStringLiteral("B2 75 80");

// Everything one logging run needs: a program directory with its settings,
// the scripted detector, a test clock and the run itself.
class LogBench {
public:
    explicit LogBench(const QByteArray& ini = kFactory + "[Logging]\r\nInterval=5\r\nConnectTime=1000\r\n")
    {
        QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
        file.close();
        SetCurrentSettings(LoadSettings(dir.path().toStdString() + "/"));
        link.SetDefPort(detector.Port());
        run = std::make_unique<TSensorLogWorkflow>(view, link, CurrentSettings(), clock, requests);
        // A run that misses its stop must not hang the test.
        clock.SetLimit(100000, [this] { requests.Stop(); });
    }

    void StopAt(double seconds)
    {
        clock.At(seconds, [this] { requests.Stop(); });
    }
    void PressAt(double seconds, LogButton button)
    {
        clock.At(seconds, [this, button] { requests.Press(button); });
    }
    void GasAt(double seconds, std::uint8_t history, std::uint8_t alarm = 0)
    {
        clock.At(seconds, [this, history, alarm] { detector.SetGasFlags(history, alarm); });
    }
    std::vector<double> ReadingTimes() const
    {
        std::vector<double> times;
        for (const RReadingDisplay& reading : view.readings)
            times.push_back(reading.elapsed);
        return times;
    }
    // The frames after the unit information was read, without the link
    // checks and wake-ups.
    QStringList LoopCommands() const
    {
        QStringList out;
        bool inLoop = false;
        for (const QString& frame : detector.Frames()) {
            if (frame == Frame(0x20))
                inLoop = true;
            if (inLoop && frame != kCheck)
                out << frame;
        }
        return out;
    }

    QTemporaryDir dir;
    ScriptedDetector detector;
    TestClock clock;
    ScriptedSensorLogView view{&clock};
    TSensorLogRequests requests;
    TComZEL link;
    std::unique_ptr<TSensorLogWorkflow> run;
};

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

TEST(LoggingRun, ReadsEveryIntervalAndChecksTheLinkBetween)
{
    LogBench bench;
    bench.StopAt(16);
    bench.run->StartBtnClick();

    EXPECT_EQ(bench.ReadingTimes(), (std::vector<double>{0, 5, 10, 15}));
    EXPECT_TRUE(bench.view.messages.empty());
    EXPECT_EQ(bench.view.running, (std::vector<bool>{true, false}));
    ASSERT_FALSE(bench.view.calButtons.empty());
    EXPECT_EQ(bench.view.calButtons.front(), std::make_pair(true, true));
    EXPECT_EQ(bench.view.calButtons.back(), std::make_pair(false, false));
    EXPECT_EQ(bench.view.progressMax, (std::vector<int>{180}));

    // The unit is read once at the start, on a link of its own.
    const QStringList frames = bench.detector.Frames();
    const qsizetype identify = frames.indexOf(Frame(0xA0));
    ASSERT_GE(identify, 0);
    EXPECT_EQ(frames.mid(identify, 5),
              (QStringList{Frame(0xA0), Frame(0x5F), Frame(0x81), Frame(0x81), Frame(0xB3)}));

    // Gas, battery, temperature; one link check a second in between; the
    // end of connection after Stop.
    const QStringList reading{Frame(0x20), Frame(0x22), Frame(0x21)};
    EXPECT_EQ(bench.LoopCommands(), reading + reading + reading + reading + QStringList{Frame(0xB3)});
    const qsizetype first = frames.indexOf(Frame(0x20));
    const qsizetype second = frames.indexOf(Frame(0x20), first + 1);
    EXPECT_EQ(frames.mid(first + 3, second - first - 3), QStringList(4, kCheck));

    const RReadingDisplay& shown = bench.view.readings.front();
    EXPECT_EQ(shown.sensorValue, QStringLiteral("0.0"));
    EXPECT_EQ(shown.batteryValue, QStringLiteral("3.05"));
    EXPECT_EQ(shown.batteryAdc, QStringLiteral("700"));
    EXPECT_EQ(shown.temperatureValue, QStringLiteral("23.5"));
    EXPECT_EQ(shown.temperatureAdc, QStringLiteral("512"));
}

TEST(LoggingRun, UncheckedQuantitiesAreNotRequestedAndKeepTheLastReading)
{
    struct Case {
        const char* name;
        bool batteryFromStart;
        bool temperatureFromStart;
        double uncheckAt;  // both boxes unchecked then (0: never)
        QStringList loop;
        QString lastBattery;
        QString lastTemperature;
    };
    const QStringList all{Frame(0x20), Frame(0x22), Frame(0x21)};
    const QStringList gasOnly{Frame(0x20)};
    const Case cases[] = {
        {"both unchecked from the start", false, false, 0, gasOnly + gasOnly + gasOnly + QStringList{Frame(0xB3)},
         QString(), QString()},
        {"battery unchecked", false, true, 0,
         QStringList{Frame(0x20), Frame(0x21), Frame(0x20), Frame(0x21), Frame(0x20), Frame(0x21), Frame(0xB3)},
         QString(), QStringLiteral("23.5")},
        {"both unchecked after a reading", true, true, 7, all + all + gasOnly + QStringList{Frame(0xB3)},
         QStringLiteral("3.05"), QStringLiteral("23.5")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogBench bench;
        bench.requests.SetBatteryWanted(c.batteryFromStart);
        bench.requests.SetTemperatureWanted(c.temperatureFromStart);
        if (c.uncheckAt > 0) {
            bench.clock.At(c.uncheckAt, [&bench] {
                bench.requests.SetBatteryWanted(false);
                bench.requests.SetTemperatureWanted(false);
                // The detector's values change meanwhile: what is shown must
                // be the last reading taken, not these.
                bench.detector.SetReading(sensormode::kBattery, RZELSensor{999, 1, 0x02, 0});
            });
        }
        bench.StopAt(11);
        bench.run->StartBtnClick();
        EXPECT_EQ(bench.LoopCommands(), c.loop);
        ASSERT_EQ(bench.view.readings.size(), 3u);
        EXPECT_EQ(bench.view.readings.back().batteryValue, c.lastBattery);
        EXPECT_EQ(bench.view.readings.back().temperatureValue, c.lastTemperature);
        EXPECT_EQ(bench.view.readings.back().sensorValue, QStringLiteral("0.0")) << "the gas reading goes on";
    }
}

TEST(LoggingRun, OverLimitAndNegativeValuesOnLabelsChartAndFile)
{
    LogBench bench;
    const QString path = bench.dir.filePath(QStringLiteral("DAT/run.CSV"));
    bench.view.saveFileAnswers = {path};
    bench.clock.At(2, [&bench] { bench.detector.SetReading(sensormode::kGas, RZELSensor{0x7FFF, 1200, 0x01, 0}); });
    bench.clock.At(7, [&bench] {
        bench.detector.SetReading(sensormode::kGas, RZELSensor{static_cast<std::int16_t>(0xFFF6), 3, 0x01, 0});
    });
    bench.StopAt(11);
    bench.run->StartBtnClick();

    ASSERT_EQ(bench.view.readings.size(), 3u);
    EXPECT_EQ(bench.view.readings[1].sensorValue, QStringLiteral("OL"));
    EXPECT_EQ(bench.view.readings[1].sensorPeak, QStringLiteral("120.0")) << "the peak stays numeric";
    EXPECT_EQ(bench.view.readings[2].sensorValue, QStringLiteral("-1.0"));

    const RChartWindow& chart = bench.view.charts.back();
    ASSERT_EQ(chart.points.size(), 3);
    EXPECT_DOUBLE_EQ(chart.points[1].y(), static_cast<double>(3276.7f));
    EXPECT_DOUBLE_EQ(chart.points[2].y(), -1.0);

    const QList<QByteArray> lines = ReadFile(path).split('\n');
    ASSERT_GE(lines.size(), 16);
    EXPECT_EQ(lines[12], "03-05 09:30:05:000,OL,120.0,,,,,,,,,3.05,700,23.5,512\r");
    EXPECT_EQ(lines[14], "03-05 09:30:10:000,-1.0,0.3,,,,,,,,,3.05,700,23.5,512\r");
}

TEST(LoggingRun, DataLogHasTheHeaderAndOneRecordPerReading)
{
    LogBench bench;
    QDir(bench.dir.path()).mkpath(QStringLiteral("chosen"));
    const QString path = bench.dir.filePath(QStringLiteral("chosen/SH10000123_DAT_240305093000.CSV"));
    bench.view.saveFileAnswers = {path};
    bench.GasAt(3, 0x01 | historybit::kSelfTestFail | historybit::kBumpDue, alarmbit::kLow | alarmbit::kTWA);
    bench.StopAt(6);
    bench.run->StartBtnClick();

    ASSERT_EQ(bench.view.fileRequests.size(), 1u);
    const RFileRequest& request = bench.view.fileRequests[0];
    EXPECT_EQ(request.title, QStringLiteral("Save Logging Data..."));
    EXPECT_EQ(request.filter, QStringLiteral("Data file|*.csv"));
    EXPECT_EQ(request.defaultSuffix, QStringLiteral("csv"));
    EXPECT_EQ(request.fileName, QStringLiteral("SH10000123_DAT_240305093000.CSV"));
    EXPECT_EQ(request.folder, bench.dir.filePath(QStringLiteral("DAT/")));

    RZELUnitCFG unit = ScriptedDetector::DefaultUnitConfig().mUnit;
    const QByteArray expected = DataLogHeader(unit) +
                                "03-05 09:30:00:000,0.0,0.0,,,,,,,,,3.05,700,23.5,512\r\n\r\n"
                                "03-05 09:30:05:000,0.0,0.0,YES,,,,YES,,LOW,,3.05,700,23.5,512\r\n\r\n";
    EXPECT_EQ(ReadFile(path), expected);
    EXPECT_TRUE(DataLogHeader(unit).contains("Life Remaining,20months 2 days\r\n"));

    // The folder chosen is the next run's starting folder.
    const ProfileFile ini(bench.dir.filePath(QStringLiteral("LUMBRA.INI")).toStdString());
    EXPECT_EQ(ini.ReadString("Logging", "SaveDirectory", ""), bench.dir.filePath(QStringLiteral("chosen/")).toStdString());
    EXPECT_EQ(CurrentSettings().cfg.mLogSaveDir, bench.dir.filePath(QStringLiteral("chosen/")).toStdString());
    EXPECT_TRUE(bench.view.dataLogFailures.size() == 1 && bench.view.dataLogFailures[0].second == 0)
        << "only the clearing at the start";
}

TEST(LoggingRun, CancelledSaveDialogStillShowsAndCharts)
{
    LogBench bench;
    bench.StopAt(6);
    bench.run->StartBtnClick();
    EXPECT_EQ(bench.view.fileRequests.size(), 1u);
    EXPECT_EQ(bench.view.readings.size(), 2u);
    EXPECT_EQ(bench.view.charts.back().points.size(), 2);
    EXPECT_TRUE(QDir(bench.dir.filePath(QStringLiteral("DAT"))).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(bench.run->LostRecords(), 0);
}

TEST(LoggingRun, RecordsThatCannotBeWrittenAreCountedAndShown)
{
    struct Case {
        const char* name;
        bool missingFolder;   // the header cannot be written at all
        double deleteAt;      // the file disappears during the run
        std::vector<int> shownCounts;
    };
    const Case cases[] = {
        {"header not written", true, 0, {1, 2, 3}},
        {"file deleted after the first record", false, 3, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogBench bench;
        const QString path = bench.dir.filePath(c.missingFolder ? QStringLiteral("none/x.CSV") : QStringLiteral("x.CSV"));
        bench.view.saveFileAnswers = {path};
        if (c.deleteAt > 0)
            bench.clock.At(c.deleteAt, [path] { QFile::remove(path); });
        bench.StopAt(11);
        bench.run->StartBtnClick();

        EXPECT_EQ(bench.view.readings.size(), 3u) << "the run goes on";
        EXPECT_TRUE(bench.view.messages.empty()) << "no box stops the readings";
        std::vector<int> counts;
        for (const auto& [shownPath, lost] : bench.view.dataLogFailures) {
            if (lost == 0)
                continue;
            EXPECT_EQ(shownPath, path);
            counts.push_back(lost);
        }
        EXPECT_EQ(counts, c.shownCounts);
        EXPECT_EQ(bench.run->LostRecords(), c.shownCounts.back());
        EXPECT_FALSE(QFile::exists(path)) << "a lost record never creates the file";
    }
}

TEST(LoggingRun, BottomAxisMovesAt121Seconds)
{
    LogBench bench(kFactory + "[Logging]\r\nInterval=1\r\nDisplayTime=120\r\n");
    bench.StopAt(121.5);
    bench.run->StartBtnClick();

    ASSERT_EQ(bench.view.readings.size(), 122u);
    const RChartWindow& start = bench.view.charts.front();
    EXPECT_TRUE(start.points.isEmpty());
    EXPECT_DOUBLE_EQ(start.min, 0);
    EXPECT_DOUBLE_EQ(start.max, 120);
    EXPECT_DOUBLE_EQ(start.increment, 12);

    const RChartWindow& at120 = bench.view.charts[bench.view.charts.size() - 2];
    EXPECT_DOUBLE_EQ(at120.min, 0);
    EXPECT_DOUBLE_EQ(at120.max, 120);
    EXPECT_EQ(at120.points.size(), 121);

    const RChartWindow& at121 = bench.view.charts.back();
    EXPECT_DOUBLE_EQ(at121.min, 12);
    EXPECT_DOUBLE_EQ(at121.max, 132);
    ASSERT_EQ(at121.points.size(), 110);
    EXPECT_DOUBLE_EQ(at121.points.front().x(), 12);
    EXPECT_DOUBLE_EQ(at121.points.back().x(), 121);
}

struct CommandCase {
    const char* name;
    LogButton button;
    std::uint8_t command;
    std::uint8_t reply;  // the detector's status byte
    QString label;
    RColour colour;
    QString recorded = {};  // the calibration outcome the history is told; empty: none
};

// What the run tells the history of its calibrations: "label: outcome status".
QStringList* RecordCalibrations(TSensorLogWorkflow& run)
{
    auto* told = new QStringList;
    run.OnCalibrationEnded([told](const QString& label, CalOutcome outcome, std::uint8_t status) {
        *told << QStringLiteral("%1: %2 %3").arg(label, QLatin1String(CalOutcomeText(outcome))).arg(
                     CalOutcomeStatusByte(outcome, status));
    });
    return told;
}

TEST(LoggingRun, CalibrationGroupCommandsAndTheirLabels)
{
    const RColour black = colours::kBlack;
    const RColour maroon = colours::kMaroon;
    const CommandCase cases[] = {
        {"zero", LogButton::Zero, 0x40, 0xB5, QStringLiteral("Zero CAL. ... OK"), black, "Zero CAL.: zero only 1"},
        {"abort when idle", LogButton::CalAbort, 0x43, 0xB5, QStringLiteral("Clear CAL. ... OK"), black},
        {"clear peak", LogButton::ClearPeak, 0x44, 0xB5, QStringLiteral("Clear Peak ... OK"), black},
        {"bump fail", LogButton::BumpFail, 0x45, 0xB5, QStringLiteral("Send Bump Fail ... OK"), black},
        {"bump pass", LogButton::BumpPass, 0x46, 0xB5, QStringLiteral("Send Bump Pass ... OK"), black},
        // Still running when the run stops at 3 s: the unit finishes alone.
        {"span", LogButton::Span, 0x41, 0xB5, QStringLiteral("Span CAL. ... START"), black,
         "Span CAL.: started, end not watched 1"},
        {"zero+span", LogButton::Cal, 0x42, 0xB5, QStringLiteral("Zero/Span CAL. ... START"), black,
         "Zero/Span CAL.: started, end not watched 1"},
        {"negative", LogButton::Span, 0x41, 0xB6, QStringLiteral("Span CAL. ... Negative"), maroon,
         "Span CAL.: not started 176"},
        {"zero refused", LogButton::Cal, 0x42, 0x40, QStringLiteral("Zero/Span CAL. ... Zero Cal. FAIL"), maroon,
         "Zero/Span CAL.: zero refused 194"},
        {"refused", LogButton::ClearPeak, 0x44, 0x01, QStringLiteral("Clear Peak ... FAIL"), maroon},
        {"zero refused alone", LogButton::Zero, 0x40, 0x40, QStringLiteral("Zero CAL. ... FAIL"), maroon,
         "Zero CAL.: zero refused 194"},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogBench bench;
        bench.detector.SetSensorReply(c.command, c.reply);
        bench.PressAt(2, c.button);
        bench.StopAt(3);
        const std::unique_ptr<QStringList> told(RecordCalibrations(*bench.run));
        bench.run->StartBtnClick();
        EXPECT_EQ(*told, c.recorded.isEmpty() ? QStringList() : QStringList{c.recorded});

        const QStringList frames = bench.detector.Frames();
        const qsizetype select = frames.indexOf(Frame(0x50));
        ASSERT_GE(select, 0);
        EXPECT_EQ(frames.value(select + 1), Frame(c.command));
        const ShownLabel* label = bench.view.FindLabel(c.label);
        ASSERT_NE(label, nullptr) << bench.view.CalTexts().join('|').toStdString();
        EXPECT_EQ(label->colour, c.colour);
        EXPECT_DOUBLE_EQ(label->at, 2);
        const bool started = c.label.endsWith(QStringLiteral("START"));
        EXPECT_EQ(bench.run->WatchState(), started ? CalWatchState::WaitProgress : CalWatchState::Idle);
        if (started) {
            // Cal. Abort stays available; everything else waits for the end.
            EXPECT_EQ(bench.view.calButtons[1], std::make_pair(false, true));
            EXPECT_EQ(bench.view.progLabels.value(0), QStringLiteral("(0)"));
        } else {
            EXPECT_EQ(bench.view.calButtons.size(), 2u) << "start and end of the run only";
        }
    }
}

TEST(LoggingRun, CommandWhileTheDetectorIsAwayIsACommunicationError)
{
    LogBench bench;
    bench.clock.At(2, [&bench] {
        bench.detector.SetSilent(true);
        bench.requests.Press(LogButton::ClearPeak);
    });
    bench.StopAt(3);
    bench.run->StartBtnClick();
    const ShownLabel* label = bench.view.FindLabel(QStringLiteral("Clear Peak ... Communication Error"));
    ASSERT_NE(label, nullptr) << bench.view.CalTexts().join('|').toStdString();
    EXPECT_EQ(label->colour, colours::kMaroon);
    EXPECT_TRUE(bench.view.messages.empty());
}

TEST(LoggingRun, SecondPressBeforeTheLoopTakesTheFirstReplacesIt)
{
    LogBench bench;
    bench.clock.At(2, [&bench] {
        bench.requests.Press(LogButton::BumpPass);
        bench.requests.Press(LogButton::ClearPeak);
    });
    bench.StopAt(3);
    bench.run->StartBtnClick();
    EXPECT_EQ(bench.detector.CountCommand(0x46), 0);
    EXPECT_EQ(bench.detector.CountCommand(0x44), 1);
    EXPECT_EQ(bench.view.CalTexts(), QStringList{QStringLiteral("Clear Peak ... OK")});
}

struct WatchCase {
    const char* name;
    double progressFrom;  // seconds after the press the detector raises the flag (<0: never)
    double progressTo;    // ... and clears it (<0: never)
    bool fails;
    QStringList texts;
    RColour lastColour;
    double endAfter;  // seconds from the press to the last text
    bool sendsClear;
    const char* recorded;
};

TEST(LoggingRun, CalibrationWatch)
{
    const WatchCase cases[] = {
        {"ends well", 2.5, 20.5, false,
         {QStringLiteral("Span CAL. ... START"), QStringLiteral("Span Calibration...."),
          QStringLiteral("Calibration ... OK")},
         colours::kBlack, 21, false, "Span CAL.: passed 0"},
        {"detector reports a failure", 2.5, 20.5, true,
         {QStringLiteral("Span CAL. ... START"), QStringLiteral("Span Calibration...."),
          QStringLiteral("Calibration ... FAIL")},
         colours::kMaroon, 21, false, "Span CAL.: failed 177"},
        {"progress never rises", -1, -1, false,
         {QStringLiteral("Span CAL. ... START"), QStringLiteral("Clear CAL. ... OK"),
          QStringLiteral("Calibration Abort ... Timeout")},
         colours::kMaroon, 10.001, true, "Span CAL.: never in progress 177"},
        {"progress never ends", 1.5, -1, false,
         {QStringLiteral("Span CAL. ... START"), QStringLiteral("Span Calibration...."),
          QStringLiteral("Clear CAL. ... OK"), QStringLiteral("Calibration FAIL ... Timeout")},
         colours::kMaroon, 2 + 60.001, true, "Span CAL.: no answer 162"},
    };
    for (const WatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        LogBench bench(kFactory + "[Logging]\r\nInterval=5\r\nConnectTime=1000\r\n"
                                  "[Calibration]\r\nCalibrationTime=60\r\n");
        const double press = 12;
        const std::uint8_t fail = c.fails ? historybit::kCalibrationFail : 0;
        bench.PressAt(press, LogButton::Span);
        if (c.progressFrom >= 0)
            bench.GasAt(press + c.progressFrom, 0x01 | historybit::kCalibrationProgress);
        if (c.progressTo >= 0)
            bench.GasAt(press + c.progressTo, 0x01 | fail);
        bench.StopAt(press + 90);
        const std::unique_ptr<QStringList> told(RecordCalibrations(*bench.run));
        bench.run->StartBtnClick();

        EXPECT_EQ(*told, QStringList{QString::fromLatin1(c.recorded)});
        EXPECT_EQ(bench.view.CalTexts(), c.texts);
        const ShownLabel* last = bench.view.FindLabel(c.texts.back());
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(last->colour, c.lastColour);
        EXPECT_NEAR(last->at - press, c.endAfter, 1.0);
        EXPECT_EQ(bench.detector.CountCommand(0x43), c.sendsClear ? 1 : 0);
        EXPECT_EQ(bench.run->WatchState(), CalWatchState::Finished);
        EXPECT_EQ(bench.view.calButtons.back(), std::make_pair(false, false));
        EXPECT_EQ(bench.view.calButtons[bench.view.calButtons.size() - 2], std::make_pair(true, true))
            << "the buttons come back when the watch ends";

        // Every 5 s before, every second while watched, every 5 s after.
        const std::vector<double> times = bench.ReadingTimes();
        for (std::size_t i = 1; i < times.size(); ++i) {
            const double gap = times[i] - times[i - 1];
            if (times[i] < press) {
                EXPECT_DOUBLE_EQ(gap, 5) << times[i];
            } else if (times[i] > press && times[i] <= last->at) {
                EXPECT_LE(gap, 1.0 + 1e-9) << times[i];
            } else if (times[i - 1] > last->at) {
                EXPECT_DOUBLE_EQ(gap, 5) << times[i];
            }
        }
        EXPECT_DOUBLE_EQ(times[3], press) << "read at once when the span command was taken";
    }
}

TEST(LoggingRun, ProgressCountsTheSecondsOfTheCalibration)
{
    LogBench bench(kFactory + "[Logging]\r\nInterval=5\r\n[Calibration]\r\nCalibrationTime=60\r\n");
    bench.PressAt(2, LogButton::Cal);
    bench.GasAt(3.5, 0x01 | historybit::kCalibrationProgress);
    bench.GasAt(9.5, 0x01);
    bench.StopAt(20);
    bench.run->StartBtnClick();
    // The flag was seen at the reading of second 4 and gone at second 10.
    EXPECT_EQ(bench.view.progLabels,
              (QStringList{"(0)", "(0)", "(1)", "(2)", "(3)", "(4)", "(5)", "(6)"}));
    EXPECT_EQ(bench.view.progress.back(), 0) << "the bar goes back to 0 when the run ends";
}

TEST(LoggingRun, DetectorThatStopsAnsweringAndComesBack)
{
    LogBench bench(kFactory + "[Logging]\r\nInterval=1\r\nConnectTime=800\r\n");
    bench.clock.At(3.5, [&bench] { bench.detector.SetSilent(true); });
    bench.clock.At(8.5, [&bench] { bench.detector.SetSilent(false); });
    bench.StopAt(12.5);
    bench.run->StartBtnClick();

    EXPECT_TRUE(bench.view.messages.empty()) << "no box for a detector that is away";
    const std::vector<double> times = bench.ReadingTimes();
    ASSERT_GE(times.size(), 6u);
    EXPECT_EQ(std::vector<double>(times.begin(), times.begin() + 4), (std::vector<double>{0, 1, 2, 3}));
    // Nothing while it is away; readings again once a wake-up got through.
    for (double t : times)
        EXPECT_TRUE(t < 3.5 || t > 8.5) << t;
    EXPECT_GT(times.back(), 11.0);
    EXPECT_EQ(bench.view.running, (std::vector<bool>{true, false}));
}

TEST(LoggingRun, UnpluggedAdapterStopsTheRunWithABox)
{
    LogBench bench(kFactory + "[Logging]\r\nInterval=1\r\n");
    const QString path = bench.dir.filePath(QStringLiteral("DAT/unplug.CSV"));
    bench.view.saveFileAnswers = {path};
    bench.clock.At(2.5, [&bench] { bench.detector.HangUp(); });
    bench.run->StartBtnClick();

    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
    EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Beamdock Error"));
    EXPECT_EQ(bench.view.messages[0].text,
              QStringLiteral("Beamdock Error\rCheck Beamdock connection\rData logging stopped"));
    EXPECT_EQ(bench.view.running, (std::vector<bool>{true, false}));
    EXPECT_FALSE(bench.requests.LogStart());
    // The file keeps what was written: the header's empty line, then one
    // after each record.
    ASSERT_FALSE(bench.view.readings.empty());
    EXPECT_EQ(ReadFile(path).count("\r\n\r\n"), 1 + static_cast<qsizetype>(bench.view.readings.size()));
    EXPECT_FALSE(bench.link.PortOpen());
}

TEST(LoggingRun, UnitThatCannotBeReadGetsNoRun)
{
    struct Case {
        const char* name;
        std::function<void(LogBench&)> arrange;
        QString text;
    };
    const Case cases[] = {
        {"another model", [](LogBench& b) {
             RZELIdenty id = ScriptedDetector::DefaultIdentity();
             id.mPID = 3;
             b.detector.SetIdentity(id);
         }, QStringLiteral("Do not read Varnolite unit configuration data\rCheck Varnolite and Beamdock connection")},
        {"no detector", [](LogBench& b) { b.detector.SetSilent(true); },
         QStringLiteral("Do not read Varnolite unit configuration data\rCheck Varnolite and Beamdock connection")},
        {"no port", [](LogBench& b) { b.link.SetDefPort(b.dir.filePath(QStringLiteral("ttyNONE")).toStdString()); },
         QStringLiteral("Error accessing specified device")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogBench bench;
        c.arrange(bench);
        bench.run->StartBtnClick();
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Varnolite Unit Information Error"));
        EXPECT_TRUE(bench.view.messages[0].text.startsWith(c.text)) << bench.view.messages[0].text.toStdString();
        EXPECT_TRUE(bench.view.fileRequests.empty());
        EXPECT_TRUE(bench.view.readings.empty());
        EXPECT_EQ(bench.view.running, (std::vector<bool>{true, false}));
        EXPECT_EQ(bench.view.calButtons.back(), std::make_pair(false, false));
        EXPECT_FALSE(bench.link.PortOpen());
    }
}

}  // namespace
