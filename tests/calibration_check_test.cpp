// The guided calibration's as found / as left readings against the
// simulator: a unit that reads the span gas within the tolerance ends as a
// check without being adjusted; one outside it is zeroed in clean air,
// spanned, and read again with the gas back on.
#include <QDate>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utility>

#include "CalibrationCheck.h"
#include "ScriptedSensorViews.h"
#include "SimProcess.h"

namespace {

void WriteText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

class ScriptedCheckView final : public ICalCheckView {
public:
    explicit ScriptedCheckView(QString control) : FControl(std::move(control)) {}
    void ShowStep(const QString& text) override
    {
        steps << text;
        if (text == calchecktext::kRemove)
            WriteText(FControl, "0");
        if (text == calchecktext::kAsLeft)
            WriteText(FControl, "30");
    }
    void ShowReading(double elapsed, double) override
    {
        // A technician who opens the cylinder only after a while.
        if (steps.size() == 1 && !lateGas.isEmpty() && elapsed >= 7)
            WriteText(FControl, std::exchange(lateGas, QByteArray()));
    }
    QStringList steps;
    QByteArray lateGas;

private:
    QString FControl;
};

}  // namespace

TEST(CalibrationCheck, AsFoundWithinToleranceIsACheckOutsideItAdjusts)
{
    struct Case {
        QByteArray asFoundGas;
        QString result;
        bool adjusted;
        int zeroSpanSent;
        std::optional<double> asFound, asLeft;
    };
    const Case cases[] = {
        {"32.5", QStringLiteral("CHECK PASSED"), false, 0, 32.5, std::nullopt},  // +8.3 %
        {"24", QStringLiteral("PASSED"), true, 1, 24.0, 30.0},                   // -20 %
        {"late 32.5", QStringLiteral("CHECK PASSED"), false, 0, 32.5, std::nullopt},  // clean air is no reading
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asFoundGas.toStdString());
        QTemporaryDir dir;
        const QString control = dir.filePath(QStringLiteral("gas"));
        const bool late = c.asFoundGas.startsWith("late ");
        WriteText(control, late ? QByteArray("0") : c.asFoundGas);
        WriteText(dir.filePath(QStringLiteral("LUMBRA.INI")),
                  "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n[Calibration]\r\nCalibrationCheckTime=1\r\n");
        SimProcess sim({"--noise", "0", "--cal-seconds", "3", "--gas-control", control});
        ASSERT_TRUE(sim.start());
        const LoadedSettings settings = LoadSettings(dir.path().toStdString() + "/");
        TComZEL link;
        link.SetDefPort(sim.portPath().toStdString());
        RZELCFG cfg{};
        ASSERT_EQ(link.OpenUSB(0.5f), 0);
        ASSERT_EQ(link.ReadUnitCFGData(cfg.mUnit, 32, 64), 0);
        ASSERT_EQ(link.ReadSensorCFGData(cfg.mSensor, 32, 64), 0);
        link.CloseUSB(0);

        TSystemClock clock;
        TSensorCalRequests requests;
        ScriptedSensorCalView calView(&clock);
        TSensorCalWorkflow calibration(calView, link, settings, clock, requests);
        ASSERT_TRUE(calibration.ShowDlg(cfg));
        ScriptedCheckView view(control);
        if (late)
            view.lateGas = c.asFoundGas.mid(5);
        TCalibrationCheck check(view, calibration, link, settings, clock, requests);
        RCalCheckOptions options;
        options.steadyLimit = 15;
        const RTestGas gas{30, QStringLiteral("C-1"), QDate::currentDate().addYears(1), QStringLiteral("T")};
        const RCalCheckResult result = check.Run(30, gas, options);

        EXPECT_EQ(result.result, c.result) << result.reason.toStdString();
        EXPECT_EQ(result.adjusted, c.adjusted);
        EXPECT_EQ(result.asFound, c.asFound);
        EXPECT_EQ(result.asLeft, c.asLeft);
        EXPECT_EQ(sim.recordedLines().filter(QRegularExpression("^RX 4[012]")).size(), c.zeroSpanSent);
        const QJsonObject record = check.RecordJson(result, 30, gas, options);
        EXPECT_EQ(record.value("asFound").toDouble(), c.asFound.value_or(0));
        EXPECT_EQ(record.value("result").toString(), c.result);
        EXPECT_EQ(record.value("asFoundResult").toString(), c.adjusted ? "fail" : "pass");
    }
}
