#pragma once
// A logging run is an operation on the unit: when it started and ended, the
// unit it logged and how it ended. The readings stay in the data log file.
#include "OperationRecorder.h"
#include "SensorLogging.h"

inline const QString kLoggingRunWorkflow = QStringLiteral("Sensor Reading Data Logging");

inline void RunRecordedLogging(IOperationRecorder& recorder, TSensorLogWorkflow& run)
{
    recorder.BeginOperation(kLoggingRunWorkflow);
    run.StartBtnClick();
    if (run.Identity().mSerial[0] != '\0')
        recorder.UnitIdentified(run.Identity());
    recorder.EndOperation(run.EndStatus());
}
