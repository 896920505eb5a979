// Figures of the logging dialog against the simulated detector at wire speed.
//
//   beamdock-sensorlog-bench live [SECONDS]   (default 60)
//     The real dialog, off screen, logging at a 1 s interval into a data log
//     for SECONDS: the process's CPU time as a share of wall time, and the
//     longest time the GUI thread's event loop was blocked, measured by a
//     10 ms timer that records its own lateness.
//
//   beamdock-sensorlog-bench hour [SECONDS]   (default 3600)
//     The logging run without a window on a clock that jumps to each
//     deadline, so an hour of readings takes the time its exchanges take:
//     resident memory before and after, without and with the communication
//     trace kept as the window's memo keeps it.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "BenchSim.h"
#include "DeviceSettings.h"
#include "JumpingClock.h"
#include "LinkThread.h"
#include "MainWorkflows.h"
#include "SensorLogging.h"
#include "TSensorLogDlg.h"

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool StartSim(QProcess& sim, const QString& link, const QString& state)
{
    sim.start(BEAMDOCK_SIM_PATH, QStringList{"--link", link, "--baud", "115200", "--state", state});
    if (!sim.waitForStarted(5000))
        return false;
    for (int i = 0; i < 100 && !QFileInfo::exists(link); ++i)
        QThread::msleep(20);
    return QFileInfo::exists(link);
}

void StopSim(QProcess& sim)
{
    sim.terminate();
    if (!sim.waitForFinished(3000))
        sim.kill();
}

// Runs the event loop for `ms` milliseconds.
void Spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int Live(int seconds)
{
    QTemporaryDir dir;
    const std::string programDir = dir.path().toStdString() + "/";
    SetCurrentSettings(LoadSettings(programDir));  // user mode: 1 s interval, 0.8 s link checks
    QProcess sim;
    const QString port = dir.filePath(QStringLiteral("ttyVARNO"));
    if (!StartSim(sim, port, dir.filePath(QStringLiteral("state.bin")))) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    TLinkThread link;
    link.Link().SetDefPort(port.toStdString());
    TSensorLogDlg dialog(link, CurrentSettings());
    dialog.show();

    // The save dialog gets a file of the temporary folder.
    const QString csv = dir.filePath(QStringLiteral("bench.CSV"));
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            // Typed into the name field, as a user does: the dialog fills in
            // its proposed name once it has read the folder, which undoes a
            // name chosen before that.
            if (files->selectedFiles().value(0) == csv) {
                QMetaObject::invokeMethod(files, "accept");
            } else {
                files->setDirectory(QFileInfo(csv).absolutePath());
                if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    name->setText(QFileInfo(csv).fileName());
            }
        } else if (modal && modal != &dialog) {
            std::fprintf(stderr, "unexpected: %s\n", modal->windowTitle().toLocal8Bit().constData());
            modal->close();
        }
    });
    answer.start(50);

    auto* start = dialog.findChild<QPushButton*>(QStringLiteral("StartBtn"));
    auto* stop = dialog.findChild<QPushButton*>(QStringLiteral("StopBtn"));
    start->click();
    for (int i = 0; i < 200 && !QFileInfo::exists(csv); ++i)
        Spin(50);
    if (!QFileInfo::exists(csv)) {
        std::fprintf(stderr, "no data log was started\n");
        // The run may still wait for an answer: end it before the dialog goes.
        answer.stop();
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != &dialog)
            modal->close();
        stop->click();
        while (link.Busy())
            Spin(50);
        StopSim(sim);
        return 1;
    }
    answer.stop();
    Spin(1500);  // past the unit read and the first wake-up

    // A 10 ms timer: how late each tick comes is how long the loop was busy.
    QElapsedTimer sinceTick;
    double worstMs = 0;
    long ticks = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const double late = static_cast<double>(sinceTick.nsecsElapsed()) / 1e6 - 10.0;
        worstMs = std::max(worstMs, late);
        ++ticks;
        sinceTick.restart();
    });
    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    sinceTick.start();
    probe.start(10);
    Spin(seconds * 1000);
    probe.stop();
    const double wallSeconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const double cpu = CpuSeconds() - cpuBefore;

    stop->click();
    while (link.Busy())
        Spin(50);
    QFile log(csv);
    const long records = log.open(QIODevice::ReadOnly) ? log.readAll().count("\r\n\r\n") - 1 : -1;
    dialog.close();
    StopSim(sim);

    std::printf("live logging, 1 s interval, %d s against varnolite-sim at 115200 baud\n", seconds);
    std::printf("  records in the data log       %ld\n", records);
    std::printf("  CPU time / wall time          %.2f %%  (%.3f s of %.1f s)\n", 100.0 * cpu / wallSeconds, cpu,
                wallSeconds);
    std::printf("  longest event loop block      %.1f ms  (%ld ticks of a 10 ms timer)\n", worstMs, ticks);
    return 0;
}

// Keeps nothing but counts, as a window that has drawn what it got.
class TCountingView : public ISensorLogView {
public:
    long readings = 0;
    void SetRunning(bool) override {}
    void SetCalButtons(bool, bool) override {}
    void SetCalProgressMax(int) override {}
    void SetCalProgress(int) override {}
    void SetCalLabel(const QString&, RColour) override {}
    void SetCalProgLabel(const QString&) override {}
    void ShowReading(const RReadingDisplay&) override { ++readings; }
    void ShowChart(const RChartWindow& chart) override { FLast = chart; }
    void ShowDataLogFailure(const QString&, int) override {}
    std::optional<QString> AskSaveFile(const RFileRequest&) override { return answer; }
    void ShowMessage(BoxIcon, const QString&, const QString& text) override
    {
        std::fprintf(stderr, "box: %s\n", text.toLocal8Bit().constData());
    }
    std::optional<QString> answer;

private:
    RChartWindow FLast;
};

int Hour(int seconds)
{
    std::printf("logging %d simulated seconds at a 1 s interval, against varnolite-sim at 115200 baud\n", seconds);
    for (const bool trace : {false, true}) {
        QTemporaryDir dir;
        SetCurrentSettings(LoadSettings(dir.path().toStdString() + "/"));
        QProcess sim;
        const QString port = dir.filePath(QStringLiteral("ttyVARNO"));
        if (!StartSim(sim, port, dir.filePath(QStringLiteral("state.bin")))) {
            std::fprintf(stderr, "the simulator did not start\n");
            return 1;
        }
        TComZEL link;
        link.SetDefPort(port.toStdString());
        QStringList memo;  // what the window keeps for "Comm.TXT"
        if (trace)
            link.SetOnZELEvent(
                [&memo](TComZEL*, const QDateTime& now, const QString& log) { memo << TraceLine(now, log); });
        TSensorLogRequests requests;
        TCountingView view;
        view.answer = dir.filePath(QStringLiteral("hour.CSV"));

        // The first minute grows the history and the chart to their working
        // size; the rest of the hour is what is measured.
        const long before = [&] {
            TJumpingClock warmUp(60, requests);
            TSensorLogWorkflow run(view, link, CurrentSettings(), warmUp, requests);
            run.StartBtnClick();
            return ResidentKiB();
        }();
        const long memoBefore = memo.size();
        TJumpingClock clock(seconds, requests);
        TSensorLogWorkflow run(view, link, CurrentSettings(), clock, requests);
        QElapsedTimer wall;
        wall.start();
        run.StartBtnClick();
        const long after = ResidentKiB();
        qint64 memoBytes = 0;
        for (const QString& line : memo)
            memoBytes += line.size() * 2;
        StopSim(sim);
        std::printf("  trace %-3s  readings %ld in %.1f s, resident %ld KiB -> %ld KiB (%+ld KiB)", trace ? "on" : "off",
                    view.readings, wall.nsecsElapsed() / 1e9, before, after, after - before);
        if (trace)
            std::printf(", memo %ld -> %lld lines, %lld KiB of text", memoBefore, static_cast<long long>(memo.size()),
                        memoBytes / 1024);
        std::printf("\n");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0, QStringLiteral("live"));
    if (mode == QLatin1String("live"))
        return Live(args.value(1, QStringLiteral("60")).toInt());
    if (mode == QLatin1String("hour"))
        return Hour(args.value(1, QStringLiteral("3600")).toInt());
    std::fprintf(stderr, "usage: beamdock-sensorlog-bench live [SECONDS] | hour [SECONDS]\n");
    return 2;
}
