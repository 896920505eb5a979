// beamdock-history-bench: builds a history of 10,000 units and 1,000,000
// events (one unit with 10,000 operations and 100,000 events) in a SQLite
// file and in a throwaway PostgreSQL cluster, then times what the history
// commands and the recorder cost against it:
//   beamdock-history-bench [--runs N] [--sqlite-only]   everything, median of N runs
//   beamdock-history-bench generate URL               only the generated history
//   beamdock-history-bench record URL COUNT STATION    one station recording COUNT operations
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "Crc16.h"
#include "HistoryQueries.h"
#include "HistoryRecorder.h"
#include "HistorySink.h"
#include "PgCluster.h"

namespace {

constexpr int kUnits = 10'000;
constexpr int kBigOperations = 10'000;
constexpr int kBigEvents = 100'000;
constexpr int kTotalEvents = 1'000'000;
constexpr int kStations = 8;
constexpr int kStationOperations = 1'000;
const QString kBigSerial = QStringLiteral("BIG0000001");
constexpr qint64 kEpochMs = 1'700'000'000'000;

QString SerialOf(int unit)
{
    return QStringLiteral("U%1").arg(unit, 9, 10, QLatin1Char('0'));
}

RZELCFG Config(const QString& serial, int variant)
{
    RZELCFG cfg = DefaultConfig();
    std::memset(cfg.mUnit.mSerial, 0, sizeof cfg.mUnit.mSerial);
    std::memcpy(cfg.mUnit.mSerial, serial.toLatin1().constData(), static_cast<std::size_t>(serial.size()));
    std::memcpy(cfg.mUnit.mUserID, "SITE01", 6);
    cfg.mSensor.mCalInterval = 180 * zel::kDaySeconds;
    cfg.mSensor.mBumpInterval = 30;
    cfg.mSensor.mLastCal = static_cast<std::uint32_t>(variant % 200) * zel::kDaySeconds;
    cfg.mSensor.mLastBump = static_cast<std::uint32_t>(variant % 40) * zel::kDaySeconds;
    cfg.mSensor.mAlarmHigh = static_cast<std::uint16_t>(100 + (variant / 10) % 50);
    cfg.mUnit.mCRC = crc16::Compute(reinterpret_cast<const std::uint8_t*>(&cfg.mUnit), sizeof cfg.mUnit - 2);
    cfg.mSensor.mCRC = crc16::Compute(reinterpret_cast<const std::uint8_t*>(&cfg.mSensor), sizeof cfg.mSensor - 2);
    return cfg;
}

QByteArray Events(int first, int count)
{
    std::vector<RZELEvent> events;
    events.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        events.push_back({static_cast<std::uint32_t>(60'000'000 - (first + i) * 60), static_cast<std::uint16_t>(10 + i % 300),
                          static_cast<std::uint8_t>(i % 3 == 0 ? 0x08 : 0x04), static_cast<std::int16_t>(50 + i % 900)});
    return EventRecords(events);
}

bool Operation(THistoryStore& store, const QString& workflow, const QString& serial, int variant, qint64 at,
               const QByteArray& events, const QString& station = QStringLiteral("bench"))
{
    ROperationStart start{QUuid::createUuid(), workflow, at, station, QStringLiteral("tech"), QStringLiteral(BEAMDOCK_VERSION)};
    ROperationEnd end;
    end.uuid = start.uuid;
    end.endedMs = at + 2000;
    end.statusText = QStringLiteral(" OK");
    end.unit = RUnitIdentity{serial, 2, 1, 0x23, 4, QStringLiteral("SITE01")};
    end.images.push_back(ImageRecord(recordrole::kRead, Config(serial, variant)));
    if (!events.isEmpty())
        end.events = REventDownload{events, 59'000'000, at};
    QString error;
    if (store.AppendStart(start, error) == AppendResult::Failed || store.AppendEnd(end, error) == AppendResult::Failed) {
        std::fprintf(stderr, "record failed: %s\n", qPrintable(error));
        return false;
    }
    return true;
}

bool Generate(THistoryStore& store)
{
    QSqlQuery fast(store.Db());
    // Generation only: the measured recording below runs with the store's
    // own durability settings.
    if (store.Engine() == HistoryEngine::Sqlite)
        fast.exec(QStringLiteral("PRAGMA synchronous=OFF"));
    else
        fast.exec(QStringLiteral("SET synchronous_commit = off"));
    const int perUnit = (kTotalEvents - kBigEvents) / (kUnits - 1);
    for (int unit = 1; unit < kUnits; ++unit) {
        const qint64 at = kEpochMs + unit * 60'000LL;
        if (!Operation(store, QStringLiteral("Read Varnolite Information"), SerialOf(unit), unit, at, {}) ||
            !Operation(store, QStringLiteral("Load Event Log"), SerialOf(unit), unit, at + 10'000, Events(0, perUnit)))
            return false;
    }
    const int downloads = 100;
    for (int op = 0; op < kBigOperations; ++op) {
        const bool download = op % (kBigOperations / downloads) == 0;
        const QByteArray events = download ? Events(op / (kBigOperations / downloads) * (kBigEvents / downloads), kBigEvents / downloads)
                                           : QByteArray();
        if (!Operation(store, download ? QStringLiteral("Load Event Log") : QStringLiteral("Write Varnolite Information"),
                       kBigSerial, op, kEpochMs + op * 3'600'000LL, events))
            return false;
    }
    if (store.Engine() == HistoryEngine::Sqlite)
        fast.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    else
        fast.exec(QStringLiteral("SET synchronous_commit = on"));
    return true;
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

// The real command line, as a user runs it; milliseconds of wall time.
double TimeCli(const QString& url, const QStringList& arguments, const QString& work)
{
    QProcess cli;
    cli.setWorkingDirectory(work);
    cli.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    cli.start(QStringLiteral(BEAMDOCK_CLI_PATH), QStringList{QStringLiteral("--dir"), work, QStringLiteral("--db"), url} + arguments);
    cli.waitForFinished(600'000);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (cli.exitCode() != 0)
        std::fprintf(stderr, "beamdock-cli %s: exit %d %s\n", qPrintable(arguments.join(' ')), cli.exitCode(),
                     cli.readAllStandardError().constData());
    return ms;
}

void Row(const char* what, double value, const char* unit, const char* target)
{
    std::printf("  %-52s %10.2f %-3s (target %s)\n", what, value, unit, target);
}

// Per operation: what the caller pays (the recorder's calls) and what the
// worker then spends writing it.
void RecordingCost(const RHistoryLocation& location, int runs)
{
    std::vector<double> caller, store;
    for (int run = 0; run < runs; ++run) {
        constexpr int kOps = 200;
        {
            THistoryRecorder recorder(location, [](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); });
            recorder.WaitIdle();
            const RZELCFG cfg = Config(QStringLiteral("REC0000001"), run);
            QElapsedTimer timer;
            timer.start();
            qint64 spent = 0;
            for (int i = 0; i < kOps; ++i) {
                const qint64 before = timer.nsecsElapsed();
                recorder.BeginOperation(QStringLiteral("Write Varnolite Information"));
                recorder.ConfigImageTaken(recordrole::kBefore, cfg);
                recorder.ConfigImageTaken(recordrole::kAfter, cfg);
                recorder.EndOperation(0);
                spent += timer.nsecsElapsed() - before;
            }
            caller.push_back(static_cast<double>(spent) / kOps / 1e6);
            recorder.WaitIdle();
            store.push_back(static_cast<double>(timer.nsecsElapsed()) / kOps / 1e6);
        }
    }
    Row("recording, caller's cost per operation", Median(caller), "ms", "nothing on the wire");
    // The 5 ms bound is the station file's. On a site server each of the two
    // transactions waits for the server's log flush; only the worker waits.
    Row("recording, worker's write per operation (start+end)", Median(store), "ms",
        location.engine == HistoryEngine::Sqlite ? "<= 5 ms" : "- (the workflow does not wait for it)");
}

void Measure(const QString& name, const RHistoryLocation& location, const QString& url, int runs, const QString& work,
             const std::function<qint64()>& size)
{
    std::printf("%s (%s)\n", qPrintable(name), qPrintable(location.Display()));
    QElapsedTimer timer;
    timer.start();
    {
        THistoryStore store;
        QString error;
        if (!store.Open(location, error) || !Generate(store)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return;
        }
    }
    std::printf("  generated 10,000 units, 1,000,000 events in %.1f s (load %s)\n", timer.elapsed() / 1000.0, qPrintable(Load()));
    RecordingCost(location, runs);
    auto median = [&](const QStringList& arguments) {
        std::vector<double> times;
        for (int run = 0; run < runs; ++run)
            times.push_back(TimeCli(url, arguments, work));
        return Median(times);
    };
    Row("history units --json (10,000 units)", median({"--json", "history", "units"}), "ms", "<= 1000 ms");
    Row("history unit of 10,000 operations --json", median({"--json", "history", "unit", kBigSerial}), "ms", "<= 200 ms");
    Row("history events of 100,000 events --out", median({"history", "events", kBigSerial, "--out", work + "/events.csv"}),
        "ms", "<= 1000 ms");
    Row("beamdock-cli --version (process start, for reference)", median({"--version"}), "ms", "-");
    Row("size", static_cast<double>(size()) / 1e6, "MB", "<= 300 MB");
}

int Record(const QString& url, int count, const QString& station)
{
    QString error;
    const std::optional<RHistoryLocation> location = ParseHistoryUrl(url, error);
    THistoryStore store;
    if (!location || !store.Open(*location, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    for (int i = 0; i < count; ++i)
        if (!Operation(store, QStringLiteral("Read Varnolite Information"), station, i, QDateTime::currentMSecsSinceEpoch(), {}, station))
            return 1;
    return 0;
}

void Stations(const QString& url, const RHistoryLocation& location)
{
    QElapsedTimer timer;
    timer.start();
    std::vector<std::unique_ptr<QProcess>> stations;
    for (int n = 0; n < kStations; ++n) {
        stations.push_back(std::make_unique<QProcess>());
        stations.back()->setProcessChannelMode(QProcess::ForwardedChannels);
        stations.back()->start(QCoreApplication::applicationFilePath(),
                               {QStringLiteral("record"), url, QString::number(kStationOperations), QStringLiteral("ST%1").arg(n)});
    }
    int failed = 0;
    for (auto& station : stations)
        failed += !station->waitForFinished(1'800'000) || station->exitCode() != 0;
    const double seconds = timer.elapsed() / 1000.0;
    THistoryStore store;
    QString error;
    store.Open(location, error);
    QSqlQuery query(store.Db());
    query.exec(QStringLiteral("SELECT COUNT(*) FROM operations WHERE kind = 'end' AND serial LIKE 'ST%'"));
    query.next();
    const std::optional<QString> finding = historyqueries::Verify(store, error);
    std::printf("  8 stations x 1,000 operations at once: %.1f s, %d of 8,000 kept, %d stations failed, chain %s\n", seconds,
                query.value(0).toInt(), failed, finding ? qPrintable(*finding) : "whole");
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("generate")) {
        QString error;
        const std::optional<RHistoryLocation> location = ParseHistoryUrl(args.value(1), error);
        THistoryStore store;
        if (!location || !store.Open(*location, error) || !Generate(store)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }
    if (args.value(0) == QLatin1String("record"))
        return Record(args.value(1), args.value(2).toInt(), args.value(3));
    int runs = 3;
    if (const int at = args.indexOf(QStringLiteral("--runs")); at >= 0)
        runs = std::max(1, args.value(at + 1).toInt());
    const bool sqliteOnly = args.contains(QStringLiteral("--sqlite-only"));
    QTemporaryDir work;
    std::printf("load before: %s\n", qPrintable(Load()));

    RHistoryLocation file;
    file.sqlitePath = work.filePath(QStringLiteral("history.sqlite"));
    Measure(QStringLiteral("SQLite"), file, QStringLiteral("sqlite:") + file.sqlitePath, runs, work.path(), [&] {
        THistoryStore store;
        QString error;
        store.Open(file, error);
        QSqlQuery(store.Db()).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        return QFileInfo(file.sqlitePath).size();
    });

    if (!sqliteOnly) {
        TPgCluster cluster;
        QString error;
        if (!cluster.Start(error, true) || !cluster.CreateDatabase(QStringLiteral("bench"), error)) {
            std::fprintf(stderr, "PostgreSQL: %s\n", qPrintable(error));
            return 1;
        }
        const QString url = cluster.Url(QStringLiteral("bench"));
        const RHistoryLocation site = *ParseHistoryUrl(url, error);
        Measure(QStringLiteral("PostgreSQL"), site, url, runs, work.path(), [&] {
            THistoryStore store;
            QString e;
            store.Open(site, e);
            QSqlQuery query(store.Db());
            query.exec(QStringLiteral("SELECT pg_database_size(current_database())"));
            query.next();
            return query.value(0).toLongLong();
        });
        Stations(url, site);
    }
    std::printf("load after: %s\n", qPrintable(Load()));
    return 0;
}
