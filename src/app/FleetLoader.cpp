#include "FleetLoader.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSqlQuery>
#include <QVariant>

#include <cstring>
#include <limits>
#include <map>

#include "EventLogCsv.h"

namespace {

RZELEvent EventOf(const QByteArray& raw)
{
    RZELEvent event{};
    if (raw.size() == static_cast<qsizetype>(sizeof event))
        std::memcpy(&event, raw.constData(), sizeof event);
    return event;
}

// A stored event's line of "Save Event Log": dated by the time worked out at
// its first download (the stamp against itself as life remaining puts it at
// that time), or "---" when that was not possible.
std::string EventLineOf(const RStoredEvent& stored)
{
    const RZELEvent event = EventOf(stored.raw);
    if (stored.calendarMs)
        return eventlog::EventLine(event, event.mStartEvent, QDateTime::fromMSecsSinceEpoch(*stored.calendarMs));
    return eventlog::EventLine(event, event.mStartEvent + 1, QDateTime::currentDateTime());
}

void MakeEventLog(const QString& serial, const std::vector<RStoredEvent>& events, RUnitTimeline& timeline)
{
    std::vector<std::pair<qint64, std::string>> lines;
    lines.reserve(events.size());
    std::map<QDate, int> perMonth;
    for (const RStoredEvent& stored : events) {
        lines.emplace_back(stored.calendarMs.value_or(std::numeric_limits<qint64>::min()), EventLineOf(stored));
        const RZELEvent event = EventOf(stored.raw);
        if (stored.calendarMs && (event.mAlarmStatusFlag & (eventlog::kLowAlarmFlag | eventlog::kHighAlarmFlag))) {
            const QDate day = QDateTime::fromMSecsSinceEpoch(*stored.calendarMs).date();
            ++perMonth[QDate(day.year(), day.month(), 1)];
        }
    }
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    auto rows = std::make_shared<std::vector<QString>>();
    rows->reserve(lines.size());
    QByteArray csv = "Serial Number," + serial.toLatin1() + "\r\n" + EventLogColumns().join(QLatin1Char(',')).toLatin1() + "\r\n";
    for (const auto& [when, line] : lines) {
        rows->push_back(QString::fromLatin1(line));
        csv.append(line.data(), static_cast<qsizetype>(line.size()));
        csv += "\r\n";
    }
    timeline.eventRows = std::move(rows);
    timeline.eventsCsv = std::move(csv);
    timeline.alarmsPerMonth.assign(perMonth.begin(), perMonth.end());
}

}  // namespace

QStringList EventLogColumns()
{
    return {QStringLiteral("Event Date"), QStringLiteral("Event Time"), QStringLiteral("BumpTest"),
            QStringLiteral("Duration(seconds)"), QStringLiteral("Sensor Reading"), QStringLiteral("Alarm")};
}

// Lives on the loader's thread; everything here runs there.
class TFleetWorker : public QObject {
public:
    TFleetWorker(RHistoryLocation location, std::vector<RSensorType> sensors, QString spoolPath,
                 std::function<void()> beforeLoad)
        : FLocation(std::move(location)), FSensors(std::move(sensors)),
          FSpoolPath(spoolPath.isEmpty() ? DefaultHistoryPath() : std::move(spoolPath)),
          FBeforeLoad(std::move(beforeLoad))
    {
    }

    std::shared_ptr<const RFleetSnapshot> Load()
    {
        if (FBeforeLoad)
            FBeforeLoad();
        auto snapshot = std::make_shared<RFleetSnapshot>();
        QString error;
        THistoryStore* store = Store(error);
        if (FLocation.engine == HistoryEngine::Postgres)
            snapshot->waiting = Waiting();
        if (!store) {
            snapshot->local = true;
            error.clear();
            THistoryStore* local = LocalRecords(error);
            if (local)
                snapshot->rows = fleet::LoadRows(*local, FSensors, Now(), duedates::kDefaultDueWithinDays, error);
            snapshot->problem = QStringLiteral("site database not reachable: showing the local records; %1 records waiting to be sent")
                                    .arg(snapshot->waiting);
            return snapshot;
        }
        snapshot->rows = fleet::LoadRows(*store, FSensors, Now(), duedates::kDefaultDueWithinDays, error);
        if (!error.isEmpty()) {
            FStore.Close();  // a lost server shows as a failed query; connect afresh next time
            snapshot->problem = error;
        } else if (snapshot->waiting > 0) {
            snapshot->problem = QStringLiteral("%1 records waiting to be sent").arg(snapshot->waiting);
        }
        return snapshot;
    }

    std::shared_ptr<const RUnitTimeline> LoadUnit(const QString& serial)
    {
        auto timeline = std::make_shared<RUnitTimeline>();
        timeline->serial = serial;
        QString error;
        THistoryStore* store = Unit(error);
        if (store)
            timeline->operations = historyqueries::UnitOperations(*store, serial, error);
        timeline->problem = error;
        return timeline;
    }

    std::shared_ptr<const RUnitTimeline> LoadEvents(const RUnitTimeline& operations)
    {
        auto timeline = std::make_shared<RUnitTimeline>(operations);
        QString error;
        THistoryStore* store = Unit(error);
        if (store) {
            const std::vector<RStoredEvent> events = historyqueries::UnitEvents(*store, timeline->serial, error);
            if (error.isEmpty())
                MakeEventLog(timeline->serial, events, *timeline);
        }
        if (timeline->problem.isEmpty())
            timeline->problem = error;
        timeline->eventsRead = true;
        return timeline;
    }

    // The store a unit is read from: the site, else the local records.
    THistoryStore* Unit(QString& error)
    {
        if (THistoryStore* store = Store(error))
            return store;
        error.clear();
        return LocalRecords(error);
    }

private:
    static qint64 Now() { return QDateTime::currentMSecsSinceEpoch(); }

    THistoryStore* Store(QString& error)
    {
        if (FStore.IsOpen()) {
            QSqlQuery ping(FStore.Db());
            if (ping.exec(QStringLiteral("SELECT 1")))
                return &FStore;
            FStore.Close();
        }
        return FStore.Open(FLocation, error) ? &FStore : nullptr;
    }

    int Waiting()
    {
        THistoryStore spool;
        RHistoryLocation file;
        file.sqlitePath = FSpoolPath;
        QString error;
        if (!spool.Open(file, error))
            return 0;
        QSqlQuery query(spool.Db());
        return query.exec(QStringLiteral("SELECT COUNT(*) FROM spool")) && query.next() ? query.value(0).toInt() : 0;
    }

    // What the station file holds (operations recorded there, e.g. before
    // a site database was chosen) and its spooled records, put into one
    // store in memory the way the server will hold them once they are sent,
    // so each unit's rows merge its records from both.
    THistoryStore* LocalRecords(QString& error)
    {
        RHistoryLocation memory;
        memory.sqlitePath = QStringLiteral(":memory:");
        if (!FLocal.Open(memory, error))
            return nullptr;
        THistoryStore spool;
        RHistoryLocation file;
        file.sqlitePath = FSpoolPath;
        if (!spool.Open(file, error))  // also brings its schema to this program's version
            return &FLocal;
        CopyStationRecords();
        QSqlQuery query(spool.Db());
        if (!query.exec(QStringLiteral("SELECT payload FROM spool ORDER BY queued_ms, entry_key")))
            return &FLocal;
        while (query.next()) {
            const QJsonObject json = QJsonDocument::fromJson(query.value(0).toString().toUtf8()).object();
            QString ignored;
            if (json.contains(QLatin1String("start"))) {
                if (auto start = StartFromJson(json.value(QLatin1String("start")).toObject()))
                    FLocal.AppendStart(*start, ignored);
            } else if (auto end = EndFromJson(json.value(QLatin1String("end")).toObject())) {
                FLocal.AppendEnd(*end, ignored);
            }
        }
        return &FLocal;
    }

    // The station file's own tables, row for row: both are at this
    // program's schema version, so their columns line up.
    void CopyStationRecords()
    {
        QSqlQuery query(FLocal.Db());
        query.prepare(QStringLiteral("ATTACH DATABASE ? AS station"));
        query.addBindValue(FSpoolPath);
        if (!query.exec())
            return;
        for (const QString& table : FLocal.Db().tables()) {
            if (table == QLatin1String("schema_version") || table == QLatin1String("spool"))
                continue;
            query.exec(QStringLiteral("INSERT OR IGNORE INTO main.%1 SELECT * FROM station.%1").arg(table));
        }
        query.exec(QStringLiteral("DETACH DATABASE station"));
    }

    RHistoryLocation FLocation;
    std::vector<RSensorType> FSensors;
    QString FSpoolPath;
    std::function<void()> FBeforeLoad;
    THistoryStore FStore;
    THistoryStore FLocal;
};

TFleetLoader::TFleetLoader(RHistoryLocation location, std::vector<RSensorType> sensors, QString spoolPath,
                           std::function<void()> beforeLoad, QObject* parent)
    : QObject(parent), FLocation(location)
{
    qRegisterMetaType<std::shared_ptr<const RFleetSnapshot>>();
    qRegisterMetaType<std::shared_ptr<const RUnitTimeline>>();
    FWorker = new TFleetWorker(std::move(location), std::move(sensors), std::move(spoolPath), std::move(beforeLoad));
    FWorker->moveToThread(&FThread);
    connect(&FThread, &QThread::finished, FWorker, &QObject::deleteLater);
    FThread.setObjectName(QStringLiteral("fleet history"));
    FThread.start();
}

TFleetLoader::~TFleetLoader()
{
    FThread.quit();
    FThread.wait();
}

void TFleetLoader::Load()
{
    ++FPending;
    QMetaObject::invokeMethod(FWorker, [this, worker = FWorker] {
        auto snapshot = worker->Load();
        QMetaObject::invokeMethod(this, [this, snapshot] {
            --FPending;
            emit FleetLoaded(snapshot);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

void TFleetLoader::LoadUnit(const QString& serial)
{
    ++FPending;
    QMetaObject::invokeMethod(FWorker, [this, worker = FWorker, serial] {
        auto operations = worker->LoadUnit(serial);
        QMetaObject::invokeMethod(this, [this, operations] { emit UnitLoaded(operations); }, Qt::QueuedConnection);
        auto whole = worker->LoadEvents(*operations);
        QMetaObject::invokeMethod(this, [this, whole] {
            --FPending;
            emit UnitLoaded(whole);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

void TFleetLoader::Run(StoreJob job, QObject* receiver, std::function<void(const QString& error)> done)
{
    ++FPending;
    QPointer<QObject> answerTo(receiver);
    QMetaObject::invokeMethod(FWorker, [this, worker = FWorker, job = std::move(job), answerTo, done = std::move(done)] {
        QString error;
        THistoryStore* store = worker->Unit(error);
        job(store, error);
        QMetaObject::invokeMethod(this, [this, answerTo, done, error] {
            --FPending;
            if (answerTo)
                done(error);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}
