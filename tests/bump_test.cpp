// The guided bump test against the simulated detector: the gas is applied
// and removed through the simulator's control file when the test says
// "Apply gas now" and "Remove gas", the reading follows with a t90, and the
// wire shows what reached the unit.
#include <QDate>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include "BumpTest.h"
#include "OperationRecorder.h"
#include "SimProcess.h"

namespace {

const QByteArray kIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n";

void WriteText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

class ScriptedBumpView final : public IBumpView {
public:
    std::optional<RTestGas> AskGas(const RBumpUnit& unit, const RTestGas& proposed) override
    {
        seenUnit = unit;
        return proposed;
    }
    void ShowStep(const QString& text) override
    {
        steps << text;
        if (onStep)
            onStep(text);
    }
    void ShowReading(double, double, std::uint8_t, int) override
    {
        ++readings;
        if (onReading)
            onReading(readings);
    }
    void ShowResult(const RBumpResult&) override {}

    RBumpUnit seenUnit;
    QStringList steps;
    int readings = 0;
    std::function<void(const QString&)> onStep;
    std::function<void(int)> onReading;
};

int Count(const QStringList& lines, const char* prefix)
{
    return static_cast<int>(lines.filter(QRegularExpression(QStringLiteral("^") + QLatin1String(prefix))).size());
}

}  // namespace

TEST(BumpTest, OutcomesAndWhatReachesTheUnit)
{
    enum class Act { None, Cancel, Unplug };
    struct Case {
        const char* name;
        QStringList simArgs;
        std::optional<std::pair<int, int>> setPoints;  // high, low in tenths
        double gas;
        double clean;        // the gas "Remove gas" brings back
        bool applied;        // the technician really opens the cylinder
        int daysToExpiry;
        Act act;
        BumpOutcome outcome;
        int passSent, failSent;
    };
    const QStringList lag = {"--noise", "0", "--gas-t90", "3"};
    const Case cases[] = {
        {"toxic passes", lag, {}, 25, 0, true, 30, Act::None, BumpOutcome::Passed, 1, 0},
        {"oxygen passes", lag + QStringList{"--sensor", "4"}, std::pair{235, 195}, 18, 20.9, true, 30, Act::None,
         BumpOutcome::Passed, 1, 0},
        {"slow alarm fails", {"--noise", "0", "--gas-t90", "300"}, {}, 25, 0, true, 30, Act::None,
         BumpOutcome::Failed, 0, 1},
        {"absent alarm fails", lag, {}, 25, 0, false, 30, Act::None, BumpOutcome::Failed, 0, 1},
        {"expired cylinder refused", lag, {}, 25, 0, true, -1, Act::None, BumpOutcome::Refused, 0, 0},
        {"gas below the low set point refused", lag, {}, 5, 0, true, 30, Act::None, BumpOutcome::Refused, 0, 0},
        {"cancel sends nothing", lag, {}, 25, 0, true, 30, Act::Cancel, BumpOutcome::Cancelled, 0, 0},
        {"unplugged mid-test", lag, {}, 25, 0, true, 30, Act::Unplug, BumpOutcome::FailedToRun, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString control = dir.filePath(QStringLiteral("gas"));
        WriteText(dir.filePath(QStringLiteral("LUMBRA.INI")), kIni);
        SimProcess sim(c.simArgs + QStringList{"--gas-control", control});
        ASSERT_TRUE(sim.start());
        if (c.setPoints) {
            OPEN_PORT(port, sim);
            WAKE(port);
            const auto [high, low] = *c.setPoints;
            ASSERT_TRUE(port.WriteConfig(64, {static_cast<std::uint8_t>(high & 0xFF), static_cast<std::uint8_t>(high >> 8),
                                              static_cast<std::uint8_t>(low & 0xFF), static_cast<std::uint8_t>(low >> 8)}));
        }
        const LoadedSettings settings = LoadSettings(dir.path().toStdString() + "/");
        TComZEL link;
        link.SetDefPort(sim.portPath().toStdString());
        TSystemClock clock;
        TBumpRequests requests;
        ScriptedBumpView view;
        view.onStep = [&](const QString& step) {
            if (step == bumptext::kApply && c.applied)
                WriteText(control, QByteArray::number(c.gas));
            if (step == bumptext::kRemove)
                WriteText(control, QByteArray::number(c.clean));
        };
        view.onReading = [&](int count) {
            if (count == 2 && c.act == Act::Cancel)
                requests.Cancel();
            if (count == 2 && c.act == Act::Unplug)
                sim.stop();
        };
        RBumpRule rule;
        rule.timeLimit = 6;
        rule.clearLimit = 15;
        RTestGas gas{c.gas, QStringLiteral("LOT-7"), QDate::currentDate().addDays(c.daysToExpiry),
                     QStringLiteral("A. Tester")};
        TBumpTest test(view, link, settings, clock, requests, NullRecorder());
        const RBumpResult result = test.Run(gas, rule);

        EXPECT_EQ(BumpOutcomeText(result.outcome), BumpOutcomeText(c.outcome)) << result.reason.toStdString();
        const QStringList wire = sim.recordedLines();
        EXPECT_EQ(Count(wire, "RX 46"), c.passSent);
        EXPECT_EQ(Count(wire, "RX 45"), c.failSent);
        if (c.outcome == BumpOutcome::Passed) {
            EXPECT_TRUE(result.lowAfter.has_value());
            EXPECT_TRUE(result.confirmed) << "the bump timer moved";
            EXPECT_NE(result.bumpTimerAfter, result.bumpTimerBefore);
            EXPECT_TRUE(result.alarmsCleared);
            EXPECT_EQ(view.steps.filter(bumptext::kRemove).size(), 1);
        }
        if (c.outcome == BumpOutcome::Failed) {
            EXPECT_TRUE(result.confirmed) << "the unit shows the failed test";
        }
        if (c.outcome == BumpOutcome::Refused) {
            EXPECT_FALSE(result.reason.isEmpty());
        }
        if (c.outcome == BumpOutcome::FailedToRun) {
            EXPECT_NE(result.status, 0);
        }
    }
}
