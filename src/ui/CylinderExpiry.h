#pragma once
// The cylinder expiry date of the bump test and calibration windows: typed
// as YYYY-MM-DD, empty while not given rather than a date nobody entered,
// since what the history keeps as the cylinder's expiry must come from its
// label. One stop for Tab.
#include <QDate>

class QLineEdit;
class QWidget;

QLineEdit* NewExpiryEdit(const QDate& remembered, QWidget* parent);
// The date entered; invalid while empty or not a date.
QDate EnteredExpiry(const QLineEdit& edit);
