#pragma once
// The guided calibration with its two optional readings around the zero and
// span sequence: as found (span gas applied, read until steady or a time
// limit) and as left (after the span, gas still applied, the same). An as
// found reading within the tolerance may end the calibration there, as a
// recorded "CHECK PASSED", without adjusting the unit. Every outcome leaves
// one record: both readings, the gas and cylinder, the technician, the
// result and the next due date.
#include <QJsonObject>
#include <QString>

#include <deque>
#include <functional>
#include <optional>

#include "BumpRule.h"
#include "SensorCalibration.h"

struct RCalCheckOptions {
    bool asFound = true;
    bool asLeft = true;
    bool checkOnly = true;          // an as found within tolerance ends the calibration
    double tolerancePercent = 10.0; // of the span gas
    double steadyLimit = 90.0;      // seconds to wait for a steady reading
    double clearLimit = 120.0;      // seconds to wait for clean air before the zero
};

struct RCalCheckResult {
    QString result;  // "CHECK PASSED", "PASSED", "FAILED", "CANCELLED", "REFUSED", "FAILED TO RUN"
    QString reason;
    std::optional<double> asFound, asLeft;
    bool adjusted = false;
    CalOutcome calOutcome = CalOutcome::None;
    std::uint8_t status = 0;
};

// True when `reading` lies within `percent` of `span`.
bool WithinTolerance(double reading, double span, double percent);

// What the guided calibration shows between the calibration's own lines.
class ICalCheckView {
public:
    virtual ~ICalCheckView() = default;
    virtual void ShowStep(const QString& text) = 0;
    virtual void ShowReading(double elapsed, double value) = 0;
};

namespace calchecktext {
inline const QString kApplySpan = QStringLiteral("Apply span gas for the as found reading");
inline const QString kRemove = QStringLiteral("Remove gas: zero calibration follows in clean air");
inline const QString kAsLeft = QStringLiteral("Keep the span gas applied for the as left reading");
}  // namespace calchecktext

class TCalibrationCheck {
public:
    TCalibrationCheck(ICalCheckView& view, TSensorCalWorkflow& calibration, TComZEL& link,
                      const LoadedSettings& settings, ISensorClock& clock, TSensorCalRequests& requests);

    // `cfg` as read for ShowDlg; `span` in the gas unit.
    RCalCheckResult Run(double span, const RTestGas& gas, const RCalCheckOptions& options);

    // The record of the last Run, without the operation's context.
    QJsonObject RecordJson(const RCalCheckResult& result, double span, const RTestGas& gas,
                           const RCalCheckOptions& options) const;

private:
    // Reads the gas every second until `done` takes a reading, `limit`
    // seconds pass (the last reading, `timedOut` set), the user cancels or
    // the unit stops answering (nothing: `result` says which).
    std::optional<double> PollUntil(double limit, RCalCheckResult& result,
                                    const std::function<bool(const std::deque<double>& recent)>& done,
                                    bool& timedOut);
    // The steady reading, or nothing (cancel, link lost: `result` says which).
    std::optional<double> SteadyReading(double limit, RCalCheckResult& result);
    // After the as found reading: waits until the reading is back within
    // the sensor's dead zone, where the unit takes a zero. False (with
    // `result` saying why) when it did not come back.
    bool WaitForCleanAir(double limit, RCalCheckResult& result);

    ICalCheckView& FView;
    TSensorCalWorkflow& FCalibration;
    TComZEL& FLink;
    const LoadedSettings& FSettings;
    ISensorClock& FClock;
    TSensorCalRequests& FRequests;
};
