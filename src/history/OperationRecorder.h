#pragma once
// What the workflows tell the history, as they tell their views what to
// show: an operation began, the unit answered, a configuration image was
// taken, events were downloaded, firmware was sent, a calibration made, the
// operation ended. They know nothing of the database behind it; a test can
// hand them a recorder that only collects.
//
// Every call returns at once: recording never waits for the database.
#include <QString>
#include <QUuid>

#include <cstdint>
#include <vector>

#include "HistoryRecords.h"
#include "ZelRecords.h"

namespace recordrole {
inline const QString kRead = QStringLiteral("read");
inline const QString kBefore = QStringLiteral("before");  // as found, before a write
inline const QString kAfter = QStringLiteral("after");    // as left, read back after a write
inline const QString kSent = QStringLiteral("sent");      // what a write sent to the unit
inline const QString kFile = QStringLiteral("file");      // a configuration file loaded or written
}  // namespace recordrole

class IOperationRecorder {
public:
    virtual ~IOperationRecorder() = default;

    // One operation at a time; reports outside an operation are ignored.
    virtual void BeginOperation(const QString& workflow) = 0;
    virtual void StepReached(const QString& step) = 0;
    virtual void UnitIdentified(const RZELIdenty& identity) = 0;
    virtual void ConfigImageTaken(const QString& role, const RZELCFG& cfg) = 0;
    // A configuration file's image: the file names no unit the operation
    // talked to, so it leaves the operation's unit as it is.
    virtual void ConfigFileUsed(const QString& path, const RZELCFG& cfg) { (void)path, (void)cfg; }
    virtual void EventsDownloaded(const std::vector<RZELEvent>& events, std::uint32_t lifeRemaining) = 0;
    virtual void FirmwareSent(const RFirmwareRecord& firmware) = 0;
    virtual void CalibrationDone(const RCalibrationRecord& calibration) = 0;
    virtual void EndOperation(std::uint8_t status) = 0;

    // The running operation's UUID, which a test's record and certificate
    // carry; null outside one or when nothing is recorded.
    virtual QUuid OperationUuid() const { return {}; }
    // A bump test's or guided calibration's whole record.
    virtual void TestRecorded(const RTestRecord&) {}

    // A calibration the unit was given while another operation runs (one
    // started from the logging run), recorded whole as an operation of its
    // own at its end; the running operation goes on as it was. `status`:
    // the operation's, 0 when the unit did what it was asked.
    virtual void CalibrationAside(const QString& workflow, const RZELIdenty& identity,
                                  const RCalibrationRecord& calibration, std::uint8_t status)
    {
        (void)workflow, (void)identity, (void)calibration, (void)status;
    }
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

// A configuration file loaded or written, as an operation of its own: its
// absolute path and its image. Only a file that was read or written whole.
void RecordConfigFile(IOperationRecorder& recorder, const QString& workflow, const QString& path, const RZELCFG& cfg);

// The text of a fixed-size record field, up to its first zero byte.
QString FixedField(const char* bytes, std::size_t size);

// The history's form of the device records.
RConfigImage ImageRecord(const QString& role, const RZELCFG& cfg);
RUnitIdentity UnitRecord(const RZELIdenty& identity);
QByteArray EventRecords(const std::vector<RZELEvent>& events);
