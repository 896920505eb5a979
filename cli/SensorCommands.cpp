// log and calibrate: the sensor tools of the window, headless. They run the
// dialogs' own workflows with terminal views; Ctrl-C is the Stop or Cancel
// button.
#include <cmath>
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "GuidedCalibration.h"
#include "CliContext.h"
#include "OperationRecorder.h"
#include "InterruptWatch.h"
#include "LoggingRunRecord.h"
#include "SensorCalibration.h"
#include "SensorConsoleViews.h"
#include "TextHelpers.h"
#include "SensorLogging.h"
#include "WorkflowSession.h"

namespace {

int LogUsage(CliContext& ctx)
{
    *ctx.err << "usage: beamdock-cli log [--seconds N] [--interval S] [--out FILE]\n"
                "  --seconds N   stop after N seconds of logging (default: until Ctrl-C)\n"
                "  --interval S  seconds between readings, 1..600 (default: the settings')\n"
                "  --out FILE    also write the data log (CSV) to FILE\n";
    return kUsageError;
}

int CalibrateUsage(CliContext& ctx)
{
    *ctx.err << "usage: beamdock-cli calibrate [--span VALUE] [--yes]\n"
                "  --span VALUE  span gas concentration in the sensor's unit (default: the one\n"
                "                remembered for the sensor type, or the unit's own)\n"
                "  --yes         start without asking\n"
                "  every calibration leaves its record (the cylinder last given, the technician);\n"
                "  guided, with readings and a certificate: [--as-found] [--as-left] [--tolerance PERCENT]\n"
                "                [--lot L --expiry YYYY-MM-DD] [--technician NAME] [--certificate FILE.pdf]\n"
                "  exit: 0 passed or check passed, 177 failed, 194 zero refused, 162 no answer,\n"
                "        134 stopped, 1 as left outside the tolerance, 4 cylinder refused\n";
    return kUsageError;
}

// 0.001, 1000000000, 6553.5: the way the number is typed.
std::string Plain(double value)
{
    std::string text = QString::number(value, 'f', 6).toStdString();
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text;
}

// A typed number in decimal, finite and within [low, high]; anything else
// is named with what the option allows, and `bad` is set.
bool TakeNumber(CliContext& ctx, const QString& option, double low, double high, std::optional<double>& value,
                bool& bad)
{
    QString text;
    if (!TakeValue(ctx.args, option, text))
        return false;
    const std::optional<double> number = ParseDecimalNumber(text.toStdString());
    if (number && *number >= low && *number <= high) {
        value = number;
        return true;
    }
    *ctx.err << "beamdock-cli: " << option.toStdString() << " '" << text.toStdString()
             << "' is not allowed: a decimal number from " << Plain(low) << " to " << Plain(high) << "\n";
    bad = true;
    return true;
}

}  // namespace

int CmdLog(CliContext& ctx)
{
    bool bad = false;
    std::optional<double> seconds;
    std::optional<double> interval;
    TakeNumber(ctx, "--seconds", 0.001, 1e9, seconds, bad);
    TakeNumber(ctx, "--interval", 1, 600, interval, bad);
    QString out;
    const bool hasOut = TakeValue(ctx.args, "--out", out);
    if (interval && *interval != static_cast<int>(*interval)) {
        *ctx.err << "beamdock-cli: --interval '" << Plain(*interval)
                 << "' is not allowed: whole seconds from 1 to 600\n";
        bad = true;
    }
    if (bad || !ctx.args.isEmpty())
        return LogUsage(ctx);

    LoadedSettings settings = CurrentSettings();
    if (interval)
        settings.cfg.mLogInterval = static_cast<std::uint16_t>(*interval);

    TSystemClock clock;
    TSensorLogRequests requests;
    TConsoleLogView view(*ctx.out, *ctx.err);
    if (hasOut)
        view.SetLogFile(out);
    TSensorLogWorkflow run(view, *ctx.link, settings, clock, requests);
    TInterruptWatch watch([&requests] { requests.Stop(); });
    if (seconds)
        view.onLoopStart = [&watch, &seconds] { watch.StopAfter(*seconds); };
    RunRecordedLogging(ProcessRecorder(), run);

    if (run.EndStatus() != 0)
        return run.EndStatus();
    if (run.LostRecords() > 0) {
        *ctx.err << MessageLines(logtext::DataLogFailure(run.LogFile(), run.LostRecords()).toStdString()) << "\n";
        return kFileFailed;
    }
    return 0;
}

int CmdCalibrate(CliContext& ctx)
{
    bool bad = false;
    std::optional<double> span;
    TakeNumber(ctx, "--span", 0.1, 6553.5, span, bad);
    const bool yes = TakeFlag(ctx.args, "--yes");
    const RGuidedCalibration guided = TakeGuidedCalibration(ctx, bad);
    if (bad || !ctx.args.isEmpty())
        return CalibrateUsage(ctx);

    // The window's own "Sensor Calibration": read the unit, check its sensor.
    WorkflowSession session(ctx);
    session.workflows.UserCalBtnClick();
    const std::optional<RZELCFG> cfg = session.view.CalibrationRequest();
    if (!cfg)
        return session.ExitCode() != 0 ? session.ExitCode() : kRefused;

    TSystemClock clock;
    TSensorCalRequests requests;
    TConsoleCalView view(*ctx.err, ::isatty(STDERR_FILENO) == 1);
    TSensorCalWorkflow run(view, *ctx.link, CurrentSettings(), clock, requests);
    if (!run.ShowDlg(*cfg))
        return kRefused;
    // A span gas of 0 is no span gas, whatever the sensor's range starts at.
    const double spanLowest = std::max(view.SpanMin(), 0.1);
    if (span && (*span < spanLowest || *span > view.SpanMax())) {
        *ctx.err << "beamdock-cli: --span '" << *span << "' is not allowed: the span gas must lie between "
                 << spanLowest << " and " << view.SpanMax() << " " << view.Unit().toStdString() << "\n";
        return kUsageError;
    }
    const double value = span.value_or(view.SpanValue());
    *ctx.err << view.Caption().toStdString() << ": zero, then span with " << value << " "
             << view.Unit().toStdString() << "\n";
    if (!yes && !session.view.AskYesNo(view.Caption(), QStringLiteral("Zero gas (clean air) on the sensor now.\r"
                                                                      "Start the calibration?")))
        return kRefused;

    TInterruptWatch watch([&requests] { requests.Cancel(); });
    return RunGuidedCalibration(ctx, guided, run, requests, clock, session.workflows.LastIdentity(), *cfg, value);
}
