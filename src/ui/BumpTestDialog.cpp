#include "BumpTestDialog.h"

#include <QLineEdit>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "Certificate.h"
#include "CylinderExpiry.h"
#include "GuiCall.h"
#include "LinkThread.h"
#include "OperationRecorder.h"
#include "SensorChart.h"
#include "SensorReading.h"

namespace {

// The test's calls, carried to the dialog on the GUI thread. Only what is
// shown is posted; nothing here waits for the user.
class TGuiBumpView final : public IBumpView {
public:
    explicit TGuiBumpView(TBumpTestDlg* dialog) : FDialog(dialog) {}
    std::optional<RTestGas> AskGas(const RBumpUnit& unit, const RTestGas& proposed) override
    {
        PostToGui(FDialog, [d = FDialog, unit] { d->ShowUnit(unit); });
        return proposed;  // entered and confirmed with Start
    }
    void ShowStep(const QString& text) override
    {
        PostToGui(FDialog, [d = FDialog, text] { d->ShowStep(text); });
    }
    void ShowReading(double elapsed, double value, std::uint8_t alarms, int secondsLeft) override
    {
        PostToGui(FDialog, [=, d = FDialog] { d->ShowReading(elapsed, value, alarms, secondsLeft); });
    }
    void ShowResult(const RBumpResult&) override {}

private:
    TBumpTestDlg* FDialog;
};

QString Flags(std::uint8_t alarms)
{
    QStringList names;
    if (alarms & alarmbit::kLow)
        names << QStringLiteral("LOW");
    if (alarms & alarmbit::kHigh)
        names << QStringLiteral("HIGH");
    return names.isEmpty() ? QStringLiteral("no alarm") : names.join(QStringLiteral(" + "));
}

template <typename Widget>
Widget* Named(Widget* widget, const QString& name)
{
    widget->setAccessibleName(name);
    return widget;
}

}  // namespace

TBumpTestDlg::TBumpTestDlg(const LoadedSettings& settings, const QString& port, QWidget* parent)
    : QDialog(parent), FSettings(settings), FLinkThread(std::make_unique<TLinkThread>())
{
    setWindowTitle(QStringLiteral("Bump Test"));
    FLinkThread->Link().SetDefPort(port.toStdString());
    const RTestGas remembered = RememberedGas(settings.programDir, 0);

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    FGas = Named(new QDoubleSpinBox(this), QStringLiteral("Test gas concentration"));
    FGas->setRange(0.1, 100000);
    FGas->setDecimals(1);
    FGas->setValue(remembered.concentration > 0 ? remembered.concentration : 25);
    FLot = Named(new QLineEdit(remembered.lot, this), QStringLiteral("Cylinder lot"));
    FExpiry = Named(NewExpiryEdit(remembered.expiry, this), QStringLiteral("Cylinder expiry date"));
    FTechnician = Named(new QLineEdit(DefaultTechnician(), this), QStringLiteral("Technician"));
    form->addRow(QStringLiteral("&Test gas:"), FGas);
    form->addRow(QStringLiteral("Cylinder &lot:"), FLot);
    form->addRow(QStringLiteral("Cylinder &expiry:"), FExpiry);
    form->addRow(QStringLiteral("Tec&hnician:"), FTechnician);
    layout->addLayout(form);

    FUnit = Named(new QLabel(QStringLiteral("Connect the unit and press Start."), this), QStringLiteral("Unit"));
    FStep = Named(new QLabel(this), QStringLiteral("Step"));
    QFont big = FStep->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    FStep->setFont(big);
    layout->addWidget(FUnit);
    layout->addWidget(FStep);

    auto* readings = new QHBoxLayout;
    FReading = Named(new QLabel(QStringLiteral("-"), this), QStringLiteral("Reading"));
    FAlarms = Named(new QLabel(QStringLiteral("no alarm"), this), QStringLiteral("Alarm flags"));
    FSecondsLeft = Named(new QLabel(this), QStringLiteral("Seconds left"));
    QFont value = FReading->font();
    value.setPointSizeF(value.pointSizeF() * 1.3);
    for (QLabel* label : {FReading, FAlarms, FSecondsLeft}) {
        label->setFont(value);
        readings->addWidget(label, 1);
    }
    layout->addLayout(readings);
    FChart = Named(new TSensorChart(this), QStringLiteral("Gas reading chart"));
    FChart->setMinimumSize(480, 220);
    layout->addWidget(FChart, 1);
    FResult = Named(new QLabel(this), QStringLiteral("Result"));
    FResult->setFont(big);
    FResult->setWordWrap(true);
    layout->addWidget(FResult);

    auto* buttons = new QHBoxLayout;
    FStart = Named(new QPushButton(QStringLiteral("&Start"), this), QStringLiteral("Start the bump test"));
    FCancel = Named(new QPushButton(QStringLiteral("&Cancel test"), this), QStringLiteral("Cancel the bump test"));
    FCertificate = Named(new QPushButton(QStringLiteral("Certificate..."), this), QStringLiteral("Save the certificate"));
    FClose = Named(new QPushButton(QStringLiteral("Close"), this), QStringLiteral("Close"));
    FStart->setDefault(true);
    for (QPushButton* button : {FStart, FCancel, FCertificate, FClose})
        buttons->addWidget(button);
    layout->addLayout(buttons);
    connect(FStart, &QPushButton::clicked, this, &TBumpTestDlg::Start);
    connect(FCancel, &QPushButton::clicked, this, [this] {
        if (FRequests)
            FRequests->Cancel();
    });
    connect(FCertificate, &QPushButton::clicked, this, &TBumpTestDlg::SaveCertificate);
    connect(FClose, &QPushButton::clicked, this, &TBumpTestDlg::reject);
    SetRunning(false);
    FCertificate->setEnabled(false);
}

TBumpTestDlg::~TBumpTestDlg()
{
    if (FRequests)
        FRequests->Cancel();
    FLinkThread.reset();  // waits for the cancelled test to end
}

void TBumpTestDlg::reject()
{
    if (FRunning) {
        FRequests->Cancel();
        return;
    }
    QDialog::reject();
}

void TBumpTestDlg::SetRunning(bool running)
{
    FRunning = running;
    for (QWidget* input : std::initializer_list<QWidget*>{FGas, FLot, FExpiry, FTechnician, FStart, FClose})
        input->setEnabled(!running);
    FCancel->setEnabled(running);
    (running ? FCancel : FStart)->setFocus();
}

void TBumpTestDlg::Start()
{
    RTestGas gas{FGas->value(), FLot->text().trimmed(), EnteredExpiry(*FExpiry), FTechnician->text().trimmed()};
    if (gas.technician.isEmpty())
        gas.technician = DefaultTechnician();
    FRequests = std::make_unique<TBumpRequests>();
    FPoints.clear();
    FRecord.clear();
    FResult->clear();
    FCertificate->setEnabled(false);
    SetRunning(true);
    const RBumpRule rule = LoadBumpRule(FSettings.programDir);
    TBumpRequests* requests = FRequests.get();
    TLinkThread* thread = FLinkThread.get();
    const bool queued = thread->Run([this, gas, rule, requests, thread] {
        TSystemClock clock;
        TGuiBumpView view(this);
        TBumpTest test(view, thread->Link(), FSettings, clock, *requests, ProcessRecorder());
        const RBumpResult result = test.Run(gas, rule);
        if (result.outcome != BumpOutcome::Refused && result.outcome != BumpOutcome::FailedToRun)
            RememberGas(FSettings.programDir, result.unit.sensorType, result.gas);
        const QByteArray record = test.RecordBytes();
        PostToGui(this, [this, result, record] { ShowResult(result, record); });
    });
    if (!queued) {
        SetRunning(false);
        FResult->setText(QStringLiteral("The link is busy; try again."));
    }
}

void TBumpTestDlg::ShowUnit(const RBumpUnit& unit)
{
    FGasUnit = unit.gasUnit;
    FUnit->setText(QStringLiteral("Unit %1 (%2): LOW %3, HIGH %4 %5")
                       .arg(unit.serial, unit.sensorName)
                       .arg(unit.lowSetPoint)
                       .arg(unit.highSetPoint)
                       .arg(unit.gasUnit));
    FChart->SetValueTitle(QStringLiteral("%1 [%2]").arg(unit.sensorName, unit.gasUnit));
}

void TBumpTestDlg::ShowStep(const QString& text)
{
    FStep->setText(text);
}

void TBumpTestDlg::ShowReading(double elapsed, double value, std::uint8_t alarms, int secondsLeft)
{
    FReading->setText(QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(FGasUnit));
    FAlarms->setText(Flags(alarms));
    FAlarms->setStyleSheet(alarms & (alarmbit::kLow | alarmbit::kHigh) ? QStringLiteral("color: #B01E1E;")
                                                                         : QString());
    FSecondsLeft->setText(QStringLiteral("%1 s left").arg(secondsLeft));
    FPoints.append({elapsed, value});
    const double end = std::max(60.0, elapsed + 5);
    FChart->ShowWindow(0, end, 10, FPoints);
}

void TBumpTestDlg::ShowResult(const RBumpResult& result, const QByteArray& record)
{
    SetRunning(false);
    FRecord = record;
    FStep->clear();
    QString text = QStringLiteral("Bump test %1").arg(BumpOutcomeText(result.outcome));
    if (!result.reason.isEmpty())
        text += QStringLiteral(": ") + result.reason;
    FResult->setText(text);
    const bool good = result.outcome == BumpOutcome::Passed;
    FResult->setStyleSheet(good ? QStringLiteral("color: #1B7F3B;") : QStringLiteral("color: #B01E1E;"));
    FCertificate->setEnabled(!record.isEmpty() && result.outcome != BumpOutcome::Cancelled);
    (FCertificate->isEnabled() ? FCertificate : FClose)->setFocus();
}

void TBumpTestDlg::SaveCertificate()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Certificate..."),
                                                      QStringLiteral("bump-certificate.pdf"),
                                                      QStringLiteral("PDF document (*.pdf)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!WriteCertificate(path, FRecord, error))
        QMessageBox::warning(this, QStringLiteral("Certificate"), error);
}
