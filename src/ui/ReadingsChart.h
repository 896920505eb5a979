#pragma once
// The readings curve of a bump test's record: the gas reading once a second
// from "Apply gas now", with the applied gas and the low set point as
// dashed lines, so a reader sees at once whether and when the unit answered.
#include <QJsonObject>

class QWidget;

// The number of readings `record` holds (its "curve"); 0 when none.
int RecordCurvePoints(const QJsonObject& record);
// A small chart of them; `record` must hold readings.
QWidget* MakeReadingsChart(const QJsonObject& record, QWidget* parent);
