// The production line against several simulated units at once, each on a
// pseudo-terminal of its own at 115200 baud: what the units hold afterwards,
// a unit that refuses its write, a stop in the middle, and a unit swapped.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "ConfigFile.h"
#include "HistoryQueries.h"
#include "HistoryStore.h"
#include "MainWorkflows.h"
#include "ProductionLine.h"
#include "SimProcess.h"
#include "SimUnits.h"
#include "ZelComms.h"

namespace {

constexpr int kWaitMs = 20000;

class CollectedReport final : public IProductionReport {
public:
    void StepStarted(int, const QString&, const QString& step, int) override
    {
        std::lock_guard lock(FMutex);
        FSteps.push_back(step);
        FChanged.notify_all();
    }
    void UnitEnded(const RUnitOutcome& outcome) override
    {
        std::lock_guard lock(FMutex);
        FOutcomes.push_back(outcome);
        FChanged.notify_all();
    }
    void StationEnded(int) override {}

    bool WaitFor(const std::function<bool()>& done)
    {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, std::chrono::milliseconds(kWaitMs), done);
    }
    std::vector<RUnitOutcome> Outcomes()
    {
        std::lock_guard lock(FMutex);
        return FOutcomes;
    }

    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<QString> FSteps;
    std::vector<RUnitOutcome> FOutcomes;
};

class ProductionLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings = LoadSettings(programDir.path().toStdString() + "/");
        RZELCFG cfg = DefaultConfig();
        std::memcpy(cfg.mUnit.mUserID, "SITE42", 6);
        cfg.mSensor.mSensorType = 1;
        cfg.mSensor.mAlarmHigh = 180;
        const QString path = programDir.filePath("site.cfg");
        ASSERT_TRUE(WriteConfigFile(path.toStdString(), cfg, false, QDateTime::currentDateTime()));
        QString error;
        ASSERT_TRUE(LoadProductionTemplate(path, plan, error)) << error.toStdString();
    }

    static bool HoldsTemplate(const RZELCFG& cfg)
    {
        return std::memcmp(cfg.mUnit.mUserID, "SITE42", 6) == 0 && cfg.mSensor.mAlarmHigh == 180;
    }

    QTemporaryDir programDir;
    LoadedSettings settings;
    RProductionPlan plan;
};

TEST_F(ProductionLineTest, EveryUnitAtOnceTakesTheTemplateAndARefusalStopsOnlyItsUnit)
{
    struct Case {
        const char* name;
        QStringList simArgs;
        std::vector<bool> passes;
    };
    const Case cases[] = {
        {"all three", {}, {true, true, true}},
        {"unit 2 refuses its write", {"--refuse-writes", "2"}, {true, false, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimUnits sim(3, c.simArgs);
        ASSERT_EQ(sim.Ports().size(), 3u);
        CollectedReport report;
        plan.once = true;
        const QString historyPath = programDir.filePath(QStringLiteral("%1.sqlite").arg(&c - cases));
        QString error;
        plan.makeRecorder = HistoryRecorders(historyPath, {}, error);
        ASSERT_TRUE(plan.makeRecorder) << error.toStdString();
        TProductionLine line(plan, settings, report);
        ASSERT_TRUE(line.Start(sim.Ports()));
        line.Wait();
        THistoryStore history;
        ASSERT_TRUE(history.Open(*ParseHistoryUrl(historyPath, error), error)) << error.toStdString();
        const auto outcomes = report.Outcomes();
        ASSERT_EQ(outcomes.size(), 3u);
        for (const RUnitOutcome& outcome : outcomes) {
            const bool expected = c.passes[static_cast<std::size_t>(outcome.station)];
            EXPECT_EQ(outcome.passed, expected) << outcome.port.toStdString() << " " << outcome.statusText.toStdString();
            EXPECT_EQ(outcome.serial, QStringLiteral("SH1000012%1").arg(3 + outcome.station));
            EXPECT_EQ(HoldsTemplate(sim.Image(outcome.station + 1)), expected);
            // Each unit's write is in the history: as found, as sent and as
            // read back; a write refused at once reached nothing to record.
            const auto operations = historyqueries::UnitOperations(history, outcome.serial, error);
            const auto write = std::find_if(operations.begin(), operations.end(),
                                            [](const auto& o) { return o.workflow == opname::kWriteDevice; });
            ASSERT_NE(write, operations.end()) << outcome.serial.toStdString() << " " << error.toStdString();
            // Looking for the next unit is no operation of the unit's.
            EXPECT_EQ(operations.size(), 2u) << "read, write";
            QStringList roles;
            for (const auto& [role, raw] : write->images)
                roles << role + QLatin1Char(':') + QString::number(raw.size());
            EXPECT_EQ(roles.join(' '), expected ? QStringLiteral("before:128 sent:128 after:128")
                                                : QString());
            EXPECT_EQ(write->status, std::optional<int>(outcome.status));
            if (!expected) {
                EXPECT_EQ(outcome.step, prodstep::kWrite);
                EXPECT_EQ(outcome.status, zelstatus::kNak);
                EXPECT_FALSE(outcome.statusText.isEmpty());
            }
        }
        EXPECT_EQ(line.Failed(), static_cast<int>(std::count(c.passes.begin(), c.passes.end(), false)));
    }
}

TEST_F(ProductionLineTest, StopInTheMiddleEndsEveryUnitWhole)
{
    SimUnits sim(3);
    CollectedReport report;
    TProductionLine line(plan, settings, report);
    ASSERT_TRUE(line.Start(sim.Ports()));
    ASSERT_TRUE(report.WaitFor([&] {
        return std::find(report.FSteps.begin(), report.FSteps.end(), prodstep::kWrite) != report.FSteps.end();
    }));
    line.Stop();
    line.Wait();
    // A unit begun is finished; one not begun is left as found.
    const auto outcomes = report.Outcomes();
    EXPECT_GE(outcomes.size(), 1u);
    std::vector<bool> ended(3, false);
    for (const RUnitOutcome& outcome : outcomes) {
        EXPECT_TRUE(outcome.passed) << outcome.statusText.toStdString();
        ended[static_cast<std::size_t>(outcome.station)] = true;
    }
    for (int unit = 1; unit <= 3; ++unit)
        EXPECT_EQ(HoldsTemplate(sim.Image(unit)), ended[static_cast<std::size_t>(unit - 1)]) << "unit " << unit;
}

TEST_F(ProductionLineTest, AUnitSwappedOnAnAdapterIsTakenAsTheNext)
{
    SimUnits sim(2);
    CollectedReport report;
    plan.pollInterval = std::chrono::milliseconds(100);
    TProductionLine line(plan, settings, report);
    ASSERT_TRUE(line.Start(sim.Ports()));
    ASSERT_TRUE(report.WaitFor([&] { return report.FOutcomes.size() == 2; }));
    // The units done stay in front and are not taken again.
    simwire::SleepMs(400);
    EXPECT_EQ(report.Outcomes().size(), 2u);
    EXPECT_EQ(sim.Control("away 1"), QStringLiteral("unit 1 away"));
    simwire::SleepMs(300);
    EXPECT_EQ(sim.Control("front 1 SH50000001"), QStringLiteral("unit 1 front SH50000001"));
    ASSERT_TRUE(report.WaitFor([&] { return report.FOutcomes.size() == 3; }));
    line.Stop();
    line.Wait();
    const auto outcomes = report.Outcomes();
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[2].station, 0);
    EXPECT_EQ(outcomes[2].serial, QStringLiteral("SH50000001"));
    EXPECT_TRUE(outcomes[2].passed) << outcomes[2].statusText.toStdString();
    EXPECT_TRUE(HoldsTemplate(sim.Image(1)));
}

}  // namespace
