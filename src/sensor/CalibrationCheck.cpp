#include "CalibrationCheck.h"

#include <QJsonValue>

#include <cmath>
#include <algorithm>

#include "BumpTest.h"
#include "CommError.h"
#include "SensorLogging.h"
#include "SensorReading.h"

namespace {

constexpr std::uint8_t kStatusOK = 0;
constexpr double kPollSeconds = 1.0;
// Steady: the last five readings lie within 2 % of the span gas of each other.
constexpr std::size_t kSteadyCount = 5;
constexpr double kSteadyShare = 0.02;
// The gas has reached the cell once the reading is above a tenth of the span.
constexpr double kArrivedShare = 0.1;

QString OutcomeText(CalOutcome outcome)
{
    switch (outcome) {
    case CalOutcome::Ok:
        return QStringLiteral("PASSED");
    case CalOutcome::UserStop:
        return QStringLiteral("CANCELLED");
    case CalOutcome::NotStarted:
    case CalOutcome::ConnectFailed:
    case CalOutcome::StartFailed:
        return QStringLiteral("FAILED TO RUN");
    default:
        return QStringLiteral("FAILED");
    }
}

QJsonValue Optional(const std::optional<double>& value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

}  // namespace

bool WithinTolerance(double reading, double span, double percent)
{
    return std::fabs(reading - span) <= span * percent / 100.0 + 1e-9;
}

TCalibrationCheck::TCalibrationCheck(ICalCheckView& view, TSensorCalWorkflow& calibration, TComZEL& link,
                                     const LoadedSettings& settings, ISensorClock& clock,
                                     TSensorCalRequests& requests)
    : FView(view), FCalibration(calibration), FLink(link), FSettings(settings), FClock(clock), FRequests(requests)
{
}

std::optional<double> TCalibrationCheck::PollUntil(double limit, RCalCheckResult& result,
                                                   const std::function<bool(const std::deque<double>&)>& done,
                                                   bool& timedOut)
{
    timedOut = false;
    std::uint8_t status = kStatusOK;
    try {
        status = FLink.OpenUSB(static_cast<float>(FSettings.cfg.mConnectTime) / 1000.0f);
    } catch (const ECommError& error) {
        FLink.ComClose();
        result.result = QStringLiteral("FAILED TO RUN");
        result.reason = QString::fromStdString(error.UserMessage());
        result.status = zelstatus::kChannelError;
        return std::nullopt;
    }
    const double start = FClock.Seconds();
    double lastAnswer = start;
    std::deque<double> recent;
    std::optional<double> taken;
    for (double next = start; status == kStatusOK || !IsAdapterFailure(status); next += kPollSeconds) {
        FClock.WaitUntil(next, FRequests.Wakeup());
        if (FRequests.TakeCancel()) {
            result.result = QStringLiteral("CANCELLED");
            break;
        }
        RZELSensor reading{};
        status = FLink.RequireSensor(reading, sensormode::kGas);
        if (status != kStatusOK && !IsAdapterFailure(status)) {
            status = FLink.ConnectZEL(static_cast<float>(FSettings.cfg.mConnectTime) / 1000.0f);
            if (status == kStatusOK)
                status = FLink.RequireSensor(reading, sensormode::kGas);
        }
        const double now = FClock.Seconds();
        if (status != kStatusOK) {
            if (now - lastAnswer < kBumpSilenceLimit && !IsAdapterFailure(status))
                continue;
            result.result = QStringLiteral("FAILED TO RUN");
            result.reason = QStringLiteral("The unit stopped answering (status %1)").arg(status);
            result.status = status;
            break;
        }
        lastAnswer = now;
        const double value = DecodeGas(reading).value;
        FView.ShowReading(now - start, value);
        recent.push_back(value);
        if (recent.size() > kSteadyCount)
            recent.pop_front();
        timedOut = now - start >= limit;
        if (done(recent) || timedOut) {
            taken = value;
            break;
        }
    }
    FLink.CloseUSB(status);
    return taken;
}

std::optional<double> TCalibrationCheck::SteadyReading(double limit, RCalCheckResult& result)
{
    const double span = FCalibration.Config().mSensor.mSpanGas / 10.0;
    // Clean air is steady too: only a reading the gas has reached counts,
    // so a technician slow to open the cylinder is waited for. A cell that
    // never gets there gives its last reading at the limit.
    const double arrived = std::max(FCalibration.Config().mSensor.mDeadZone / 10.0, span * kArrivedShare);
    bool timedOut = false;
    return PollUntil(
        limit, result,
        [span, arrived](const std::deque<double>& recent) {
            const auto [low, high] = std::minmax_element(recent.begin(), recent.end());
            return recent.size() == kSteadyCount && *low >= arrived &&
                   *high - *low <= std::max(span, 1.0) * kSteadyShare;
        },
        timedOut);
}

bool TCalibrationCheck::WaitForCleanAir(double limit, RCalCheckResult& result)
{
    // The dead zone is kept in tenths of the gas unit.
    const double zone = FCalibration.Config().mSensor.mDeadZone / 10.0;
    bool timedOut = false;
    const std::optional<double> last = PollUntil(
        limit, result, [zone](const std::deque<double>& recent) { return recent.back() <= zone; }, timedOut);
    if (!last)
        return false;
    if (!timedOut || *last <= zone)
        return true;
    result.result = QStringLiteral("FAILED TO RUN");
    result.reason = QStringLiteral("The reading stayed at %1, above the dead zone %2, for %3 s after the gas was "
                                   "removed; no zero calibration was sent")
                        .arg(*last)
                        .arg(zone)
                        .arg(limit);
    return false;
}

RCalCheckResult TCalibrationCheck::Run(double span, const RTestGas& gas, const RCalCheckOptions& options)
{
    RCalCheckResult result;
    // An expired cylinder is refused always; one whose expiry was not given
    // only when a reading is to be judged against its gas.
    const auto refusal = CylinderRefusal(gas, FClock.LocalTime().date());
    if (refusal && (gas.expiry.isValid() || options.asFound || options.asLeft)) {
        result.result = QStringLiteral("REFUSED");
        result.reason = *refusal;
        return result;
    }
    if (options.asFound) {
        FView.ShowStep(calchecktext::kApplySpan);
        result.asFound = SteadyReading(options.steadyLimit, result);
        if (!result.asFound)
            return result;
        if (options.checkOnly && WithinTolerance(*result.asFound, span, options.tolerancePercent)) {
            result.result = QStringLiteral("CHECK PASSED");
            return result;
        }
        FView.ShowStep(calchecktext::kRemove);
        // An oxygen cell reads the air itself; the unit judges its zero.
        if (FCalibration.Config().mSensor.mSensorType != kOxygenSensorType &&
            !WaitForCleanAir(options.clearLimit, result))
            return result;
    }
    FCalibration.CalBtnClick(span);
    result.calOutcome = FCalibration.Outcome();
    result.status = FCalibration.OutcomeStatus();
    result.adjusted = result.calOutcome == CalOutcome::Ok;
    result.result = OutcomeText(result.calOutcome);
    if (result.calOutcome == CalOutcome::NeverInProgress)
        result.reason = caltext::kNeverInProgress;
    if (result.calOutcome == CalOutcome::Ok && options.asLeft) {
        FView.ShowStep(calchecktext::kAsLeft);
        RCalCheckResult left;
        result.asLeft = SteadyReading(options.steadyLimit, left);
        if (!result.asLeft) {
            result.result = left.result;
            result.reason = left.reason;
        } else if (!WithinTolerance(*result.asLeft, span, options.tolerancePercent)) {
            result.result = QStringLiteral("FAILED");
            result.reason = QStringLiteral("As left reading outside the tolerance");
        }
    }
    return result;
}

QJsonObject TCalibrationCheck::RecordJson(const RCalCheckResult& result, double span, const RTestGas& gas,
                                          const RCalCheckOptions& options) const
{
    const auto verdict = [&](const std::optional<double>& value) {
        if (!value)
            return QStringLiteral("not taken");
        return WithinTolerance(*value, span, options.tolerancePercent) ? QStringLiteral("pass") : QStringLiteral("fail");
    };
    return {{QStringLiteral("kind"), QStringLiteral("calibration")},
            {QStringLiteral("result"), result.result},
            {QStringLiteral("reason"), result.reason},
            {QStringLiteral("status"), result.status},
            {QStringLiteral("gas"),
             QJsonObject{{QStringLiteral("concentration"), span},
                         {QStringLiteral("lot"), gas.lot},
                         {QStringLiteral("expiry"), gas.expiry.toString(Qt::ISODate)}}},
            {QStringLiteral("technician"), gas.technician},
            {QStringLiteral("asFound"), Optional(result.asFound)},
            {QStringLiteral("asLeft"), Optional(result.asLeft)},
            {QStringLiteral("asFoundResult"), verdict(result.asFound)},
            {QStringLiteral("asLeftResult"), verdict(result.asLeft)},
            {QStringLiteral("tolerancePercent"), options.tolerancePercent},
            {QStringLiteral("adjusted"), result.adjusted}};
}
