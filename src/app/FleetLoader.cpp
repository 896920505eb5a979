#include "FleetLoader.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QVariant>

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
        THistoryStore* store = Store(error);
        if (!store)
            store = LocalRecords(error);
        if (store) {
            error.clear();
            timeline->operations = historyqueries::UnitOperations(*store, serial, error);
            if (error.isEmpty())
                timeline->events = historyqueries::UnitEvents(*store, serial, error);
        }
        timeline->problem = error;
        return timeline;
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

    // The spool's records put into a store in memory, the way the server
    // will hold them once they are sent.
    THistoryStore* LocalRecords(QString& error)
    {
        RHistoryLocation memory;
        memory.sqlitePath = QStringLiteral(":memory:");
        if (!FLocal.Open(memory, error))
            return nullptr;
        THistoryStore spool;
        RHistoryLocation file;
        file.sqlitePath = FSpoolPath;
        if (!spool.Open(file, error))
            return &FLocal;
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
        auto timeline = worker->LoadUnit(serial);
        QMetaObject::invokeMethod(this, [this, timeline] {
            --FPending;
            emit UnitLoaded(timeline);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}
