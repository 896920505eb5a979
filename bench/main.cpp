// Measures identify, a full read, "Save Event Log" of a full log and
// "Upgrade Firmware" of a 16 KiB image against the simulated detector running
// at the adapter's real wire speed, and the cost of a wake-up nobody answers.
// For each: wall time, the wire-time floor (every byte both ways at 115200
// baud, 10 bits a byte, the detector's 0.3 ms turnaround before each reply,
// plus the pauses the protocol requires), their ratio, and CPU time as a
// share of wall time.
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
#include <optional>

#include "BenchViews.h"
#include "DeviceSettings.h"
#include "EventLogWorkflow.h"
#include "FirmwareUpgrade.h"
#include "MainWorkflows.h"
#include "ZelComms.h"

namespace {

constexpr double kByteMicros = 10.0 / 115200.0 * 1e6;  // 86.8 us
constexpr double kSettleMs = 1.0;
constexpr double kWakeSpacingMs = 1.05;
constexpr double kTurnaroundMs = 0.3;
constexpr double kFirmwareFramePauseMs = 4.0;
constexpr int kRounds = 20;
constexpr int kEventLogRounds = 10;
constexpr int kUpgradeRounds = 3;
constexpr int kFirmwarePackets = 128;
constexpr int kFirmwarePacketSize = 128;
constexpr int kStatusReply = 3;
constexpr int kFrameCrc = 2;

// The wire time of a stretch of traffic, counted both ways (what a real
// adapter at 115200 baud carries) and the detector's direction alone (what
// the simulated line delays: a pseudo-terminal delivers the tool's frames at
// once, and only the replies are paced).
struct Floor {
    double bothWaysMs = 0;
    double repliesMs = 0;
    Floor& operator+=(const Floor& other)
    {
        bothWaysMs += other.bothWaysMs;
        repliesMs += other.repliesMs;
        return *this;
    }
};

Floor Traffic(long sentBytes, long readBytes, double pausesMs)
{
    return {(sentBytes + readBytes) * kByteMicros / 1000.0 + pausesMs, readBytes * kByteMicros / 1000.0 + pausesMs};
}

// A firmware packet that goes through at once leaves no trace: 0x91 and its
// ACK, the data frame and its ACK, with the turnaround before each reply,
// two settling pauses and the pause after the data frame.
Floor FirmwarePacketFloor()
{
    const long sent = (1 + kFrameCrc) + (kFirmwarePacketSize + kFrameCrc);
    const long read = 2 * kStatusReply;
    return Traffic(sent, read, 2 * kTurnaroundMs + 2 * kSettleMs + kFirmwareFramePauseMs);
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Adds up what the trace says went over the wire.
struct WireTally {
    long sentBytes = 0;
    long readBytes = 0;
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
            sentBytes += match.captured(1).toInt() * 3L;
            return;
        }
        const bool sent = line.startsWith("[SEND] ");
        if (sent)
            ++exchanges;
        QString hex = line;
        hex.remove(QRegularExpression(R"(^\[(SEND|READ)\] ([A-Z]+:)?)"));
        // The wake-up's answers are traced without a prefix.
        (sent ? sentBytes : readBytes) += hex.split(' ', Qt::SkipEmptyParts).size();
    }

    Floor Total() const
    {
        // Every wake-up ends with two 1 ms settling pauses; every reply
        // comes after the detector's turnaround.
        const double pauses = exchanges * (kSettleMs + kTurnaroundMs) + wakeFrames * kWakeSpacingMs +
                              connects * (2 * kSettleMs + kTurnaroundMs);
        return Traffic(sentBytes, readBytes, pauses);
    }
};

struct Result {
    double wallMs = 0;
    double floorMs = 0;      // both ways
    double lineFloorMs = 0;  // what the simulated line delays
    double cpuShare = 0;
    double Ratio() const { return wallMs / floorMs; }
    double LineRatio() const { return wallMs / lineFloorMs; }
};

// `untraced`: wire time of a round that its trace does not show.
Result Measure(TComZEL& link, const std::function<std::uint8_t()>& work, int rounds, Floor untraced = {})
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
        std::fprintf(stderr, "sent %ld read %ld exchanges %d wake frames %d\n", tally.sentBytes, tally.readBytes,
                     tally.exchanges, tally.wakeFrames);
    Floor floor = tally.Total();
    floor += untraced;
    return {wall * 1000.0 / rounds, floor.bothWaysMs, floor.repliesMs, cpu / wall};
}

void Print(const char* name, const Result& r, bool withFloor)
{
    if (withFloor)
        std::printf("%-26s wall %8.2f ms   floor %8.2f ms (line %8.2f ms)   ratio %5.2f (line %5.2f)   cpu %5.1f %%\n",
                    name, r.wallMs, r.floorMs, r.lineFloorMs, r.Ratio(), r.LineRatio(), r.cpuShare * 100);
    else
        std::printf("%-26s wall %8.2f ms   cpu %5.1f %%\n", name, r.wallMs, r.cpuShare * 100);
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
    // A full event log (85 records) for "Save Event Log".
    if (!StartSim(sim, linkPath, {"--baud", "115200", "--state", dir.filePath("state.bin"), "--events", "85"})) {
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

    // The window's own workflows, with a view that shows nothing.
    SetCurrentSettings(LoadSettings(dir.path().toStdString() + "/"));
    TBenchView view(dir.filePath("EVENT/bench.csv"));
    TMainWorkflows main(view, link, CurrentSettings());
    TEventLogWorkflow events(main);
    auto saveEventLog = [&] {
        main.ResetLastResult();
        events.UserLogSaveBtnClick();
        return std::uint8_t(main.LastResult() == std::optional<std::uint8_t>(0) && events.LastSavedFile() ? 0 : 1);
    };
    const Result eventLogResult = Measure(link, saveEventLog, kEventLogRounds);
    Print("Save Event Log (85 events)", eventLogResult, true);
    // Of that, the part off the wire: the file and the settings key, each
    // replaced whole and synced to disk.
    RComZELReadBuf log;
    cycle([&] { return link.LoadLog(log, 32); });
    const auto f0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kEventLogRounds; ++i)
        events.SaveEventLog(log);
    const double fileMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - f0).count() / kEventLogRounds;
    std::printf("%-26s wall %8.2f ms   the rest against the line floor: ratio %5.2f\n", "  of which file and setting",
                fileMs, (eventLogResult.wallMs - fileMs) / eventLogResult.lineFloorMs);

    const QString image = dir.filePath("bench.img");
    QProcess make;
    make.start(BEAMDOCK_SIM_PATH, {"make-image", "--out", image, "--size", QString::number(kFirmwarePackets * kFirmwarePacketSize)});
    TBenchFirmwareView panels;
    TFirmwareUpgrade firmware(main, panels);
    if (!make.waitForFinished(10000) || make.exitCode() != 0 || firmware.LoadUpgradeFile(image, true) != 0) {
        std::fprintf(stderr, "no firmware image to send\n");
        return 1;
    }
    auto upgrade = [&] {
        main.ResetLastResult();
        firmware.UserFMUpgradeBtnClick();
        return std::uint8_t(main.LastResult() == std::optional<std::uint8_t>(0) ? 0 : 1);
    };
    const Result upgradeResult = Measure(link, upgrade, kUpgradeRounds, Floor{kFirmwarePackets * FirmwarePacketFloor().bothWaysMs,
                                                                            kFirmwarePackets * FirmwarePacketFloor().repliesMs});
    Print("Upgrade Firmware (16 KiB)", upgradeResult, true);
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
    // Judged against the line floor: the wire time the simulated line really
    // imposes, so that what is left is the tool's own overhead.
    const bool workflowsOk = eventLogResult.LineRatio() <= 1.15 && upgradeResult.LineRatio() <= 1.15 &&
                             eventLogResult.cpuShare <= 0.02 && upgradeResult.cpuShare <= 0.02;
    std::printf("event log and upgrade targets (line ratio <= 1.15, cpu <= 2 %%): %s\n", workflowsOk ? "met" : "NOT met");
    return ok && workflowsOk ? 0 : 1;
}
