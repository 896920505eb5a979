#include "StartUpRun.h"

#include <QApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <QWidget>

#include <time.h>

#include <cstdio>

#include "BenchSim.h"
#include "DeviceSettings.h"
#include "StartUp.h"
#include "TVarnoIRMainForm.h"

namespace windowbench {

qint64 MonotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

namespace {

// Reports the first paint of the window: any widget of it painted, then,
// once that paint has been flushed, the time since the process started.
class TFirstPaint : public QObject {
public:
    TFirstPaint(QWidget& window, qint64 startNs) : FWindow(window), FStartNs(startNs) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!FSeen && event->type() == QEvent::Paint) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget && widget->window() == &FWindow) {
                FSeen = true;
                QTimer::singleShot(0, [this] {
                    const double ms = static_cast<double>(MonotonicNs() - FStartNs) / 1e6;
                    std::printf("first-paint-ms %.2f rss-kib %ld\n", ms, ResidentKiB());
                    std::fflush(stdout);
                    QApplication::quit();
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget& FWindow;
    qint64 FStartNs;
    bool FSeen = false;
};

}  // namespace

// What src/ui/main.cpp does, up to the first frame.
int StartUpRun(int argc, char** argv, qint64 startNs)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(startup::kApplicationTitle);
    TInstanceGuard guard;
    if (!guard.Acquire())
        return 3;
    const QString port = LoadStartUpSettings(QApplication::arguments());
    TVarnoIRMainForm form(CurrentSettings(), port);
    TFirstPaint watcher(form, startNs);
    app.installEventFilter(&watcher);
    form.show();
    return app.exec();
}

RStartUp MeasureStartUp(const QString& programDir, int runs)
{
    RStartUp result;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(startup::kLockDirVariable), programDir);
        const qint64 start = MonotonicNs();
        env.insert(QString::fromLatin1(kStartVariable), QString::number(start));
        child.setProcessEnvironment(env);
        child.start(QApplication::applicationFilePath(), {QStringLiteral("--dir"), programDir});
        if (!child.waitForFinished(30000) || child.exitCode() != 0) {
            std::fprintf(stderr, "start-up run %d failed: %s\n", i, child.readAllStandardError().constData());
            continue;
        }
        const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
        if (fields.size() == 4 && fields[0] == "first-paint-ms") {
            result.firstPaintMs.push_back(fields[1].toDouble());
            result.residentKiB.push_back(fields[3].toDouble());
        }
    }
    return result;
}

}  // namespace windowbench
