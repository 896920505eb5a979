// beamdock-window-bench: the real window against the simulated detector at
// 115200 baud, on the platform Qt is given (offscreen unless
// QT_QPA_PLATFORM says otherwise; under xvfb-run, QT_QPA_PLATFORM=xcb).
//
//   beamdock-window-bench [--start-runs N] [--logging-seconds S]
//
//   start-up     the program started N times per layout as the desktop
//                starts it (single-instance guard, settings, window): time
//                from the process start to its first painted frame, and its
//                resident memory then.
//   memory       resident memory of this process with the window shown,
//                and after a firmware upgrade of a 16 KiB image.
//   stalls       a 10 ms timer on the GUI thread records how late it comes;
//                its worst lateness is the longest the event loop was kept
//                from the user. Taken during Read Device, a wake-up nobody
//                answers, Save Event Log of a full log (through the file
//                dialog), Upgrade Firmware, and S seconds of the logging
//                dialog (default 60), each started with its own button.
//
// Targets: first frame within 0.5 s, at most 80 MB resident, no stall above
// 50 ms. The exit status is 0 only when all are met.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "BenchSim.h"
#include "DeviceSettings.h"
#include "StartUpRun.h"
#include "WindowDriver.h"

using namespace windowbench;

namespace {

constexpr double kFirstFrameTargetMs = 500;
constexpr double kResidentTargetBytes = 80e6;
constexpr int kFirmwareBytes = 128 * 128;

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

const char* Verdict(bool met)
{
    return met ? "met" : "NOT met";
}

void PrintPhase(const RPhase& phase)
{
    std::printf("%-36s %9.1f %9.1f %7ld %7.2f  %s%s\n", qPrintable(phase.name), phase.wallMs, phase.worstStallMs,
                phase.ticks, phase.cpuShare * 100, Verdict(phase.Met()), phase.ok ? "" : " (the operation failed)");
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Points the window's port (a symbolic link) at another simulator.
bool PointPort(const QString& link, const QString& target)
{
    QFile::remove(link);
    return QFile::link(target, link);
}

int Usage()
{
    std::fprintf(stderr, "usage: beamdock-window-bench [--start-runs N] [--logging-seconds S]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsSet(kStartVariable))
        return StartUpRun(argc, argv, qEnvironmentVariable(kStartVariable).toLongLong());

    QApplication app(argc, argv);
    int startRuns = 5;
    int loggingSeconds = 60;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); i += 2) {
        bool ok = false;
        const int value = args.value(i + 1).toInt(&ok);
        if (args[i] == QLatin1String("--start-runs") && ok && value >= 1)
            startRuns = value;
        else if (args[i] == QLatin1String("--logging-seconds") && ok && value >= 5)
            loggingSeconds = value;
        else
            return Usage();
    }

    PrintMachine("beamdock-window-bench: the window against varnolite-sim at 115200 baud");
    std::printf("platform: %s\n", qPrintable(QApplication::platformName()));
    std::fflush(stdout);

    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("bench.img"));
    if (!MakeFirmwareImage(image, kFirmwareBytes)) {
        std::fprintf(stderr, "no firmware image\n");
        return 1;
    }

    // ---- Start-up, in both layouts.
    const QString userDir = dir.filePath(QStringLiteral("user"));
    const QString factoryDir = dir.filePath(QStringLiteral("factory"));
    QDir().mkpath(userDir);
    QDir().mkpath(factoryDir);
    const QByteArray factoryIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\n[FLASH]\r\nImageFile=" + image.toLocal8Bit() + "\r\n";
    WriteFile(factoryDir + QStringLiteral("/LUMBRA.INI"), factoryIni);
    bool allMet = true;
    std::printf("\nstart-up to the first painted frame, %d runs per layout (target <= %.0f ms)\n", startRuns,
                kFirstFrameTargetMs);
    double childResidentKiB = 0;
    for (const auto& [layout, programDir] : {std::pair{"user layout", userDir}, std::pair{"factory layout", factoryDir}}) {
        const RStartUp startUp = MeasureStartUp(programDir, startRuns);
        if (startUp.firstPaintMs.empty()) {
            std::printf("  %-16s no run reached its first frame: NOT met\n", layout);
            allMet = false;
            continue;
        }
        const double median = Median(startUp.firstPaintMs);
        const bool met = median <= kFirstFrameTargetMs && startUp.firstPaintMs.size() == std::size_t(startRuns);
        allMet = allMet && met;
        childResidentKiB = std::max(childResidentKiB, Median(startUp.residentKiB));
        std::printf("  %-16s median %7.1f ms  (min %.1f, max %.1f)  resident then %.1f MB  %s\n", layout, median,
                    *std::min_element(startUp.firstPaintMs.begin(), startUp.firstPaintMs.end()),
                    *std::max_element(startUp.firstPaintMs.begin(), startUp.firstPaintMs.end()),
                    Median(startUp.residentKiB) * 1024 / 1e6, Verdict(met));
    }
    std::fflush(stdout);

    // ---- The window in this process, factory layout (it has every button).
    TBenchSim sim;
    TBenchSim silent;
    const QString simLink = dir.filePath(QStringLiteral("ttyVARNO"));
    const QString silentLink = dir.filePath(QStringLiteral("ttySILENT"));
    // No state file: the simulator would sync it to disk before replies.
    if (!sim.Start(simLink, {QStringLiteral("--baud"), QStringLiteral("115200"), QStringLiteral("--events"),
                             QStringLiteral("85")}) ||
        !silent.Start(silentLink, {QStringLiteral("--baud"), QStringLiteral("115200"), QStringLiteral("--wake-frames"),
                                   QStringLiteral("100000")})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const QString port = dir.filePath(QStringLiteral("ttyBENCH"));
    PointPort(port, simLink);
    SetCurrentSettings(LoadSettings(factoryDir.toStdString() + "/"));

    std::vector<RPhase> phases;
    long shownKiB = 0;
    long upgradedKiB = 0;
    {
        TWindowBench bench(port);
        bench.Form().show();
        RunUntil([&] { return bench.Form().isVisible(); }, 5000);
        RunUntil([] { return false; }, 500);  // the first frames drawn, the clock started
        shownKiB = ResidentKiB();
        bench.Probe().Start();

        phases.push_back(bench.Operation(QStringLiteral("Read Device"), "UserOptReadDeviceBtn",
                                         [&] { return bench.Status().endsWith(QLatin1String("OK")); }, 15000));
        PointPort(port, silentLink);
        const int boxesBefore = static_cast<int>(bench.User().boxes.size());
        phases.push_back(bench.Operation(QStringLiteral("Read Device, no answer (3 s wake-up)"), "UserOptReadDeviceBtn",
                                         [&] { return bench.User().boxes.size() > boxesBefore; }, 15000));
        PointPort(port, simLink);
        const QString csv = dir.filePath(QStringLiteral("events.CSV"));
        bench.User().saveAs = csv;
        phases.push_back(bench.Operation(QStringLiteral("Save Event Log, 85 events"), "UserOptLogSaveBtn",
                                         [&] { return QFileInfo::exists(csv); }, 30000));
        phases.push_back(bench.Operation(QStringLiteral("Upgrade Firmware, 16 KiB"), "UserOptFMUpgradeBtn",
                                         [&] { return bench.Status().endsWith(QLatin1String("OK")); }, 60000));
        upgradedKiB = ResidentKiB();
        for (const RPhase& phase : LoggingPhases(bench, dir.filePath(QStringLiteral("logging.CSV")), loggingSeconds))
            phases.push_back(phase);
        if (!bench.User().boxes.isEmpty())
            std::printf("  boxes answered: %s\n", qPrintable(bench.User().boxes.join(QStringLiteral("; "))));
        bench.Form().close();
    }

    std::printf("\nresident memory (target <= %.0f MB)\n", kResidentTargetBytes / 1e6);
    const bool memoryMet = shownKiB * 1024.0 <= kResidentTargetBytes && upgradedKiB * 1024.0 <= kResidentTargetBytes &&
                           childResidentKiB * 1024.0 <= kResidentTargetBytes;
    allMet = allMet && memoryMet;
    std::printf("  at the first frame (start-up runs) %.1f MB\n", childResidentKiB * 1024 / 1e6);
    std::printf("  this process, window shown          %.1f MB\n", shownKiB * 1024.0 / 1e6);
    std::printf("  after Upgrade Firmware               %.1f MB  %s\n", upgradedKiB * 1024.0 / 1e6, Verdict(memoryMet));

    std::printf("\nevent loop stalls: worst lateness of a 10 ms timer on the GUI thread (target <= %.0f ms)\n",
                kStallTargetMs);
    std::printf("(cpu %%: the whole process, the probe and this program's own timers included; not judged)\n");
    std::printf("%-36s %9s %9s %7s %7s  %s\n", "operation", "wall ms", "stall ms", "ticks", "cpu %", "target");
    for (const RPhase& phase : phases) {
        PrintPhase(phase);
        allMet = allMet && phase.Met();
    }
    std::printf("\noverall %s; load average at end: %s\n", Verdict(allMet), qPrintable(LoadAverage()));
    return allMet ? 0 : 1;
}
