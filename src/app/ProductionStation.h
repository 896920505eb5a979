#pragma once
// One adapter of the production line: a link thread of its own that takes
// each unit put in front of the adapter through the window's own workflows
// (Read Device with its checks, Save Event Log, Write Device with its
// read-back, Log Reset), then waits for the next unit, noticed by its serial
// number changing, until the line is stopped. A stop is seen only between
// units, so no write ever ends half-way.
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "DeviceSettings.h"
#include "ZelRecords.h"

class TLinkThread;
class IOperationRecorder;

namespace prodstep {
inline const QString kWaiting = QStringLiteral("Waiting for a unit");
inline const QString kRead = QStringLiteral("Read and check");
inline const QString kSaveLog = QStringLiteral("Save event log");
inline const QString kWrite = QStringLiteral("Write and verify");
inline const QString kClearLog = QStringLiteral("Clear event log");
inline const QString kDone = QStringLiteral("Done");
inline const QString kStopped = QStringLiteral("Stopped");
}  // namespace prodstep

struct RProductionPlan {
    RZELCFG templateConfig;  // the template file's fields over the default image
    QString templateName;
    bool factoryMode = false;
    QString saveLogDir;      // empty: the event log is not saved
    bool clearLog = false;   // after the write; factory mode only
    bool once = false;       // one unit per adapter
    std::chrono::milliseconds pollInterval{700};
    // A recorder for each adapter (the history keeps one operation at a time
    // per recorder, and the adapters work at the same time); none: nothing
    // is recorded.
    std::function<std::unique_ptr<IOperationRecorder>()> makeRecorder;
};

struct RUnitOutcome {
    int station = 0;
    QString port;
    QString serial;
    bool passed = false;
    QString step;        // where it ended (prodstep::kDone when it passed)
    std::uint8_t status = 0;
    QString statusText;  // what the window's box would have said
    qint64 elapsedMs = 0;
    QString logFile;     // the event log saved, if any
};

// Told from the stations' link threads; implementations hand over to their
// own thread as they need.
class IProductionReport {
public:
    virtual ~IProductionReport() = default;
    virtual void StepStarted(int station, const QString& serial, const QString& step, int percent) = 0;
    virtual void UnitEnded(const RUnitOutcome& outcome) = 0;
    virtual void StationEnded(int station) = 0;
};

class TProductionStation {
public:
    TProductionStation(int index, std::string port, const RProductionPlan& plan, const LoadedSettings& settings,
                       IProductionReport& report);
    ~TProductionStation();
    TProductionStation(const TProductionStation&) = delete;
    TProductionStation& operator=(const TProductionStation&) = delete;

    const std::string& Port() const { return FPort; }
    void Start();
    // Ends after the current unit; returns at once.
    void Stop();
    bool Ended() const;

private:
    void Loop();
    void ServeUnits();
    // The serial number of the unit in front; empty when none answers.
    QString UnitInFront(class TMainWorkflows& workflows);
    RUnitOutcome Provision(class TMainWorkflows& workflows, class TProductionView& view, const QString& serial);
    // Waits the poll interval, or less when stopped.
    void Pause();

    int FIndex;
    std::string FPort;
    const RProductionPlan& FPlan;
    LoadedSettings FSettings;
    IProductionReport& FReport;
    std::unique_ptr<TLinkThread> FThread;
    mutable std::mutex FMutex;
    std::condition_variable FWake;
    bool FStop = false;
    bool FEnded = false;
};
