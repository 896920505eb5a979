#pragma once
// What the workflows tell the history, as they tell their views what to
// show: an operation began, the unit answered, a configuration image was
// taken, events were downloaded, firmware was sent, a calibration made, the
// operation ended. They know nothing of the database behind it; a test can
// hand them a recorder that only collects.
//
// Every call returns at once: recording never waits for the database.
#include <QString>

#include <cstdint>
#include <vector>

#include "HistoryRecords.h"
#include "ZelRecords.h"

namespace recordrole {
inline const QString kRead = QStringLiteral("read");
inline const QString kBefore = QStringLiteral("before");  // as found, before a write
inline const QString kAfter = QStringLiteral("after");    // as left, read back after a write
inline const QString kSent = QStringLiteral("sent");      // what a write sent to the unit
}  // namespace recordrole

class IOperationRecorder {
public:
    virtual ~IOperationRecorder() = default;

    // One operation at a time; reports outside an operation are ignored.
    virtual void BeginOperation(const QString& workflow) = 0;
    virtual void StepReached(const QString& step) = 0;
    virtual void UnitIdentified(const RZELIdenty& identity) = 0;
    virtual void ConfigImageTaken(const QString& role, const RZELCFG& cfg) = 0;
    virtual void EventsDownloaded(const std::vector<RZELEvent>& events, std::uint32_t lifeRemaining) = 0;
    virtual void FirmwareSent(const RFirmwareRecord& firmware) = 0;
    virtual void CalibrationDone(const RCalibrationRecord& calibration) = 0;
    virtual void EndOperation(std::uint8_t status) = 0;
};

// For the command line's --no-history, and for workflows nobody records.
class TNullRecorder final : public IOperationRecorder {
public:
    void BeginOperation(const QString&) override {}
    void StepReached(const QString&) override {}
    void UnitIdentified(const RZELIdenty&) override {}
    void ConfigImageTaken(const QString&, const RZELCFG&) override {}
    void EventsDownloaded(const std::vector<RZELEvent>&, std::uint32_t) override {}
    void FirmwareSent(const RFirmwareRecord&) override {}
    void CalibrationDone(const RCalibrationRecord&) override {}
    void EndOperation(std::uint8_t) override {}
};

IOperationRecorder& NullRecorder();

// The recorder of this program (the window's or the command line's), set
// once at start-up and reset before it ends; the null recorder until then.
void SetProcessRecorder(IOperationRecorder* recorder);
IOperationRecorder& ProcessRecorder();

// The history's form of the device records.
RConfigImage ImageRecord(const QString& role, const RZELCFG& cfg);
RUnitIdentity UnitRecord(const RZELIdenty& identity);
QByteArray EventRecords(const std::vector<RZELEvent>& events);
