// Measures identify and a full read against the simulated detector running at
// the adapter's real wire speed, and the cost of a wake-up nobody answers.
// For each: wall time, the wire-time floor (every byte both ways at 115200
// baud, 10 bits a byte, plus the pauses the protocol requires), their ratio,
// and CPU time as a share of wall time.
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include "ZelComms.h"

namespace {

constexpr double kByteMicros = 10.0 / 115200.0 * 1e6;  // 86.8 us
constexpr double kSettleMs = 1.0;
constexpr double kWakeSpacingMs = 1.05;
constexpr int kRounds = 20;

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Adds up what the trace says went over the wire.
struct WireTally {
    long bytes = 0;
    int exchanges = 0;
    int wakeFrames = 0;
    int connects = 0;

    void Take(const QString& line)
    {
        static const QRegularExpression checkTime(R"(^\[CHECK TIME\] .* \((\d+)\)$)");
        const auto match = checkTime.match(line);
        if (match.hasMatch()) {
            ++connects;
            wakeFrames += match.captured(1).toInt();
            bytes += match.captured(1).toInt() * 3L;
            return;
        }
        if (line.startsWith("[SEND] "))
            ++exchanges;
        QString hex = line;
        hex.remove(QRegularExpression(R"(^\[(SEND|READ)\] ([A-Z]+:)?)"));
        bytes += hex.split(' ', Qt::SkipEmptyParts).size();
    }

    double FloorMs() const
    {
        // Every wake-up ends with two 1 ms settling pauses.
        return bytes * kByteMicros / 1000.0 + exchanges * kSettleMs + wakeFrames * kWakeSpacingMs +
               connects * 2 * kSettleMs;
    }
};

struct Result {
    double wallMs = 0;
    double floorMs = 0;
    double cpuShare = 0;
};

Result Measure(TComZEL& link, const std::function<std::uint8_t()>& work, int rounds)
{
    // The floor comes from one traced run; the timed runs carry no trace
    // handler, so parsing the trace does not count as the tool's CPU time.
    WireTally tally;
    link.SetOnZELEvent([&tally](TComZEL*, const QDateTime&, const QString& line) { tally.Take(line); });
    work();
    link.SetOnZELEvent({});
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        const std::uint8_t status = work();
        if (status != 0)
            std::fprintf(stderr, "round %d ended with status %d\n", i, status);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    if (qEnvironmentVariableIsSet("BENCH_DEBUG"))
        std::fprintf(stderr, "bytes %ld exchanges %d wake frames %d\n", tally.bytes, tally.exchanges, tally.wakeFrames);
    return {wall * 1000.0 / rounds, tally.FloorMs(), cpu / wall};
}

void Print(const char* name, const Result& r, bool withFloor)
{
    if (withFloor)
        std::printf("%-22s wall %8.2f ms   floor %8.2f ms   ratio %5.2f   cpu %5.1f %%\n", name, r.wallMs, r.floorMs,
                    r.wallMs / r.floorMs, r.cpuShare * 100);
    else
        std::printf("%-22s wall %8.2f ms   cpu %5.1f %%\n", name, r.wallMs, r.cpuShare * 100);
}

bool StartSim(QProcess& sim, const QString& link, const QStringList& extra)
{
    sim.start(BEAMDOCK_SIM_PATH, QStringList{"--link", link} + extra);
    if (!sim.waitForStarted(5000))
        return false;
    for (int i = 0; i < 100 && !QFileInfo::exists(link); ++i)
        QThread::msleep(20);
    return QFileInfo::exists(link);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString linkPath = dir.filePath("ttyVARNO");
    QProcess sim;
    if (!StartSim(sim, linkPath, {"--baud", "115200", "--state", dir.filePath("state.bin")})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }

    TComZEL link;
    link.SetDefPort(linkPath.toStdString());
    const float connectTime = 3.0f;
    auto cycle = [&](const std::function<std::uint8_t()>& commands) {
        std::uint8_t status = link.OpenUSB(connectTime);
        if (status == 0)
            status = commands();
        link.CloseUSB(status);
        return status;
    };
    auto identify = [&] {
        RZELIdenty id{};
        return cycle([&] { return link.RequireIdenty(id); });
    };
    auto read = [&] {
        RZELIdenty id{};
        RZELCFG cfg = DefaultConfig();
        return cycle([&] {
            std::uint8_t status = link.RequireIdenty(id);
            if (status == 0)
                status = link.ReadUnitCFGData(cfg.mUnit, 32, 64);
            if (status == 0)
                status = link.ReadSensorCFGData(cfg.mSensor, 32, 64);
            return status;
        });
    };

    std::printf("against varnolite-sim at 115200 baud, %d rounds each\n", kRounds);
    const Result identifyResult = Measure(link, identify, kRounds);
    Print("identify", identifyResult, true);
    const Result readResult = Measure(link, read, kRounds);
    Print("read", readResult, true);
    sim.terminate();
    sim.waitForFinished(3000);

    // Nobody answers: the simulator stays asleep for the whole connect time.
    QProcess silent;
    const QString silentLink = dir.filePath("ttySILENT");
    if (!StartSim(silent, silentLink, {"--wake-frames", "100000"})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    link.SetDefPort(silentLink.toStdString());
    const Result wakeResult = Measure(link, [&] { return cycle([] { return std::uint8_t{0}; }) == 160 ? 0 : 1; }, 1);
    Print("failed wake-up (3 s)", wakeResult, false);
    silent.terminate();
    silent.waitForFinished(3000);

    const bool ok = identifyResult.wallMs / identifyResult.floorMs <= 1.3 && readResult.wallMs / readResult.floorMs <= 1.3 &&
                    identifyResult.cpuShare <= 0.05 && readResult.cpuShare <= 0.05 && wakeResult.cpuShare <= 0.05;
    std::printf("targets (ratio <= 1.3, cpu <= 5 %%): %s\n", ok ? "met" : "NOT met");
    return ok ? 0 : 1;
}
