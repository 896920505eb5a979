#include "ProductionWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum Column { kPort, kSerial, kStep, kProgress, kResult, kTime, kColumns };

const QColor kPassed(0x1B, 0x7F, 0x3B);
const QColor kFailed(0xC6, 0x28, 0x28);

QString Seconds(qint64 ms)
{
    return QStringLiteral("%1 s").arg(ms / 1000.0, 0, 'f', 1);
}

}  // namespace

// Hands each report to the GUI thread; the window may be gone by then only
// if the line is, and the line outlives every report it sends.
class TProductionWindow::TReport final : public IProductionReport {
public:
    explicit TReport(TProductionWindow& window) : FWindow(window) {}
    void StepStarted(int station, const QString& serial, const QString& step, int percent) override
    {
        QMetaObject::invokeMethod(&FWindow, [=, this] { FWindow.StepStarted(station, serial, step, percent); },
                                  Qt::QueuedConnection);
    }
    void UnitEnded(const RUnitOutcome& outcome) override
    {
        QMetaObject::invokeMethod(&FWindow, [=, this] { FWindow.UnitEnded(outcome); }, Qt::QueuedConnection);
    }
    void StationEnded(int station) override
    {
        QMetaObject::invokeMethod(&FWindow, [=, this] { FWindow.StationEnded(station); }, Qt::QueuedConnection);
    }

private:
    TProductionWindow& FWindow;
};

TProductionWindow::TProductionWindow(const LoadedSettings& settings, RecorderFactory makeRecorder, QWidget* parent)
    : QWidget(parent, Qt::Window),
      FSettings(settings),
      FMakeRecorder(std::move(makeRecorder)),
      FReport(std::make_unique<TReport>(*this))
{
    setObjectName(QStringLiteral("ProductionWindow"));
    setWindowTitle(settings.factoryMode ? QStringLiteral("Production - factory mode")
                                        : QStringLiteral("Production - user settings"));
    BuildControls();
    FClock.setInterval(500);
    connect(&FClock, &QTimer::timeout, this, &TProductionWindow::RefreshTimes);
    SetRunning(false);
    resize(860, 420);
}

TProductionWindow::~TProductionWindow()
{
    // Only reached once the line has ended (see closeEvent) or was never
    // started; ending it here waits at most for the units under way.
    if (FLine)
        FLine->Stop();
    FLine.reset();
}

void TProductionWindow::BuildControls()
{
    const auto named = [](QWidget* widget, const char* objectName, const QString& accessible) {
        widget->setObjectName(QLatin1String(objectName));
        widget->setAccessibleName(accessible);
        return widget;
    };
    auto* form = new QFormLayout;
    FTemplate = new QLineEdit(this);
    named(FTemplate, "TemplateEdit", QStringLiteral("Template configuration file"));
    FTemplate->setPlaceholderText(QStringLiteral("a .cfg file saved with Write File"));
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
    named(browse, "TemplateBrowseBtn", QStringLiteral("Browse for the template"));
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Template configuration file"),
                                                          QString::fromStdString(FSettings.programDir),
                                                          QStringLiteral("configuration file (*.cfg)"));
        if (!path.isEmpty())
            FTemplate->setText(path);
    });
    auto* templateRow = new QHBoxLayout;
    templateRow->addWidget(FTemplate, 1);
    templateRow->addWidget(browse);
    auto* templateLabel = new QLabel(QStringLiteral("&Template:"), this);
    templateLabel->setBuddy(FTemplate);
    form->addRow(templateLabel, templateRow);

    FPorts = new QLineEdit(this);
    named(FPorts, "PortsEdit", QStringLiteral("Adapter ports"));
    FPorts->setPlaceholderText(QStringLiteral("every adapter found; or ports separated by blanks"));
    auto* portsLabel = new QLabel(QStringLiteral("&Adapters:"), this);
    portsLabel->setBuddy(FPorts);
    form->addRow(portsLabel, FPorts);

    FSaveLog = new QCheckBox(QStringLiteral("Save each unit's &event log first, to"), this);
    named(FSaveLog, "SaveLogCheck", QStringLiteral("Save each unit's event log first"));
    FLogDir = new QLineEdit(QString::fromStdString(FSettings.cfg.mEVENTSaveDir), this);
    named(FLogDir, "LogDirEdit", QStringLiteral("Folder for the event logs"));
    auto* logRow = new QHBoxLayout;
    logRow->addWidget(FSaveLog);
    logRow->addWidget(FLogDir, 1);
    form->addRow(QString(), logRow);

    FClearLog = new QCheckBox(QStringLiteral("&Clear the event log after writing"), this);
    named(FClearLog, "ClearLogCheck", QStringLiteral("Clear the event log after writing"));
    FClearLog->setVisible(FSettings.factoryMode);
    FOnce = new QCheckBox(QStringLiteral("&One unit per adapter"), this);
    named(FOnce, "OnceCheck", QStringLiteral("One unit per adapter"));
    auto* optionRow = new QHBoxLayout;
    optionRow->addWidget(FClearLog);
    optionRow->addWidget(FOnce);
    optionRow->addStretch(1);
    form->addRow(QString(), optionRow);

    FTable = new QTableWidget(0, kColumns, this);
    named(FTable, "StationTable", QStringLiteral("Adapters and their units"));
    FTable->setHorizontalHeaderLabels(
        {QStringLiteral("Port"), QStringLiteral("Unit serial"), QStringLiteral("Step"), QStringLiteral("Progress"),
         QStringLiteral("Result"), QStringLiteral("Time")});
    FTable->verticalHeader()->hide();
    FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTable->setAlternatingRowColors(true);
    FTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    FTable->horizontalHeader()->setSectionResizeMode(kResult, QHeaderView::Stretch);
    // Ports differ at their end (/dev/ttyUSB0, /dev/ttyUSB1): long ones lose
    // their middle, never their number.
    FTable->horizontalHeader()->setSectionResizeMode(kPort, QHeaderView::Interactive);
    FTable->setColumnWidth(kPort, 170);
    FTable->setTextElideMode(Qt::ElideMiddle);
    FTable->setWordWrap(false);
    FTable->verticalHeader()->setDefaultSectionSize(30);

    FTotals = new QLabel(this);
    named(FTotals, "TotalsLabel", QStringLiteral("Totals"));
    QFont big = FTotals->font();
    big.setPointSizeF(big.pointSizeF() * 1.25);
    big.setBold(true);
    FTotals->setFont(big);
    FProblem = new QLabel(this);
    named(FProblem, "ProblemLabel", QStringLiteral("Problem"));
    FProblem->setStyleSheet(QStringLiteral("color: #C62828"));
    FProblem->setWordWrap(true);

    FStart = new QPushButton(QStringLiteral("&Start"), this);
    named(FStart, "StartBtn", QStringLiteral("Start"));
    FStart->setToolTip(QStringLiteral("Start the line (Ctrl+Return)"));
    FStop = new QPushButton(QStringLiteral("S&top"), this);
    named(FStop, "StopBtn", QStringLiteral("Stop after the current units"));
    FStop->setToolTip(QStringLiteral("Stop after each adapter's current unit (Esc); no write is cut short"));
    connect(FStart, &QPushButton::clicked, this, &TProductionWindow::Start);
    connect(FStop, &QPushButton::clicked, this, &TProductionWindow::Stop);
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), this, [this] { Start(); });
    new QShortcut(QKeySequence(Qt::Key_Escape), this, [this] { Stop(); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(FTotals, 1);
    buttons->addWidget(FStart);
    buttons->addWidget(FStop);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(FTable, 1);
    layout->addWidget(FProblem);
    layout->addLayout(buttons);
    setTabOrder(FTemplate, browse);
    setTabOrder(browse, FPorts);
    FTotals->setText(QStringLiteral("Units done 0   Failed 0   0 per hour"));
}

void TProductionWindow::SetRunning(bool running)
{
    FStart->setEnabled(!running);
    FStop->setEnabled(running);
    for (QWidget* input : std::initializer_list<QWidget*>{FTemplate, FPorts, FSaveLog, FLogDir, FClearLog, FOnce})
        input->setEnabled(!running);
    if (running)
        FClock.start();
    else
        FClock.stop();
}

void TProductionWindow::ShowProblem(const QString& text)
{
    FProblem->setText(text);
    FProblem->setAccessibleName(text.isEmpty() ? QStringLiteral("Problem") : text);
}

void TProductionWindow::Start()
{
    if (FLine)
        return;
    ShowProblem(QString());
    RProductionPlan plan;
    QString error;
    if (FTemplate->text().trimmed().isEmpty()) {
        ShowProblem(QStringLiteral("Choose the template configuration file first."));
        FTemplate->setFocus();
        return;
    }
    if (!LoadProductionTemplate(FTemplate->text().trimmed(), plan, error)) {
        ShowProblem(error);
        FTemplate->setFocus();
        return;
    }
    plan.factoryMode = FSettings.factoryMode;
    plan.saveLogDir = FSaveLog->isChecked() ? FLogDir->text().trimmed() : QString();
    plan.clearLog = FSettings.factoryMode && FClearLog->isChecked();
    plan.once = FOnce->isChecked();
    plan.makeRecorder = FMakeRecorder;
    std::vector<std::string> ports;
    for (const QString& port : FPorts->text().split(QLatin1Char(' '), Qt::SkipEmptyParts))
        ports.push_back(port.toStdString());
    if (ports.empty())
        ports = AllAdapterPorts();
    if (ports.empty()) {
        ShowProblem(QStringLiteral("No adapter found: plug the adapters in, or name their ports."));
        return;
    }
    FTable->setRowCount(static_cast<int>(ports.size()));
    FUnitClocks.assign(ports.size(), QElapsedTimer());
    for (int row = 0; row < static_cast<int>(ports.size()); ++row) {
        auto* port = new QTableWidgetItem(QString::fromStdString(ports[static_cast<std::size_t>(row)]));
        port->setToolTip(port->text());
        FTable->setItem(row, kPort, port);
        for (int column : {kSerial, kStep, kResult, kTime})
            FTable->setItem(row, column, new QTableWidgetItem);
        auto* bar = new QProgressBar(FTable);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setAlignment(Qt::AlignCenter);
        bar->setAccessibleName(QStringLiteral("Progress of %1").arg(QString::fromStdString(ports[static_cast<std::size_t>(row)])));
        FTable->setCellWidget(row, kProgress, bar);
    }
    FDone = FFailed = 0;
    FSinceStart.start();
    FStationsRunning = static_cast<int>(ports.size());
    FLine = std::make_unique<TProductionLine>(std::move(plan), FSettings, *FReport);
    FLine->Start(ports);
    SetRunning(true);
    RefreshTimes();
    FStop->setFocus();
}

void TProductionWindow::Stop()
{
    if (!FLine)
        return;
    FLine->Stop();
    FStop->setEnabled(false);
    ShowProblem(QString());
    FProblem->setText(QStringLiteral("Stopping after the units under way..."));
}

void TProductionWindow::StepStarted(int station, const QString& serial, const QString& step, int percent)
{
    if (station >= FTable->rowCount())
        return;
    if (step == prodstep::kWaiting) {
        FTable->item(station, kStep)->setText(step);
        static_cast<QProgressBar*>(FTable->cellWidget(station, kProgress))->setValue(0);
        FUnitClocks[static_cast<std::size_t>(station)].invalidate();
        return;
    }
    if (step == prodstep::kRead) {
        FUnitClocks[static_cast<std::size_t>(station)].start();
        FTable->item(station, kResult)->setText(QString());
        FTable->item(station, kResult)->setToolTip(QString());
        static_cast<QProgressBar*>(FTable->cellWidget(station, kProgress))->setFormat(QStringLiteral("%p%"));
    }
    FTable->item(station, kSerial)->setText(serial);
    FTable->item(station, kStep)->setText(step);
    static_cast<QProgressBar*>(FTable->cellWidget(station, kProgress))->setValue(percent);
}

void TProductionWindow::UnitEnded(const RUnitOutcome& outcome)
{
    const int row = outcome.station;
    if (row >= FTable->rowCount())
        return;
    (outcome.passed ? FDone : FFailed) += 1;
    FUnitClocks[static_cast<std::size_t>(row)].invalidate();
    QTableWidgetItem* result = FTable->item(row, kResult);
    // The step has its own column: the result keeps to why, without the
    // operation's name that the failure text starts with.
    const QString why = outcome.statusText.section(QStringLiteral(": "), outcome.statusText.contains(QStringLiteral(": ")) ? 1 : 0);
    result->setText(outcome.passed ? QStringLiteral("Passed")
                                   : QStringLiteral("Failed, status %1: %2").arg(outcome.status).arg(why));
    result->setToolTip(outcome.passed ? result->text()
                                      : QStringLiteral("Failed at %1 (status %2): %3")
                                            .arg(outcome.step)
                                            .arg(outcome.status)
                                            .arg(outcome.statusText));
    result->setForeground(outcome.passed ? kPassed : kFailed);
    QFont font = result->font();
    font.setBold(true);
    result->setFont(font);
    FTable->item(row, kStep)->setText(outcome.passed ? prodstep::kDone : outcome.step);
    FTable->item(row, kTime)->setText(Seconds(outcome.elapsedMs));
    auto* bar = static_cast<QProgressBar*>(FTable->cellWidget(row, kProgress));
    if (outcome.passed)
        bar->setValue(100);
    bar->setFormat(outcome.passed ? QStringLiteral("%p%") : QStringLiteral("failed"));
    RefreshTimes();
}

void TProductionWindow::StationEnded(int station)
{
    if (station < FTable->rowCount() && !FTable->item(station, kResult)->text().isEmpty() &&
        FTable->item(station, kStep)->text() == prodstep::kWaiting)
        FTable->item(station, kStep)->setText(prodstep::kStopped);
    if (--FStationsRunning > 0)
        return;
    FLine.reset();  // every station has ended: nothing to wait for
    SetRunning(false);
    RefreshTimes();
    FProblem->setText(QString());
    emit LineEnded();
    if (FCloseWhenEnded)
        close();
}

void TProductionWindow::RefreshTimes()
{
    for (int row = 0; row < FTable->rowCount(); ++row)
        if (FUnitClocks[static_cast<std::size_t>(row)].isValid())
            FTable->item(row, kTime)->setText(Seconds(FUnitClocks[static_cast<std::size_t>(row)].elapsed()));
    const RProductionTotals totals = TotalsOf(FDone, FFailed, FSinceStart.isValid() ? FSinceStart.elapsed() : 0);
    FTotals->setText(QStringLiteral("Units done %1   Failed %2   %3 per hour")
                         .arg(totals.done)
                         .arg(totals.failed)
                         .arg(totals.perHour, 0, 'f', 0));
    FTotals->setAccessibleName(FTotals->text());
}

void TProductionWindow::closeEvent(QCloseEvent* event)
{
    // The units under way are finished first; the window closes then.
    if (FLine) {
        FCloseWhenEnded = true;
        Stop();
        event->ignore();
        return;
    }
    event->accept();
}
