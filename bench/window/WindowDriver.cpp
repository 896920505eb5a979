#include "WindowDriver.h"

#include <QEventLoop>
#include <QFile>

#include <cstdio>

#include "TSensorLogDlg.h"

namespace windowbench {

bool RunUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || timer.elapsed() > ms)
            loop.quit();
    });
    poll.start(5);
    if (!done())
        loop.exec();
    return done();
}

std::vector<RPhase> LoggingPhases(TWindowBench& bench, const QString& dataLog, int seconds)
{
    enum class Step { Open, Started, Logging, Stopping, Closed };
    Step step = Step::Open;
    RPhase opening;
    opening.name = QStringLiteral("logging dialog: open, start, file");
    RPhase logging;
    logging.name = QStringLiteral("logging %1 s, 1 s interval").arg(seconds);
    QElapsedTimer clock;
    clock.start();
    double cpu0 = ProcessCpuSeconds();
    qint64 phaseStart = 0;
    auto close = [&](RPhase& phase) {
        phase.wallMs = static_cast<double>(clock.nsecsElapsed() - phaseStart) / 1e6;
        phase.cpuShare = (ProcessCpuSeconds() - cpu0) * 1000.0 / phase.wallMs;
        phase.worstStallMs = bench.Probe().WorstMs();
        phase.ticks = bench.Probe().Ticks();
        phase.ok = true;
        bench.Probe().Reset();
        cpu0 = ProcessCpuSeconds();
        phaseStart = clock.nsecsElapsed();
    };
    bench.User().saveAs = dataLog;
    bench.User().onModal = [&](QWidget* modal) {
        auto* dialog = qobject_cast<TSensorLogDlg*>(modal);
        if (!dialog)
            return;
        switch (step) {
        case Step::Open:
            dialog->findChild<QPushButton*>(QStringLiteral("StartBtn"))->click();
            step = Step::Started;
            break;
        case Step::Started:
            if (QFileInfo::exists(dataLog)) {
                close(opening);
                step = Step::Logging;
            }
            break;
        case Step::Logging:
            if (clock.nsecsElapsed() - phaseStart >= qint64(seconds) * 1'000'000'000) {
                close(logging);
                dialog->findChild<QPushButton*>(QStringLiteral("StopBtn"))->click();
                step = Step::Stopping;
            }
            break;
        case Step::Stopping:
            if (!dialog->Running()) {
                dialog->reject();
                step = Step::Closed;
            }
            break;
        case Step::Closed:
            break;
        }
    };
    bench.Probe().Reset();
    bench.Click("FatoryOptLogSensorBtn");
    RunUntil([&] { return step == Step::Closed && !QApplication::activeModalWidget(); }, (seconds + 60) * 1000);
    bench.User().onModal = nullptr;
    QFile log(dataLog);
    const long records = log.open(QIODevice::ReadOnly) ? log.readAll().count("\r\n\r\n") - 1 : -1;
    logging.ok = logging.ok && step == Step::Closed && records >= seconds - 2;
    std::printf("  (the data log holds %ld records)\n", records);
    return {opening, logging};
}

}  // namespace windowbench
