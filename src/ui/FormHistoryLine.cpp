// Beside the unit line: when the unit shown falls due for calibration and a
// bump test, and how many records wait for the site history server. The
// history's answer comes a moment after the read (its worker writes the
// read first), and then refines what the unit's own timers said.
#include <QBoxLayout>
#include <QDateTime>
#include <QLabel>
#include <QTimeZone>

#include "TVarnoIRMainForm.h"
#include "ui_TVarnoIRMainForm.h"

void TVarnoIRMainForm::SetUpHistoryLine()
{
    FDueWithinDays = ReadConfiguredDueWithinDays();
    FDueLineLabel = new QLabel(this);
    FDueLineLabel->setObjectName(QStringLiteral("DueLineLabel"));
    FDueLineLabel->setAccessibleName(QStringLiteral("Due dates"));
    FDueLineLabel->setAccessibleDescription(QStringLiteral("When the unit shown is due for calibration and a bump test"));
    FWaitingLabel = new QLabel(this);
    FWaitingLabel->setObjectName(QStringLiteral("HistoryWaitingLabel"));
    FWaitingLabel->setAccessibleName(QStringLiteral("History records waiting"));
    FWaitingLabel->setAccessibleDescription(QStringLiteral("History records waiting for the site database"));
    FWaitingLabel->hide();
    for (QLabel* label : {FDueLineLabel, FWaitingLabel}) {
        label->setContentsMargins(4, 2, 4, 2);
        label->setFont(font());
    }
    // Never widens the window: a long line is cut, its tooltip keeps it whole.
    FDueLineLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    FDueLineLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A row of its own under the unit line: sharing one row, either text was
    // cut in the middle of a word, and a due date read in part misleads.
    const int at = ui->FormLayout->indexOf(FUnitLineLabel);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(FDueLineLabel, 1);
    row->addWidget(FWaitingLabel);
    ui->FormLayout->insertLayout(at + 1, row);
}

void TVarnoIRMainForm::RefreshDueLine()
{
    if (!FDueLineLabel)
        return;
    const std::optional<duedates::RUnitTimers>& timers = FShownUnit.Timers();
    if (FShownUnit.From() != TUnitLine::Source::Unit || !timers) {
        FDueLineLabel->clear();
        FDueLineLabel->setToolTip(QString());
        return;
    }
    const auto known = FServiceKnown.find(FShownUnit.Serial());
    const RServiceDates service = known == FServiceKnown.end() ? RServiceDates{} : known->second;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const duedates::RDueDates due =
        duedates::Compute(*timers, service.calibrationMs, service.bumpTestMs, now, FDueWithinDays, zone);
    FDueLineLabel->setText(duedates::DueLine(due, now, FDueWithinDays, zone));
    FDueLineLabel->setToolTip(FDueLineLabel->text());
}

void TVarnoIRMainForm::ShowRecorded(const RRecordedState& state)
{
    if (FWaitingLabel) {
        FWaitingLabel->setText(state.waiting == 1
                                   ? QStringLiteral(" \u00B7 1 record waits for the site database")
                                   : QStringLiteral(" \u00B7 %1 records wait for the site database").arg(state.waiting));
        FWaitingLabel->setVisible(state.waiting > 0);
    }
    if (!state.serial.isEmpty() && state.service) {
        FServiceKnown[state.serial.trimmed()] = *state.service;
        RefreshDueLine();
    }
}
