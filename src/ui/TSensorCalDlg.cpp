#include "TSensorCalDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include <algorithm>
#include <cmath>

#include "Accessibility.h"
#include "OperationRecorder.h"
#include "SensorLook.h"
#include "ui_TSensorCalDlg.h"

namespace {

const QColor kFormBackground(244, 244, 244);
const QColor kSpanCaption(109, 182, 182);

const RAccessibleText kAccessibleTexts[] = {
    {"CalGroupBox", "Sensor Calibration", nullptr},
    {"CalBtn", nullptr, "Zero calibration, then span calibration with the span gas"},
    {"CalAbortBtn", nullptr, "Stops the calibration"},
    {"SpanGasSpin", nullptr, "Concentration of the span gas, written into the unit before the calibration"},
    {"CalUnitLabel", "Span Gas unit", nullptr},
    {"CalProgressBar", "Calibration progress", "Seconds of the calibration against its longest time"},
    {"CalLabel", "Calibration status", nullptr},
    {"CalLabel1", "Calibration instruction", nullptr},
    {"CalLabel2", "Calibration result", nullptr},
};

}  // namespace

TSensorCalDlg::TSensorCalDlg(TLinkThread& link, const LoadedSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TSensorCalDlg>()),
      FLinkThread(link),
      FProxy(*this, this),
      FWorkflow(FProxy, link.Link(), settings, FClock, FRequests)
{
    accessibility::InstallLabelInterface();
    ui->setupUi(this);
    ApplyLook();
    for (const QString& missing : accessibility::NameControls(this, kAccessibleTexts))
        qWarning("No control %s to name for screen readers", qPrintable(missing));
    connect(ui->CalBtn, &QPushButton::clicked, this, &TSensorCalDlg::CalBtnClick);
    connect(ui->CalAbortBtn, &QPushButton::clicked, this, [this] { FRequests.Cancel(); });
    connect(ui->CloseBtn, &QPushButton::clicked, this, &TSensorCalDlg::CloseBtnClick);
    connect(&FLinkThread, &TLinkThread::Finished, this, &TSensorCalDlg::OperationEnded);
}

TSensorCalDlg::~TSensorCalDlg()
{
    while (FLinkThread.Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TSensorCalDlg::ApplyLook()
{
    setFont(sensorlook::ArialPixels(13, true));
    QPalette form = palette();
    form.setColor(QPalette::Window, kFormBackground);
    setPalette(form);
    setFixedSize(470, 216);

    QPalette caption = palette();
    caption.setColor(QPalette::Window, kSpanCaption);
    ui->SpanGasLabel->setPalette(caption);
    for (QLabel* line : {ui->CalLabel, ui->CalLabel1, ui->CalLabel2})
        line->setFont(sensorlook::ArialPixels(16, true));
}

bool TSensorCalDlg::Prepare(const RZELCFG& cfg)
{
    FCalibrating = false;
    return FWorkflow.ShowDlg(cfg);
}

void TSensorCalDlg::ShowDlg(const RZELCFG& cfg)
{
    if (Prepare(cfg))
        exec();
}

void TSensorCalDlg::CalBtnClick()
{
    // A value typed but not yet confirmed counts, as the user sees it.
    ui->SpanGasSpin->interpretText();
    const double span = ui->SpanGasSpin->value();
    // Off at once: the checks before the start take a moment on the link.
    ui->CalBtn->setEnabled(false);
    ui->CloseBtn->setEnabled(false);
    FOperationQueued = FLinkThread.Run([this, span] {
        IOperationRecorder& history = ProcessRecorder();
        history.BeginOperation(QStringLiteral("Sensor Calibration"));
        history.UnitIdentified(FUnit);
        FWorkflow.CalBtnClick(span);
        const std::uint8_t status = CalOutcomeStatusByte(FWorkflow.Outcome(), FWorkflow.OutcomeStatus());
        history.CalibrationDone({static_cast<int>(std::lround(span * 10)),
                                 QString::fromLatin1(CalOutcomeText(FWorkflow.Outcome())), status});
        history.EndOperation(status);
    });
    if (!FOperationQueued)
        OperationEnded();
}

void TSensorCalDlg::OperationEnded()
{
    FOperationQueued = false;
    if (FCalibrating)
        return;
    ui->CalBtn->setEnabled(true);
    ui->CloseBtn->setEnabled(true);
    ui->CalAbortBtn->setEnabled(false);
}

void TSensorCalDlg::CloseBtnClick()
{
    if (FormCloseQuery())
        accept();
}

bool TSensorCalDlg::FormCloseQuery() const
{
    return !FCalibrating && !FOperationQueued && !FLinkThread.Busy();
}

void TSensorCalDlg::reject()
{
    if (FormCloseQuery())
        QDialog::reject();
}

void TSensorCalDlg::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// ---- ISensorCalView

void TSensorCalDlg::SetCaption(const QString& caption)
{
    setWindowTitle(caption);
}

void TSensorCalDlg::SetSpanGas(double minimum, double maximum, double value, const QString& unit)
{
    ui->SpanGasSpin->setRange(minimum, maximum);
    ui->SpanGasSpin->setValue(value);
    ui->CalUnitLabel->setText(unit);
}

void TSensorCalDlg::SetCalLine(CalLine line, const QString& text, RColour colour)
{
    QLabel* const labels[] = {ui->CalLabel, ui->CalLabel1, ui->CalLabel2};
    QLabel* label = labels[static_cast<int>(line)];
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, sensorlook::ToColor(colour));
    label->setPalette(p);
    label->setText(text);
}

void TSensorCalDlg::SetCalibrating(bool running)
{
    FCalibrating = running;
    ui->CalBtn->setEnabled(!running);
    ui->CloseBtn->setEnabled(!running);
    ui->CalAbortBtn->setEnabled(running);
}

void TSensorCalDlg::SetProgressMax(int maximum)
{
    ui->CalProgressBar->setMaximum(maximum);
}

void TSensorCalDlg::SetProgress(int position)
{
    ui->CalProgressBar->setValue(std::clamp(position, ui->CalProgressBar->minimum(), ui->CalProgressBar->maximum()));
}

void TSensorCalDlg::ShowMessage(BoxIcon icon, const QString& caption, const QString& text)
{
    sensorlook::ShowBox(this, icon, caption, text);
}
