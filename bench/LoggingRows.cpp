#include "LoggingRows.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include "BenchSim.h"
#include "BenchViews.h"
#include "JumpingClock.h"
#include "SensorClock.h"
#include "SensorLogging.h"
#include "ZelComms.h"

namespace bench {
namespace {

constexpr int kTracedReadings = 6;
constexpr int kTimedReadings = 30;

// The system clock; stops the run once `SetEnd` has passed.
class TStoppingClock : public ISensorClock {
public:
    explicit TStoppingClock(TSensorLogRequests& requests) : FRequests(requests) {}
    void SetEnd(double end) { FEnd = end; }
    double Seconds() override { return FClock.Seconds(); }
    QDateTime LocalTime() override { return FClock.LocalTime(); }
    void WaitUntil(double deadline, TWakeup& wakeup) override
    {
        if (deadline < FEnd) {
            FClock.WaitUntil(deadline, wakeup);
            return;
        }
        FClock.WaitUntil(FEnd, wakeup);
        if (FClock.Seconds() >= FEnd)
            FRequests.Stop();
    }

private:
    TSystemClock FClock;
    TSensorLogRequests& FRequests;
    double FEnd = 1e9;
};

wire::Floor Difference(const wire::Floor& later, const wire::Floor& earlier)
{
    return {later.bothWaysMs - earlier.bothWaysMs, later.lineMs - earlier.lineMs};
}

}  // namespace

RRow LogReadingRow(TComZEL& link, const LoadedSettings& settings, const QString& dataLog)
{
    RRow row;
    row.name = QStringLiteral("logging: one reading");
    {
        TSensorLogRequests requests;
        TBenchLogView view(dataLog);
        wire::TWireTally tally;
        std::vector<double> both;
        std::vector<double> line;
        std::optional<wire::Floor> last;
        view.onReading = [&] {
            const wire::Floor now = tally.Total();
            if (last) {
                both.push_back(Difference(now, *last).bothWaysMs);
                line.push_back(Difference(now, *last).lineMs);
            }
            last = now;
        };
        link.SetOnZELEvent([&tally](TComZEL*, const QDateTime&, const QString& text) { tally.Take(text); });
        TJumpingClock clock(kTracedReadings, requests);
        TSensorLogWorkflow run(view, link, settings, clock, requests);
        run.StartBtnClick();
        link.SetOnZELEvent({});
        row.floor = {Median(both), Median(line)};
        if (run.EndStatus() != 0 || both.empty()) {
            ++row.failedRounds;
            std::fprintf(stderr, "%s: the traced run ended with status %d\n", qPrintable(row.name), run.EndStatus());
        }
    }
    TSensorLogRequests requests;
    TBenchLogView view(dataLog);
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> lastWall;
    double lastCpu = 0;
    view.onReading = [&] {
        const auto now = Clock::now();
        const double cpu = ProcessCpuSeconds();
        if (lastWall) {
            const double wall = std::chrono::duration<double, std::milli>(now - *lastWall).count();
            row.wallMs.push_back(wall);
            row.cpuMs.push_back((cpu - lastCpu) * 1000.0);
            row.totalWallMs += wall;
            row.totalCpuMs += (cpu - lastCpu) * 1000.0;
        }
        lastWall = now;
        lastCpu = cpu;
    };
    TJumpingClock clock(kTimedReadings + 1, requests);
    TSensorLogWorkflow run(view, link, settings, clock, requests);
    run.StartBtnClick();
    if (run.EndStatus() != 0 || run.LostRecords() != 0) {
        ++row.failedRounds;
        std::fprintf(stderr, "%s: the run ended with status %d, %d records lost\n", qPrintable(row.name),
                     run.EndStatus(), run.LostRecords());
    }
    row.note = QStringLiteral("the link check between readings, gas, battery and temperature, the record written");
    return row;
}

RRow LogWaitRow(TComZEL& link, const LoadedSettings& settings, const QString& dataLog, int seconds)
{
    RRow row;
    row.name = QStringLiteral("logging %1 s, 1 s interval").arg(seconds);
    row.judgeRatio = false;
    row.judgeCpu = true;
    TSensorLogRequests requests;
    TBenchLogView view(dataLog);
    TStoppingClock clock(requests);
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> started;
    double cpu0 = 0;
    view.onReading = [&] {
        if (started)
            return;
        started = Clock::now();
        cpu0 = ProcessCpuSeconds();
        clock.SetEnd(clock.Seconds() + seconds);
    };
    TSensorLogWorkflow run(view, link, settings, clock, requests);
    run.StartBtnClick();
    if (started) {
        const double wall = std::chrono::duration<double, std::milli>(Clock::now() - *started).count();
        const double cpu = (ProcessCpuSeconds() - cpu0) * 1000.0;
        row.wallMs.push_back(wall);
        row.cpuMs.push_back(cpu);
        row.totalWallMs = wall;
        row.totalCpuMs = cpu;
    }
    if (!started || run.EndStatus() != 0 || run.LostRecords() != 0) {
        ++row.failedRounds;
        std::fprintf(stderr, "%s: the run ended with status %d\n", qPrintable(row.name), run.EndStatus());
    }
    row.note = QStringLiteral("%1 readings; wall and cpu are of the whole run").arg(view.readings);
    return row;
}

}  // namespace bench
