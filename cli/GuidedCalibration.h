#pragma once
// beamdock-cli calibrate with as found / as left readings, the span gas
// cylinder, the technician, a history record and a certificate.
#include <QDate>
#include <QString>

#include <optional>

#include "CalibrationCheck.h"
#include "CliContext.h"

struct RGuidedCalibration {
    RCalCheckOptions options;
    RTestGas gas;  // the concentration is the span gas, set at the run
    QString certificate;
};

// Nothing when none of the guided options is given: the plain zero/span
// calibration runs as before.
std::optional<RGuidedCalibration> TakeGuidedCalibration(CliContext& ctx, bool& bad);
// Exit status: 0 passed or check passed, 1 failed, 134 cancelled, the link
// status otherwise.
int RunGuidedCalibration(CliContext& ctx, const RGuidedCalibration& guided, TSensorCalWorkflow& run,
                         TSensorCalRequests& requests, ISensorClock& clock, const RZELIdenty& identity,
                         const RZELCFG& cfg, double span);
