#pragma once
// The main window: the widgets of both layouts (TVarnoIRMainForm.ui) and the
// IMainView that the workflows talk to. It decides nothing itself: every
// button hands its work to TMainWorkflows on the link thread, and every
// value shown comes from there.
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "DeviceSettings.h"
#include "EventLogWorkflow.h"
#include "FirmwareUpgrade.h"
#include "GuiThreadFirmwareView.h"
#include "GuiThreadView.h"
#include "LinkThread.h"
#include "MainView.h"
#include "MainWorkflows.h"
#include "TestPage.h"

namespace Ui {
class TVarnoIRMainForm;
}

class QAbstractSpinBox;
class QLabel;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class TFirmwarePanels;

class TVarnoIRMainForm : public QWidget, public IMainView {
    Q_OBJECT

public:
    // `settings` must outlive the window. `port` is the serial device to use
    // instead of searching for the adapter (empty: search).
    TVarnoIRMainForm(const LoadedSettings& settings, const QString& port, QWidget* parent = nullptr);
    ~TVarnoIRMainForm() override;

    // First-activation work; later calls do nothing.
    void FormActivate();
    // Until the window has taken the end of an operation back (its buttons
    // on again), not only until the link thread is free: in between, a key
    // or a click would still find the buttons grey.
    bool OperationRunning() const { return FLinkThread.Busy() || FOperationPending; }

    // IMainView, on the GUI thread.
    void PaintStatus(RColour background, RColour font, const QString& text) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override;
    void ShowDetailedMessage(BoxIcon icon, const QString& caption, const QString& text,
                             const QString& details) override;
    bool AskYesNo(const QString& caption, const QString& text) override;
    bool AskYesNoDefaultNo(const QString& caption, const QString& text) override;
    void ShowUnitLine(const TUnitLine& line) override;
    std::optional<QString> AskOpenFile(const RFileRequest& request) override;
    std::optional<QString> AskSaveFile(const RFileRequest& request) override;
    void SetFormValues(const RFormValues& values) override;
    RFormValues FormValues() override;
    void SetLifeSpins(int months, int days) override;
    void SetModelName(const QString& name) override;
    void RefillSerialEdit(const QString& serial) override;
    void SetDeviceButtonsEnabled(bool enabled) override;
    void AppendTrace(const QString& line) override;
    QStringList TraceLines() override;
    void SetTraceVisible(bool visible) override;
    void SetSensorNames(const QStringList& names) override;
    void PrepareEepromGrid(const QStringList& rowAddresses) override;
    void ApplyLayout(bool factoryMode) override;
    void SetWindowGeometry(const WindowGeometry& geometry) override;
    WindowGeometry CurrentWindowGeometry() override;
    void StartClock() override;
    // The sensor tools: each dialog for one modal showing.
    void OpenSensorLogDialog() override;
    void OpenSensorCalDialog(const RZELCFG& cfg) override;

signals:
    // An operation started from a button has ended (the link is free again).
    void OperationFinished();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void ApplyLook();
    void ApplyAccessibility();
    void ConnectButtons();
    void RunOperation(std::function<void()> work);
    void OperationDone();
    void WaitForLinkThread();
    QList<QPushButton*> DeviceButtons() const;
    QPushButton* FFocusBeforeOperation = nullptr;

    // The unit line, the greyed values, the wheel and focus guards
    // (FormSafeguards.cpp).
    void SetUpSafeguards();
    void RefreshUnitLine();
    void GreyValues(bool greyed);
    bool ConfirmCloseWithEdits();
    QLabel* FUnitLineLabel = nullptr;
    TUnitLine FShownUnit;

    // Control handlers.
    void UserOptSensorTypeComboChange(int index);
    bool UserIDEditKeyPress(QLineEdit* edit, QKeyEvent* key);
    void UserOptSerialEditKeyUp();
    void UserHighAlarmSpinEnter(QAbstractSpinBox* spin);
    void UserHighAlarmSpinExit(QAbstractSpinBox* spin);
    void TimeTimerTimer();

    std::unique_ptr<Ui::TVarnoIRMainForm> ui;
    const LoadedSettings& FSettings;
    TLinkThread FLinkThread;
    TGuiThreadView FViewProxy;
    TMainWorkflows FWorkflows;
    std::unique_ptr<TTestPage> FTestPage;  // the TEST page and the factory commands
    std::vector<QWidget*> FTabOrder;  // the order Tab walks, see kTabOrder
    TEventLogWorkflow FEventLog;
    // Made once the controls exist; the panels belong to the window.
    TFirmwarePanels* FFirmwarePanels = nullptr;
    std::unique_ptr<TGuiThreadFirmwareView> FFirmwareView;
    std::unique_ptr<TFirmwareUpgrade> FFirmware;
    QTimer TimeTimer;
    QStringList FTraceLines;
    bool FClosePending = false;
    bool FOperationPending = false;  // started here, its end not yet taken back
    // The close came during a firmware download: nothing is saved.
    bool FCloseWithoutSaving = false;
};
