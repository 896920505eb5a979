#include "TSensorLogDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMessageBox>

#include <algorithm>

#include "Accessibility.h"
#include "FileDialogs.h"
#include "LoggingRunRecord.h"
#include "SensorChart.h"
#include "SensorLook.h"
#include "ui_TSensorLogDlg.h"

namespace {

const QColor kFormBackground(227, 227, 227);
const QColor kCaptionBackground(255, 255, 206);

// The readings take their names from the data log's columns; the captions
// name the rest.
const RAccessibleText kAccessibleTexts[] = {
    {"SensorCaptionPanel2", "Battery", nullptr},
    {"SensorCaptionPanel3", "Temperature", nullptr},
    {"SensorCheck2", nullptr, "Read the battery with every reading"},
    {"SensorCheck3", nullptr, "Read the temperature with every reading"},
    {"SensorValueLabel1", nullptr, "The gas reading of the unit's sensor"},
    {"SensorPeakLabel1", "Sensor Peak", "The highest gas reading since the peak was cleared"},
    {"SensorValueLabel2", "Battery", "The battery voltage"},
    {"SensorPeakLabel2", "Battery ADC", "The battery's converter count"},
    {"SensorValueLabel3", "Temperature", "The unit's temperature"},
    {"SensorPeakLabel3", "Temperature ADC", "The temperature's converter count"},
    {"SensorHistoryGB", nullptr, "Flags of the last reading, shown only"},
    {"SensorAlarmGB", nullptr, "Alarms of the last reading, shown only"},
    {"SensorChart", "Sensor chart", "Gas readings over the seconds since the start of logging"},
    {"DataLogFailureLabel", "Data log file problem", nullptr},
    {"CalBtn", nullptr, "Zero and span calibration"},
    {"CalAbortBtn", nullptr, "Aborts the calibration running in the unit"},
    {"CalProgressBar", "Calibration progress", "Seconds of the span calibration against its longest time"},
    {"CalProgLabel", "Calibration seconds", nullptr},
    {"CalLabel", "Calibration status", "The outcome of the last calibration or command"},
};

}  // namespace

TSensorLogDlg::TSensorLogDlg(TLinkThread& link, const LoadedSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TSensorLogDlg>()),
      FLinkThread(link),
      FProxy(*this, this),
      FWorkflow(FProxy, link.Link(), settings, FClock, FRequests)
{
    accessibility::InstallLabelInterface();
    ui->setupUi(this);
    ApplyLook();
    for (const QString& missing : accessibility::NameControls(this, kAccessibleTexts))
        qWarning("No control %s to name for screen readers", qPrintable(missing));
    ConnectControls();
}

TSensorLogDlg::~TSensorLogDlg()
{
    // The run may still be on its way out (it posts its last calls before
    // it returns); it uses this dialog's requests and view until then.
    while (FLinkThread.Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

TSensorChart* TSensorLogDlg::Chart() const
{
    return ui->SensorChart;
}

void TSensorLogDlg::ApplyLook()
{
    setFont(sensorlook::ArialPixels(13, true));
    QPalette form = palette();
    form.setColor(QPalette::Window, kFormBackground);
    setPalette(form);
    // Client area 692 x 326 at least; the window may grow both ways, and
    // what it gains goes to the chart.
    setMinimumSize(692, 326);
    resize(692, 326);
    setSizeGripEnabled(true);
    ui->MainLayout->setStretchFactor(ui->RightLayout, 1);
    ui->RightLayout->setStretchFactor(ui->SensorChart, 1);

    QPalette caption = palette();
    caption.setColor(QPalette::Window, kCaptionBackground);
    for (QWidget* panel : {static_cast<QWidget*>(ui->SensorCaptionPanel1), static_cast<QWidget*>(ui->SensorCaptionPanel2),
                           static_cast<QWidget*>(ui->SensorCaptionPanel3)}) {
        panel->setPalette(caption);
        panel->setFont(sensorlook::ArialPixels(15, true));
    }
    ui->SensorCheck2->setFont(sensorlook::ArialPixels(15, true));
    ui->SensorCheck3->setFont(sensorlook::ArialPixels(15, true));

    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    for (QLabel* value : {ui->SensorValueLabel1, ui->SensorPeakLabel1, ui->SensorValueLabel2, ui->SensorPeakLabel2,
                          ui->SensorValueLabel3, ui->SensorPeakLabel3}) {
        value->setPalette(white);
        value->setFont(sensorlook::ArialPixels(24, true));
    }
    QPalette red = white;
    red.setColor(QPalette::WindowText, Qt::red);
    ui->SensorPeakLabel1->setPalette(red);

    QPalette failure = palette();
    failure.setColor(QPalette::WindowText, Qt::red);
    ui->DataLogFailureLabel->setPalette(failure);
}

void TSensorLogDlg::ConnectControls()
{
    connect(ui->StartBtn, &QPushButton::clicked, this, &TSensorLogDlg::StartBtnClick);
    connect(ui->StopBtn, &QPushButton::clicked, this, &TSensorLogDlg::StopBtnClick);
    const std::pair<QPushButton*, LogButton> buttons[] = {
        {ui->CalBtn, LogButton::Cal},           {ui->ZeroBtn, LogButton::Zero},
        {ui->SpanBtn, LogButton::Span},         {ui->CalAbortBtn, LogButton::CalAbort},
        {ui->ClearPeakBtn, LogButton::ClearPeak}, {ui->BumpPassBtn, LogButton::BumpPass},
        {ui->BumpFailBtn, LogButton::BumpFail},
    };
    for (const auto& [button, request] : buttons)
        connect(button, &QPushButton::clicked, this, [this, request = request] { FRequests.Press(request); });
    connect(ui->SensorCheck2, &QCheckBox::toggled, this, [this](bool on) { FRequests.SetBatteryWanted(on); });
    connect(ui->SensorCheck3, &QCheckBox::toggled, this, [this](bool on) { FRequests.SetTemperatureWanted(on); });
    FRequests.SetBatteryWanted(ui->SensorCheck2->isChecked());
    FRequests.SetTemperatureWanted(ui->SensorCheck3->isChecked());
}

void TSensorLogDlg::ShowDlg()
{
    FCloseEnable = true;
    FRequests.Stop();
    FRequests.TakeButton();
    exec();
}

void TSensorLogDlg::StartBtnClick()
{
    // Off at once, before the link thread picks the run up, so a second
    // click cannot queue a second run.
    ui->StartBtn->setEnabled(false);
    FCloseEnable = false;
    if (!FLinkThread.Run([this] { RunRecordedLogging(ProcessRecorder(), FWorkflow); })) {
        ui->StartBtn->setEnabled(true);
        FCloseEnable = true;
    }
}

void TSensorLogDlg::StopBtnClick()
{
    FRequests.Stop();
}

bool TSensorLogDlg::FormCloseQuery() const
{
    return FCloseEnable && !FLinkThread.Busy();
}

void TSensorLogDlg::reject()
{
    if (FormCloseQuery())
        QDialog::reject();
}

void TSensorLogDlg::closeEvent(QCloseEvent* event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// ---- ISensorLogView

void TSensorLogDlg::SetRunning(bool running)
{
    FCloseEnable = !running;
    ui->StartBtn->setEnabled(!running);
    ui->StopBtn->setEnabled(running);
}

void TSensorLogDlg::SetCalButtons(bool commands, bool abort)
{
    for (QPushButton* button :
         {ui->CalBtn, ui->ZeroBtn, ui->SpanBtn, ui->ClearPeakBtn, ui->BumpPassBtn, ui->BumpFailBtn})
        button->setEnabled(commands);
    ui->CalAbortBtn->setEnabled(abort);
}

void TSensorLogDlg::SetCalProgressMax(int maximum)
{
    ui->CalProgressBar->setMaximum(maximum);
}

void TSensorLogDlg::SetCalProgress(int position)
{
    ui->CalProgressBar->setValue(std::clamp(position, ui->CalProgressBar->minimum(), ui->CalProgressBar->maximum()));
}

void TSensorLogDlg::SetCalLabel(const QString& text, RColour colour)
{
    QPalette p = ui->CalLabel->palette();
    p.setColor(QPalette::WindowText, sensorlook::ToColor(colour));
    ui->CalLabel->setPalette(p);
    ui->CalLabel->setText(text);
}

void TSensorLogDlg::SetCalProgLabel(const QString& text)
{
    ui->CalProgLabel->setText(text);
}

void TSensorLogDlg::ShowReading(const RReadingDisplay& reading)
{
    ui->SensorValueLabel1->setText(reading.sensorValue);
    ui->SensorPeakLabel1->setText(reading.sensorPeak);
    ui->SensorValueLabel2->setText(reading.batteryValue);
    ui->SensorPeakLabel2->setText(reading.batteryAdc);
    ui->SensorValueLabel3->setText(reading.temperatureValue);
    ui->SensorPeakLabel3->setText(reading.temperatureAdc);
    // History boxes: bits 2..7 of the history byte; alarm boxes: bits 0..4.
    QCheckBox* const history[] = {ui->SensorHistoryCheck1, ui->SensorHistoryCheck2, ui->SensorHistoryCheck3,
                                  ui->SensorHistoryCheck4, ui->SensorHistoryCheck5, ui->SensorHistoryCheck6};
    for (int bit = 0; bit < 6; ++bit)
        history[bit]->setChecked(reading.history & (historybit::kSelfTestFail << bit));
    QCheckBox* const alarm[] = {ui->SensorAlarmCheck1, ui->SensorAlarmCheck2, ui->SensorAlarmCheck3,
                                ui->SensorAlarmCheck4, ui->SensorAlarmCheck5};
    for (int bit = 0; bit < 5; ++bit)
        alarm[bit]->setChecked(reading.alarm & (alarmbit::kTWA << bit));
}

void TSensorLogDlg::ShowChart(const RChartWindow& chart)
{
    ui->SensorChart->SetValueTitle(chart.valueTitle);
    ui->SensorChart->ShowWindow(chart.min, chart.max, chart.increment, chart.points);
}

void TSensorLogDlg::ShowDataLogFailure(const QString& path, int lostRecords)
{
    ui->DataLogFailureLabel->setVisible(lostRecords > 0);
    ui->DataLogFailureLabel->setText(logtext::DataLogFailure(path, lostRecords).replace(QLatin1Char('\r'), QLatin1Char('\n')));
}

std::optional<QString> TSensorLogDlg::AskSaveFile(const RFileRequest& request)
{
    return AskSaveFileName(this, request);
}

void TSensorLogDlg::ShowMessage(BoxIcon icon, const QString& caption, const QString& text)
{
    sensorlook::ShowBox(this, icon, caption, text);
}
