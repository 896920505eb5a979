#pragma once
// The guided bump test: read the unit, take the test gas, "Apply gas now"
// and watch the gas reading every second until the rule is met or the time
// is up, "Remove gas" and wait for the alarms to clear, then tell the unit
// Bump Pass (0x46) or Bump Fail (0x45) exactly once and read its bump timer
// back. Sequential code: the window runs it on its link thread, the command
// line and the tests call it directly. Cancel sends the unit nothing.
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "BumpRule.h"
#include "DeviceSettings.h"
#include "SensorClock.h"
#include "ZelComms.h"
#include "ZelRecords.h"

class IOperationRecorder;

inline constexpr std::uint8_t kOxygenSensorType = 4;

enum class BumpOutcome { Passed, Failed, Cancelled, Refused, FailedToRun };
QString BumpOutcomeText(BumpOutcome outcome);

// The unit as the test read it.
struct RBumpUnit {
    QString serial;
    QString userId;
    int productId = 0;
    int fwVersion = 0;
    int hwVersion = 0;
    std::uint8_t sensorType = 0;
    QString sensorName;
    QString gasUnit;
    double lowSetPoint = 0;   // gas unit
    double highSetPoint = 0;  // gas unit; 0 when switched off
    int decimals = 1;
    std::uint32_t calInterval = 0;   // days
    std::uint16_t bumpInterval = 0;  // days
    bool oxygen = false;
};
QJsonObject BumpUnitToJson(const RBumpUnit& unit);
// The unit as its identity and configuration describe it, named from the
// sensor table.
RBumpUnit UnitFromConfig(const RZELIdenty& identity, const RZELCFG& cfg, const LoadedSettings& settings);

struct RBumpResult {
    BumpOutcome outcome = BumpOutcome::FailedToRun;
    std::uint8_t status = 0;  // the link's, when it failed to run
    QString reason;           // why it failed, was refused or did not run
    QDateTime startedUtc;
    RBumpUnit unit;
    RTestGas gas;
    RBumpRule rule;
    std::vector<double> curve;  // the gas reading, one a second from "Apply gas now"
    std::optional<double> lowAfter, highAfter;  // seconds to each alarm
    std::optional<double> peak;                 // highest (oxygen: lowest) reading
    bool alarmsCleared = false;
    std::optional<std::uint8_t> sentCommand;    // 0x46 or 0x45 when sent
    std::optional<std::uint32_t> bumpTimerBefore, bumpTimerAfter;
    bool confirmed = false;  // the unit's bump timer or flag shows the result
};
QJsonObject BumpResultToJson(const RBumpResult& result);

// What the test shows. The window's dialog implements it through a view
// that carries the calls to the GUI thread; the command line prints it.
class IBumpView {
public:
    virtual ~IBumpView() = default;
    // The unit was read: the proposed gas (remembered or given) to confirm
    // or change; nothing cancels the test.
    virtual std::optional<RTestGas> AskGas(const RBumpUnit& unit, const RTestGas& proposed) = 0;
    virtual void ShowStep(const QString& text) = 0;
    virtual void ShowReading(double elapsed, double value, std::uint8_t alarms, int secondsLeft) = 0;
    virtual void ShowResult(const RBumpResult& result) = 0;
};

// Cancel from any thread; reaches the test at its next wait.
class TBumpRequests {
public:
    void Cancel()
    {
        FCancel.store(true);
        FWakeup.Notify();
    }
    bool Cancelled() const { return FCancel.load(); }
    TWakeup& Wakeup() { return FWakeup; }

private:
    std::atomic<bool> FCancel{false};
    TWakeup FWakeup;
};

namespace bumptext {
inline const QString kApply = QStringLiteral("Apply gas now");
inline const QString kRemove = QStringLiteral("Remove gas");
}  // namespace bumptext

class TBumpTest {
public:
    // Everything passed must outlive this object.
    TBumpTest(IBumpView& view, TComZEL& link, const LoadedSettings& settings, ISensorClock& clock,
              TBumpRequests& requests, IOperationRecorder& recorder);

    RBumpResult Run(const RTestGas& proposed, const RBumpRule& rule);
    // The record of the last run as the history keeps it (compact JSON).
    const QByteArray& RecordBytes() const { return FRecord; }

private:
    bool ReadUnit(RBumpResult& result, RZELIdenty& identity, RZELCFG& cfg);
    std::optional<QString> GasRefusal(const RBumpUnit& unit, const RTestGas& gas) const;
    // One reading; false ends the test (cancel, adapter gone, unit silent).
    bool Poll(RBumpResult& result, RZELSensor& reading);
    bool WaitForVerdict(RBumpResult& result);
    bool WaitForClear(RBumpResult& result);
    void SendVerdict(RBumpResult& result, bool passed);
    bool RuleMet(const RBumpResult& result) const;
    RBumpResult Finish(RBumpResult& result);
    float ConnectSeconds() const;
    void BeginRecord();
    void RecordUnit(const RZELIdenty& identity, const RZELCFG& cfg);
    void EndRecord(const RBumpResult& result);

    IBumpView& FView;
    TComZEL& FLink;
    const LoadedSettings& FSettings;
    ISensorClock& FClock;
    TBumpRequests& FRequests;
    IOperationRecorder& FRecorder;
    double FApplied = 0;  // Seconds() at "Apply gas now"
    double FLastAnswer = 0;
    bool FOpen = false;
    RZELSensorCFG FSensorAfter{};
    QByteArray FRecord;
};

// A unit that has not answered for this long ends the test as failed to run.
inline constexpr double kBumpSilenceLimit = 10.0;
