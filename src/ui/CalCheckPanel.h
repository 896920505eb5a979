#pragma once
// The part of the "Sensor Calibration" dialog below its own controls: the
// as found and as left readings to take around the zero and span, the
// tolerance, the span gas cylinder and the technician, what the guided
// calibration is doing, its result, and "Certificate..." once it has one.
#include <QGroupBox>

#include <string>

#include "BumpRule.h"
#include "CalibrationCheck.h"

class QCheckBox;
class QLineEdit;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

class TCalCheckPanel final : public QGroupBox {
    Q_OBJECT

public:
    TCalCheckPanel(const std::string& programDir, QWidget* parent = nullptr);

    RCalCheckOptions Options() const;
    // The cylinder and the technician as entered; the concentration is the
    // span gas, set by the calibration.
    RTestGas Gas() const;
    void SetGasUnit(const QString& unit) { FGasUnit = unit; }
    // The inputs are off while a calibration runs.
    void SetRunning(bool running);
    void Clear();

    void ShowStep(const QString& text);
    void ShowReading(double elapsed, double value);
    void ShowResult(const RCalCheckResult& result, const QByteArray& record);
    const QByteArray& Record() const { return FRecord; }

    QPushButton* CertificateButton() const { return FCertificate; }
    // The first and last of the panel's inputs, for the dialog's tab order.
    QWidget* FirstInput() const;
    QWidget* LastInput() const;

private:
    QCheckBox* FAsFound;
    QCheckBox* FAsLeft;
    QDoubleSpinBox* FTolerance;
    QLineEdit* FLot;
    QLineEdit* FExpiry;
    QLineEdit* FTechnician;
    QLabel* FStep;
    QLabel* FReading;
    QLabel* FResult;
    QPushButton* FCertificate;
    QString FGasUnit;
    QByteArray FRecord;
};
