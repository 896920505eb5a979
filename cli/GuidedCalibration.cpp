#include "GuidedCalibration.h"

#include <cmath>
#include <iostream>

#include "Certificate.h"
#include "RecordedCalibration.h"

namespace {

class TConsoleCheckView final : public ICalCheckView {
public:
    explicit TConsoleCheckView(std::ostream& err) : FErr(err) {}
    void ShowStep(const QString& text) override { FErr << text.toStdString() << "\n" << std::flush; }
    void ShowReading(double elapsed, double value) override
    {
        FErr << "  " << std::lround(elapsed) << " s  " << value << "\n" << std::flush;
    }

private:
    std::ostream& FErr;
};

}  // namespace

RGuidedCalibration TakeGuidedCalibration(CliContext& ctx, bool& bad)
{
    RGuidedCalibration guided;
    bool any = false;
    guided.options.asFound = TakeFlag(ctx.args, "--as-found");
    guided.options.asLeft = TakeFlag(ctx.args, "--as-left");
    any = guided.options.asFound || guided.options.asLeft;
    QString text;
    if (TakeValue(ctx.args, "--tolerance", text)) {
        any = true;
        bool ok = false;
        guided.options.tolerancePercent = text.toDouble(&ok);
        if (!ok || guided.options.tolerancePercent <= 0 || guided.options.tolerancePercent > 50) {
            *ctx.err << "beamdock-cli: --tolerance '" << text.toStdString()
                     << "' is not allowed: a percentage of the span gas above 0, at most 50\n";
            bad = true;
        }
    }
    guided.gas = RememberedGas(ctx.programDir, 0);
    guided.gas.technician = DefaultTechnician();
    if (TakeValue(ctx.args, "--lot", text)) {
        any = true;
        guided.gas.lot = text;
    }
    if (TakeValue(ctx.args, "--expiry", text)) {
        any = true;
        guided.gas.expiry = QDate::fromString(text, Qt::ISODate);
        if (!guided.gas.expiry.isValid()) {
            *ctx.err << "beamdock-cli: --expiry '" << text.toStdString() << "' is not allowed: a date YYYY-MM-DD\n";
            bad = true;
        }
    }
    if (TakeValue(ctx.args, "--technician", text)) {
        any = true;
        guided.gas.technician = text;
    }
    if (TakeValue(ctx.args, "--certificate", guided.certificate))
        any = true;
    guided.plain = !any;
    return guided;
}

int RunGuidedCalibration(CliContext& ctx, const RGuidedCalibration& guided, TSensorCalWorkflow& run,
                         TSensorCalRequests& requests, ISensorClock& clock, const RZELIdenty& identity,
                         const RZELCFG& cfg, double span)
{
    TConsoleCheckView view(*ctx.err);
    TCalibrationCheck check(view, run, *ctx.link, CurrentSettings(), clock, requests);
    const RRecordedCheck done =
        RunRecordedCheck(ProcessRecorder(), check, CurrentSettings(), identity, cfg, span, guided.gas, guided.options);
    const RCalCheckResult& result = done.result;
    const QByteArray& record = done.record;
    const int exit = result.result == QStringLiteral("REFUSED") ? kRefused : CalCheckStatus(result);
    if (guided.plain) {
        if (result.result == QStringLiteral("REFUSED"))
            *ctx.err << "beamdock-cli: " << result.reason.toStdString() << "\n";
        return exit;
    }

    *ctx.err << "Calibration " << result.result.toStdString()
             << (result.reason.isEmpty() ? std::string() : ": " + result.reason.toStdString()) << "\n";
    if (ctx.json)
        *ctx.out << record.toStdString() << "\n";
    else
        *ctx.out << result.result.toStdString() << "\n";
    if (!guided.certificate.isEmpty()) {
        QString error;
        if (!WriteCertificate(guided.certificate, record, error)) {
            *ctx.err << "beamdock-cli: no certificate: " << error.toStdString() << "\n";
            return kFileFailed;
        }
        *ctx.err << "Certificate written to " << guided.certificate.toStdString() << "\n";
    }
    return exit;
}
