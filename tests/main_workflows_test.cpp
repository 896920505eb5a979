// The main window's workflows against the simulated detector, seen through a
// scripted view: what reaches the detector's memory, which status lines and
// boxes the user gets, and what the configuration files hold.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "ConfigFile.h"
#include "ConfigMapping.h"
#include "DeviceSettings.h"
#include "GuiThreadView.h"
#include "LinkThread.h"
#include "MainWorkflows.h"
#include "PtyPeer.h"
#include "ScriptedDetector.h"
#include "ScriptedView.h"
#include "SimProcess.h"
#include "StartUp.h"
#include "ZelComms.h"

namespace {

const QString kRead = QStringLiteral("Read Varnolite Information");
const QString kWrite = QStringLiteral("Write Varnolite Information");

// Everything one workflow run needs: a program directory with its settings
// file, the simulated detector, the link pointed at it and the logic.
class Bench {
public:
    explicit Bench(const QStringList& simArgs = {}, const QByteArray& ini = {}) : sim(simArgs)
    {
        if (!ini.isEmpty()) {
            QFile file(programDir.filePath(QStringLiteral("LUMBRA.INI")));
            if (file.open(QIODevice::WriteOnly))
                file.write(ini);
        }
        settings = LoadSettings(programDir.path().toStdString() + "/");
        link.SetDefPort(sim.portPath().toStdString());
        main = std::make_unique<TMainWorkflows>(view, link, settings);
        main->FormCreate();
        view.ClearRecord();
    }

    std::string Dir() const { return settings.programDir; }

    QTemporaryDir programDir;
    SimProcess sim;
    LoadedSettings settings;
    TComZEL link;
    ScriptedView view;
    std::unique_ptr<TMainWorkflows> main;
};

const QByteArray kFactoryIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\n";

// A factory bench that also writes the unit's suspend flag, serial number,
// battery limits and hardware version (addresses 16..35) and the sensor's
// type, gas values and temperature compensation (addresses 86..105).
const QByteArray kFactoryRangesIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\n"
                                     "[UNIT]\r\nUnitWriteUserSize=8\r\n"
                                     "UnitWriteFactoryStart=16\r\nUnitWriteFactorySize=20\r\n"
                                     "SensorWriteFactoryStart=86\r\nSensorWriteFactorySize=20\r\n";

QByteArray ImageOf(const RZELCFG& cfg)
{
    return QByteArray(reinterpret_cast<const char*>(&cfg), sizeof cfg);
}

std::uint32_t LifeIn(const QByteArray& image)
{
    std::uint32_t life = 0;
    std::memcpy(&life, image.constData() + offsetof(RZELUnitCFG, mLifeRemaining), sizeof life);
    return life;
}

// Bytes the detector changes by itself: the running life count and the CRC
// that closes each block.
bool ChangedByDetector(int i)
{
    const int life = offsetof(RZELUnitCFG, mLifeRemaining);
    return (i >= life && i < life + 4) || i == 62 || i == 63 || i == 126 || i == 127;
}

struct ByteRange {
    int first;  // 0-based
    int size;
    bool Holds(int i) const { return i >= first && i < first + size; }
};

// Inside the written ranges the detector holds exactly the record sent;
// everywhere else it holds what it held before.
void ExpectOnlyRangesWritten(const QByteArray& before, const QByteArray& after, const RZELCFG& sent,
                             const std::vector<ByteRange>& ranges)
{
    ASSERT_EQ(before.size(), 128);
    ASSERT_EQ(after.size(), 128);
    const QByteArray expected = ImageOf(sent);
    for (int i = 0; i < 128; ++i) {
        if (ChangedByDetector(i))
            continue;
        bool written = false;
        for (const ByteRange& range : ranges)
            written = written || range.Holds(i);
        if (written) {
            EXPECT_EQ(static_cast<std::uint8_t>(after[i]), static_cast<std::uint8_t>(expected[i])) << "byte " << i;
        }
        else
            EXPECT_EQ(static_cast<std::uint8_t>(after[i]), static_cast<std::uint8_t>(before[i])) << "byte " << i;
    }
}

int CountReceived(const SimProcess& sim, const QString& prefix)
{
    int count = 0;
    for (const QString& line : sim.recordedLines())
        if (line.startsWith(QStringLiteral("RX ") + prefix))
            ++count;
    return count;
}

void ExpectStatus(const ShownStatus& status, RColour background, RColour font, const QString& text)
{
    EXPECT_EQ(status.background, background) << text.toStdString();
    EXPECT_EQ(status.font, font) << text.toStdString();
    EXPECT_EQ(status.text, text);
}

TEST(ReadDevice, ShowsTheUnitAndEndsGreen)
{
    Bench bench;
    ASSERT_TRUE(bench.sim.start());
    bench.main->UserReadDeviceBtnClick();

    ScriptedView& view = bench.view;
    ASSERT_EQ(view.statuses.size(), 2u);
    ExpectStatus(view.statuses[0], colours::kWhite, colours::kBlack, kRead + "...");
    ExpectStatus(view.statuses[1], colours::kGreen, colours::kBlack, kRead + "... OK");
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.buttonStates, (std::vector<bool>{false, true}));
    EXPECT_EQ(view.modelNames, (QStringList{QString(), QStringLiteral("Varnolite")}));

    const RConfigControls& shown = view.form.user;
    EXPECT_EQ(shown.serial, QStringLiteral("SH10000123"));
    EXPECT_EQ(shown.hwVersion, QStringLiteral("001"));
    EXPECT_EQ(shown.fwVersion, QStringLiteral("1.3"));
    EXPECT_EQ(shown.sensorName, QStringLiteral("H2S"));
    EXPECT_EQ(shown.lifeText, QStringLiteral("20 Months   2 Days"));
    EXPECT_EQ(view.form.opt, shown);
    EXPECT_EQ(bench.main->ReadSW(), 13);

    // The record is the detector's memory, byte for byte.
    const QByteArray image = bench.sim.stateImage();
    const QByteArray read = ImageOf(bench.main->CurrentConfig());
    for (int i = 0; i < 128; ++i)
        if (!ChangedByDetector(i)) {
            EXPECT_EQ(read[i], image[i]) << "byte " << i;
        }
    EXPECT_EQ(CountReceived(bench.sim, QStringLiteral("B3")), 1) << "one end-of-connection command";
}

TEST(WriteDevice, UserModeWritesOnlyTheUserRanges)
{
    Bench bench;
    ASSERT_TRUE(bench.sim.start());
    bench.main->UserReadDeviceBtnClick();
    const QByteArray before = bench.sim.stateImage();

    RConfigControls& edit = bench.view.form.user;
    edit.alarmHigh = 20.0;
    edit.alarmLow = 12.5;
    edit.userID = QStringLiteral("AB-12");
    edit.testIntervalHours = 12;
    edit.calIntervalDays = 30;
    edit.bumpIntervalDays = 7;
    edit.displayItem = static_cast<int>(DisplayItem::SensorOnly);
    edit.hideBumpLed = true;
    // Fields the user layout does not edit: must not reach the unit.
    bench.view.form.opt.serial = QStringLiteral("XX99");
    bench.view.form.factory.hibernateItem = 1;
    bench.view.ClearRecord();

    bench.main->UserWriteDeviceBtnClick();
    ASSERT_EQ(bench.view.statuses.size(), 2u);
    ExpectStatus(bench.view.statuses[1], colours::kGreen, colours::kBlack, kWrite + "... OK");
    EXPECT_TRUE(bench.view.refilledSerials.empty()) << "only the factory bench refills the serial";

    const RZELCFG& sent = bench.main->CurrentConfig();
    EXPECT_EQ(+sent.mUnit.mUnitFlag, 0x07);
    EXPECT_EQ(std::string(sent.mUnit.mUserID, 6), "AB-12 ");
    EXPECT_EQ(+sent.mSensor.mAlarmHigh, 200);
    EXPECT_EQ(+sent.mSensor.mAlarmLow, 125);
    EXPECT_EQ(+sent.mSensor.mCalInterval, 30u * 86400u);
    ExpectOnlyRangesWritten(before, bench.sim.stateImage(), sent, {{0, 8}, {64, 10}});
    EXPECT_EQ(CountReceived(bench.sim, QStringLiteral("71")), 0) << "no life write in user mode";
}

TEST(WriteDevice, FactoryModeWritesConfiguredRangesAndLife)
{
    Bench bench({}, kFactoryRangesIni);
    ASSERT_TRUE(bench.settings.factoryMode);
    ASSERT_TRUE(bench.sim.start());
    bench.main->UserReadDeviceBtnClick();
    const QByteArray before = bench.sim.stateImage();

    RConfigControls& edit = bench.view.form.opt;
    edit.serial = QStringLiteral("sh12");  // lower case is not a serial number character
    edit.hwVersion = QStringLiteral("0");
    edit.lifeMonths = 10;
    edit.lifeDays = 5;
    edit.alarmHigh = 25.0;
    RFactoryControls& factory = bench.view.form.factory;
    factory.hibernateItem = 1;
    factory.batteryCold = 640;
    factory.batteryCritical = 590;
    factory.spanGas = 50.0;
    factory.tempComp = {-1, 2, -3};
    bench.view.ClearRecord();

    bench.main->UserWriteDeviceBtnClick();
    ASSERT_FALSE(bench.view.statuses.empty());
    ExpectStatus(bench.view.LastStatus(), colours::kGreen, colours::kBlack, kWrite + "... OK");

    const RZELCFG& sent = bench.main->CurrentConfig();
    EXPECT_EQ(std::string(sent.mUnit.mSerial, 10), "  12000000");
    EXPECT_EQ(+sent.mUnit.mHWVersion, 1);
    EXPECT_EQ(+sent.mUnit.mAllowSuspend, 0x80);
    EXPECT_EQ(+sent.mSensor.mSpanGas, 500);
    const QByteArray after = bench.sim.stateImage();
    ExpectOnlyRangesWritten(before, after, sent, {{0, 8}, {15, 20}, {64, 10}, {85, 20}});

    const std::uint32_t entered = 10 * 2628000u + 5 * 86400u - 1;
    EXPECT_EQ(+sent.mUnit.mLifeRemaining, entered);
    EXPECT_LE(LifeIn(after), entered);
    EXPECT_GE(LifeIn(after), entered - 30) << "the unit counts down from the value written";
    EXPECT_EQ(bench.view.refilledSerials, (std::vector<QString>{QStringLiteral("  12000000")}));
}

// A range the settings allow but the 128-byte image cannot hold refuses the
// whole write before any configuration frame, names the setting, and still
// ends the connection with the unit.
TEST(WriteDevice, RangePastTheImageRefusesTheWholeWrite)
{
    struct Case {
        const char* name;
        QByteArray unitKeys;
        QString named;
    };
    const std::vector<Case> cases = {
        {"sensor factory range", "SensorWriteFactoryStart=120\r\nSensorWriteFactorySize=20\r\n",
         "SensorWriteFactoryStart=120, SensorWriteFactorySize=20"},
        {"unit user range", "UnitWriteUserStart=100\r\nUnitWriteUserSize=30\r\n",
         "UnitWriteUserStart=100, UnitWriteUserSize=30"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench({}, kFactoryIni + "[UNIT]\r\nUnitWriteFactorySize=10\r\n" + c.unitKeys);
        ASSERT_TRUE(bench.sim.start());
        bench.main->UserReadDeviceBtnClick();
        const QByteArray before = bench.sim.stateImage();
        const int headersBefore = CountReceived(bench.sim, QStringLiteral("70"));
        const int endsBefore = CountReceived(bench.sim, QStringLiteral("B3"));
        bench.view.form.opt.serial = QStringLiteral("ZZ1");
        bench.view.ClearRecord();

        bench.main->UserWriteDeviceBtnClick();
        ExpectStatus(bench.view.LastStatus(), colours::kRed, colours::kWhite, kWrite + "... FAIL");
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].caption, kWrite);
        EXPECT_TRUE(bench.view.messages[0].text.contains(c.named)) << bench.view.messages[0].text.toStdString();
        EXPECT_TRUE(bench.view.messages[0].text.contains(QStringLiteral("Nothing was written")));
        EXPECT_EQ(bench.main->LastResult(), std::optional<std::uint8_t>(147));
        EXPECT_EQ(CountReceived(bench.sim, QStringLiteral("70")), headersBefore) << "no configuration frame";
        EXPECT_EQ(CountReceived(bench.sim, QStringLiteral("71")), 0) << "no life write either";
        EXPECT_EQ(CountReceived(bench.sim, QStringLiteral("B3")), endsBefore + 1) << "the connection ends normally";
        EXPECT_EQ(bench.sim.stateImage().mid(16, 10), before.mid(16, 10));
    }
}

TEST(WriteDevice, LifeAboveTwentyFourMonthsIsClampedWithABox)
{
    Bench bench({}, kFactoryIni);
    ASSERT_TRUE(bench.sim.start());
    bench.main->UserReadDeviceBtnClick();
    bench.view.form.opt.lifeMonths = 25;
    bench.view.form.opt.lifeDays = 3;
    bench.view.ClearRecord();

    bench.main->UserWriteDeviceBtnClick();
    ASSERT_FALSE(bench.view.messages.empty());
    EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Information);
    EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Check Life Remaining"));
    EXPECT_EQ(bench.view.messages[0].text,
              QStringLiteral("Life Remaining Value over than define value\rMake default value... check Life Remaining Value"));
    EXPECT_EQ(bench.view.form.opt.lifeMonths, 24);
    EXPECT_EQ(bench.view.form.opt.lifeDays, 0);
    ExpectStatus(bench.view.LastStatus(), colours::kGreen, colours::kBlack, kWrite + "... OK");
    EXPECT_EQ(+bench.main->CurrentConfig().mUnit.mLifeRemaining, 63072000u);
    const std::uint32_t life = LifeIn(bench.sim.stateImage());
    EXPECT_LE(life, 63072000u);
    EXPECT_GE(life, 63072000u - 30);
}

// Spins the technician left alone send the unit's own life count, seconds
// and all: an expired sensor stays expired.
TEST(WriteDevice, FactoryWriteKeepsAnUntouchedLife)
{
    for (const std::uint32_t life : {0u, 40000000u}) {
        SCOPED_TRACE(life);
        Bench bench({"--life", QString::number(life)}, kFactoryIni);
        ASSERT_TRUE(bench.sim.start());
        bench.main->UserReadDeviceBtnClick();
        bench.main->UserWriteDeviceBtnClick();
        ExpectStatus(bench.view.LastStatus(), colours::kGreen, colours::kBlack, kWrite + "... OK");
        EXPECT_EQ(+bench.main->CurrentConfig().mUnit.mLifeRemaining, life);
        EXPECT_LE(LifeIn(bench.sim.stateImage()), life);
        EXPECT_GE(LifeIn(bench.sim.stateImage()) + 30, life) << "counted down from the value read";
        ASSERT_TRUE(bench.main->AsLeftImage().has_value());
        EXPECT_EQ(bench.main->AsLeftImage()->mSensor.mSensorType, bench.main->CurrentConfig().mSensor.mSensorType);
    }
}

// A block that fails its CRC can be read by nobody; the factory bench may
// write over it once the technician has answered a question naming it.
TEST(WriteDevice, FactoryWriteOverADamagedBlockAsksFirst)
{
    ScriptedDetector detector;
    detector.SetDamagedBlock(1);
    QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("LUMBRA.INI")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly) && ini.write(kFactoryIni) > 0);
    ini.close();
    const LoadedSettings settings = LoadSettings(dir.path().toStdString() + "/");
    TComZEL link;
    link.SetDefPort(detector.Port());
    ScriptedView view;
    TMainWorkflows main(view, link, settings);
    main.FormCreate();
    main.UserReadDeviceBtnClick();
    ASSERT_EQ(main.LastResult(), std::optional<std::uint8_t>(192));
    view.form.opt.sensorItem = 0;

    for (const bool answer : {false, true}) {
        SCOPED_TRACE(answer);
        view.ClearRecord();
        detector.ClearFrames();
        view.yesNoAnswers = {answer};
        main.UserWriteDeviceBtnClick();
        ASSERT_EQ(view.questions.size(), 1u);
        EXPECT_TRUE(view.questions[0].text.startsWith(
            QStringLiteral("The unit's sensor configuration block (bytes 65..128) failed its CRC check")))
            << view.questions[0].text.toStdString();
        EXPECT_EQ(detector.CountCommand(0x70), answer ? 1 : 0);
    }
    EXPECT_EQ(view.LastStatus().text, kWrite + "... OK") << "the unit sealed the block again";
    EXPECT_TRUE(main.DamagedBlock().isEmpty());
}

TEST(WriteDevice, NoSensorTypeStopsBeforeAnyTraffic)
{
    struct Case {
        QByteArray ini;
        QString text;
    };
    const Case cases[] = {
        {{}, QStringLiteral("No sensor information.\rFirst READ DEVICE")},
        {kFactoryIni, QStringLiteral("No sensor information.\rFirst READ DEVICE or select sensor type")},
    };
    for (const Case& c : cases) {
        Bench bench({}, c.ini);
        ASSERT_TRUE(bench.sim.start());
        bench.view.form.user.sensorItem = -1;
        bench.view.form.opt.sensorItem = -1;
        bench.main->UserWriteDeviceBtnClick();
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
        EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("No sensor information"));
        EXPECT_EQ(bench.view.messages[0].text, c.text);
        EXPECT_TRUE(bench.view.statuses.empty());
        EXPECT_TRUE(bench.sim.recordedLines().isEmpty());
        EXPECT_EQ(+bench.main->CurrentConfig().mSensor.mSensorType, 0) << "the collected record is kept";
    }
    // A unit whose sensor code the table lacks: the code and the table are
    // named, right after a read that worked.
    Bench bench({"--sensor", "9"});
    ASSERT_TRUE(bench.sim.start());
    bench.main->UserReadDeviceBtnClick();
    bench.view.messages.clear();
    bench.main->UserWriteDeviceBtnClick();
    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_TRUE(bench.view.messages[0].text.startsWith(
        QStringLiteral("The unit's sensor type code 9 is not in the sensor table ([SENSOR] in ")))
        << bench.view.messages[0].text.toStdString();
}

// Model and sensor checks: which units each mode serves and what it says.
TEST(Refusals, ModelAndSensorChecks)
{
    enum class Op { Read, Write };
    struct Case {
        const char* name;
        QStringList simArgs;
        QByteArray ini;
        Op op;
        QString statusLine;  // last status line
        QString box;         // error box text, empty for none
        const char* model;   // UserOptIDLabel after the identity, nullptr when cleared
        int ends;            // end-of-connection commands: the unit was answering
    };
    const Case cases[] = {
        {"user mode, Varnolite (TS)", {"--model", "3"}, {}, Op::Read, kRead + "... FAIL",
         QStringLiteral("This is not Varnolite module"), nullptr, 1},
        {"user mode, Dunmere", {"--model", "4"}, {}, Op::Read, kRead + "... FAIL",
         QStringLiteral("This is not Varnolite module"), nullptr, 1},
        {"factory, Dunmere", {"--model", "4"}, kFactoryIni, Op::Read, kRead + "... OK", {}, "Dunmere", 1},
        {"factory, ZEL (TS)", {"--model", "1"}, kFactoryIni, Op::Read, kRead + "... FAIL",
         QStringLiteral("This is not Varnolite module"), nullptr, 1},
        // The sensor check is the tool's own: the link counts as not answering
        // and the unit is left to time out by itself.
        {"user mode, CO unit, H2S settings", {"--sensor", "2"}, {}, Op::Write, kWrite + "... FAIL",
         QStringLiteral("Check sensor type and Alarm setting"), nullptr, 0},
        {"factory, CO unit, H2S settings", {"--sensor", "2"}, kFactoryIni, Op::Write, kWrite + "... OK", {}, nullptr, 1},
        {"user mode, Varnolite (TS) write", {"--model", "3"}, {}, Op::Write, kWrite + "... FAIL",
         QStringLiteral("This is not Varnolite module"), nullptr, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.simArgs, c.ini);
        ASSERT_TRUE(bench.sim.start());
        const QByteArray before = bench.sim.stateImage();
        if (c.op == Op::Read)
            bench.main->UserReadDeviceBtnClick();
        else
            bench.main->UserWriteDeviceBtnClick();

        const ShownStatus& last = bench.view.LastStatus();
        EXPECT_EQ(last.text, c.statusLine);
        if (c.box.isEmpty()) {
            EXPECT_TRUE(bench.view.messages.empty());
        } else {
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
            EXPECT_EQ(bench.view.messages[0].caption, c.op == Op::Read ? kRead : kWrite);
            EXPECT_EQ(bench.view.messages[0].text, c.box);
            EXPECT_EQ(last.background, colours::kRed);
            EXPECT_EQ(last.font, colours::kWhite);
            // Nothing was written, and the unit was told the connection ends.
            EXPECT_EQ(CountReceived(bench.sim, QStringLiteral("91")), 0);
            const QByteArray after = bench.sim.stateImage();
            for (int i = 0; i < 128; ++i)
                if (!ChangedByDetector(i)) {
                    EXPECT_EQ(after[i], before[i]) << "byte " << i;
                }
        }
        EXPECT_EQ(CountReceived(bench.sim, QStringLiteral("B3")), c.ends);
        if (c.op == Op::Read && c.model) {
            EXPECT_EQ(bench.view.modelNames.last(), QString::fromLatin1(c.model));
        }
        if (c.op == Op::Read && !c.model) {
            EXPECT_EQ(bench.view.modelNames, QStringList{QString()});
        }
    }
}

TEST(Hibernate, RefusedByTheUnitsConfiguration)
{
    Bench bench;
    ASSERT_TRUE(bench.sim.start());
    bench.view.yesNoAnswers = {true};
    bench.main->UserOptHibernateBtnClick();

    // The read succeeded but is not reported: the line keeps the running text.
    ASSERT_EQ(bench.view.statuses.size(), 1u);
    ExpectStatus(bench.view.statuses[0], colours::kWhite, colours::kBlack, kRead + "...");
    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
    EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Check Unit"));
    EXPECT_EQ(bench.view.messages[0].text,
              QStringLiteral("This feature is only supported on the Varnolite+ instrument\rPlease contact Corvath more details"));
    EXPECT_TRUE(bench.view.questions.empty());
    EXPECT_EQ(CountReceived(bench.sim, QStringLiteral("17")), 0);
    EXPECT_FALSE(bench.main->HibernateConfirmed());
    EXPECT_FALSE(bench.main->LastResult().has_value()) << "the successful read is not reported";
}

// The factory bench lets the unit allow hibernation, then forgets what it saw.
void AllowHibernation(Bench& bench)
{
    bench.main->UserReadDeviceBtnClick();
    bench.view.form.factory.hibernateItem = 1;
    bench.main->UserWriteDeviceBtnClick();
    ASSERT_EQ(bench.view.LastStatus().text, kWrite + "... OK");
    bench.view.ClearRecord();
}

TEST(Hibernate, AskedOnceUntilAnotherOperation)
{
    Bench bench({}, kFactoryRangesIni);
    ASSERT_TRUE(bench.sim.start());
    AllowHibernation(bench);
    if (HasFatalFailure())
        return;

    bench.view.yesNoAnswers = {true};
    bench.main->UserOptHibernateBtnClick();
    ASSERT_EQ(bench.view.questions.size(), 1u);
    EXPECT_EQ(bench.view.questions[0].caption, QStringLiteral("Hibernate"));
    EXPECT_EQ(bench.view.questions[0].text,
              QStringLiteral("Hibernation will clear the event log.\rAre you sure you want to proceed."));
    ASSERT_EQ(bench.view.statuses.size(), 3u);
    ExpectStatus(bench.view.statuses[1], colours::kWhite, colours::kBlack, QStringLiteral("Hibernate..."));
    ExpectStatus(bench.view.statuses[2], colours::kGreen, colours::kBlack, QStringLiteral("Hibernate... OK"));
    EXPECT_TRUE(bench.view.messages.empty());

    // The sleeping unit is not sent the end-of-connection command.
    const QStringList lines = bench.sim.recordedLines();
    qsizetype hibernate = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith(QStringLiteral("RX 17 ")))
            hibernate = i;
    }
    ASSERT_GE(hibernate, 0);
    for (qsizetype i = hibernate + 1; i < lines.size(); ++i) {
        EXPECT_FALSE(lines[i].startsWith(QStringLiteral("RX B3"))) << lines[i].toStdString();
    }

    // Right after a confirmed one, no question.
    bench.view.ClearRecord();
    bench.main->UserOptHibernateBtnClick();
    EXPECT_TRUE(bench.view.questions.empty());
    EXPECT_EQ(bench.view.LastStatus().text, QStringLiteral("Hibernate... OK"));

    // Any other operation makes it ask again; No stops before the command.
    bench.main->UserReadDeviceBtnClick();
    bench.view.ClearRecord();
    const int sentBefore = CountReceived(bench.sim, QStringLiteral("17"));
    bench.view.yesNoAnswers = {false};
    bench.main->UserOptHibernateBtnClick();
    EXPECT_EQ(bench.view.questions.size(), 1u);
    EXPECT_EQ(bench.view.LastStatus().text, kRead + "...");
    EXPECT_EQ(CountReceived(bench.sim, QStringLiteral("17")), sentBefore);
}

// A unit that refuses the command itself (here: another unit put into the
// cradle while the question was open) answers with a plain status byte,
// which is reported as the refusal it is.
TEST(Hibernate, RefusalByTheUnitIsReportedAsNotAllowed)
{
    Bench bench({}, kFactoryRangesIni);
    ASSERT_TRUE(bench.sim.start());
    AllowHibernation(bench);
    if (HasFatalFailure())
        return;

    bench.view.yesNoAnswers = {true};
    bench.view.whileAsking = [&bench] {
        bench.sim.stop();
        QFile state(bench.sim.statePath());
        ASSERT_TRUE(state.open(QIODevice::ReadWrite));
        ASSERT_TRUE(state.seek(SimProcess::kStateHeaderSize + offsetof(RZELUnitCFG, mAllowSuspend)));
        ASSERT_EQ(state.write("\xFF", 1), 1);
        state.close();
        ASSERT_TRUE(bench.sim.start());
    };
    bench.main->UserOptHibernateBtnClick();

    ASSERT_EQ(bench.view.questions.size(), 1u);
    ExpectStatus(bench.view.LastStatus(), colours::kRed, colours::kWhite, QStringLiteral("Hibernate... FAIL"));
    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Hibernate"));
    EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("Hibernation is not allowed"));
    EXPECT_EQ(bench.main->LastResult(), std::optional<std::uint8_t>(195));
    // The unit is awake and answering: it is told the connection ends.
    const QStringList lines = bench.sim.recordedLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[lines.size() - 2].startsWith(QStringLiteral("RX B3"))) << lines[lines.size() - 2].toStdString();
}

// Each kind of row of the status table: box always, box only when asked,
// and a code without a row of its own.
// Boxes of the statuses that point at the adapter or its port carry what the
// connection doctor finds; the others do not.
TEST(ShowResult, AdapterErrorBoxesCarryTheDoctorsFindings)
{
    const QString op = QStringLiteral("Read Varnolite Information");
    for (const std::uint8_t status : {1, 7, 161, 252, 255}) {
        SCOPED_TRACE(static_cast<int>(status));
        Bench bench;
        bench.main->ShowResult(status, op, true);
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_TRUE(bench.view.messages[0].details.contains(QStringLiteral("udev rule")))
            << bench.view.messages[0].details.toStdString();
    }
    for (const std::uint8_t status : {160, 162, 146}) {
        SCOPED_TRACE(static_cast<int>(status));
        Bench bench;
        bench.main->ShowResult(status, op, true);
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_TRUE(bench.view.messages[0].details.isEmpty());
    }
}

TEST(ShowResult, StatusTableRows)
{
    struct Case {
        std::uint8_t status;
        bool showBox;
        QString line;
        QString box;  // empty: no box
    };
    const QString op = QStringLiteral("Write Varnolite Information");
    const Case cases[] = {
        {0, true, op + "... OK", {}},
        {1, false, op + "... Beamdock error",
         QStringLiteral("Beamdock error occurred\rClose program and then restart Corvath Beamdock program")},
        {5, false, op + "... Beamdock Disconnection",
         QStringLiteral("Beamdock connect error\rCheck Beamdock connection or \rBeamdock Re-Install driver")},
        {134, false, op + "... USER STOP", QStringLiteral("User Stop...")},
        {255, false, op + "... Beamdock isnot found(A)", QStringLiteral("Beamdock isnot found\rBeamdock Re-Install driver(A)")},
        {146, false, op + "... FAIL", {}},
        {146, true, op + "... FAIL", QStringLiteral("This is not Varnolite module")},
        {160, true, op + "... Varnolite Dis-Connect",
         QStringLiteral("Varnolite connect error\rCheck Beamdock and Varnolite connection")},
        {195, true, op + "... FAIL", QStringLiteral("Hibernation is not allowed")},
        {7, false, op + "... FAIL", {}},
        {7, true, op + "... FAIL", QStringLiteral("Error ocuured")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        Bench bench;
        bench.main->ShowResult(c.status, op, c.showBox);
        EXPECT_EQ(bench.main->LastResult(), std::optional<std::uint8_t>(c.status));
        ASSERT_EQ(bench.view.statuses.size(), 1u);
        const ShownStatus& shown = bench.view.statuses[0];
        EXPECT_EQ(shown.text, c.line);
        EXPECT_EQ(shown.background, c.status == 0 ? colours::kGreen : colours::kRed);
        EXPECT_EQ(shown.font, c.status == 0 ? colours::kBlack : colours::kWhite);
        if (c.box.isEmpty()) {
            EXPECT_TRUE(bench.view.messages.empty());
        } else {
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
            EXPECT_EQ(bench.view.messages[0].caption, op);
            EXPECT_EQ(bench.view.messages[0].text, c.box);
        }
    }
}

class NoAdapters : public discovery::AdapterSource {
public:
    std::uint8_t List(std::vector<discovery::Adapter>&) override { return 0; }
};

// The link failing at its three levels: no adapter, a port that will not
// open, a port with nobody answering.
TEST(OperationCycle, LinkFailures)
{
    {
        Bench bench;
        bench.link.SetDefPort("");
        bench.link.SetAdapterSources(std::make_unique<NoAdapters>(), std::make_unique<NoAdapters>());
        bench.main->UserReadDeviceBtnClick();
        ExpectStatus(bench.view.LastStatus(), colours::kRed, colours::kWhite, kRead + "... Beamdock isnot found(A)");
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("Beamdock isnot found\rBeamdock Re-Install driver(A)"));
        EXPECT_EQ(bench.view.buttonStates, (std::vector<bool>{false, true}));
    }
    {
        Bench bench;  // simulator not started: its port does not exist
        bench.main->UserReadDeviceBtnClick();
        ExpectStatus(bench.view.LastStatus(), colours::kRed, colours::kWhite, kRead + "... Beamdock Connection ERROR");
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
        EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Corvath Beamdock"));
        EXPECT_TRUE(bench.view.messages[0].text.startsWith(QStringLiteral("Error accessing specified device")))
            << bench.view.messages[0].text.toStdString();
        EXPECT_EQ(bench.view.buttonStates, (std::vector<bool>{false, true}));
        EXPECT_FALSE(bench.link.PortOpen());
    }
    {
        Bench bench({}, "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n");
        PtyPeer silent;
        bench.link.SetDefPort(silent.SlavePath());
        bench.main->UserReadDeviceBtnClick();
        ExpectStatus(bench.view.LastStatus(), colours::kRed, colours::kWhite, kRead + "... Varnolite Dis-Connect");
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].text,
                  QStringLiteral("Varnolite connect error\rCheck Beamdock and Varnolite connection"));
    }
}

TEST(SensorCalibration, ReadsTheUnitAndChecksTheSensor)
{
    struct Case {
        QStringList simArgs;
        QString caption;  // empty: no box, the calibration dialog opens
        QString text;
        BoxIcon icon;
    };
    const Case cases[] = {
        {{}, QString(), QString(), BoxIcon::Information},
        {{"--sensor", "9"}, QStringLiteral("Wrong Sensor"), QStringLiteral("Sensor type is wrong\rDid not sensor calibration"),
         BoxIcon::Error},
    };
    for (const Case& c : cases) {
        Bench bench(c.simArgs);
        ASSERT_TRUE(bench.sim.start());
        bench.main->UserCalBtnClick();
        EXPECT_TRUE(bench.view.statuses.empty()) << "no status text for this read";
        if (c.caption.isEmpty()) {
            EXPECT_TRUE(bench.view.messages.empty());
            ASSERT_EQ(bench.view.sensorCalDialogs.size(), 1u);
            // The dialog gets the record just read, byte for byte.
            EXPECT_EQ(ImageOf(bench.view.sensorCalDialogs[0]), ImageOf(bench.main->CurrentConfig()));
            EXPECT_EQ(bench.view.sensorCalDialogs[0].mSensor.mSensorType, 1);
            continue;
        }
        EXPECT_TRUE(bench.view.sensorCalDialogs.empty());
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].icon, c.icon);
        EXPECT_EQ(bench.view.messages[0].caption, c.caption);
        EXPECT_EQ(bench.view.messages[0].text, c.text);
    }
    Bench failing;  // no detector: reported under its own name
    failing.link.SetDefPort("");
    failing.link.SetAdapterSources(std::make_unique<NoAdapters>(), std::make_unique<NoAdapters>());
    failing.main->UserCalBtnClick();
    ASSERT_EQ(failing.view.statuses.size(), 1u);
    EXPECT_EQ(failing.view.statuses[0].text, QStringLiteral("Read sensor information... Beamdock isnot found(A)"));
    EXPECT_TRUE(failing.view.sensorCalDialogs.empty());
}

TEST(LogReadings, ForgetsTheHibernateAnswerAndOpensTheDialog)
{
    Bench bench({}, kFactoryRangesIni);
    ASSERT_TRUE(bench.sim.start());
    AllowHibernation(bench);
    if (HasFatalFailure())
        return;
    bench.view.yesNoAnswers = {true};
    bench.main->UserOptHibernateBtnClick();
    ASSERT_TRUE(bench.main->HibernateConfirmed());
    bench.view.ClearRecord();
    bench.main->FatoryOptLogSensorBtnClick();
    EXPECT_FALSE(bench.main->HibernateConfirmed());
    EXPECT_EQ(bench.view.sensorLogDialogs, 1);
    EXPECT_TRUE(bench.view.messages.empty()) << "no longer a pending feature";
    EXPECT_TRUE(bench.view.statuses.empty()) << "the button itself talks to no unit";
}

TEST(ConfigFiles, WriteThenReadGivesBackTheContributedFields)
{
    Bench bench({}, kFactoryIni);
    ASSERT_TRUE(bench.sim.start());
    bench.main->UserReadDeviceBtnClick();
    bench.view.form.opt.userID = QStringLiteral("QA-7");
    bench.view.form.opt.serial = QStringLiteral("SH42");
    bench.view.form.factory.batteryStartup = 700;
    const QString path = bench.programDir.filePath(QStringLiteral("Configure/unit.cfg"));
    bench.view.saveFileAnswers = {path};
    bench.main->UserWriteFileBtnClick();

    ASSERT_EQ(bench.view.fileRequests.size(), 1u);
    const RFileRequest& save = bench.view.fileRequests[0];
    EXPECT_EQ(save.title, QStringLiteral("Save Configuration File"));
    EXPECT_EQ(save.filter, QStringLiteral("configuration file|*.cfg"));
    EXPECT_EQ(save.defaultSuffix, QStringLiteral("cfg"));
    EXPECT_EQ(save.folder, QString::fromStdString(bench.Dir() + "Configure/"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 140);
    EXPECT_EQ(bytes.left(4), QByteArray("\x07\x00\x00\x00", 4));
    EXPECT_EQ(bytes[16], 1) << "written in factory mode";
    const RZELCFG saved = bench.main->CurrentConfig();
    EXPECT_EQ(+saved.mUnit.mFWVersion, 13) << "the firmware version of the unit last read";

    // A different unit in the window, then the file back.
    RZELCFG other = DefaultConfig();
    other.mUnit.mAlarmCount = 77;
    other.mSensor.mZero = 1234;
    bench.main->SetCurrentConfig(other);
    bench.view.openFileAnswers = {path};
    const int shownBefore = bench.view.formsShown;
    bench.main->UserReadFileBtnClick();
    EXPECT_TRUE(bench.view.messages.empty());
    EXPECT_EQ(bench.view.formsShown, shownBefore + 1);
    EXPECT_EQ(bench.view.fileRequests.back().title, QStringLiteral("Open Configuration File"));

    const RZELCFG& loaded = bench.main->CurrentConfig();
    EXPECT_EQ(std::string(loaded.mUnit.mUserID, 6), "QA-7  ");
    EXPECT_EQ(std::string(loaded.mUnit.mSerial, 10), "SH42000000");
    EXPECT_EQ(+loaded.mUnit.mBatLimitStartUp, 700);
    EXPECT_EQ(+loaded.mUnit.mLifeRemaining, saved.mUnit.mLifeRemaining);
    EXPECT_EQ(+loaded.mSensor.mAlarmHigh, saved.mSensor.mAlarmHigh);
    EXPECT_EQ(+loaded.mSensor.mSensorType, saved.mSensor.mSensorType);
    EXPECT_EQ(+loaded.mUnit.mAlarmCount, 77) << "counters stay as they were";
    EXPECT_EQ(+loaded.mSensor.mZero, 1234) << "calibration results stay as they were";
    EXPECT_EQ(bench.view.form.opt.userID, QStringLiteral("QA-7"));
}

TEST(ConfigFiles, RefusedFilesLeaveTheConfigurationAlone)
{
    struct Case {
        const char* name;
        QByteArray content;  // empty: no file at all
        QString caption;
        QString text;
    };
    const Case cases[] = {
        {"missing", {}, QStringLiteral("Read Configuration File"),
         QStringLiteral("Configuration File did not open\rRetry READ FILE")},
        {"version 9", QByteArray("\x09\x00\x00\x00", 4) + QByteArray(136, '\0'), QStringLiteral("Read Configuration File"),
         QStringLiteral("Configuration File is wrong\rReselect file")},
        {"version 0", QByteArray(140, '\0'), QStringLiteral("Read Configuration File"),
         QStringLiteral("Configuration File is wrong\rReselect file")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        const QString path = bench.programDir.filePath(QStringLiteral("Configure/bad.cfg"));
        if (!c.content.isEmpty()) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.content);
        }
        const QByteArray before = ImageOf(bench.main->CurrentConfig());
        bench.view.openFileAnswers = {path};
        bench.main->UserReadFileBtnClick();
        ASSERT_EQ(bench.view.messages.size(), 1u);
        EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
        EXPECT_EQ(bench.view.messages[0].caption, c.caption);
        EXPECT_EQ(bench.view.messages[0].text, c.text);
        EXPECT_EQ(ImageOf(bench.main->CurrentConfig()), before);
        EXPECT_EQ(bench.view.formsShown, 0);
    }

    Bench cancelled;
    cancelled.main->UserReadFileBtnClick();  // no answer scripted: the dialog is cancelled
    EXPECT_TRUE(cancelled.view.messages.empty());
    EXPECT_EQ(cancelled.view.formsShown, 0);

    Bench unwritable;
    unwritable.view.form.user.alarmHigh = 33.0;
    unwritable.view.saveFileAnswers = {unwritable.programDir.filePath(QStringLiteral("no/such/folder/x.cfg"))};
    unwritable.main->UserWriteFileBtnClick();
    ASSERT_EQ(unwritable.view.messages.size(), 1u);
    EXPECT_EQ(unwritable.view.messages[0].caption, QStringLiteral("Write Configuration file"));
    EXPECT_EQ(unwritable.view.messages[0].text, QStringLiteral("Configuration File did not save\rRetry WRITE FILE"));
    EXPECT_EQ(+unwritable.main->CurrentConfig().mSensor.mAlarmHigh, 330) << "the record is taken from the controls anyway";
}

TEST(Trace, MemoLinesAndCommTxt)
{
    Bench bench({}, "[ETC]\r\nLogEnable=1\r\n");
    ASSERT_TRUE(bench.settings.cfg.mLogEnable);
    ASSERT_TRUE(bench.sim.start());
    bench.main->FormCreate();
    EXPECT_TRUE(bench.view.traceVisible);
    bench.main->UserReadDeviceBtnClick();

    const QStringList& lines = bench.view.trace;
    ASSERT_GE(lines.size(), 8);
    const QRegularExpression shape(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d \\S"));
    for (const QString& line : lines) {
        EXPECT_TRUE(shape.match(line).hasMatch()) << line.toStdString();
    }
    EXPECT_TRUE(lines.filter(QStringLiteral(" [SEND] A0")).size() == 1) << "one identify request";

    bench.main->FormCloseQuery();
    QFile file(QString::fromStdString(bench.Dir() + "Comm.TXT"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1());

    Bench quiet;  // tracing off: no memo, no handler, no file
    ASSERT_TRUE(quiet.sim.start());
    EXPECT_FALSE(quiet.link.HasTraceHandler());
    quiet.main->UserReadDeviceBtnClick();
    EXPECT_TRUE(quiet.view.trace.isEmpty());
    quiet.main->FormCloseQuery();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(quiet.Dir() + "Comm.TXT")));
}

TEST(StartUp, WindowPreparationAndGeometry)
{
    Bench bench({}, "[WINDOW]\r\nWIDTH=640\r\nHEIGHT=700\r\nLEFT=12\r\nTOP=34\r\n");
    bench.main->FormCreate();
    EXPECT_EQ(bench.view.sensorNames, (QStringList{"H2S", "CO", "O2"}));
    ASSERT_EQ(bench.view.eepromRows.size(), 64);
    EXPECT_EQ(bench.view.eepromRows[1], QStringLiteral("0010"));
    EXPECT_EQ(bench.view.eepromRows[63], QStringLiteral("03F0"));
    EXPECT_EQ(bench.view.form.user.sensorName, QStringLiteral("H2S")) << "the default configuration is shown";
    EXPECT_FALSE(bench.view.traceVisible);

    bench.main->FormActivate();
    ASSERT_TRUE(bench.view.layoutFactory.has_value());
    EXPECT_FALSE(*bench.view.layoutFactory);
    ASSERT_TRUE(bench.view.appliedGeometry.has_value());
    EXPECT_EQ(bench.view.appliedGeometry->width, 640);
    EXPECT_EQ(bench.view.appliedGeometry->top, 34);
    EXPECT_TRUE(bench.view.clockStarted);

    // Later activations reload nothing.
    bench.view.appliedGeometry.reset();
    bench.view.currentGeometry = {510, 600, 5, 6};
    bench.main->FormActivate();
    EXPECT_FALSE(bench.view.appliedGeometry.has_value());

    bench.main->FormCloseQuery();
    const WindowGeometry saved = ReadWindowGeometry(bench.Dir());
    EXPECT_EQ(saved.width, 510);
    EXPECT_EQ(saved.height, 600);
    EXPECT_EQ(saved.left, 5);
    EXPECT_EQ(saved.top, 6);
    EXPECT_TRUE(bench.view.messages.empty()) << "nothing to say about an ordinary settings file";

    // A read-only settings file is said once at start-up, and stays as it was.
    Bench locked({}, "[WINDOW]\r\nLEFT=12\r\n");
    const QString ini = QString::fromStdString(locked.Dir() + "LUMBRA.INI");
    ASSERT_TRUE(QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    locked.main->FormActivate();
    locked.main->FormActivate();
    ASSERT_EQ(locked.view.messages.size(), 1u);
    EXPECT_TRUE(locked.view.messages[0].text.endsWith(" is read-only: its settings are used, and nothing is written to it."));
    locked.view.currentGeometry = {510, 600, 5, 6};
    locked.main->FormCloseQuery();
    EXPECT_EQ(ReadWindowGeometry(locked.Dir()).left, 12);
    EXPECT_FALSE(QFile::permissions(ini) & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther));
}

// The window's link thread: view calls made there run in the thread that
// owns the view and return its answers; a second operation cannot start
// while one runs.
TEST(LinkThread, ViewCallsRunOnTheOwnersThreadAndOperationsDoNotOverlap)
{
    ScriptedView scripted;
    scripted.yesNoAnswers = {true};
    QObject context;
    TGuiThreadView proxy(scripted, &context);
    TLinkThread thread;

    std::atomic<bool> answer{false};
    std::atomic<bool> release{false};
    Qt::HANDLE callerThread = nullptr;
    ASSERT_TRUE(thread.Run([&] {
        callerThread = QThread::currentThreadId();
        proxy.AppendTrace(QStringLiteral("first"));
        answer = proxy.AskYesNo(QStringLiteral("Q"), QStringLiteral("?"));
        proxy.AppendTrace(QStringLiteral("second"));
        proxy.PaintStatus(colours::kWhite, colours::kBlack, QStringLiteral("done"));
        while (!release)
            QThread::msleep(1);
    }));
    bool finished = false;
    QObject::connect(&thread, &TLinkThread::Finished, &context, [&] { finished = true; });

    QDeadlineTimer deadline(5000);
    while (scripted.statuses.empty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(thread.Busy());
    EXPECT_FALSE(thread.Run([] {})) << "refused while the first operation runs";
    release = true;
    while (!finished && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    EXPECT_TRUE(finished);
    EXPECT_FALSE(thread.Busy());
    EXPECT_NE(callerThread, QThread::currentThreadId());
    EXPECT_TRUE(answer);
    ASSERT_EQ(scripted.questions.size(), 1u);
    EXPECT_EQ(scripted.trace, (QStringList{"first", "second"}));
    ASSERT_EQ(scripted.statuses.size(), 1u);
    EXPECT_EQ(scripted.statuses[0].text, QStringLiteral("done"));
}

TEST(StartUp, PortChoiceAndInstanceGuard)
{
    struct Case {
        QStringList args;
        QString env;
        std::string setting;
        QString port;
    };
    const Case cases[] = {
        {{"beamdock", "--port", "/dev/a"}, "/dev/b", "/dev/c", "/dev/a"},
        {{"beamdock", "--port=/dev/a"}, {}, {}, "/dev/a"},
        {{"beamdock"}, "/dev/b", "/dev/c", "/dev/b"},
        {{"beamdock"}, {}, "/dev/c", "/dev/c"},
        {{"beamdock", "--port"}, {}, {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChoosePort(c.args, c.env, c.setting), c.port) << c.args.join(' ').toStdString();
    }

    // The program directory: --dir, then BEAMDOCK_DIR, then the working
    // directory; always absolute with a trailing "/".
    const std::string here = QDir::currentPath().toStdString() + "/";
    struct DirCase {
        QStringList args;
        QString env;
        std::string dir;
    };
    const DirCase dirCases[] = {
        {{"beamdock", "--dir", "/srv/bench"}, "/home/x/.local/share/beamdock", "/srv/bench/"},
        {{"beamdock", "--dir=/srv/bench/"}, {}, "/srv/bench/"},
        {{"beamdock"}, "/home/x/.local/share/beamdock", "/home/x/.local/share/beamdock/"},
        {{"beamdock", "--dir", "bench"}, {}, here + "bench/"},
        {{"beamdock"}, {}, here},
    };
    for (const DirCase& c : dirCases)
        EXPECT_EQ(ChooseProgramDirectory(c.args, c.env), c.dir) << c.args.join(' ').toStdString();

    QTemporaryDir dir;
    TInstanceGuard first(dir.path());
    TInstanceGuard second(dir.path());
    EXPECT_TRUE(first.Acquire());
    EXPECT_FALSE(second.Acquire());
    EXPECT_TRUE(first.LockPath().endsWith(QStringLiteral("VARNOLUMBRA.lock")));
}

}  // namespace
