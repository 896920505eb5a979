#pragma once
// The recorder that keeps operations in the history database. Reports are
// gathered on the caller's thread (the link thread) into one record per
// operation and handed to a worker thread, which owns the database
// connection: the start when the operation starts (so that a crash leaves it
// visible), everything else in one transaction at its end.
//
// A history that cannot be written never fails the operation: the user is
// told once, through `notice`, why the record could not be kept.
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "HistoryLocation.h"
#include "HistorySink.h"
#include "OperationRecorder.h"

class THistoryRecorder;

// What the window shows of the history after each record and after the
// spool was sent: the records waiting for the site server, and what the
// history knows of the unit just recorded.
struct RRecordedState {
    int waiting = 0;
    QString serial;  // empty: the record names no unit
    std::optional<RServiceDates> service;
};
// Called on the worker thread.
using RecordedHandler = std::function<void(const RRecordedState& state)>;

// The program's recorder for its lifetime: made from the chosen location,
// installed as the process recorder, taken out and drained at the end. A
// location that cannot even be parsed leaves the null recorder and is told
// through `notice` at once.
class TProcessRecording {
public:
    TProcessRecording(const QString& option, std::function<void(const QString&)> notice,
                      RecordedHandler recorded = {});
    ~TProcessRecording();
    TProcessRecording(const TProcessRecording&) = delete;
    TProcessRecording& operator=(const TProcessRecording&) = delete;

    THistoryRecorder* Recorder() const { return FRecorder.get(); }

private:
    std::unique_ptr<THistoryRecorder> FRecorder;
};

class THistoryRecorder final : public IOperationRecorder {
public:
    // Called on the worker thread.
    using Notice = std::function<void(const QString& text)>;

    THistoryRecorder(RHistoryLocation location, Notice notice, QString spoolPath = QString(),
                     RecordedHandler recorded = {});
    // Writes what is queued, then stops the worker.
    ~THistoryRecorder() override;

    void BeginOperation(const QString& workflow) override;
    void StepReached(const QString& step) override;
    void UnitIdentified(const RZELIdenty& identity) override;
    void ConfigImageTaken(const QString& role, const RZELCFG& cfg) override;
    void ConfigFileUsed(const QString& path, const RZELCFG& cfg) override;
    void EventsDownloaded(const std::vector<RZELEvent>& events, std::uint32_t lifeRemaining) override;
    void FirmwareSent(const RFirmwareRecord& firmware) override;
    void CalibrationDone(const RCalibrationRecord& calibration) override;
    void EndOperation(std::uint8_t status) override;
    QUuid OperationUuid() const override;
    void TestRecorded(const RTestRecord& record) override;
    void CalibrationAside(const QString& workflow, const RZELIdenty& identity,
                          const RCalibrationRecord& calibration, std::uint8_t status) override;

    // Blocks until everything handed over so far is written (tests, exit).
    void WaitIdle();
    // Records in the station's spool waiting for the site server.
    int Waiting() const { return FWaiting.load(); }

private:
    void Run();
    void Hand(RHistoryEntry entry);
    void Tell(const QString& text);
    void Report(THistorySink& sink, const RHistoryEntry& entry);

    RHistoryLocation FLocation;
    QString FSpoolPath;
    Notice FNotice;
    RecordedHandler FRecorded;
    std::optional<ROperationEnd> FCurrent;

    std::mutex FMutex;
    std::condition_variable FWake;
    std::condition_variable FIdle;
    std::deque<RHistoryEntry> FQueue;
    bool FBusy = false;
    bool FStop = false;
    bool FToldFailure = false;
    bool FToldSpool = false;
    std::atomic<int> FWaiting{0};
    std::thread FWorker;
};
