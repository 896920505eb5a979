#pragma once
// The record a bump test leaves: its result as BumpResultToJson gives it,
// with the operation it belongs to, the station and time zone, and the
// unit's next due dates. Its compact JSON bytes are what the history keeps,
// what a certificate carries and what its SHA-256 is taken of.
#include <QJsonObject>
#include <QString>

#include "BumpTest.h"

struct RRecordContext {
    QString operation;  // UUID
    QString station;
    QString zone;       // IANA id of the station's zone
    qint64 nowMs = 0;   // UTC
};
RRecordContext CurrentRecordContext(const QString& operation);

// `sensor`: the sensor block read after the verdict (the bump timer then
// shown), for the due dates.
QJsonObject BumpRecordJson(const RBumpResult& result, const RZELSensorCFG& sensor, const RRecordContext& context);

// The record of a guided calibration: `check` (TCalibrationCheck's record)
// with the unit, the operation's context and the due dates; a calibration
// that passed (adjusted or checked) restarts the interval.
QJsonObject CalibrationRecordJson(QJsonObject check, const RBumpUnit& unit, const RZELSensorCFG& sensor, bool passed,
                                  const RRecordContext& context);

// "yyyy-MM-dd" in the station's zone of the day `intervalDays` after
// `fromMs`; "-" when there is no interval.
QString DueDate(qint64 fromMs, int intervalDays, const QString& zone);
