#include "CalCheckPanel.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <cmath>

#include "CylinderExpiry.h"

namespace {

const QString kPassColour = QStringLiteral("color: #1B7F3B;");
const QString kFailColour = QStringLiteral("color: #B01E1E;");

template <typename Widget>
Widget* Named(Widget* widget, const char* objectName, const QString& name, const QString& description = QString())
{
    widget->setObjectName(QLatin1String(objectName));
    widget->setAccessibleName(name);
    if (!description.isEmpty())
        widget->setAccessibleDescription(description);
    return widget;
}

QLabel* Buddy(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

TCalCheckPanel::TCalCheckPanel(const std::string& programDir, QWidget* parent)
    : QGroupBox(QStringLiteral("Calibration record"), parent)
{
    setObjectName(QStringLiteral("CalCheckPanel"));
    setAccessibleName(QStringLiteral("Calibration record"));
    const RTestGas remembered = RememberedGas(programDir, 0);
    const RCalCheckOptions defaults;

    FAsFound = Named(new QCheckBox(QStringLiteral("As &found reading"), this), "CalAsFoundCheck", QStringLiteral("As found reading"),
                     QStringLiteral("Reads the span gas before the calibration; within the tolerance the unit is "
                                    "not adjusted"));
    FAsLeft = Named(new QCheckBox(QStringLiteral("As &left reading"), this), "CalAsLeftCheck", QStringLiteral("As left reading"),
                    QStringLiteral("Reads the span gas again after the calibration"));
    // Off until asked for: Calibration alone runs the zero and span as it
    // always did, and still leaves its record.
    FAsFound->setChecked(false);
    FAsLeft->setChecked(false);
    FTolerance = Named(new QDoubleSpinBox(this), "CalToleranceSpin", QStringLiteral("Tolerance"),
                       QStringLiteral("How far a reading may lie from the span gas, in percent of it"));
    FTolerance->setRange(0.5, 50);
    FTolerance->setDecimals(1);
    FTolerance->setPrefix(QStringLiteral("± "));
    FTolerance->setSuffix(QStringLiteral(" %"));
    FTolerance->setValue(defaults.tolerancePercent);
    FLot = Named(new QLineEdit(remembered.lot, this), "CalLotEdit", QStringLiteral("Cylinder lot"));
    FExpiry = Named(NewExpiryEdit(remembered.expiry, this), "CalExpiryEdit", QStringLiteral("Cylinder expiry date"));
    FTechnician = Named(new QLineEdit(DefaultTechnician(), this), "CalTechnicianEdit", QStringLiteral("Technician"));
    FStep = Named(new QLabel(this), "CalStepLabel", QStringLiteral("Calibration step"));
    FReading = Named(new QLabel(this), "CalReadingLabel", QStringLiteral("Gas reading"));
    FResult = Named(new QLabel(this), "CalRecordLabel", QStringLiteral("Calibration record result"));
    FStep->setWordWrap(true);
    FResult->setWordWrap(true);
    QFont bold = FResult->font();
    bold.setBold(true);
    FStep->setFont(bold);
    FResult->setFont(bold);
    FCertificate = Named(new QPushButton(QStringLiteral("Ce&rtificate..."), this), "CalCertificateBtn", QStringLiteral("Certificate"),
                         QStringLiteral("Saves the certificate of this calibration as a PDF file"));
    FCertificate->setEnabled(false);

    auto* grid = new QGridLayout(this);
    grid->setVerticalSpacing(3);
    grid->addWidget(FAsFound, 0, 0, 1, 2);
    grid->addWidget(FAsLeft, 0, 2);
    grid->addWidget(Buddy(QStringLiteral("Tolera&nce:"), FTolerance, this), 0, 3);
    grid->addWidget(FTolerance, 0, 4);
    grid->addWidget(Buddy(QStringLiteral("Cylinder lo&t:"), FLot, this), 1, 0);
    grid->addWidget(FLot, 1, 1, 1, 2);
    grid->addWidget(Buddy(QStringLiteral("E&xpiry:"), FExpiry, this), 1, 3);
    grid->addWidget(FExpiry, 1, 4);
    grid->addWidget(Buddy(QStringLiteral("Tec&hnician:"), FTechnician, this), 2, 0);
    grid->addWidget(FTechnician, 2, 1, 1, 4);
    grid->addWidget(FStep, 3, 0, 1, 5);
    grid->addWidget(FReading, 4, 0, 1, 5);
    grid->addWidget(FResult, 5, 0, 1, 4);
    grid->addWidget(FCertificate, 5, 4);
    grid->setColumnStretch(1, 1);
}

QWidget* TCalCheckPanel::FirstInput() const
{
    return FAsFound;
}

QWidget* TCalCheckPanel::LastInput() const
{
    return FCertificate;
}

RCalCheckOptions TCalCheckPanel::Options() const
{
    RCalCheckOptions options;
    options.asFound = FAsFound->isChecked();
    options.asLeft = FAsLeft->isChecked();
    options.tolerancePercent = FTolerance->value();
    return options;
}

RTestGas TCalCheckPanel::Gas() const
{
    RTestGas gas;
    gas.lot = FLot->text().trimmed();
    gas.expiry = EnteredExpiry(*FExpiry);
    gas.technician = FTechnician->text().trimmed();
    if (gas.technician.isEmpty())
        gas.technician = DefaultTechnician();
    return gas;
}

void TCalCheckPanel::SetRunning(bool running)
{
    for (QWidget* input : std::initializer_list<QWidget*>{FAsFound, FAsLeft, FTolerance, FLot, FExpiry, FTechnician})
        input->setEnabled(!running);
    if (running)
        FCertificate->setEnabled(false);
}

void TCalCheckPanel::Clear()
{
    FStep->clear();
    FReading->clear();
    FResult->clear();
    FRecord.clear();
    FCertificate->setEnabled(false);
}

void TCalCheckPanel::ShowStep(const QString& text)
{
    FStep->setText(text);
    FReading->clear();
}

void TCalCheckPanel::ShowReading(double elapsed, double value)
{
    FReading->setText(QStringLiteral("Reading %1 %2 after %3 s")
                          .arg(value, 0, 'f', 1)
                          .arg(FGasUnit)
                          .arg(std::lround(elapsed)));
}

void TCalCheckPanel::ShowResult(const RCalCheckResult& result, const QByteArray& record)
{
    FStep->clear();
    FRecord = record;
    const auto reading = [this](const char* name, const std::optional<double>& value) {
        return value ? QStringLiteral("%1 %2 %3").arg(QLatin1String(name)).arg(*value, 0, 'f', 1).arg(FGasUnit)
                     : QString();
    };
    QStringList readings;
    for (const QString& text : {reading("as found", result.asFound), reading("as left", result.asLeft)})
        if (!text.isEmpty())
            readings << text;
    QString shown = readings.join(QStringLiteral(", "));
    if (!shown.isEmpty())
        shown[0] = shown[0].toUpper();
    FReading->setText(shown);
    QString text = QStringLiteral("Calibration %1").arg(result.result);
    if (!result.reason.isEmpty())
        text += QStringLiteral(": ") + result.reason;
    FResult->setText(text);
    const bool good = result.result == QStringLiteral("PASSED") || result.result == QStringLiteral("CHECK PASSED");
    FResult->setStyleSheet(good ? kPassColour : kFailColour);
    const bool certified = !record.isEmpty() && result.result != QStringLiteral("CANCELLED") &&
                           result.result != QStringLiteral("REFUSED");
    FCertificate->setEnabled(certified);
}
