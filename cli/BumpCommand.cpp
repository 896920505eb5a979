// beamdock-cli bump: the guided bump test on the console. The gas, the
// cylinder and the technician come from the options (the last cylinder used
// is remembered); the readings scroll on standard error, the result goes to
// standard output (JSON with --json) and to the history.
#include <QDate>
#include <QJsonDocument>

#include <cmath>
#include <iostream>
#include <string>
#include <unistd.h>

#include "BumpRecord.h"
#include "BumpTest.h"
#include "Certificate.h"
#include "CliContext.h"
#include "InterruptWatch.h"
#include "OperationRecorder.h"
#include "SensorReading.h"

namespace {

constexpr int kCancelled = 134;
constexpr int kFailed = 1;

int BumpUsage(CliContext& ctx)
{
    *ctx.err << "usage: beamdock-cli bump --gas VALUE [--lot L --expiry YYYY-MM-DD] [--technician NAME]\n"
                "                        [--time-limit S] [--yes] [--json] [--certificate FILE.pdf]\n";
    return kUsageError;
}

QString Flags(std::uint8_t alarms)
{
    QStringList names;
    if (alarms & alarmbit::kLow)
        names << QStringLiteral("LOW");
    if (alarms & alarmbit::kHigh)
        names << QStringLiteral("HIGH");
    return names.isEmpty() ? QStringLiteral("-") : names.join(QLatin1Char(' '));
}

class TConsoleBumpView final : public IBumpView {
public:
    TConsoleBumpView(std::ostream& err, bool yes) : FErr(err), FYes(yes) {}

    std::optional<RTestGas> AskGas(const RBumpUnit& unit, const RTestGas& proposed) override
    {
        FUnit = unit.gasUnit.toStdString();
        FErr << "Unit " << unit.serial.toStdString() << " (" << unit.sensorName.toStdString() << "), LOW "
             << unit.lowSetPoint << ", HIGH " << unit.highSetPoint << " " << FUnit << "\n"
             << "Test gas " << proposed.concentration << " " << FUnit << ", cylinder lot "
             << proposed.lot.toStdString() << ", expiry " << proposed.expiry.toString(Qt::ISODate).toStdString()
             << ", technician " << proposed.technician.toStdString() << "\n";
        if (FYes)
            return proposed;
        FErr << "Start the bump test? [y/N] " << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer) || (answer != "y" && answer != "Y" && answer != "yes"))
            return std::nullopt;
        return proposed;
    }
    void ShowStep(const QString& text) override { FErr << text.toStdString() << "\n" << std::flush; }
    void ShowReading(double elapsed, double value, std::uint8_t alarms, int secondsLeft) override
    {
        FErr << "  " << std::lround(elapsed) << " s  " << value << " " << FUnit << "  " << Flags(alarms).toStdString()
             << "  " << secondsLeft << " s left\n"
             << std::flush;
    }
    void ShowResult(const RBumpResult& result) override
    {
        FErr << "Bump test " << BumpOutcomeText(result.outcome).toStdString();
        if (!result.reason.isEmpty())
            FErr << ": " << result.reason.toStdString();
        FErr << "\n";
    }

private:
    std::ostream& FErr;
    bool FYes;
    std::string FUnit;
};

bool TakeDouble(CliContext& ctx, const char* option, double low, double high, std::optional<double>& out)
{
    QString text;
    if (!TakeValue(ctx.args, option, text))
        return true;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < low || value > high) {
        *ctx.err << "beamdock-cli: " << option << " '" << text.toStdString() << "' is not allowed: a number from "
                 << low << " to " << high << "\n";
        return false;
    }
    out = value;
    return true;
}

}  // namespace

int BumpExitCode(const RBumpResult& result)
{
    switch (result.outcome) {
    case BumpOutcome::Passed:
        return 0;
    case BumpOutcome::Failed:
        return kFailed;
    case BumpOutcome::Cancelled:
        return kCancelled;
    case BumpOutcome::Refused:
        return kRefused;
    case BumpOutcome::FailedToRun:
        break;
    }
    return result.status != 0 ? result.status : kRefused;
}

int CmdBump(CliContext& ctx)
{
    std::optional<double> gasValue, timeLimit;
    bool good = TakeDouble(ctx, "--gas", 0, 100000, gasValue);
    good = TakeDouble(ctx, "--time-limit", 5, 600, timeLimit) && good;
    QString lot, expiry, technician, certificate;
    const bool hasLot = TakeValue(ctx.args, "--lot", lot);
    const bool hasExpiry = TakeValue(ctx.args, "--expiry", expiry);
    const bool hasTechnician = TakeValue(ctx.args, "--technician", technician);
    const bool hasCertificate = TakeValue(ctx.args, "--certificate", certificate);
    const bool yes = TakeFlag(ctx.args, "--yes");
    if (!good || !ctx.args.isEmpty())
        return BumpUsage(ctx);
    if (!gasValue) {
        *ctx.err << "beamdock-cli: bump needs --gas VALUE, the test gas in the sensor's unit\n";
        return BumpUsage(ctx);
    }
    const QDate expiryDate = QDate::fromString(expiry, Qt::ISODate);
    if (hasExpiry && !expiryDate.isValid()) {
        *ctx.err << "beamdock-cli: --expiry '" << expiry.toStdString() << "' is not allowed: a date YYYY-MM-DD\n";
        return kUsageError;
    }

    const LoadedSettings& settings = CurrentSettings();
    RBumpRule rule = LoadBumpRule(settings.programDir);
    if (timeLimit)
        rule.timeLimit = static_cast<int>(*timeLimit);
    // The remembered cylinder fills what the options leave out.
    RTestGas gas = RememberedGas(settings.programDir, 0);
    gas.concentration = *gasValue;
    if (hasLot)
        gas.lot = lot;
    if (hasExpiry)
        gas.expiry = expiryDate;
    gas.technician = hasTechnician ? technician : DefaultTechnician();

    TSystemClock clock;
    TBumpRequests requests;
    TConsoleBumpView view(*ctx.err, yes);
    TBumpTest test(view, *ctx.link, settings, clock, requests, ProcessRecorder());
    RBumpResult result;
    {
        TInterruptWatch watch([&requests] { requests.Cancel(); });
        result = test.Run(gas, rule);
    }
    if (result.outcome != BumpOutcome::Refused && result.outcome != BumpOutcome::FailedToRun)
        RememberGas(settings.programDir, result.unit.sensorType, result.gas);

    const QByteArray record = test.RecordBytes();
    if (ctx.json)
        *ctx.out << record.toStdString() << "\n";
    else
        *ctx.out << BumpOutcomeText(result.outcome).toStdString() << "\n";
    if (hasCertificate) {
        QString error;
        if (!WriteCertificate(certificate, record, error)) {
            *ctx.err << "beamdock-cli: no certificate: " << error.toStdString() << "\n";
            return kFileFailed;
        }
        *ctx.err << "Certificate written to " << certificate.toStdString() << "\n";
    }
    return BumpExitCode(result);
}
