#include "BenchRows.h"

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "BenchSim.h"
#include "ZelComms.h"

namespace bench {

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double RRow::WallMs() const { return Median(wallMs); }
double RRow::CpuMs() const { return Median(cpuMs); }

namespace {

void TimeRounds(RRow& row, const std::function<std::uint8_t()>& work, int rounds, std::uint8_t expected)
{
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < rounds; ++i) {
        const double cpu0 = ProcessCpuSeconds();
        const auto t0 = Clock::now();
        const std::uint8_t status = work();
        const double wall = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        const double cpu = (ProcessCpuSeconds() - cpu0) * 1000.0;
        row.wallMs.push_back(wall);
        row.cpuMs.push_back(cpu);
        row.totalWallMs += wall;
        row.totalCpuMs += cpu;
        if (status != expected) {
            ++row.failedRounds;
            std::fprintf(stderr, "%s: round %d ended with status %d\n", qPrintable(row.name), i, status);
        }
    }
}

}  // namespace

namespace {

RRow MeasureWithFloor(const QString& name, TComZEL& link, const std::function<std::uint8_t()>& work, int rounds,
                      wire::Floor untraced, std::uint8_t expected, bool pausesOnly)
{
    RRow row;
    row.name = name;
    // The floor comes from one traced run; the timed runs carry no trace
    // handler, so parsing the trace is not counted as the tool's time.
    wire::TWireTally tally;
    link.SetOnZELEvent([&tally](TComZEL*, const QDateTime&, const QString& line) { tally.Take(line); });
    const std::uint8_t traced = work();
    link.SetOnZELEvent({});
    if (traced != expected) {
        ++row.failedRounds;
        std::fprintf(stderr, "%s: the traced round ended with status %d\n", qPrintable(name), traced);
    }
    if (qEnvironmentVariableIsSet("BENCH_DEBUG"))
        std::fprintf(stderr, "%s: sent %ld read %ld exchanges %d wake-ups %d (%d frames)\n", qPrintable(name),
                     tally.sentBytes, tally.readBytes, tally.exchanges, tally.connects, tally.wakeFrames);
    row.floor = pausesOnly ? tally.PausesOnly() : tally.Total();
    row.floor += untraced;
    TimeRounds(row, work, rounds, expected);
    return row;
}

}  // namespace

RRow Measure(const QString& name, TComZEL& link, const std::function<std::uint8_t()>& work, int rounds,
             wire::Floor untraced, std::uint8_t expected)
{
    return MeasureWithFloor(name, link, work, rounds, untraced, expected, false);
}

RRow MeasureUndelayed(const QString& name, TComZEL& link, const std::function<std::uint8_t()>& work, int rounds)
{
    RRow row = MeasureWithFloor(name, link, work, rounds, {}, 0, true);
    row.judgeRatio = false;
    row.informational = true;
    row.note = QStringLiteral("above the pauses: %1 ms a round").arg(row.WallMs() - row.floor.lineMs, 0, 'f', 2);
    return row;
}

RRow MeasureWait(const QString& name, const std::function<std::uint8_t()>& work, int rounds, std::uint8_t expected)
{
    RRow row;
    row.name = name;
    row.judgeRatio = false;
    row.judgeCpu = true;
    TimeRounds(row, work, rounds, expected);
    return row;
}

namespace {

QString Verdict(const RRow& row)
{
    if (row.informational)
        return QStringLiteral("(not judged)");
    if (row.Met())
        return QStringLiteral("met");
    QStringList missed;
    if (row.failedRounds > 0)
        missed << QStringLiteral("%1 failed").arg(row.failedRounds);
    if (!row.RatioMet())
        missed << QStringLiteral("line ratio");
    if (!row.CpuMet())
        missed << QStringLiteral("cpu");
    return QStringLiteral("NOT met (") + missed.join(QStringLiteral(", ")) + QLatin1Char(')');
}

}  // namespace

void PrintTable(const char* title, const std::vector<RRow>& rows, const char* counted)
{
    std::printf("\n%s\n", title);
    std::printf("%-30s %6s %9s %9s %6s %9s %6s %8s %6s  %s\n", "operation", counted, "wall ms", "floor ms", "ratio",
                "line ms", "line", "cpu ms", "cpu %", "target");
    for (const RRow& row : rows) {
        const QString name = row.name + (row.judgeCpu ? QStringLiteral(" [W]") : QString());
        if (row.floor.bothWaysMs > 0)
            std::printf("%-30s %6zu %9.2f %9.2f %6.2f %9.2f %6.2f %8.2f %6.2f  %s\n", qPrintable(name),
                        row.wallMs.size(), row.WallMs(), row.floor.bothWaysMs, row.Ratio(), row.floor.lineMs,
                        row.LineRatio(), row.CpuMs(), row.CpuShare() * 100, qPrintable(Verdict(row)));
        else
            std::printf("%-30s %6zu %9.2f %9s %6s %9s %6s %8.2f %6.2f  %s\n", qPrintable(name), row.wallMs.size(),
                        row.WallMs(), "-", "-", "-", "-", row.CpuMs(), row.CpuShare() * 100, qPrintable(Verdict(row)));
        if (!row.note.isEmpty())
            std::printf("    %s\n", qPrintable(row.note));
    }
}

std::vector<RRow> MedianOfRuns(const std::vector<std::vector<RRow>>& runs)
{
    std::vector<RRow> merged;
    if (runs.empty())
        return merged;
    for (const RRow& first : runs.front()) {
        RRow row;
        row.name = first.name;
        row.judgeRatio = first.judgeRatio;
        row.judgeCpu = first.judgeCpu;
        row.informational = first.informational;
        row.floor = first.floor;
        row.note = first.note;
        std::vector<double> floors;
        std::vector<double> lineFloors;
        for (const std::vector<RRow>& run : runs) {
            for (const RRow& r : run) {
                if (r.name != first.name)
                    continue;
                row.wallMs.push_back(r.WallMs());
                row.cpuMs.push_back(r.CpuMs());
                row.totalWallMs += r.totalWallMs;
                row.totalCpuMs += r.totalCpuMs;
                row.failedRounds += r.failedRounds;
                floors.push_back(r.floor.bothWaysMs);
                lineFloors.push_back(r.floor.lineMs);
            }
        }
        row.floor = {Median(floors), Median(lineFloors)};
        merged.push_back(row);
    }
    return merged;
}

bool PrintSummary(const std::vector<RRow>& rows)
{
    int met = 0;
    int judged = 0;
    for (const RRow& row : rows) {
        if (row.informational)
            continue;
        ++judged;
        met += row.Met() ? 1 : 0;
    }
    std::printf("\njudged: line ratio (median wall / line floor) <= %.2f for every operation with a floor;\n"
                "        CPU <= %.0f %% of wall time for the waits [W]; no failed round.\n"
                "        The ratio against the floor both ways is printed beside it and not judged: the\n"
                "        pseudo-terminal carries the tool's own frames at once, so against the simulator\n"
                "        it would credit the tool with wire time no real line gives back.\n",
                kRatioTarget, kWaitCpuTarget * 100);
    for (const RRow& row : rows) {
        if (row.Met())
            continue;
        std::printf("NOT met: %s", qPrintable(row.name));
        if (row.failedRounds > 0)
            std::printf(", %d failed rounds", row.failedRounds);
        if (!row.RatioMet())
            std::printf(", line ratio %.3f > %.2f", row.LineRatio(), kRatioTarget);
        if (!row.CpuMet())
            std::printf(", cpu %.3f %% > %.0f %%", row.CpuShare() * 100, kWaitCpuTarget * 100);
        std::printf("\n");
    }
    const bool all = met == judged;
    std::printf("targets: %d of %d judged rows met; overall %s\n", met, judged, all ? "met" : "NOT met");
    std::printf("load average at end: %s\n", qPrintable(LoadAverage()));
    return all;
}

}  // namespace bench
