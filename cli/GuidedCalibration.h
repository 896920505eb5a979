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
    // None of the guided options given: the zero/span runs and prints as it
    // always did, and still leaves its record with the remembered cylinder.
    bool plain = true;
};

RGuidedCalibration TakeGuidedCalibration(CliContext& ctx, bool& bad);
// Exit status: CalCheckStatus (0 passed or check passed, the calibration's
// status when it did not end well, 1 as left outside the tolerance), 4 for
// a refused cylinder.
int RunGuidedCalibration(CliContext& ctx, const RGuidedCalibration& guided, TSensorCalWorkflow& run,
                         TSensorCalRequests& requests, ISensorClock& clock, const RZELIdenty& identity,
                         const RZELCFG& cfg, double span);
