// The main window's safeguards: the unit line under the configuration, the
// values greyed while they are not a unit's, the wheel guard, the focus kept
// off destructive buttons, and the question before closing with edits.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QTimer>

#include "StartUp.h"
#include "TVarnoIRMainForm.h"
#include "WheelGuard.h"
#include "ui_TVarnoIRMainForm.h"

namespace {

const QColor kGreyedText(128, 128, 128);

void SetTextColour(QWidget* w, const QColor& colour, QPalette::ColorRole role)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
}

}  // namespace

void TVarnoIRMainForm::SetUpSafeguards()
{
    // Under the configuration, above the status line: the layouts of both
    // modes stay as they are.
    FUnitLineLabel = new QLabel(this);
    FUnitLineLabel->setObjectName(QStringLiteral("UnitLineLabel"));
    FUnitLineLabel->setAccessibleDescription(QStringLiteral("Which unit or file the values shown come from"));
    FUnitLineLabel->setContentsMargins(4, 2, 4, 2);
    FUnitLineLabel->setFont(font());
    FUnitLineLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    ui->FormLayout->insertWidget(ui->FormLayout->indexOf(ui->StatusPanel), FUnitLineLabel);

    auto* wheel = new TWheelGuard(this);
    wheel->Guard(ui->MainArea);

    // The edit count follows every change of a value.
    for (QSpinBox* spin : ui->MainArea->findChildren<QSpinBox*>())
        connect(spin, &QSpinBox::valueChanged, this, &TVarnoIRMainForm::RefreshUnitLine);
    for (QDoubleSpinBox* spin : ui->MainArea->findChildren<QDoubleSpinBox*>())
        connect(spin, &QDoubleSpinBox::valueChanged, this, &TVarnoIRMainForm::RefreshUnitLine);
    for (QComboBox* combo : ui->MainArea->findChildren<QComboBox*>())
        connect(combo, &QComboBox::currentIndexChanged, this, &TVarnoIRMainForm::RefreshUnitLine);
    for (QCheckBox* check : ui->MainArea->findChildren<QCheckBox*>())
        connect(check, &QCheckBox::toggled, this, &TVarnoIRMainForm::RefreshUnitLine);
    for (QLineEdit* edit : {ui->UserIDEdit, ui->UserOptIDEdit, ui->UserOptSerialEdit, ui->UserOptHWVersionEdit})
        connect(edit, &QLineEdit::textChanged, this, &TVarnoIRMainForm::RefreshUnitLine);

    // A page that opens must not put the focus on a button that erases or
    // resets the unit: Enter would press it.
    connect(ui->PageControl, &QTabWidget::currentChanged, this, [this] {
        QTimer::singleShot(0, this, [this] {
            QWidget* focused = QApplication::focusWidget();
            if (focused == ui->EtcFactoryResetBtn || focused == ui->FatoryOptTurnOffBtn ||
                focused == ui->FatoryOptLogResetBtn)
                ui->EtcIdentifyBtn->isVisible() ? ui->EtcIdentifyBtn->setFocus() : ui->PageControl->setFocus();
        });
    });
}

void TVarnoIRMainForm::ShowUnitLine(const TUnitLine& line)
{
    FShownUnit = line;
    GreyValues(line.ValuesGreyed());
    RefreshUnitLine();
}

void TVarnoIRMainForm::RefreshUnitLine()
{
    if (FUnitLineLabel)
        FUnitLineLabel->setText(FShownUnit.Text(FormValues()));
}

void TVarnoIRMainForm::GreyValues(bool greyed)
{
    QList<QWidget*> inputs;
    for (QAbstractSpinBox* spin : ui->MainArea->findChildren<QAbstractSpinBox*>())
        inputs << spin;
    for (QComboBox* combo : ui->MainArea->findChildren<QComboBox*>())
        inputs << combo;
    for (QCheckBox* check : ui->MainArea->findChildren<QCheckBox*>())
        inputs << check;
    inputs << ui->UserIDEdit << ui->UserOptIDEdit << ui->UserOptSerialEdit << ui->UserOptHWVersionEdit;
    for (QWidget* w : inputs) {
        const QPalette normal = QApplication::palette(w);
        for (const QPalette::ColorRole role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
            SetTextColour(w, greyed ? kGreyedText : normal.color(role), role);
    }
    const QColor labelText = palette().color(QPalette::WindowText);
    for (QLabel* label : {ui->UserHWVersionLabel, ui->UserSWVersionLabel, ui->UserSerialLabel, ui->UserLifeLabel,
                          ui->UserSensorTypeLabel, ui->UserOptSWVersionLabel})
        SetTextColour(label, greyed ? kGreyedText : labelText, QPalette::WindowText);
}

bool TVarnoIRMainForm::AskYesNoDefaultNo(const QString& caption, const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(QMessageBox::Question, caption, shown, QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool TVarnoIRMainForm::ConfirmCloseWithEdits()
{
    return FWorkflows.ConfirmDiscardEdits(startup::kApplicationTitle);
}
