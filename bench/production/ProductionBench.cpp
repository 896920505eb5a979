// The production line's figures: 1, 2, 4 and 8 simulated adapters at 115200
// baud (one varnolite-sim serving them all, each unit on its own thread),
// one unit each through the whole line (wake, read and check, write, read
// back), with the history recorded into a throwaway SQLite file.
//   wall      from Start until every adapter's unit has ended
//   ratio     against the wall time of one adapter (target: 8 at most 1.2)
//   units/h   adapters * 3600 s / wall (handling time between units aside)
//   cpu       the tool's processor time over the run
//   idle cpu  the tool's processor share while every adapter waits for its
//             next unit (polling the unit in front), over 3 s
// Each figure is the median of --runs N runs (default 3).
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/resource.h>
#include <thread>

#include "BenchSim.h"
#include "ConfigFile.h"
#include "ProductionLine.h"

namespace {

constexpr int kSimNice = -10;

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class TCountingReport final : public IProductionReport {
public:
    void StepStarted(int, const QString&, const QString&, int) override {}
    void UnitEnded(const RUnitOutcome& outcome) override
    {
        std::lock_guard lock(FMutex);
        ++FEnded;
        FFailed += outcome.passed ? 0 : 1;
        FChanged.notify_all();
    }
    void StationEnded(int) override {}
    bool WaitForUnits(int count)
    {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, std::chrono::seconds(60), [&] { return FEnded >= count; });
    }
    int Failed()
    {
        std::lock_guard lock(FMutex);
        return FFailed;
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    int FEnded = 0;
    int FFailed = 0;
};

struct RRun {
    double wallMs = 0;
    double cpuMs = 0;
    double idleShare = 0;
    int failed = 0;
};

bool RunOnce(int adapters, const LoadedSettings& settings, const QString& templatePath, RRun& run)
{
    QTemporaryDir dir;
    QProcess sim;
    sim.setChildProcessModifier([] { ::setpriority(PRIO_PROCESS, 0, kSimNice); });
    sim.start(QStringLiteral(BEAMDOCK_SIM_PATH),
              {"--units", QString::number(adapters), "--link", dir.filePath("tty"), "--state", dir.filePath("st"),
               "--baud", "115200"});
    std::vector<std::string> ports;
    const QDeadlineTimer deadline(5000);
    while (static_cast<int>(ports.size()) < adapters && !deadline.hasExpired()) {
        if (!sim.canReadLine())
            sim.waitForReadyRead(200);
        else
            ports.push_back(QString::fromLocal8Bit(sim.readLine()).trimmed().toStdString());
    }
    if (static_cast<int>(ports.size()) != adapters)
        return false;
    RProductionPlan plan;
    QString error;
    if (!LoadProductionTemplate(templatePath, plan, error))
        return false;
    plan.makeRecorder = HistoryRecorders(dir.filePath("history.sqlite"), {}, error);
    TCountingReport report;
    TProductionLine line(plan, settings, report);
    const double cpu0 = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    line.Start(ports);
    if (!report.WaitForUnits(adapters))
        return false;
    run.wallMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
    run.cpuMs = (CpuSeconds() - cpu0) * 1000.0;
    run.failed = report.Failed();
    // Every unit done stays in front: the stations now only look for the
    // next one.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double idle0 = CpuSeconds();
    QElapsedTimer idle;
    idle.start();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    run.idleShare = (CpuSeconds() - idle0) * 1e9 / static_cast<double>(idle.nsecsElapsed());
    line.Stop();
    line.Wait();
    sim.terminate();
    sim.waitForFinished(3000);
    return true;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 3;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    QTemporaryDir programDir;
    const LoadedSettings settings = LoadSettings(programDir.path().toStdString() + "/");
    RZELCFG cfg = DefaultConfig();
    std::memcpy(cfg.mUnit.mUserID, "BENCH1", 6);
    cfg.mSensor.mSensorType = 1;
    const QString templatePath = programDir.filePath("bench.cfg");
    if (!WriteConfigFile(templatePath.toStdString(), cfg, false, QDateTime::currentDateTime())) {
        std::fprintf(stderr, "cannot write the template\n");
        return 1;
    }
    PrintMachine("production line: one unit per adapter at 115200 baud (user mode, history on)");
    std::printf("median of %d runs\n\n%-9s %9s %7s %9s %9s %9s %7s\n", runs, "adapters", "wall ms", "ratio", "units/h",
                "cpu ms", "idle cpu", "failed");
    double oneWall = 0;
    for (int adapters : {1, 2, 4, 8}) {
        std::vector<double> wall, cpu, idle;
        int failed = 0;
        for (int r = 0; r < runs; ++r) {
            RRun run;
            if (!RunOnce(adapters, settings, templatePath, run)) {
                std::fprintf(stderr, "run with %d adapters failed\n", adapters);
                return 1;
            }
            wall.push_back(run.wallMs);
            cpu.push_back(run.cpuMs);
            idle.push_back(run.idleShare);
            failed += run.failed;
        }
        const double w = Median(wall);
        if (adapters == 1)
            oneWall = w;
        std::printf("%-9d %9.1f %7.2f %9.0f %9.1f %8.2f%% %7d\n", adapters, w, w / oneWall, adapters * 3.6e6 / w,
                    Median(cpu), Median(idle) * 100.0, failed);
    }
    std::printf("\nload average after: %s\n", LoadAverage().toLocal8Bit().constData());
    return 0;
}
