#include "BumpTest.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "BlockAttempts.h"
#include "BumpRecord.h"
#include "OperationRecorder.h"
#include "CommError.h"
#include "SensorLogging.h"
#include "SensorReading.h"
#include "SensorTypes.h"

namespace {

constexpr std::uint8_t kStatusOK = 0;
constexpr std::uint8_t kBumpFail = 0x45;
constexpr std::uint8_t kBumpPass = 0x46;
constexpr double kPollSeconds = 1.0;
constexpr double kTenths = 10.0;
// The end status of a test cancelled or refused before it reached the unit.
constexpr std::uint8_t kNotRunStatus = 134;

QString FixedText(const char* text, std::size_t size)
{
    return QString::fromLatin1(text, static_cast<qsizetype>(strnlen(text, size))).trimmed();
}

QJsonValue Optional(const std::optional<double>& value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

}  // namespace

QString BumpOutcomeText(BumpOutcome outcome)
{
    switch (outcome) {
    case BumpOutcome::Passed:
        return QStringLiteral("PASSED");
    case BumpOutcome::Failed:
        return QStringLiteral("FAILED");
    case BumpOutcome::Cancelled:
        return QStringLiteral("CANCELLED");
    case BumpOutcome::Refused:
        return QStringLiteral("REFUSED");
    case BumpOutcome::FailedToRun:
        break;
    }
    return QStringLiteral("FAILED TO RUN");
}

QJsonObject BumpUnitToJson(const RBumpUnit& unit)
{
    return {{QStringLiteral("serial"), unit.serial},
            {QStringLiteral("userId"), unit.userId},
            {QStringLiteral("productId"), unit.productId},
            {QStringLiteral("fwVersion"), unit.fwVersion},
            {QStringLiteral("hwVersion"), unit.hwVersion},
            {QStringLiteral("sensorType"), unit.sensorType},
            {QStringLiteral("sensorName"), unit.sensorName},
            {QStringLiteral("gasUnit"), unit.gasUnit},
            {QStringLiteral("lowSetPoint"), unit.lowSetPoint},
            {QStringLiteral("highSetPoint"), unit.highSetPoint},
            {QStringLiteral("calIntervalDays"), static_cast<int>(unit.calInterval)},
            {QStringLiteral("bumpIntervalDays"), unit.bumpInterval}};
}

QJsonObject BumpResultToJson(const RBumpResult& result)
{
    QJsonArray curve;
    for (double value : result.curve)
        curve.append(value);
    QJsonObject json{
        {QStringLiteral("kind"), QStringLiteral("bump test")},
        {QStringLiteral("result"), BumpOutcomeText(result.outcome)},
        {QStringLiteral("reason"), result.reason},
        {QStringLiteral("status"), result.status},
        {QStringLiteral("started"), result.startedUtc.toString(Qt::ISODateWithMs)},
        {QStringLiteral("unit"), BumpUnitToJson(result.unit)},
        {QStringLiteral("gas"),
         QJsonObject{{QStringLiteral("concentration"), result.gas.concentration},
                     {QStringLiteral("lot"), result.gas.lot},
                     {QStringLiteral("expiry"), result.gas.expiry.toString(Qt::ISODate)}}},
        {QStringLiteral("technician"), result.gas.technician},
        {QStringLiteral("rule"), BumpRuleToJson(result.rule)},
        {QStringLiteral("ruleText"), BumpRuleText(result.rule, result.unit.oxygen)},
        {QStringLiteral("curve"), curve},
        {QStringLiteral("lowAlarmAfterS"), Optional(result.lowAfter)},
        {QStringLiteral("highAlarmAfterS"), Optional(result.highAfter)},
        {QStringLiteral("peak"), Optional(result.peak)},
        {QStringLiteral("alarmsCleared"), result.alarmsCleared},
        {QStringLiteral("sentCommand"), result.sentCommand ? QJsonValue(*result.sentCommand) : QJsonValue()},
        {QStringLiteral("bumpTimerBefore"),
         result.bumpTimerBefore ? QJsonValue(static_cast<qint64>(*result.bumpTimerBefore)) : QJsonValue()},
        {QStringLiteral("bumpTimerAfter"),
         result.bumpTimerAfter ? QJsonValue(static_cast<qint64>(*result.bumpTimerAfter)) : QJsonValue()},
        {QStringLiteral("confirmed"), result.confirmed}};
    return json;
}

TBumpTest::TBumpTest(IBumpView& view, TComZEL& link, const LoadedSettings& settings, ISensorClock& clock,
                     TBumpRequests& requests, IOperationRecorder& recorder)
    : FView(view), FLink(link), FSettings(settings), FClock(clock), FRequests(requests), FRecorder(recorder)
{
}

float TBumpTest::ConnectSeconds() const
{
    return static_cast<float>(FSettings.cfg.mConnectTime) / 1000.0f;
}

RBumpResult TBumpTest::Run(const RTestGas& proposed, const RBumpRule& rule)
{
    RBumpResult result;
    result.rule = rule;
    result.startedUtc = FClock.LocalTime().toUTC();
    result.gas = proposed;
    BeginRecord();
    RZELIdenty identity{};
    RZELCFG cfg{};
    FView.ShowStep(QStringLiteral("Reading the unit..."));
    if (!ReadUnit(result, identity, cfg))
        return Finish(result);
    // A copy: the record is packed, and optional<> binds a reference.
    result.bumpTimerBefore = std::uint32_t{cfg.mSensor.mLastBump};

    const std::optional<RTestGas> gas = FView.AskGas(result.unit, proposed);
    if (!gas || FRequests.Cancelled()) {
        result.outcome = BumpOutcome::Cancelled;
        return Finish(result);
    }
    result.gas = *gas;
    std::optional<QString> refusal = CylinderRefusal(result.gas, FClock.LocalTime().date());
    if (!refusal)
        refusal = GasRefusal(result.unit, result.gas);
    if (refusal) {
        result.outcome = BumpOutcome::Refused;
        result.reason = *refusal;
        return Finish(result);
    }

    FView.ShowStep(bumptext::kApply);
    FApplied = FLastAnswer = FClock.Seconds();
    if (!WaitForVerdict(result))
        return Finish(result);
    const bool passed = RuleMet(result);
    if (!passed && result.reason.isEmpty())
        result.reason = QStringLiteral("The rule was not met within %1 s").arg(rule.timeLimit);

    FView.ShowStep(bumptext::kRemove);
    if (!WaitForClear(result))
        return Finish(result);
    SendVerdict(result, passed);
    return Finish(result);
}

bool TBumpTest::ReadUnit(RBumpResult& result, RZELIdenty& identity, RZELCFG& cfg)
{
    std::uint8_t status = kStatusOK;
    try {
        status = FLink.OpenUSB(ConnectSeconds());
    } catch (const ECommError& error) {
        FLink.ComClose();
        result.status = zelstatus::kChannelError;
        result.reason = QString::fromStdString(error.UserMessage());
        return false;
    }
    FOpen = true;
    const RDeviceCFG& device = FSettings.cfg;
    if (status == kStatusOK)
        status = FLink.RequireIdenty(identity);
    if (status == kStatusOK)
        status = CheckProduct(identity.mPID, zel::kVarnoliteModel, FSettings.factoryMode);
    if (status == kStatusOK)
        status = WithAttempts(
            [&] { return FLink.ReadUnitCFGData(cfg.mUnit, device.mUnitPacketSize, device.mUnitDataSize); });
    if (status == kStatusOK)
        status = WithAttempts(
            [&] { return FLink.ReadSensorCFGData(cfg.mSensor, device.mUnitPacketSize, device.mUnitSensorDataSize); });
    if (status != kStatusOK) {
        result.status = status;
        result.reason = QStringLiteral("The unit could not be read (status %1)").arg(status);
        return false;
    }
    result.unit = UnitFromConfig(identity, cfg, FSettings);
    RecordUnit(identity, cfg);
    return true;
}

RBumpUnit UnitFromConfig(const RZELIdenty& identity, const RZELCFG& cfg, const LoadedSettings& settings)
{
    RBumpUnit unit;
    unit.serial = FixedText(cfg.mUnit.mSerial, sizeof cfg.mUnit.mSerial);
    unit.userId = FixedText(cfg.mUnit.mUserID, sizeof cfg.mUnit.mUserID);
    unit.productId = identity.mPID;
    unit.hwVersion = cfg.mUnit.mHWVersion;
    unit.fwVersion = cfg.mUnit.mFWVersion;
    unit.sensorType = cfg.mSensor.mSensorType;
    unit.lowSetPoint = cfg.mSensor.mAlarmLow / kTenths;
    unit.highSetPoint = cfg.mSensor.mAlarmHigh / kTenths;
    unit.calInterval = cfg.mSensor.mCalInterval;
    unit.bumpInterval = cfg.mSensor.mBumpInterval;
    unit.oxygen = unit.sensorType == kOxygenSensorType;
    const int row = FindSensorType(settings.sensors, unit.sensorType);
    if (row >= 0) {
        unit.sensorName = QString::fromStdString(settings.sensors[static_cast<std::size_t>(row)].mName);
        unit.gasUnit = QString::fromStdString(settings.sensors[static_cast<std::size_t>(row)].mUnit);
    } else {
        unit.sensorName = QStringLiteral("Sensor %1").arg(unit.sensorType);
    }
    return unit;
}

std::optional<QString> TBumpTest::GasRefusal(const RBumpUnit& unit, const RTestGas& gas) const
{
    if (!std::isfinite(gas.concentration) || gas.concentration < 0)
        return QStringLiteral("The test gas %1 is not a concentration").arg(gas.concentration);
    if (unit.lowSetPoint <= 0)
        return QStringLiteral("The unit's low alarm is switched off; a bump test cannot set it off");
    if (unit.oxygen && gas.concentration > unit.lowSetPoint)
        return QStringLiteral("The test gas %1 %2 is above the low set point %3 %2; an oxygen unit needs gas below it "
                              "(e.g. 18 % or nitrogen)")
            .arg(gas.concentration)
            .arg(unit.gasUnit)
            .arg(unit.lowSetPoint);
    if (!unit.oxygen && gas.concentration < unit.lowSetPoint)
        return QStringLiteral("The test gas %1 %2 is below the low set point %3 %2; it cannot set off the alarm")
            .arg(gas.concentration)
            .arg(unit.gasUnit)
            .arg(unit.lowSetPoint);
    return std::nullopt;
}

bool TBumpTest::Poll(RBumpResult& result, RZELSensor& reading)
{
    while (!FRequests.Cancelled()) {
        std::uint8_t status = FLink.RequireSensor(reading, sensormode::kGas);
        if (status != kStatusOK && !IsAdapterFailure(status)) {
            // The unit may have dropped the link: wake it once, as the
            // logging run does, and ask again.
            status = FLink.ConnectZEL(ConnectSeconds());
            if (status == kStatusOK)
                status = FLink.RequireSensor(reading, sensormode::kGas);
        }
        const double now = FClock.Seconds();
        if (status == kStatusOK) {
            FLastAnswer = now;
            return true;
        }
        if (IsAdapterFailure(status) || now - FLastAnswer >= kBumpSilenceLimit) {
            result.outcome = BumpOutcome::FailedToRun;
            result.status = status;
            result.reason = IsAdapterFailure(status)
                                ? QStringLiteral("The adapter stopped answering (status %1)").arg(status)
                                : QStringLiteral("The unit stopped answering (status %1)").arg(status);
            return false;
        }
        FClock.WaitUntil(now + kPollSeconds, FRequests.Wakeup());
    }
    result.outcome = BumpOutcome::Cancelled;
    return false;
}

bool TBumpTest::RuleMet(const RBumpResult& result) const
{
    const RBumpUnit& unit = result.unit;
    if (!result.lowAfter || !result.peak)
        return false;
    if (unit.oxygen)
        return *result.peak <= unit.lowSetPoint;
    const bool needHigh =
        result.rule.requireHigh && unit.highSetPoint > 0 && result.gas.concentration >= unit.highSetPoint;
    if (needHigh && !result.highAfter)
        return false;
    return *result.peak >= result.gas.concentration * result.rule.responsePercent / 100.0;
}

bool TBumpTest::WaitForVerdict(RBumpResult& result)
{
    const double end = FApplied + result.rule.timeLimit;
    for (double next = FApplied;; next += kPollSeconds) {
        FClock.WaitUntil(next, FRequests.Wakeup());
        RZELSensor reading{};
        if (!Poll(result, reading))
            return false;
        const double now = FClock.Seconds();
        const double elapsed = now - FApplied;
        const RGasReading gas = DecodeGas(reading);
        result.curve.push_back(gas.value);
        if (!result.peak || (result.unit.oxygen ? gas.value < *result.peak : gas.value > *result.peak))
            result.peak = gas.value;
        if ((reading.mAlarm & alarmbit::kLow) && !result.lowAfter)
            result.lowAfter = std::round(elapsed * 10) / 10;
        if ((reading.mAlarm & alarmbit::kHigh) && !result.highAfter)
            result.highAfter = std::round(elapsed * 10) / 10;
        FView.ShowReading(elapsed, gas.value, reading.mAlarm, std::max(0, static_cast<int>(std::ceil(end - now))));
        // A pass is known as soon as the rule is met; a fail only at the end.
        if (RuleMet(result) || now >= end)
            return true;
        if (next < now - kPollSeconds)
            next = now;  // a slow exchange does not bunch the readings up
    }
}

bool TBumpTest::WaitForClear(RBumpResult& result)
{
    const double start = FClock.Seconds();
    const double end = start + result.rule.clearLimit;
    for (double next = start;; next += kPollSeconds) {
        FClock.WaitUntil(next, FRequests.Wakeup());
        RZELSensor reading{};
        if (!Poll(result, reading))
            return false;
        const double now = FClock.Seconds();
        const RGasReading gas = DecodeGas(reading);
        // The gas may still be rising when the rule is met: the curve and
        // the peak go on until the alarms clear.
        result.curve.push_back(gas.value);
        if (!result.peak || (result.unit.oxygen ? gas.value < *result.peak : gas.value > *result.peak))
            result.peak = gas.value;
        FView.ShowReading(now - FApplied, gas.value, reading.mAlarm, std::max(0, static_cast<int>(std::ceil(end - now))));
        if (!(reading.mAlarm & (alarmbit::kLow | alarmbit::kHigh))) {
            result.alarmsCleared = true;
            return true;
        }
        // The verdict stands; the record says the alarms were still on.
        if (now >= end)
            return true;
        if (next < now - kPollSeconds)
            next = now;
    }
}

void TBumpTest::SendVerdict(RBumpResult& result, bool passed)
{
    const std::uint8_t command = passed ? kBumpPass : kBumpFail;
    if (FRequests.Cancelled()) {
        result.outcome = BumpOutcome::Cancelled;
        return;
    }
    // Sent once whatever comes back: a lost answer does not mean the unit
    // did not take it, and a second verdict would be a second test.
    result.sentCommand = command;
    const std::uint8_t status = FLink.SensorCalibration(command);
    RZELSensorCFG sensor{};
    const RDeviceCFG& device = FSettings.cfg;
    const std::uint8_t read = WithAttempts(
        [&] { return FLink.ReadSensorCFGData(sensor, device.mUnitPacketSize, device.mUnitSensorDataSize); });
    RZELSensor reading{};
    const bool flagRead = FLink.RequireSensor(reading, sensormode::kGas) == kStatusOK;
    if (read == kStatusOK) {
        FSensorAfter = sensor;
        result.bumpTimerAfter = std::uint32_t{sensor.mLastBump};
        result.confirmed = passed ? sensor.mLastBump != result.bumpTimerBefore.value_or(sensor.mLastBump + 1)
                                  : flagRead && (reading.mHistory & historybit::kBumpTestFail);
    }
    result.outcome = passed ? BumpOutcome::Passed : BumpOutcome::Failed;
    if (status != kStatusOK || !result.confirmed)
        result.reason += (result.reason.isEmpty() ? QString() : QStringLiteral("; ")) +
                         QStringLiteral("The unit did not confirm the result (status %1)").arg(status);
}

void TBumpTest::BeginRecord()
{
    FRecord.clear();
    FSensorAfter = RZELSensorCFG{};
    FRecorder.BeginOperation(QStringLiteral("bump test"));
}

void TBumpTest::RecordUnit(const RZELIdenty& identity, const RZELCFG& cfg)
{
    FRecorder.UnitIdentified(identity);
    FRecorder.ConfigImageTaken(recordrole::kRead, cfg);
    FSensorAfter = cfg.mSensor;
}

void TBumpTest::EndRecord(const RBumpResult& result)
{
    const QUuid uuid = FRecorder.OperationUuid();
    const RRecordContext context =
        CurrentRecordContext(uuid.isNull() ? QString() : uuid.toString(QUuid::WithoutBraces));
    FRecord = ::RecordBytes(BumpRecordJson(result, FSensorAfter, context));
    FRecorder.StepReached(BumpOutcomeText(result.outcome).toLower());
    FRecorder.TestRecorded({QStringLiteral("bump test"), BumpOutcomeText(result.outcome), FRecord, RecordSha256(FRecord)});
    // Cancelled, refused and failed-to-run tests end with a status that
    // says so; a test that ran to a verdict is a completed operation.
    const bool ran = result.outcome == BumpOutcome::Passed || result.outcome == BumpOutcome::Failed;
    FRecorder.EndOperation(ran ? kStatusOK : (result.status != 0 ? result.status : kNotRunStatus));
}

RBumpResult TBumpTest::Finish(RBumpResult& result)
{
    if (FOpen) {
        FLink.CloseUSB(result.outcome == BumpOutcome::FailedToRun ? result.status : kStatusOK);
        FOpen = false;
    }
    EndRecord(result);
    FView.ShowResult(result);
    return result;
}
