#pragma once
// "Bump Test": the technician enters the test gas and cylinder, starts, and
// follows the guided test on a live chart with the reading, the alarm
// flags and the seconds left; the test itself runs on a link thread of its
// own, so the window keeps painting. After a verdict "Certificate..." writes
// the certificate of the recorded test.
#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QPointF>

#include <memory>

#include "BumpTest.h"

class QLineEdit;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class TLinkThread;
class TSensorChart;

class TBumpTestDlg : public QDialog {
    Q_OBJECT
public:
    explicit TBumpTestDlg(const LoadedSettings& settings, const QString& port, QWidget* parent = nullptr);
    ~TBumpTestDlg() override;

    // Escape and the close box cancel a running test instead of leaving it.
    void reject() override;

    // What the link thread's view hands over (GUI thread).
    void ShowUnit(const RBumpUnit& unit);
    void ShowStep(const QString& text);
    void ShowReading(double elapsed, double value, std::uint8_t alarms, int secondsLeft);
    void ShowResult(const RBumpResult& result, const QByteArray& record);

private:
    void Start();
    void SaveCertificate();
    void SetRunning(bool running);

    const LoadedSettings& FSettings;
    std::unique_ptr<TLinkThread> FLinkThread;
    std::unique_ptr<TBumpRequests> FRequests;
    bool FRunning = false;
    QByteArray FRecord;
    QList<QPointF> FPoints;
    QString FGasUnit;

    QDoubleSpinBox* FGas;
    QLineEdit* FLot;
    QLineEdit* FExpiry;
    QLineEdit* FTechnician;
    QLabel* FUnit;
    QLabel* FStep;
    QLabel* FReading;
    QLabel* FAlarms;
    QLabel* FSecondsLeft;
    QLabel* FResult;
    TSensorChart* FChart;
    QPushButton* FStart;
    QPushButton* FCancel;
    QPushButton* FCertificate;
    QPushButton* FClose;
};
