// The guided calibration against a scripted detector, in the virtual time of
// a test clock: the span gas value remembered per sensor type, the checks
// and the byte-exact span gas write before a start, the texts and colours
// of each ending, cancel, time-out and a detector that is away while polled.
#include <gtest/gtest.h>

#include <cmath>

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <functional>
#include <memory>

#include "DeviceSettings.h"
#include "ProfileFile.h"
#include "ScriptedDetector.h"
#include "ScriptedSensorViews.h"
#include "SensorCalibration.h"
#include "SensorReading.h"
#include "TestClock.h"

namespace {

const QByteArray kFactory =
    "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n[Calibration]\r\nCalibrationCheckTime=5\r\n";

QString Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString Frame(std::uint8_t command)
{
    return Hex(WithCrc(QByteArray(1, static_cast<char>(command))));
}

QString PayloadFrame(const char* hex)
{
    return Hex(WithCrc(QByteArray::fromHex(QByteArray(hex).replace(' ', ""))));
}

class CalBench {
public:
    explicit CalBench(const QByteArray& ini = kFactory)
    {
        QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
        file.close();
        SetCurrentSettings(LoadSettings(dir.path().toStdString() + "/"));
        link.SetDefPort(detector.Port());
        run = std::make_unique<TSensorCalWorkflow>(view, link, CurrentSettings(), clock, requests);
        clock.SetLimit(100000, [this] { requests.Cancel(); });
        // One "[CHECK TIME]" line per wake-up: when the link was opened.
        link.SetOnZELEvent([this](TComZEL*, const QDateTime&, const QString& log) {
            if (log.startsWith(QStringLiteral("[CHECK TIME]")))
                wakeUps.push_back(clock.Seconds());
        });
    }

    std::optional<std::string> StoredSpan() const
    {
        const ProfileFile ini(dir.filePath(QStringLiteral("LUMBRA.INI")).toStdString());
        if (!ini.HasKey("SENSORCAL", "H2S"))
            return std::nullopt;
        return ini.ReadString("SENSORCAL", "H2S", "");
    }
    void StoreSpan(int tenths) const
    {
        ProfileFile(dir.filePath(QStringLiteral("LUMBRA.INI")).toStdString()).WriteInt("SENSORCAL", "H2S", tenths);
    }
    void FlagsAt(double seconds, std::uint8_t history)
    {
        clock.At(seconds, [this, history] { detector.SetGasFlags(history, 0); });
    }
    // The frames from the first identify on.
    QStringList FramesFromIdentify() const
    {
        const QStringList frames = detector.Frames();
        return frames.mid(frames.indexOf(Frame(0xA0)));
    }

    QTemporaryDir dir;
    ScriptedDetector detector;
    TestClock clock;
    ScriptedSensorCalView view{&clock};
    TSensorCalRequests requests;
    TComZEL link;
    std::unique_ptr<TSensorCalWorkflow> run;
    std::vector<double> wakeUps;
};

TEST(CalibrationDialog, OpeningTakesTheStoredSpanGasOnceItExists)
{
    struct Case {
        const char* name;
        std::optional<int> stored;  // SENSORCAL/H2S before the opening
        std::uint16_t unitSpan;
        std::uint16_t defSpan;
        double spin;
        std::string storedAfter;
    };
    const Case cases[] = {
        {"first use", std::nullopt, 250, 250, 25.0, "250"},
        {"later opening, unit holds another value", 300, 250, 300, 30.0, "300"},
        {"stored value beyond the sensor's range", 1500, 250, 1500, 100.0, "1500"},
        // No span gas is not a stored value: the unit's own takes its place.
        {"negative stored value", -5, 250, 250, 25.0, "250"},
        {"stored value of 0", 0, 250, 250, 25.0, "250"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CalBench bench;
        if (c.stored)
            bench.StoreSpan(*c.stored);
        RZELCFG cfg = ScriptedDetector::DefaultUnitConfig();
        cfg.mSensor.mSpanGas = c.unitSpan;
        ASSERT_TRUE(bench.run->ShowDlg(cfg));
        EXPECT_EQ(bench.run->DefSpan(), c.defSpan);
        EXPECT_EQ(bench.StoredSpan(), c.storedAfter);
        EXPECT_EQ(bench.view.caption, QStringLiteral("Sensor Calibration (H2S)"));
        EXPECT_EQ(bench.view.unit, QStringLiteral("ppm"));
        EXPECT_DOUBLE_EQ(bench.view.spanMin, 0);
        EXPECT_DOUBLE_EQ(bench.view.spanMax, 100);
        EXPECT_DOUBLE_EQ(bench.view.spanValue, c.spin);
        EXPECT_EQ(bench.view.lines.size(), 3u) << "the three lines are cleared";
        EXPECT_TRUE(bench.view.messages.empty());
        EXPECT_TRUE(bench.detector.Frames().isEmpty()) << "opening does not touch the unit";
    }
    // Nothing that is no span gas starts a calibration or is remembered.
    CalBench bench;
    ASSERT_TRUE(bench.run->ShowDlg(ScriptedDetector::DefaultUnitConfig()));
    const std::optional<std::string> stored = bench.StoredSpan();
    for (const double span : {std::nan(""), 0.0, -1.0, HUGE_VAL}) {
        EXPECT_FALSE(bench.run->PrepareCalibration(span)) << span;
    }
    EXPECT_EQ(bench.StoredSpan(), stored);
    EXPECT_TRUE(bench.detector.Frames().isEmpty());
}

TEST(CalibrationDialog, UnknownSensorTypeIsNotShown)
{
    CalBench bench;
    RZELCFG cfg = ScriptedDetector::DefaultUnitConfig();
    cfg.mSensor.mSensorType = 9;
    EXPECT_FALSE(bench.run->ShowDlg(cfg));
    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
    EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Wrong Sensor"));
    EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("Sensor type is wrong\rDid not sensor calibration"));
    EXPECT_EQ(bench.StoredSpan(), std::nullopt);
    EXPECT_FALSE(bench.run->PrepareCalibration(25.0)) << "nothing to calibrate";
    EXPECT_TRUE(bench.detector.Frames().isEmpty());
}

TEST(CalibrationDialog, SpanGasIsWrittenToTheUnitOnlyWhenItDiffers)
{
    struct Case {
        const char* name;
        std::optional<int> stored;
        double spin;
        std::string storedAfter;
        std::uint16_t unitAfter;
        bool writes;
    };
    const Case cases[] = {
        {"same value", std::nullopt, 25.0, "250", 250, false},
        {"a rounding to the same tenths", std::nullopt, 25.04, "250", 250, false},
        {"new value from the spin", std::nullopt, 30.0, "300", 300, true},
        {"rounds to the nearest tenth", std::nullopt, 30.06, "301", 301, true},
        {"stored value of an earlier session", 300, 30.0, "300", 300, true},
        {"spin value beyond the range", std::nullopt, 250.0, "1000", 1000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CalBench bench;
        if (c.stored)
            bench.StoreSpan(*c.stored);
        ASSERT_TRUE(bench.run->ShowDlg(ScriptedDetector::DefaultUnitConfig()));
        const QByteArray iniBefore = [&] {
            QFile file(bench.dir.filePath(QStringLiteral("LUMBRA.INI")));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        ASSERT_TRUE(bench.run->PrepareCalibration(c.spin));
        EXPECT_TRUE(bench.view.messages.empty());
        EXPECT_EQ(bench.StoredSpan(), c.storedAfter);
        if (!c.writes || c.stored) {
            QFile file(bench.dir.filePath(QStringLiteral("LUMBRA.INI")));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(file.readAll(), iniBefore) << "the settings file is not rewritten";
        }

        const RZELCFG unit = bench.detector.Config();
        EXPECT_EQ(unit.mSensor.mSpanGas, c.unitAfter);
        EXPECT_EQ(bench.run->Config().mSensor.mSpanGas, c.unitAfter);
        const RZELCFG original = ScriptedDetector::DefaultUnitConfig();
        EXPECT_EQ(unit.mSensor.mDeadZone, original.mSensor.mDeadZone) << "the dead zone just before stays";
        EXPECT_EQ(unit.mSensor.mSensorMax, original.mSensor.mSensorMax) << "so does the maximum just after";

        const QStringList read{Frame(0xA0), Frame(0x5F), Frame(0x81), Frame(0x81),
                               Frame(0x50), Frame(0x81), Frame(0x81)};
        QStringList expected = read;
        if (c.writes) {
            const QByteArray value(reinterpret_cast<const char*>(&c.unitAfter), 2);
            expected << Frame(0x70) << PayloadFrame("02 00 00 58") << Frame(0x91)
                     << Hex(WithCrc(value)) << Frame(0x50) << Frame(0x81) << Frame(0x81);
        }
        expected << Frame(0xB3);
        EXPECT_EQ(bench.FramesFromIdentify(), expected);
    }
}

TEST(CalibrationDialog, SpanGasWriteOnTheWire)
{
    CalBench bench;
    ASSERT_TRUE(bench.run->ShowDlg(ScriptedDetector::DefaultUnitConfig()));
    ASSERT_TRUE(bench.run->PrepareCalibration(100.0));
    const QStringList frames = bench.FramesFromIdentify();
    const qsizetype header = frames.indexOf(Frame(0x70));
    ASSERT_GE(header, 0);
    // 1000 tenths, little-endian, at image offset 88.
    EXPECT_EQ(frames.mid(header, 4), (QStringList{"70 E4 01", PayloadFrame("02 00 00 58"), "91 AC C1",
                                                  PayloadFrame("E8 03")}));
    EXPECT_EQ(frames[header + 1].left(11), QStringLiteral("02 00 00 58"));
}

TEST(CalibrationDialog, ChecksBeforeTheStart)
{
    struct Case {
        const char* name;
        std::function<void(CalBench&)> arrange;
        double spin;
        QString text;
        bool writes;  // a span gas write reached the unit
    };
    const Case cases[] = {
        {"another model", [](CalBench& b) {
             RZELIdenty id = ScriptedDetector::DefaultIdentity();
             id.mPID = 3;
             b.detector.SetIdentity(id);
         }, 30.0, QStringLiteral("This is not Varnolite module"), false},
        {"no detector", [](CalBench& b) { b.detector.SetSilent(true); }, 30.0,
         QStringLiteral("Varnolite comunication error\rCheck Beamdock and Varnolite unit connection"), false},
        // Another unit on the adapter, fitted with another sensor: it keeps
        // its own span gas value.
        {"different sensor type", [](CalBench& b) {
             RZELCFG cfg = ScriptedDetector::DefaultUnitConfig();
             cfg.mSensor.mSensorType = 2;
             b.detector.SetConfig(cfg);
         }, 30.0, QStringLiteral("Different sensor type"), false},
        // The unit acknowledges the write but keeps its old value.
        {"span gas not taken", [](CalBench& b) { b.detector.SetIgnoreWrites(true); }, 30.0,
         QStringLiteral("Varnolite comunication error\rCheck Beamdock and Varnolite unit connection"), false},
        {"no port", [](CalBench& b) { b.link.SetDefPort(b.dir.filePath(QStringLiteral("ttyNONE")).toStdString()); },
         30.0, QStringLiteral("Error accessing specified device"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CalBench bench;
        ASSERT_TRUE(bench.run->ShowDlg(ScriptedDetector::DefaultUnitConfig()));
        c.arrange(bench);
        bench.run->CalBtnClick(c.spin);
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
        EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Read Varnolite Information"));
        EXPECT_TRUE(bench.view.messages[0].text.startsWith(c.text)) << bench.view.messages[0].text.toStdString();
        EXPECT_EQ(bench.run->Outcome(), CalOutcome::NotStarted);
        EXPECT_EQ(bench.detector.CountCommand(0x42), 0) << "no calibration command";
        EXPECT_TRUE(bench.view.calibrating.empty()) << "nothing else happens";
        EXPECT_EQ(bench.detector.Config().mSensor.mSpanGas, 250);
        EXPECT_FALSE(bench.link.PortOpen());
    }
}

struct EndCase {
    const char* name;
    std::function<void(CalBench&)> arrange;
    QString result;       // the last text of CalLabel2
    RColour colour;
    CalOutcome outcome;
    double endsAt;        // clock seconds of that text
    bool sendsStop;
    int finalProgress;
};

TEST(CalibrationDialog, CalibrationEndings)
{
    const EndCase cases[] = {
        {"ends well", [](CalBench& b) {
             b.FlagsAt(0.5, 0x01 | historybit::kCalibrationProgress);
             b.FlagsAt(32, 0x01);
         }, QStringLiteral("Calibration ... OK"), colours::kBlue, CalOutcome::Ok, 35, false, 180},
        {"detector reports a failure", [](CalBench& b) {
             b.FlagsAt(0.5, 0x01 | historybit::kCalibrationProgress);
             b.FlagsAt(12, 0x01 | historybit::kCalibrationFail);
         }, QStringLiteral("Calibration ... FAIL"), colours::kRed, CalOutcome::Failed, 15, false, 15},
        {"cancel during the span phase", [](CalBench& b) {
             b.FlagsAt(0.5, 0x01 | historybit::kCalibrationProgress);
             b.clock.At(12.2, [&b] { b.requests.Cancel(); });
         }, QStringLiteral("Calibration... User Stop"), colours::kRed, CalOutcome::UserStop, 12.2, true, 12},
        {"never ends", [](CalBench& b) { b.FlagsAt(0.5, 0x01 | historybit::kCalibrationProgress); },
         QStringLiteral("Calibration... Time-out"), colours::kRed, CalOutcome::TimeOut, 180.001, true, 180},
        // Polls at 5 and 10 s find the unit idle: the start did not take.
        {"never in progress", [](CalBench&) {}, caltext::kNeverInProgress, colours::kRed,
         CalOutcome::NeverInProgress, 10, true, 10},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        CalBench bench;
        ASSERT_TRUE(bench.run->ShowDlg(ScriptedDetector::DefaultUnitConfig()));
        c.arrange(bench);
        bench.run->CalBtnClick(25.0);

        EXPECT_TRUE(bench.view.messages.empty());
        EXPECT_EQ(bench.run->Outcome(), c.outcome);
        EXPECT_EQ(bench.view.calibrating, (std::vector<bool>{true, false}));
        EXPECT_FALSE(bench.run->Calibrating()) << "the window may be closed again";
        EXPECT_EQ(bench.view.progressMax, (std::vector<int>{180}));
        EXPECT_EQ(bench.view.progress.back(), c.finalProgress);

        const ShownCalLine* status = bench.view.Find(QStringLiteral("Zero Calibration... OK"));
        const ShownCalLine* apply = bench.view.Find(QStringLiteral("Apply SPAN Gas (H2S)... 25 ppm"));
        const ShownCalLine* span = bench.view.Find(QStringLiteral("SPAN Calibration..."));
        ASSERT_TRUE(status && apply && span);
        EXPECT_EQ(status->line, CalLine::Status);
        EXPECT_EQ(apply->line, CalLine::Apply);
        EXPECT_EQ(span->line, CalLine::Result);
        for (const ShownCalLine* line : {status, apply, span})
            EXPECT_EQ(line->colour, colours::kBlue);

        const QStringList results = bench.view.Texts(CalLine::Result);
        ASSERT_EQ(results.size(), 2);
        EXPECT_EQ(results.back(), c.result);
        const ShownCalLine* end = bench.view.Find(c.result);
        EXPECT_EQ(end->colour, c.colour);
        EXPECT_NEAR(end->at, c.endsAt, 1e-6);

        // Zero then span in one command; the stop command only when the
        // window gave up.
        const QStringList frames = bench.detector.Frames();
        const qsizetype start = frames.indexOf(Frame(0x42));
        ASSERT_GT(start, 0);
        EXPECT_EQ(frames[start - 1], Frame(0x50));
        EXPECT_EQ(bench.detector.CountCommand(0x43), c.sendsStop ? 1 : 0);
        if (c.sendsStop) {
            EXPECT_EQ(frames[frames.lastIndexOf(Frame(0x43)) - 1], Frame(0x50));
        }
        // Every exchange on a link of its own: as many ends of connection as
        // wake-ups.
        EXPECT_EQ(bench.detector.CountCommand(0xB3), static_cast<int>(bench.wakeUps.size()));
    }
}

TEST(CalibrationDialog, PollsEveryCheckTimeOnAFreshLink)
{
    CalBench bench;
    ASSERT_TRUE(bench.run->ShowDlg(ScriptedDetector::DefaultUnitConfig()));
    bench.FlagsAt(0.5, 0x01 | historybit::kCalibrationProgress);
    bench.FlagsAt(21, 0x01);
    bench.run->CalBtnClick(25.0);
    // The checks, the start, then polls at 5, 10, 15, 20 and 25 s.
    EXPECT_EQ(bench.wakeUps, (std::vector<double>{0, 0, 5, 10, 15, 20, 25}));
    EXPECT_EQ(bench.detector.CountCommand(0x20), 5);
    EXPECT_EQ(bench.view.progress, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                                     17, 18, 19, 20, 21, 22, 23, 24, 25, 180}));
}

TEST(CalibrationDialog, UnreachableDetectorIsPolledEverySecond)
{
    CalBench bench;
    ASSERT_TRUE(bench.run->ShowDlg(ScriptedDetector::DefaultUnitConfig()));
    bench.FlagsAt(0.5, 0x01 | historybit::kCalibrationProgress);
    bench.clock.At(7, [&bench] { bench.detector.SetSilent(true); });
    bench.clock.At(11.5, [&bench] {
        bench.detector.SetSilent(false);
        bench.detector.SetGasFlags(0x01, 0);
    });
    bench.run->CalBtnClick(25.0);
    EXPECT_EQ(bench.run->Outcome(), CalOutcome::Ok);
    EXPECT_EQ(bench.wakeUps, (std::vector<double>{0, 0, 5, 10, 11, 12}));
    EXPECT_TRUE(bench.view.messages.empty()) << "a failed poll is only tried again; shown: "
                                             << bench.view.messages.front().text.toStdString() << "\n"
                                             << bench.detector.Frames().join(QLatin1Char(' ')).toStdString();
}

TEST(CalibrationDialog, StartThatFails)
{
    struct Case {
        const char* name;
        std::uint8_t reply;
        CalOutcome outcome;
        bool box;
    };
    const Case cases[] = {
        {"zero refused", 0x42, CalOutcome::ZeroRefused, false},
        {"negative answer", 0xB6, CalOutcome::StartFailed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CalBench bench;
        ASSERT_TRUE(bench.run->ShowDlg(ScriptedDetector::DefaultUnitConfig()));
        bench.detector.SetSensorReply(0x42, c.reply);
        bench.run->CalBtnClick(25.0);
        EXPECT_EQ(bench.run->Outcome(), c.outcome);
        EXPECT_EQ(bench.detector.CountCommand(0x20), 0) << "no span phase";
        EXPECT_EQ(bench.view.calibrating, (std::vector<bool>{true, false}));
        if (c.box) {
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Sensor Calibration Fail"));
            EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("Sensor calibration failed ... Communication error"));
            EXPECT_TRUE(bench.view.Texts(CalLine::Status).isEmpty());
        } else {
            EXPECT_TRUE(bench.view.messages.empty());
            const ShownCalLine* fail = bench.view.Find(QStringLiteral("Zero Calibration... FAIL"));
            ASSERT_NE(fail, nullptr);
            EXPECT_EQ(fail->line, CalLine::Status);
            EXPECT_EQ(fail->colour, colours::kRed);
        }
    }
}

TEST(CalibrationDialog, AnotherCalibrationAfterTheFirstEnded)
{
    CalBench bench;
    ASSERT_TRUE(bench.run->ShowDlg(ScriptedDetector::DefaultUnitConfig()));
    bench.clock.At(3, [&bench] { bench.requests.Cancel(); });
    bench.run->CalBtnClick(25.0);
    EXPECT_EQ(bench.run->Outcome(), CalOutcome::UserStop);
    // A cancel that comes after the end stays pending: the next start stops
    // before anything is sent for it, and the one after that runs.
    bench.requests.Cancel();
    bench.FlagsAt(bench.clock.Seconds() + 0.5, 0x01 | historybit::kCalibrationProgress);
    bench.FlagsAt(bench.clock.Seconds() + 7, 0x01);
    bench.run->CalBtnClick(25.0);
    EXPECT_EQ(bench.run->Outcome(), CalOutcome::UserStop) << "a pending cancel stops before the start";
    EXPECT_EQ(bench.detector.CountCommand(0x42), 1) << "nothing sent for it";
    bench.run->CalBtnClick(25.0);
    EXPECT_EQ(bench.run->Outcome(), CalOutcome::Ok);
    EXPECT_EQ(bench.detector.CountCommand(0x42), 2);
}

TEST(CalibrationDialog, SensorWithoutACalibrationTimeUsesTheSettings)
{
    CalBench bench("[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n"
                   "[Calibration]\r\nCalibrationCheckTime=5\r\nCalibrationTime=90\r\n"
                   "[SENSOR]\r\nH2S=1,ppm,H,0,0,100\r\n");
    ASSERT_TRUE(bench.run->ShowDlg(ScriptedDetector::DefaultUnitConfig()));
    EXPECT_EQ(bench.run->CalTime(), 90);
    bench.FlagsAt(0.5, 0x01 | historybit::kCalibrationProgress);
    bench.run->CalBtnClick(25.0);
    EXPECT_EQ(bench.view.progressMax, (std::vector<int>{90}));
    EXPECT_EQ(bench.run->Outcome(), CalOutcome::TimeOut);
    EXPECT_NEAR(bench.view.Find(QStringLiteral("Calibration... Time-out"))->at, 90.001, 1e-6);
}

}  // namespace
