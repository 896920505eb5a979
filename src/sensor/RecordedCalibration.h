#pragma once
// A guided calibration as one operation of the history: the unit, its image
// before, the check with both readings, the calibration row when the unit
// was asked to calibrate, and the whole record a certificate carries. The
// window and the command line run it the same way.
#include <QByteArray>

#include "CalibrationCheck.h"
#include "OperationRecorder.h"

struct RRecordedCheck {
    RCalCheckResult result;
    QByteArray record;  // compact JSON, as the history keeps it
    bool passed = false;
};

// The operation's end status: 0 passed or check passed; the calibration's
// own status when it did not end well (CalOutcomeStatusByte: 177 failed,
// 194 zero refused, 162 no answer, 134 stopped); 1 for an as left reading
// outside the tolerance; 134 cancelled or refused before anything reached
// the unit; the link's status when it failed to run.
std::uint8_t CalCheckStatus(const RCalCheckResult& result);

// Runs `check` for the unit `identity`, whose configuration `cfg` was just
// read, and remembers the cylinder unless it was refused.
RRecordedCheck RunRecordedCheck(IOperationRecorder& recorder, TCalibrationCheck& check,
                                const LoadedSettings& settings, const RZELIdenty& identity, const RZELCFG& cfg,
                                double span, RTestGas gas, const RCalCheckOptions& options);
