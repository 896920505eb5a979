// The safeguards around the values the window shows, against the simulated
// detector: the question before a write to a unit other than the one shown,
// the alarm set point rule, the question before edits are replaced, and the
// event log copy that must exist before the unit's log is cleared.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

#include "ConfigFile.h"
#include "DeviceSettings.h"
#include "EventLogWorkflow.h"
#include "MainWorkflows.h"
#include "ScriptedView.h"
#include "SimProcess.h"

namespace {

class Bench {
public:
    explicit Bench(const QByteArray& ini = {}, const QStringList& simArgs = {}) : sim(simArgs)
    {
        QFile file(programDir.filePath(QStringLiteral("LUMBRA.INI")));
        if (!ini.isEmpty() && file.open(QIODevice::WriteOnly))
            file.write(ini);
        file.close();
        settings = LoadSettings(programDir.path().toStdString() + "/");
        EXPECT_TRUE(sim.start());
        link.SetDefPort(sim.portPath().toStdString());
        main = std::make_unique<TMainWorkflows>(view, link, settings);
        main->FormCreate();
    }

    int Frames(const QString& command) const
    {
        int count = 0;
        for (const QString& line : sim.recordedLines())
            count += line.startsWith(QStringLiteral("RX ") + command) ? 1 : 0;
        return count;
    }

    QTemporaryDir programDir;
    SimProcess sim;
    LoadedSettings settings;
    TComZEL link;
    ScriptedView view;
    std::unique_ptr<TMainWorkflows> main;
};

const QString kWrite = QStringLiteral("Write Varnolite Information");

TEST(WriteSafety, WriteToAUnitOtherThanTheOneShownAsksWithTheChanges)
{
    enum class Before { Nothing, ReadThisUnit, ReadAnotherUnit };
    struct Case {
        const char* name;
        QByteArray ini;
        Before before;
        bool answer;
        bool asked;
        bool written;
    };
    const Case cases[] = {
        {"nothing read, declined", {}, Before::Nothing, false, true, false},
        {"nothing read, confirmed", {}, Before::Nothing, true, true, true},
        {"read, edited, written back", {}, Before::ReadThisUnit, false, false, true},
        {"another unit read before", {}, Before::ReadAnotherUnit, false, true, false},
        {"question turned off for production", "[ETC]\r\nConfirmOtherUnit=0\r\n", Before::Nothing, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.ini);
        SimProcess other({"--serial", "SH20000456"});
        ASSERT_TRUE(other.start());
        if (c.before != Before::Nothing) {
            if (c.before == Before::ReadAnotherUnit)
                bench.link.SetDefPort(other.portPath().toStdString());
            bench.main->UserReadDeviceBtnClick();
            bench.link.SetDefPort(bench.sim.portPath().toStdString());
        }
        const QByteArray before = bench.sim.stateImage();
        bench.view.form.user.alarmHigh = 30.0;
        bench.view.confirmAnswers = {c.answer};
        bench.main->UserWriteDeviceBtnClick();

        ASSERT_EQ(bench.view.confirmations.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            const QString text = bench.view.confirmations[0].text;
            EXPECT_TRUE(text.startsWith(QStringLiteral("Write "))) << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral(" changes to unit SH10000123?\r"))) << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("\rHigh Alarm: ")) && text.contains(QStringLiteral(" → 30.0 ppm")))
                << text.toStdString();
        }
        EXPECT_EQ(bench.Frames(QStringLiteral("70")) > 0, c.written);
        EXPECT_EQ(bench.sim.stateImage() != before, c.written);
    }
}

TEST(WriteSafety, NothingDiffersWritesNothing)
{
    Bench bench;
    SimProcess other({"--serial", "SH20000456"});
    ASSERT_TRUE(other.start());
    bench.link.SetDefPort(other.portPath().toStdString());
    bench.main->UserReadDeviceBtnClick();
    bench.link.SetDefPort(bench.sim.portPath().toStdString());
    bench.main->UserWriteDeviceBtnClick();
    EXPECT_TRUE(bench.view.confirmations.empty());
    ASSERT_FALSE(bench.view.messages.empty());
    EXPECT_EQ(bench.view.messages.back().text,
              QStringLiteral("Unit SH10000123 already holds the values shown.\rNothing was written."));
    EXPECT_EQ(bench.Frames(QStringLiteral("70")), 0);
}

TEST(WriteSafety, HighAlarmBelowLowIsRefusedFromTheWindowAndFromAFile)
{
    for (const bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file" : "window");
        Bench bench;
        bench.main->UserReadDeviceBtnClick();
        const int framesBefore = bench.sim.recordedLines().size();
        const RFormValues shown = bench.view.form;
        if (fromFile) {
            RZELCFG cfg = bench.main->CurrentConfig();
            cfg.mSensor.mAlarmHigh = 50;
            cfg.mSensor.mAlarmLow = 100;
            const QString path = bench.programDir.filePath(QStringLiteral("low.cfg"));
            ASSERT_TRUE(WriteConfigFile(path.toStdString(), cfg, false, QDateTime::currentDateTime()));
            bench.view.openFileAnswers = {path};
            bench.main->UserReadFileBtnClick();
            EXPECT_EQ(bench.view.form, shown) << "the file's values are not shown";
        } else {
            bench.view.form.user.alarmHigh = 5.0;
            bench.view.form.user.alarmLow = 10.0;
            bench.main->UserWriteDeviceBtnClick();
        }
        ASSERT_FALSE(bench.view.messages.empty());
        EXPECT_EQ(bench.view.messages.back().text,
                  QStringLiteral("The high alarm (5.0 ppm) must lie above the low alarm (10.0 ppm).\r") +
                      (fromFile ? QStringLiteral("The file was not loaded.") : QStringLiteral("Nothing was written.")));
        EXPECT_EQ(bench.sim.recordedLines().size(), framesBefore) << "nothing reached the unit";
    }
}

TEST(WriteSafety, EditsAreNotReplacedWithoutAQuestion)
{
    Bench bench;
    bench.main->UserReadDeviceBtnClick();
    ASSERT_EQ(bench.view.unitLines.back().From(), TUnitLine::Source::Unit);
    bench.view.form.user.testIntervalHours = 12;
    bench.view.form.user.bumpIntervalDays = 7;
    const int framesBefore = bench.sim.recordedLines().size();
    bench.view.confirmAnswers = {false};
    bench.main->UserReadDeviceBtnClick();
    ASSERT_EQ(bench.view.confirmations.size(), 1u);
    EXPECT_EQ(bench.view.confirmations[0].text, QStringLiteral("Discard the edits to 2 fields?"));
    EXPECT_EQ(bench.view.form.user.testIntervalHours, 12);
    EXPECT_EQ(bench.sim.recordedLines().size(), framesBefore);
    EXPECT_EQ(bench.view.unitLines.back().Text(bench.view.form).section(QStringLiteral(" \u2014 "), 1),
              QStringLiteral("2 fields edited"));

    // A file's values that no unit holds yet count as well.
    RZELCFG cfg = bench.main->CurrentConfig();
    cfg.mSensor.mAlarmHigh = 250;
    const QString path = bench.programDir.filePath(QStringLiteral("high25.cfg"));
    ASSERT_TRUE(WriteConfigFile(path.toStdString(), cfg, false, QDateTime::currentDateTime()));
    bench.view.confirmAnswers = {true, false};
    bench.view.openFileAnswers = {path};
    bench.main->UserReadFileBtnClick();
    EXPECT_EQ(bench.view.unitLines.back().Text(bench.view.form), QStringLiteral("Loaded from high25.cfg \u2014 not yet written"));
    bench.main->UserCalBtnClick();
    ASSERT_EQ(bench.view.confirmations.size(), 3u);
    EXPECT_EQ(bench.view.confirmations[2].text, QStringLiteral("Discard the edits to 1 fields?"));
    EXPECT_EQ(bench.sim.recordedLines().size(), framesBefore);

    // A read that fails keeps the values, greyed, and says no unit was read.
    SimProcess other({"--model", "3"});
    ASSERT_TRUE(other.start());
    bench.link.SetDefPort(other.portPath().toStdString());
    const RFormValues kept = bench.view.form;
    bench.main->UserReadDeviceBtnClick();
    EXPECT_EQ(bench.view.form, kept);
    EXPECT_EQ(bench.view.unitLines.back().Text(bench.view.form), QStringLiteral("No unit read"));
    EXPECT_TRUE(bench.view.unitLines.back().ValuesGreyed());
}

TEST(WriteSafety, LogResetClearsOnlyAfterTheLogIsKept)
{
    struct Case {
        const char* name;
        QStringList simArgs;
        bool folderWritable;
        bool cleared;
    };
    const Case cases[] = {
        {"downloaded and kept", {}, true, true},
        {"copy cannot be written", {}, false, false},
        {"download refused (another model)", {"--model", "3"}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench({}, c.simArgs);
        if (!c.folderWritable)
            bench.settings.cfg.mEVENTSaveDir = bench.programDir.filePath(QStringLiteral("missing/")).toStdString();
        TEventLogWorkflow events(*bench.main);
        events.UserLogResetBtnClick();
        ASSERT_EQ(bench.view.confirmations.size(), 1u);
        EXPECT_EQ(bench.view.confirmations[0].text,
                  QStringLiteral("Save and then clear the event log of the unit in front of the adapter?"));
        EXPECT_EQ(bench.Frames(QStringLiteral("13")), c.cleared ? 1 : 0);
        EXPECT_EQ(events.LastSavedFile().has_value(), c.cleared);
        if (c.cleared)
            EXPECT_TRUE(QFile::exists(*events.LastSavedFile()));
    }
}

}  // namespace
