#include "RecordedCalibration.h"

#include <cmath>

#include "BumpRecord.h"

namespace {
constexpr std::uint8_t kFailed = 1;
constexpr std::uint8_t kNotRun = 134;
}  // namespace

std::uint8_t CalCheckStatus(const RCalCheckResult& result)
{
    if (result.result == QStringLiteral("PASSED") || result.result == QStringLiteral("CHECK PASSED"))
        return 0;
    if (result.result == QStringLiteral("CANCELLED") || result.result == QStringLiteral("REFUSED"))
        return kNotRun;
    if (result.result == QStringLiteral("FAILED TO RUN"))
        return result.status != 0 ? result.status : kNotRun;
    // A calibration that did not end well says how, as the plain one does.
    if (result.calOutcome != CalOutcome::None && result.calOutcome != CalOutcome::Ok)
        return CalOutcomeStatusByte(result.calOutcome, result.status);
    return kFailed;
}

RRecordedCheck RunRecordedCheck(IOperationRecorder& recorder, TCalibrationCheck& check,
                                const LoadedSettings& settings, const RZELIdenty& identity, const RZELCFG& cfg,
                                double span, RTestGas gas, const RCalCheckOptions& options)
{
    recorder.BeginOperation(QStringLiteral("Sensor Calibration"));
    recorder.UnitIdentified(identity);
    recorder.ConfigImageTaken(recordrole::kBefore, cfg);

    gas.concentration = span;
    RRecordedCheck done;
    done.result = check.Run(span, gas, options);
    const std::uint8_t status = CalCheckStatus(done.result);
    done.passed = status == 0;
    if (done.result.result != QStringLiteral("REFUSED"))
        RememberGas(settings.programDir, cfg.mSensor.mSensorType, gas);

    const QUuid uuid = recorder.OperationUuid();
    const RRecordContext context =
        CurrentRecordContext(uuid.isNull() ? QString() : uuid.toString(QUuid::WithoutBraces));
    const RBumpUnit unit = UnitFromConfig(identity, cfg, settings);
    done.record = RecordBytes(CalibrationRecordJson(check.RecordJson(done.result, span, gas, options), unit,
                                                    cfg.mSensor, done.passed, context));
    // The calibrations table holds what the unit was asked to do: a check
    // that passed without adjusting counts as a calibration check passed.
    if (done.result.calOutcome != CalOutcome::None || done.passed)
        recorder.CalibrationDone({static_cast<int>(std::lround(span * 10)), done.result.result, status});
    recorder.TestRecorded({QStringLiteral("calibration"), done.result.result, done.record, RecordSha256(done.record)});
    recorder.EndOperation(status);
    return done;
}
