#include "TVarnoIRMainForm.h"

#include <QTabBar>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QSignalBlocker>
#include <QUrl>

#include <limits>

#include "Accessibility.h"
#include "ConfigMapping.h"
#include "CustomerLogo.h"
#include "FieldFilter.h"
#include "FileDialogs.h"
#include "StartUp.h"
#include "TFirmwarePanels.h"
#include "TSensorCalDlg.h"
#include "TSensorLogDlg.h"
#include "ui_TVarnoIRMainForm.h"

namespace {

constexpr int kClockIntervalMs = 1000;
const QColor kFormBackground(244, 244, 244);
const QColor kSpinFocus(0, 255, 0);
const QColor kLinkBlue(0, 0, 255);

// The size the form is drawn for; the trace memo comes on top of it.
constexpr int kPanelMinimumWidth = 500;

QFont ArialPixels(int pixels, bool bold = false)
{
    QFont font;
    // Liberation Sans has Arial's metrics, so the layout holds where Arial
    // itself is not installed.
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QColor ToColor(RColour c)
{
    return QColor(c.r, c.g, c.b);
}

// "\r" is the line break of every message text.
QString ScreenText(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

void SetRange(QDoubleSpinBox* spin, RSpinRange range)
{
    spin->setRange(range.min, range.max);
}

// What the captions of the form do not tell a screen reader: the panels, the
// controls no label names, and what needs more than its caption.
const RAccessibleText kAccessibleTexts[] = {
    {"BodyPanel", "Configuration and communication trace", nullptr},
    {"MainArea", "Configuration", nullptr},
    {"UserScrollBox", "Configuration", nullptr},
    {"UserScrollContents", "Configuration", nullptr},
    {"DevScrollBox", "Configuration pages", nullptr},
    {"DevScrollContents", "Configuration pages", nullptr},
    {"PageControl", "Configuration pages", nullptr},
    {"UserButtonPanel", "Device and file", nullptr},
    {"UserOptButtonPanel", "Device and file", nullptr},
    {"UserToolPanel", "Event log and sensor", nullptr},
    {"FatoryOptButtonPanel", "Factory commands", nullptr},
    {"EtcButtonPanel", "Test outputs and commands", nullptr},
    {"EtcEEPROMButtonPanel", "EEPROM commands", nullptr},
    {"CustomerPanel", "Corvath Instruments", nullptr},
    {"CustomerTextPanel", "Contact", nullptr},
    {"CustomerImage", "Corvath Instruments", "The maker's logo; a click opens the maker's web page"},
    {"CustomerUrlLabel", nullptr, "A click opens a mail to support"},
    {"StatusPanel", "Status bar", nullptr},
    {"StatusLabel", nullptr, "Outcome of the last operation"},
    {"StatusTimeLabel", "Date and time", nullptr},
    {"Memo", "Communication trace", "Every frame sent to the unit and received from it, with its time"},
    // Holds the sensor names behind the sensor type shown; never visible.
    {"UserSensorTypeCombo", "Sensor Type", nullptr},
    {"UserOptMonthLifeSpin", "Life Remaining Months", nullptr},
    {"UserOptDayLifeSpin", "Life Remaining Days", nullptr},
    {"FatoryOptBatteryLimit1Spin", nullptr, "Battery limit for temperatures up to -10 \u2103"},
    {"FatoryOptBatteryLimit2Spin", nullptr, "Battery limit for temperatures from -10 \u2103"},
    {"EtcEEPROMGrid", "EEPROM", "The unit's memory in hexadecimal, one row per address"},
    {"UserFMFileLabel", "Firmware file", "The firmware image loaded"},
    {"UserOptFMFileLabel", "Firmware file", "The firmware image loaded"},
    {"UserFMOpenBtn", nullptr, "Select Firmware Upgrade File"},
    {"UserOptFMOpenBtn", nullptr, "Select Firmware Upgrade File"},
    {"UserFMProgressBar", "Firmware Upgrade progress", "How much of the image the unit has received"},
    {"UserOptFMProgressBar", "Firmware Upgrade progress", "How much of the image the unit has received"},
};

// Whether a key typed into a field, as opposed to moving through the form:
// the serial number field hands the focus on when its tenth character is
// typed, and Tab into a full field must not count as typing it, or Tab
// jumped from the serial number straight to Write Device.
bool TypesText(const QKeyEvent* key)
{
    const QString text = key->text();
    return !text.isEmpty() && text.at(0).isPrint();
}

// The order Tab visits the controls in: reading order, the settings before
// the buttons. The form walks it itself (focusNextPrevChild): Qt 6.4's own
// tab chain loses its way at the page tabs, whose focus sits in the tab
// bar inside the tab widget, and Tab stayed on the tabs.
const char* const kTabOrder[] = {
    "UserHighAlarmSpin", "UserLowAlarmSpin", "UserCalIntervalSpin", "UserBumpIntervalSpin", "UserTestIntervalSpin",
    "UserIDEdit", "UserDispCombo", "UserHideBumpLEDCheck", "UserReadFileBtn", "UserReadDeviceBtn",
    "UserHibernateBtn", "UserWriteFileBtn", "UserWriteDeviceBtn", "UserLogSaveBtn", "UserCalBtn", "UserFMOpenBtn",
    "UserFMUpgradeBtn", "UserFMCancelBtn", "PageControl", "UserOptHWVersionEdit", "UserOptSerialEdit",
    "UserOptMonthLifeSpin", "UserOptDayLifeSpin", "UserOptSensorTypeCombo", "UserOptHighAlarmSpin",
    "UserOptLowAlarmSpin", "UserOptCalIntervalSpin", "UserOptBumpIntervalSpin", "UserOptTestIntervalSpin",
    "UserOptIDEdit", "UserOptDispCombo", "UserOptHideBumpLEDCheck", "UserOptReadFileBtn", "UserOptReadDeviceBtn",
    "UserOptHibernateBtn", "UserOptWriteFileBtn", "UserOptWriteDeviceBtn", "UserOptLogSaveBtn", "UserOptFMOpenBtn",
    "UserOptFMUpgradeBtn", "UserOptFMCancelBtn", "FatoryOptBatteryLimitSpin", "FatoryOptBatteryLimitStartupSpin",
    "FatoryOptBatteryLimit1Spin", "FatoryOptBatteryLimit2Spin", "FactoryOptHibernateCombo", "FatoryOptSpanGasSpin",
    "FatoryOptSensorMaxSpin", "FatoryOptSensorBaseSpin", "FatoryOptDeadZoneSpin", "FatoryOptTempComp1Spin",
    "FatoryOptTempComp2Spin", "FatoryOptTempComp3Spin", "FatoryOptCalBtn", "FatoryOptTurnOffBtn",
    "FatoryOptLogResetBtn", "FatoryOptLogSensorBtn", "EtcFactoryResetBtn", "EtcIdentifyBtn", "EtcBeepONBtn",
    "EtcRLEDONBtn", "EtcLLEDONBtn", "EtcVibratorBtn", "EtcClearPeakBtn", "EtcBumpFailBtn", "EtcBumpPassBtn",
    "EtcEEPROMReadBtn", "EtcEEPROMSaveBtn", "EtcEEPROMGrid", "Memo",
};

}  // namespace

TVarnoIRMainForm::TVarnoIRMainForm(const LoadedSettings& settings, const QString& port, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TVarnoIRMainForm>()),
      FSettings(settings),
      FViewProxy(*this, this),
      FWorkflows(FViewProxy, FLinkThread.Link(), settings),
      FEventLog(FWorkflows)
{
    accessibility::InstallLabelInterface();
    ui->setupUi(this);
    FTestPage = std::make_unique<TTestPage>(*ui, FWorkflows, this);
    setWindowTitle(startup::kWindowCaption);
    ApplyLook();
    ApplyAccessibility();
    FFirmwarePanels = new TFirmwarePanels(this);
    FFirmwareView = std::make_unique<TGuiThreadFirmwareView>(*FFirmwarePanels, this);
    FFirmware = std::make_unique<TFirmwareUpgrade>(FWorkflows, *FFirmwareView);
    // No layout until the first activation.
    ui->UserScrollBox->hide();
    ui->DevScrollBox->hide();

    TimeTimer.setInterval(kClockIntervalMs);
    connect(&TimeTimer, &QTimer::timeout, this, &TVarnoIRMainForm::TimeTimerTimer);
    connect(&FLinkThread, &TLinkThread::Finished, this, &TVarnoIRMainForm::OperationDone);
    connect(&FLinkThread, &TLinkThread::Failed, this,
            [this](const QString& message) { ShowMessage(BoxIcon::Error, startup::kApplicationTitle, message); });
    ConnectButtons();
    SetUpSafeguards();

    FLinkThread.Link().SetDefPort(port.toStdString());
    FWorkflows.FormCreate();
}

TVarnoIRMainForm::~TVarnoIRMainForm()
{
    // An operation still running may be waiting for an answer from this
    // window; let it finish before the window goes.
    while (FLinkThread.Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TVarnoIRMainForm::ApplyLook()
{
    setFont(ArialPixels(13));
    QPalette form = palette();
    form.setColor(QPalette::Window, kFormBackground);
    setPalette(form);

    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    ui->CustomerPanel->setPalette(white);
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->autoFillBackground())
            label->setPalette(white);
    }
    ui->StatusLabel->setFont(ArialPixels(13, true));
    ui->StatusTimeLabel->setFont(ArialPixels(13, true));

    ui->CustomerImage->setPixmap(CustomerLogo());
    ui->CustomerImage->setCursor(Qt::PointingHandCursor);
    ui->CustomerImage->installEventFilter(this);
    QFont link = font();
    link.setUnderline(true);
    ui->CustomerUrlLabel->setFont(link);
    QPalette blue = ui->CustomerUrlLabel->palette();
    blue.setColor(QPalette::WindowText, kLinkBlue);
    ui->CustomerUrlLabel->setPalette(blue);
    ui->CustomerUrlLabel->setCursor(Qt::PointingHandCursor);
    ui->CustomerUrlLabel->installEventFilter(this);

    ui->Memo->setFont(ArialPixels(11));
    ui->Memo->hide();
    ui->PageControl->setStyleSheet(QStringLiteral("QTabBar::tab { width: 140px; height: 24px; }"));

    FTestPage->SetUpGrid(ArialPixels(12));

    for (QAbstractSpinBox* spin : findChildren<QAbstractSpinBox*>())
        spin->installEventFilter(this);
    ui->UserIDEdit->setValidator(new TFieldFilter(FilterUserIDText, ui->UserIDEdit));
    ui->UserOptIDEdit->setValidator(new TFieldFilter(FilterUserIDText, ui->UserOptIDEdit));
    ui->UserOptSerialEdit->setValidator(new TFieldFilter(FilterSerialText, ui->UserOptSerialEdit));
    ui->UserIDEdit->installEventFilter(this);
    ui->UserOptIDEdit->installEventFilter(this);
    ui->UserOptSerialEdit->installEventFilter(this);
    ui->FatoryOptTempComp1Spin->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    ui->FatoryOptTempComp2Spin->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    ui->FatoryOptTempComp3Spin->setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
}

bool TVarnoIRMainForm::focusNextPrevChild(bool next)
{
    QWidget* target = accessibility::NextInTabOrder(FTabOrder, focusWidget(), next);
    if (!target)
        return QWidget::focusNextPrevChild(next);
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

void TVarnoIRMainForm::ApplyAccessibility()
{
    for (const QString& missing : accessibility::NameControls(this, kAccessibleTexts))
        qWarning("No control %s to name for screen readers", qPrintable(missing));
    accessibility::ShowStatusText(ui->StatusLabel, ui->StatusLabel->text());
    accessibility::PressButtonsOnEnter(this);
    for (const char* name : kTabOrder) {
        if (auto* stop = findChild<QWidget*>(QString::fromLatin1(name)))
            FTabOrder.push_back(stop);
        else
            qWarning("No control %s in the tab order", name);
    }
    // The trace is read with the arrow keys as well as the mouse, so a
    // keyboard or screen reader user can go through it and copy from it.
    ui->Memo->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

QList<QPushButton*> TVarnoIRMainForm::DeviceButtons() const
{
    QList<QPushButton*> buttons{
        ui->UserReadFileBtn,     ui->UserReadDeviceBtn,    ui->UserWriteFileBtn,     ui->UserWriteDeviceBtn,
        ui->UserHibernateBtn,    ui->UserLogSaveBtn,       ui->UserCalBtn,           ui->UserFMOpenBtn,
        ui->UserOptReadFileBtn,  ui->UserOptReadDeviceBtn, ui->UserOptWriteFileBtn,  ui->UserOptWriteDeviceBtn,
        ui->UserOptHibernateBtn, ui->UserOptLogSaveBtn,    ui->UserOptFMOpenBtn,     ui->FatoryOptCalBtn,
        ui->FatoryOptTurnOffBtn, ui->FatoryOptLogResetBtn, ui->FatoryOptLogSensorBtn};
    buttons += FTestPage->Buttons();
    return buttons;
}

void TVarnoIRMainForm::ConnectButtons()
{
    TMainWorkflows* w = &FWorkflows;
    const auto bind = [this](QPushButton* button, std::function<void()> work) {
        connect(button, &QPushButton::clicked, this, [this, work] { RunOperation(work); });
    };
    for (QPushButton* b : {ui->UserReadDeviceBtn, ui->UserOptReadDeviceBtn})
        bind(b, [w] { w->UserReadDeviceBtnClick(); });
    for (QPushButton* b : {ui->UserWriteDeviceBtn, ui->UserOptWriteDeviceBtn})
        bind(b, [w] { w->UserWriteDeviceBtnClick(); });
    for (QPushButton* b : {ui->UserHibernateBtn, ui->UserOptHibernateBtn})
        bind(b, [w] { w->UserOptHibernateBtnClick(); });
    for (QPushButton* b : {ui->UserReadFileBtn, ui->UserOptReadFileBtn})
        bind(b, [w] { w->UserReadFileBtnClick(); });
    for (QPushButton* b : {ui->UserWriteFileBtn, ui->UserOptWriteFileBtn})
        bind(b, [w] { w->UserWriteFileBtnClick(); });
    bind(ui->UserCalBtn, [w] { w->UserCalBtnClick(); });
    TEventLogWorkflow* events = &FEventLog;
    for (QPushButton* b : {ui->UserLogSaveBtn, ui->UserOptLogSaveBtn})
        bind(b, [events] { events->UserLogSaveBtnClick(); });
    bind(ui->FatoryOptLogResetBtn, [events] { events->UserLogResetBtnClick(); });
    FFirmwarePanels->Connect(*FFirmware, [this](std::function<void()> work) { RunOperation(std::move(work)); });
    TFactoryTestWorkflows* factory = &FTestPage->Workflows();
    bind(ui->FatoryOptCalBtn, [factory] { factory->FatoryOptCalBtnClick(); });
    bind(ui->FatoryOptTurnOffBtn, [factory] { factory->FatoryOptTurnOffBtnClick(); });
    FTestPage->ConnectButtons(bind);
    bind(ui->FatoryOptLogSensorBtn, [w] { w->FatoryOptLogSensorBtnClick(); });

    connect(ui->UserOptSensorTypeCombo, &QComboBox::activated, this, &TVarnoIRMainForm::UserOptSensorTypeComboChange);
}

void TVarnoIRMainForm::RunOperation(std::function<void()> work)
{
    // One operation at a time: the buttons go grey at once, before the link
    // thread picks the work up, and a click that still slips through finds
    // the link busy and is dropped.
    if (!FLinkThread.Run(std::move(work)))
        return;
    FOperationPending = true;
    SetDeviceButtonsEnabled(false);
}

void TVarnoIRMainForm::OperationDone()
{
    SetDeviceButtonsEnabled(true);
    FOperationPending = false;
    emit OperationFinished();
    if (FClosePending)
        close();
}

void TVarnoIRMainForm::FormActivate()
{
    FWorkflows.FormActivate();
    FFirmware->ReloadRememberedImage();
}

bool TVarnoIRMainForm::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QWidget::event(event);
}

void TVarnoIRMainForm::showEvent(QShowEvent* event)
{
    // Some window managers never activate a window they did not map
    // themselves; the first showing counts as the first activation.
    FormActivate();
    QWidget::showEvent(event);
}

void TVarnoIRMainForm::closeEvent(QCloseEvent* event)
{
    if (FLinkThread.Busy()) {
        // The operation finishes first (it may be waiting for an answer from
        // this window); the window closes as soon as it has. A firmware
        // download is never cut short, and a close asked for during one
        // leaves the trace and the window position as they were.
        FClosePending = true;
        FCloseWithoutSaving = FCloseWithoutSaving || FFirmware->Running();
        event->ignore();
        return;
    }
    if (!ConfirmCloseWithEdits()) {
        event->ignore();
        return;
    }
    if (!FCloseWithoutSaving)
        FWorkflows.FormCloseQuery();
    event->accept();
}

bool TVarnoIRMainForm::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(watched))
            UserHighAlarmSpinEnter(spin);
        break;
    case QEvent::FocusOut:
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(watched))
            UserHighAlarmSpinExit(spin);
        break;
    case QEvent::KeyPress:
        if (watched == ui->UserIDEdit || watched == ui->UserOptIDEdit)
            return UserIDEditKeyPress(static_cast<QLineEdit*>(watched), static_cast<QKeyEvent*>(event));
        break;
    case QEvent::KeyRelease:
        if (watched == ui->UserOptSerialEdit && TypesText(static_cast<QKeyEvent*>(event)))
            UserOptSerialEditKeyUp();
        break;
    case QEvent::MouseButtonRelease:
        if (watched == ui->CustomerImage)
            QDesktopServices::openUrl(QUrl(QString::fromLatin1(customer::kWebPage)));
        else if (watched == ui->CustomerUrlLabel)
            QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + QString::fromLatin1(customer::kSupportMail)));
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void TVarnoIRMainForm::UserOptSensorTypeComboChange(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= FSettings.sensors.size())
        return;
    const RSensorType& sensor = FSettings.sensors[static_cast<std::size_t>(index)];
    for (QDoubleSpinBox* spin : {ui->UserHighAlarmSpin, ui->UserLowAlarmSpin, ui->UserOptHighAlarmSpin,
                                 ui->UserOptLowAlarmSpin})
        SetRange(spin, AlarmRangeFor(sensor));
    for (QDoubleSpinBox* spin : {ui->FatoryOptSpanGasSpin, ui->FatoryOptSensorMaxSpin, ui->FatoryOptSensorBaseSpin,
                                 ui->FatoryOptDeadZoneSpin})
        SetRange(spin, GasRangeFor(sensor));
}

bool TVarnoIRMainForm::UserIDEditKeyPress(QLineEdit* edit, QKeyEvent* key)
{
    const QString text = key->text();
    // Shortcuts, navigation and the editing keys other than the characters
    // themselves are the edit's business.
    if (text.isEmpty() || !text.at(0).isPrint() || (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
        return false;
    if (!AcceptUserIDKey(text.at(0)))
        return true;
    // The unit shows capitals only.
    edit->insert(text.toUpper());
    return true;
}

void TVarnoIRMainForm::UserOptSerialEditKeyUp()
{
    if (SerialEntryComplete(ui->UserOptSerialEdit->cursorPosition()))
        ui->UserOptWriteDeviceBtn->setFocus();
}

void TVarnoIRMainForm::UserHighAlarmSpinEnter(QAbstractSpinBox* spin)
{
    QPalette p = spin->palette();
    p.setColor(QPalette::Base, kSpinFocus);
    spin->setPalette(p);
}

void TVarnoIRMainForm::UserHighAlarmSpinExit(QAbstractSpinBox* spin)
{
    QPalette p = spin->palette();
    p.setColor(QPalette::Base, QApplication::palette(spin).color(QPalette::Base));
    spin->setPalette(p);
}

void TVarnoIRMainForm::TimeTimerTimer()
{
    ui->StatusTimeLabel->setText(ClockText(QDateTime::currentDateTime()));
}

// ---- IMainView

void TVarnoIRMainForm::PaintStatus(RColour background, RColour font, const QString& text)
{
    QPalette p = ui->StatusLabel->palette();
    p.setColor(QPalette::Window, ToColor(background));
    p.setColor(QPalette::WindowText, ToColor(font));
    ui->StatusLabel->setPalette(p);
    accessibility::ShowStatusText(ui->StatusLabel, text);
}

void TVarnoIRMainForm::ShowMessage(BoxIcon icon, const QString& caption, const QString& text)
{
    QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::Information, caption,
                    ScreenText(text), QMessageBox::Ok, this);
    box.exec();
}

void TVarnoIRMainForm::ShowDetailedMessage(BoxIcon icon, const QString& caption, const QString& text,
                                           const QString& details)
{
    QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::Information, caption,
                    ScreenText(text), QMessageBox::Ok, this);
    box.setDetailedText(details);
    box.exec();
}

bool TVarnoIRMainForm::AskYesNo(const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Question, caption, ScreenText(text), QMessageBox::Yes | QMessageBox::No, this);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> TVarnoIRMainForm::AskOpenFile(const RFileRequest& request)
{
    return AskOpenFileName(this, request);
}

std::optional<QString> TVarnoIRMainForm::AskSaveFile(const RFileRequest& request)
{
    return AskSaveFileName(this, request);
}

void TVarnoIRMainForm::SetFormValues(const RFormValues& v)
{
    // The sensor combo's change handler must not see the filling.
    ui->UserOptSensorTypeCombo->setEnabled(false);
    const QSignalBlocker blockOpt(ui->UserOptSensorTypeCombo);
    const QSignalBlocker blockUser(ui->UserSensorTypeCombo);
    for (QDoubleSpinBox* spin : {ui->UserHighAlarmSpin, ui->UserLowAlarmSpin, ui->UserOptHighAlarmSpin,
                                 ui->UserOptLowAlarmSpin})
        SetRange(spin, v.alarmRange);
    for (QDoubleSpinBox* spin : {ui->FatoryOptSpanGasSpin, ui->FatoryOptSensorMaxSpin, ui->FatoryOptSensorBaseSpin,
                                 ui->FatoryOptDeadZoneSpin})
        SetRange(spin, v.gasRange);

    const RConfigControls& u = v.user;
    ui->UserHWVersionLabel->setText(u.hwVersion);
    ui->UserSWVersionLabel->setText(u.fwVersion);
    ui->UserSerialLabel->setText(u.serial);
    ui->UserLifeLabel->setText(u.lifeText);
    ui->UserSensorTypeCombo->setCurrentIndex(u.sensorItem);
    ui->UserSensorTypeLabel->setText(u.sensorName);
    ui->UserHighAlarmSpin->setValue(u.alarmHigh);
    ui->UserLowAlarmSpin->setValue(u.alarmLow);
    ui->UserCalIntervalSpin->setValue(static_cast<int>(u.calIntervalDays));
    ui->UserBumpIntervalSpin->setValue(u.bumpIntervalDays);
    ui->UserIDEdit->setText(u.userID);
    ui->UserTestIntervalSpin->setValue(u.testIntervalHours);
    ui->UserDispCombo->setCurrentIndex(u.displayItem);
    ui->UserHideBumpLEDCheck->setChecked(u.hideBumpLed);

    const RConfigControls& o = v.opt;
    ui->UserOptHWVersionEdit->setText(o.hwVersion);
    ui->UserOptSWVersionLabel->setText(o.fwVersion);
    ui->UserOptSerialEdit->setText(o.serial);
    ui->UserOptMonthLifeSpin->setValue(o.lifeMonths);
    ui->UserOptDayLifeSpin->setValue(o.lifeDays);
    ui->UserOptSensorTypeCombo->setCurrentIndex(o.sensorItem);
    ui->UserOptHighAlarmSpin->setValue(o.alarmHigh);
    ui->UserOptLowAlarmSpin->setValue(o.alarmLow);
    ui->UserOptCalIntervalSpin->setValue(static_cast<int>(o.calIntervalDays));
    ui->UserOptBumpIntervalSpin->setValue(o.bumpIntervalDays);
    ui->UserOptIDEdit->setText(o.userID);
    ui->UserOptTestIntervalSpin->setValue(o.testIntervalHours);
    ui->UserOptDispCombo->setCurrentIndex(o.displayItem);
    ui->UserOptHideBumpLEDCheck->setChecked(o.hideBumpLed);

    const RFactoryControls& f = v.factory;
    ui->FatoryOptBatteryLimitSpin->setValue(f.batteryCritical);
    ui->FatoryOptBatteryLimitStartupSpin->setValue(f.batteryStartup);
    ui->FatoryOptBatteryLimit1Spin->setValue(f.batteryCold);
    ui->FatoryOptBatteryLimit2Spin->setValue(f.batteryWarm);
    ui->FatoryOptAlarmTimeLabel->setText(f.alarmTime);
    ui->FatoryOptAlarmCountLabel->setText(f.alarmCount);
    ui->FatoryOptTestTimeLabel->setText(f.testTime);
    ui->FatoryOptTestCountLabel->setText(f.testCount);
    ui->FactoryOptHibernateCombo->setCurrentIndex(f.hibernateItem);
    ui->FatoryOptSpanGasSpin->setValue(f.spanGas);
    ui->FatoryOptSensorMaxSpin->setValue(f.sensorMax);
    ui->FatoryOptSensorBaseSpin->setValue(f.sensorBase);
    ui->FatoryOptDeadZoneSpin->setValue(f.deadZone);
    ui->FatoryOptTempComp1Spin->setValue(f.tempComp[0]);
    ui->FatoryOptTempComp2Spin->setValue(f.tempComp[1]);
    ui->FatoryOptTempComp3Spin->setValue(f.tempComp[2]);
    ui->FatoryOptZeroLabel->setText(f.zero);
    ui->FatoryOptSpanLabel->setText(f.span);
    ui->FatoryOptMinSpanLabel->setText(f.minSpan);
    ui->FatoryOptTauLabel->setText(f.tau);
    ui->FatoryOptLastCalLabel->setText(f.lastCal);
    ui->FatoryOptPeakTimerLabel->setText(f.peakTimer);
    ui->FatoryOptLastBumpTimerLabel->setText(f.lastBump);
    ui->UserOptSensorTypeCombo->setEnabled(true);
}

RFormValues TVarnoIRMainForm::FormValues()
{
    RFormValues v;
    v.alarmRange = {ui->UserHighAlarmSpin->minimum(), ui->UserHighAlarmSpin->maximum()};
    v.gasRange = {ui->FatoryOptSpanGasSpin->minimum(), ui->FatoryOptSpanGasSpin->maximum()};

    RConfigControls& u = v.user;
    u.hwVersion = ui->UserHWVersionLabel->text();
    u.fwVersion = ui->UserSWVersionLabel->text();
    u.serial = ui->UserSerialLabel->text();
    u.lifeText = ui->UserLifeLabel->text();
    u.sensorItem = ui->UserSensorTypeCombo->currentIndex();
    u.sensorName = ui->UserSensorTypeLabel->text();
    u.alarmHigh = ui->UserHighAlarmSpin->value();
    u.alarmLow = ui->UserLowAlarmSpin->value();
    u.calIntervalDays = ui->UserCalIntervalSpin->value();
    u.bumpIntervalDays = ui->UserBumpIntervalSpin->value();
    u.userID = ui->UserIDEdit->text();
    u.testIntervalHours = ui->UserTestIntervalSpin->value();
    u.displayItem = ui->UserDispCombo->currentIndex();
    u.hideBumpLed = ui->UserHideBumpLEDCheck->isChecked();

    RConfigControls& o = v.opt;
    o.hwVersion = ui->UserOptHWVersionEdit->text();
    o.fwVersion = ui->UserOptSWVersionLabel->text();
    o.serial = ui->UserOptSerialEdit->text();
    o.lifeMonths = ui->UserOptMonthLifeSpin->value();
    o.lifeDays = ui->UserOptDayLifeSpin->value();
    o.sensorItem = ui->UserOptSensorTypeCombo->currentIndex();
    o.sensorName = ui->UserOptSensorTypeCombo->currentText();
    o.alarmHigh = ui->UserOptHighAlarmSpin->value();
    o.alarmLow = ui->UserOptLowAlarmSpin->value();
    o.calIntervalDays = ui->UserOptCalIntervalSpin->value();
    o.bumpIntervalDays = ui->UserOptBumpIntervalSpin->value();
    o.userID = ui->UserOptIDEdit->text();
    o.testIntervalHours = ui->UserOptTestIntervalSpin->value();
    o.displayItem = ui->UserOptDispCombo->currentIndex();
    o.hideBumpLed = ui->UserOptHideBumpLEDCheck->isChecked();

    RFactoryControls& f = v.factory;
    f.batteryCritical = ui->FatoryOptBatteryLimitSpin->value();
    f.batteryStartup = ui->FatoryOptBatteryLimitStartupSpin->value();
    f.batteryCold = ui->FatoryOptBatteryLimit1Spin->value();
    f.batteryWarm = ui->FatoryOptBatteryLimit2Spin->value();
    f.alarmTime = ui->FatoryOptAlarmTimeLabel->text();
    f.alarmCount = ui->FatoryOptAlarmCountLabel->text();
    f.testTime = ui->FatoryOptTestTimeLabel->text();
    f.testCount = ui->FatoryOptTestCountLabel->text();
    f.hibernateItem = ui->FactoryOptHibernateCombo->currentIndex();
    f.spanGas = ui->FatoryOptSpanGasSpin->value();
    f.sensorMax = ui->FatoryOptSensorMaxSpin->value();
    f.sensorBase = ui->FatoryOptSensorBaseSpin->value();
    f.deadZone = ui->FatoryOptDeadZoneSpin->value();
    f.tempComp = {ui->FatoryOptTempComp1Spin->value(), ui->FatoryOptTempComp2Spin->value(),
                  ui->FatoryOptTempComp3Spin->value()};
    f.zero = ui->FatoryOptZeroLabel->text();
    f.span = ui->FatoryOptSpanLabel->text();
    f.minSpan = ui->FatoryOptMinSpanLabel->text();
    f.tau = ui->FatoryOptTauLabel->text();
    f.lastCal = ui->FatoryOptLastCalLabel->text();
    f.peakTimer = ui->FatoryOptPeakTimerLabel->text();
    f.lastBump = ui->FatoryOptLastBumpTimerLabel->text();
    return v;
}

void TVarnoIRMainForm::SetLifeSpins(int months, int days)
{
    ui->UserOptMonthLifeSpin->setValue(months);
    ui->UserOptDayLifeSpin->setValue(days);
}

void TVarnoIRMainForm::SetModelName(const QString& name)
{
    ui->UserOptIDLabel->setText(name);
}

void TVarnoIRMainForm::RefillSerialEdit(const QString& serial)
{
    ui->UserOptSerialEdit->setText(serial);
    ui->UserOptSerialEdit->setFocus();
    ui->UserOptSerialEdit->selectAll();
}

void TVarnoIRMainForm::SetDeviceButtonsEnabled(bool enabled)
{
    const QList<QPushButton*> buttons = DeviceButtons();
    if (!enabled) {
        // Disabling the focused button would pass the focus down the chain,
        // and the scroll box would jump to show whichever control took it.
        // Park the focus instead and give it back when the operation ends.
        // (The buttons are turned off twice per operation, at the click and
        // by the workflow; the second call finds nothing focused.)
        QWidget* focused = QApplication::focusWidget();
        for (QPushButton* button : buttons) {
            if (button == focused) {
                FFocusBeforeOperation = button;
                button->clearFocus();
            }
        }
    }
    for (QPushButton* button : buttons)
        button->setEnabled(enabled);
    FFirmwarePanels->SetLinkBusy(!enabled);
    // Unless the user has moved on to another control meanwhile.
    QWidget* focusNow = QApplication::focusWidget();
    if (enabled && FFocusBeforeOperation && (!focusNow || focusNow == this || !isAncestorOf(focusNow)))
        FFocusBeforeOperation->setFocus(Qt::OtherFocusReason);
    if (enabled)
        FFocusBeforeOperation = nullptr;
}

void TVarnoIRMainForm::AppendTrace(const QString& line)
{
    FTraceLines << line;
    ui->Memo->appendPlainText(line);
}

QStringList TVarnoIRMainForm::TraceLines()
{
    return FTraceLines;
}

void TVarnoIRMainForm::SetTraceVisible(bool visible)
{
    ui->Memo->setVisible(visible);
    // The memo sits beside the panel, not over it: without room for both the
    // factory pages lose their tabs and edits. A saved width larger than
    // this still wins.
    const int traceWidth = visible ? ui->Memo->minimumWidth() + ui->BodyPanelLayout->spacing() : 0;
    setMinimumWidth(kPanelMinimumWidth + traceWidth);
}

void TVarnoIRMainForm::SetSensorNames(const QStringList& names)
{
    const QSignalBlocker blockOpt(ui->UserOptSensorTypeCombo);
    const QSignalBlocker blockUser(ui->UserSensorTypeCombo);
    ui->UserOptSensorTypeCombo->clear();
    ui->UserSensorTypeCombo->clear();
    ui->UserOptSensorTypeCombo->addItems(names);
    ui->UserSensorTypeCombo->addItems(names);
}

void TVarnoIRMainForm::PrepareEepromGrid(const QStringList& rowAddresses)
{
    FTestPage->PrepareEepromGrid(rowAddresses);
}

void TVarnoIRMainForm::ApplyLayout(bool factoryMode)
{
    ui->UserScrollBox->setVisible(!factoryMode);
    ui->DevScrollBox->setVisible(factoryMode);
    if (factoryMode)
        ui->PageControl->setCurrentIndex(0);
}

// Both ways in the window's own area, without the frame a window manager
// adds: x() and y() give the frame's corner, while a move() made before the
// manager has told its frame size places the window's own area there, so a
// saved frame corner moved the window by the title bar at every start.
void TVarnoIRMainForm::SetWindowGeometry(const WindowGeometry& geometry)
{
    setGeometry(geometry.left, geometry.top, geometry.width, geometry.height);
}

WindowGeometry TVarnoIRMainForm::CurrentWindowGeometry()
{
    const QRect area = geometry();
    return {area.width(), area.height(), area.x(), area.y()};
}

void TVarnoIRMainForm::StartClock()
{
    TimeTimerTimer();
    TimeTimer.start();
}

// ---- Sensor tools

void TVarnoIRMainForm::WaitForLinkThread()
{
    // The request comes from the end of an operation that has not quite
    // returned yet; the dialog's own operations need the link thread free.
    while (FLinkThread.Busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TVarnoIRMainForm::OpenSensorLogDialog()
{
    WaitForLinkThread();
    TSensorLogDlg dialog(FLinkThread, FSettings, this);
    dialog.ShowDlg();
}

void TVarnoIRMainForm::OpenSensorCalDialog(const RZELCFG& cfg)
{
    WaitForLinkThread();
    TSensorCalDlg dialog(FLinkThread, FSettings, this);
    dialog.SetUnit(FWorkflows.LastIdentity());
    dialog.ShowDlg(cfg);
}
