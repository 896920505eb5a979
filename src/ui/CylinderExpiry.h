#pragma once
// The cylinder expiry date of the bump test and calibration windows. With
// no date remembered it reads "not given" rather than a date nobody entered:
// what the history keeps as the cylinder's expiry must come from its label.
#include <QDate>

class QDateEdit;
class QWidget;

QDateEdit* NewExpiryEdit(const QDate& remembered, QWidget* parent);
// The date entered; invalid while it reads "not given".
QDate EnteredExpiry(const QDateEdit& edit);
