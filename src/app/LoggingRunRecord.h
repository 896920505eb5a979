#pragma once
// A logging run is an operation on the unit: when it started and ended, the
// unit it logged and how it ended. The readings stay in the data log file.
// Each calibration the run's buttons gave the unit is an operation of its
// own, recorded as it ends.
#include "OperationRecorder.h"
#include "SensorLogging.h"

inline const QString kLoggingRunWorkflow = QStringLiteral("Sensor Reading Data Logging");

inline void RunRecordedLogging(IOperationRecorder& recorder, TSensorLogWorkflow& run)
{
    recorder.BeginOperation(kLoggingRunWorkflow);
    run.OnCalibrationEnded([&recorder, &run](const QString& label, CalOutcome outcome, std::uint8_t status) {
        const std::uint8_t calStatus = CalOutcomeStatusByte(outcome, status);
        // The operation failed only when the unit did not take the command.
        const bool taken = outcome != CalOutcome::StartFailed && outcome != CalOutcome::ZeroRefused;
        recorder.CalibrationAside(QStringLiteral("Sensor Calibration (") + label + QLatin1Char(')'), run.Identity(),
                                  {0, QString::fromLatin1(CalOutcomeText(outcome)), calStatus},
                                  taken ? 0 : calStatus);
    });
    run.StartBtnClick();
    run.OnCalibrationEnded({});
    if (run.Identity().mSerial[0] != '\0')
        recorder.UnitIdentified(run.Identity());
    recorder.EndOperation(run.EndStatus());
}
