#pragma once
// Reads the fleet and a unit's records on a thread of its own, with its own
// database connection (a Qt SQL connection belongs to the thread that opened
// it), so the window never waits on the database. A site server that cannot
// be reached gives the records this station holds (its own file's and those
// waiting in its spool), with the reason on the status line.
#include <QDate>
#include <QObject>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>

#include "FleetRows.h"
#include "HistoryLocation.h"
#include "HistoryQueries.h"
#include "HistoryStore.h"

struct RUnitTimeline {
    QString serial;
    std::vector<ROperationView> operations;  // newest first
    // The merged event log as "Save Event Log" shows it, oldest first (the
    // undated ones before), its CSV, and the alarm events per month.
    std::shared_ptr<const std::vector<QString>> eventRows;  // one CSV line each
    QByteArray eventsCsv;
    std::vector<std::pair<QDate, int>> alarmsPerMonth;
    // The operations come first, the event log in a second answer: its lines
    // take longer to make than the operations to read.
    bool eventsRead = false;
    QString problem;
};

// The event columns of "Save Event Log".
QStringList EventLogColumns();

class TFleetWorker;

class TFleetLoader : public QObject {
    Q_OBJECT

public:
    // `spoolPath`: the station file holding the spool (the default one when
    // empty). `beforeLoad` runs on the worker first (waiting for this
    // station's recorder to finish writing), may be empty.
    TFleetLoader(RHistoryLocation location, std::vector<RSensorType> sensors, QString spoolPath = QString(),
                 std::function<void()> beforeLoad = {}, QObject* parent = nullptr);
    ~TFleetLoader() override;

    void Load();                          // -> FleetLoaded
    void LoadUnit(const QString& serial); // -> UnitLoaded, twice: operations, then with the events
    // Runs `job` on the loader's thread with its store (the site, else the
    // local records; null with `error` set when neither opens), then `done`
    // on `receiver`'s thread unless it is gone. For what the window makes
    // from the history (reports, certificates) without waiting on it.
    using StoreJob = std::function<void(THistoryStore* store, QString& error)>;
    void Run(StoreJob job, QObject* receiver, std::function<void(const QString& error)> done);
    bool Busy() const { return FPending > 0; }
    const RHistoryLocation& Location() const { return FLocation; }

signals:
    void FleetLoaded(std::shared_ptr<const RFleetSnapshot> snapshot);
    void UnitLoaded(std::shared_ptr<const RUnitTimeline> timeline);

private:
    RHistoryLocation FLocation;
    QThread FThread;
    TFleetWorker* FWorker = nullptr;
    int FPending = 0;
};
