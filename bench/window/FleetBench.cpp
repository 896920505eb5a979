// beamdock-fleet-bench: the fleet window against a large history, made first
// with `beamdock-history-bench generate sqlite:PATH` (10,000 units, one of
// them with 10,000 operations):
//   beamdock-fleet-bench URL [--runs N] [--unit SERIAL]
// Per run, in a fresh window: the list read and sorted (by serial, then back
// to its own order), the longest event-loop stall meanwhile, and the unit's
// timeline opened. Medians of N runs (3 by default).
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "FleetModel.h"
#include "FleetWindow.h"
#include "SensorTypes.h"
#include "UnitTimeline.h"

namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 120'000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString Load()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2) : QString();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QStringList args = app.arguments().mid(1);
    QString error;
    const std::optional<RHistoryLocation> location = ParseHistoryUrl(args.value(0), error);
    if (args.isEmpty() || !location) {
        std::fprintf(stderr, "usage: beamdock-fleet-bench URL [--runs N] [--unit SERIAL]\n%s\n", qPrintable(error));
        return 2;
    }
    const int at = args.indexOf(QStringLiteral("--runs"));
    const int runs = at >= 0 ? std::max(1, args.value(at + 1).toInt()) : 3;
    const int unitAt = args.indexOf(QStringLiteral("--unit"));
    const QString serial = unitAt >= 0 ? args.value(unitAt + 1) : QStringLiteral("BIG0000001");
    std::printf("load before: %s\n", qPrintable(Load()));

    std::vector<double> openSort, stalls, unitOpen, eventsOpen, unitStalls;
    int units = 0, operations = 0;
    for (int run = 0; run < runs; ++run) {
        // A 5 ms timer: the longest gap between its ticks is the longest
        // time the window could not answer.
        QElapsedTimer clock;
        qint64 last = 0, longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        clock.start();
        tick.start(5);
        TFleetWindow window(*location, BuiltInSensorTypes(), QStringLiteral("/nonexistent/spool.sqlite"));
        window.resize(1280, 800);
        window.show();
        if (!WaitFor([&] { return window.Model()->rowCount() > 0; })) {
            std::fprintf(stderr, "the list did not load: %s\n", qPrintable(window.StatusLine()));
            return 1;
        }
        window.Table()->sortByColumn(TFleetModel::ColSerial, Qt::AscendingOrder);
        window.Table()->sortByColumn(-1, Qt::AscendingOrder);
        QApplication::processEvents();
        openSort.push_back(clock.elapsed());
        stalls.push_back(longest);
        units = window.Model()->rowCount();

        int row = -1;
        for (int r = 0; r < units && row < 0; ++r)
            if (window.Model()->RowAt(r)->serial == serial)
                row = r;
        last = clock.elapsed();
        longest = 0;
        const qint64 unitStart = clock.elapsed();
        auto* timeline = static_cast<TUnitTimeline*>(window.OpenUnit(row));
        if (!timeline || !WaitFor([&] { return timeline->Loaded(); })) {
            std::fprintf(stderr, "the unit %s did not open\n", qPrintable(serial));
            return 1;
        }
        QApplication::processEvents();
        unitOpen.push_back(clock.elapsed() - unitStart);
        if (!WaitFor([&] { return timeline->EventsLoaded(); })) {
            std::fprintf(stderr, "the event log of %s did not load\n", qPrintable(serial));
            return 1;
        }
        QApplication::processEvents();
        eventsOpen.push_back(clock.elapsed() - unitStart);
        unitStalls.push_back(longest);
        operations = timeline->OperationCount();
        std::printf("run %d: list %.0f ms (stall %.0f ms), unit %.0f ms, its event log %.0f ms (stall %.0f ms)\n", run + 1,
                    openSort.back(), stalls.back(), unitOpen.back(), eventsOpen.back(), unitStalls.back());
    }
    std::printf("%d units: open and sort %.0f ms (target 1000), longest event-loop stall while loading %.0f ms (target 50)\n",
                units, Median(openSort), Median(stalls));
    std::printf("unit %s, %d operations: shown in %.0f ms, with its event log in %.0f ms, longest stall %.0f ms\n",
                qPrintable(serial), operations, Median(unitOpen), Median(eventsOpen), Median(unitStalls));
    std::printf("load after: %s\n", qPrintable(Load()));
    return 0;
}
