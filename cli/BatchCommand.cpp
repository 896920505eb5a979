// batch: the production line on the command line. Every adapter given (or
// every one discovery sees) takes unit after unit until Ctrl-C, or one unit
// each with --once; a line is printed for each unit as it ends.
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <mutex>
#include <ostream>

#include "InterruptWatch.h"
#include "ProductionLine.h"
#include "StopAfterStep.h"
#include "WorkflowSession.h"

namespace {

const char* const kUsage =
    "usage: beamdock-cli batch --template FILE.cfg [--port P]... [--all] [--save-log DIR] [--clear-log] [--once] "
    "[--json]\n";

// Every "--port P" of the command line: the first one is also the common
// option the program took for itself.
std::vector<std::string> PortsGiven(QStringList& args)
{
    std::vector<std::string> ports;
    const QStringList all = QCoreApplication::arguments();
    for (int i = 1; i + 1 < all.size(); ++i)
        if (all.at(i) == QLatin1String("--port"))
            ports.push_back(all.at(++i).toStdString());
    QString ignored;
    while (TakeValue(args, "--port", ignored)) {
    }
    return ports;
}

class TConsoleProductionReport final : public IProductionReport {
public:
    TConsoleProductionReport(std::ostream& out, bool json) : FOut(out), FJson(json) {}

    void StepStarted(int, const QString&, const QString&, int) override {}
    void StationEnded(int) override {}
    void UnitEnded(const RUnitOutcome& outcome) override
    {
        std::lock_guard lock(FMutex);
        if (FJson) {
            const QJsonObject line{{"port", outcome.port},
                                   {"serial", outcome.serial},
                                   {"passed", outcome.passed},
                                   {"step", outcome.step},
                                   {"status", outcome.status},
                                   {"text", outcome.statusText},
                                   {"seconds", outcome.elapsedMs / 1000.0},
                                   {"eventLog", outcome.logFile}};
            FOut << QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString() << std::endl;
            return;
        }
        FOut << outcome.port.toStdString() << "  " << outcome.serial.toStdString() << "  "
             << (outcome.passed ? "PASS" : "FAIL") << "  " << QString::number(outcome.elapsedMs / 1000.0, 'f', 1).toStdString()
             << " s";
        if (!outcome.passed)
            FOut << "  at \"" << outcome.step.toStdString() << "\": status " << int(outcome.status) << ", "
                 << outcome.statusText.toStdString();
        if (!outcome.logFile.isEmpty())
            FOut << "  log " << outcome.logFile.toStdString();
        FOut << std::endl;
    }

private:
    std::mutex FMutex;
    std::ostream& FOut;
    bool FJson;
};

}  // namespace

int CmdBatch(CliContext& ctx)
{
    std::vector<std::string> ports = PortsGiven(ctx.args);
    QString templatePath;
    QString saveLogDir;
    const bool hasTemplate = TakeValue(ctx.args, "--template", templatePath);
    const bool hasSaveLog = TakeValue(ctx.args, "--save-log", saveLogDir);
    const bool all = TakeFlag(ctx.args, "--all");
    const bool once = TakeFlag(ctx.args, "--once");
    const bool clearLog = TakeFlag(ctx.args, "--clear-log");
    if (!ctx.args.isEmpty() || !hasTemplate || (all && !ports.empty())) {
        *ctx.err << (ctx.args.isEmpty() ? "" : "beamdock-cli batch: unexpected '" + ctx.args.first().toStdString() + "'\n")
                 << (all && !ports.empty() ? "beamdock-cli batch: --all or --port, not both\n" : "") << kUsage;
        return kUsageError;
    }
    if (clearLog && !ctx.factoryMode) {
        *ctx.err << "beamdock-cli batch: --clear-log is for factory mode only\n";
        return kUsageError;
    }
    RProductionPlan plan;
    QString error;
    if (!LoadProductionTemplate(templatePath, plan, error)) {
        *ctx.err << "beamdock-cli batch: " << error.toStdString() << "\n";
        return kFileFailed;
    }
    plan.factoryMode = ctx.factoryMode;
    plan.saveLogDir = hasSaveLog ? saveLogDir : QString();
    plan.clearLog = clearLog;
    plan.once = once;
    if (!ctx.noHistory) {
        plan.makeRecorder = HistoryRecorders(
            ctx.historyDb, [&ctx](const QString& text) { *ctx.err << "beamdock-cli: " << text.toStdString() << "\n"; },
            error);
        if (!plan.makeRecorder)
            *ctx.err << "beamdock-cli: the history will not be kept: " << error.toStdString() << "\n";
    }
    if (ports.empty())
        ports = AllAdapterPorts();
    if (ports.empty()) {
        *ctx.err << "beamdock-cli batch: no adapter found; name them with --port\n";
        return kRefused;
    }
    TConsoleProductionReport report(*ctx.out, ctx.json);
    TProductionLine line(plan, CurrentSettings(), report);
    // Ctrl-C ends each adapter's current unit first: a second one only
    // repeats the request, so no write is ever cut short.
    TInterruptWatch watch([&line] { line.Stop(); });
    *ctx.err << "beamdock-cli batch: " << ports.size() << " adapter(s), template " << plan.templateName.toStdString()
             << (once ? ", one unit each" : ", Ctrl-C stops after the current units") << "\n";
    line.Start(ports);
    line.Wait();
    if (watch.Interrupted())
        *ctx.err << "beamdock-cli batch: stopped after " << line.Passed() + line.Failed() << " unit(s)\n";
    return line.Failed() == 0 ? 0 : 1;
}
