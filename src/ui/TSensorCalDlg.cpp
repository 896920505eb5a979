#include "TSensorCalDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

#include <algorithm>
#include <cmath>

#include "Accessibility.h"
#include "CalCheckPanel.h"
#include "Certificate.h"
#include "GuiCall.h"
#include "RecordedCalibration.h"
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

// The guided calibration's steps and readings, carried to the panel.
class TGuiCheckView final : public ICalCheckView {
public:
    explicit TGuiCheckView(TCalCheckPanel* panel) : FPanel(panel) {}
    void ShowStep(const QString& text) override
    {
        PostToGui(FPanel, [p = FPanel, text] { p->ShowStep(text); });
    }
    void ShowReading(double elapsed, double value) override
    {
        PostToGui(FPanel, [p = FPanel, elapsed, value] { p->ShowReading(elapsed, value); });
    }

private:
    TCalCheckPanel* FPanel;
};

// The height the calibration's own controls keep above the panel.
constexpr int kCalFormHeight = 216;

}  // namespace

TSensorCalDlg::TSensorCalDlg(TLinkThread& link, const LoadedSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TSensorCalDlg>()),
      FLinkThread(link),
      FSettings(settings),
      FProxy(*this, this),
      FWorkflow(FProxy, link.Link(), settings, FClock, FRequests)
{
    accessibility::InstallLabelInterface();
    ui->setupUi(this);
    FCheckPanel = new TCalCheckPanel(settings.programDir, this);
    ui->CalMainLayout->addWidget(FCheckPanel);
    ApplyLook();
    for (const QString& missing : accessibility::NameControls(this, kAccessibleTexts))
        qWarning("No control %s to name for screen readers", qPrintable(missing));
    connect(ui->CalBtn, &QPushButton::clicked, this, &TSensorCalDlg::CalBtnClick);
    connect(ui->CalAbortBtn, &QPushButton::clicked, this, [this] { FRequests.Cancel(); });
    connect(ui->CloseBtn, &QPushButton::clicked, this, &TSensorCalDlg::CloseBtnClick);
    connect(&FLinkThread, &TLinkThread::Finished, this, &TSensorCalDlg::OperationEnded);
    connect(FCheckPanel->CertificateButton(), &QPushButton::clicked, this, &TSensorCalDlg::SaveCertificate);
    setTabOrder(ui->SpanGasSpin, FCheckPanel->FirstInput());
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
    // The calibration's own controls keep their place and size; the record
    // panel adds its height below them.
    const QMargins margins = ui->CalMainLayout->contentsMargins();
    ui->CalGroupBox->setFixedHeight(kCalFormHeight - margins.top() - margins.bottom());
    FCheckPanel->setFont(sensorlook::ArialPixels(12, false));
    setFixedSize(470, kCalFormHeight + ui->CalMainLayout->spacing() + FCheckPanel->sizeHint().height());

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
    const RCalCheckOptions options = FCheckPanel->Options();
    const RTestGas gas = FCheckPanel->Gas();
    // Off at once: the checks before the start take a moment on the link.
    ui->CalBtn->setEnabled(false);
    ui->CloseBtn->setEnabled(false);
    // Cancel reaches the as found and as left readings as well.
    ui->CalAbortBtn->setEnabled(true);
    FCheckPanel->Clear();
    FCheckPanel->SetGasUnit(ui->CalUnitLabel->text());
    FCheckPanel->SetRunning(true);
    FGuided = true;
    FOperationQueued = FLinkThread.Run([this, span, options, gas] {
        TGuiCheckView view(FCheckPanel);
        TCalibrationCheck check(view, FWorkflow, FLinkThread.Link(), FSettings, FClock, FRequests);
        const RRecordedCheck done = RunRecordedCheck(ProcessRecorder(), check, FSettings, FUnit, FWorkflow.Config(),
                                                     span, gas, options);
        FRequests.TakeCancel();
        PostToGui(this, [this, done] {
            FCheckPanel->ShowResult(done.result, done.record);
            if (done.result.result == QStringLiteral("REFUSED"))
                ShowMessage(BoxIcon::Error, windowTitle(), done.result.reason);
        });
    });
    if (!FOperationQueued)
        OperationEnded();
}

void TSensorCalDlg::SaveCertificate()
{
    const QByteArray record = FCheckPanel->Record();
    if (record.isEmpty())
        return;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Certificate..."),
                                                      QStringLiteral("calibration-certificate.pdf"),
                                                      QStringLiteral("PDF document (*.pdf)"));
    if (path.isEmpty())
        return;
    // Written on the link thread: the window does not wait for the file.
    FCheckPanel->CertificateButton()->setEnabled(false);
    const bool queued = FLinkThread.Run([this, path, record] {
        QString error;
        const bool written = WriteCertificate(path, record, error);
        PostToGui(this, [this, written, error] {
            FCheckPanel->CertificateButton()->setEnabled(true);
            if (!written)
                QMessageBox::warning(this, QStringLiteral("Certificate"), error);
        });
    });
    if (!queued)
        FCheckPanel->CertificateButton()->setEnabled(true);
}

void TSensorCalDlg::OperationEnded()
{
    FOperationQueued = false;
    FGuided = false;
    FCheckPanel->SetRunning(false);
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
    // The as left reading may follow the zero and span: until the guided
    // calibration ends the buttons stay as they are while it runs.
    const bool busy = running || FGuided;
    ui->CalBtn->setEnabled(!busy);
    ui->CloseBtn->setEnabled(!busy);
    ui->CalAbortBtn->setEnabled(busy);
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
