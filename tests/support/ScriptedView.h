#pragma once
// A main-window view for tests: answers come from a script set up in advance,
// and everything shown is recorded in order, so a test can compare it with
// the exact texts and colours the user would have seen.
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "MainView.h"

struct ShownStatus {
    RColour background;
    RColour font;
    QString text;
};

struct ShownMessage {
    BoxIcon icon;
    QString caption;
    QString text;
    QString details;  // the box's details part; empty when it has none
};

struct AskedQuestion {
    QString caption;
    QString text;
};

class ScriptedView : public IMainView {
public:
    // Script: answers given in order. A question or dialog with no scripted
    // answer left gets "No" or "Cancel" and is still recorded.
    std::deque<bool> yesNoAnswers;
    std::deque<std::optional<QString>> openFileAnswers;
    std::deque<std::optional<QString>> saveFileAnswers;
    // Runs while a question is open, before it is answered: what happens in
    // the world while the user reads the box.
    std::function<void()> whileAsking;
    // Questions whose default button is No (before a destructive step) have
    // a script of their own; with none left they get `confirmUnscripted`:
    // the bench technician confirms unless a test says otherwise.
    std::deque<bool> confirmAnswers;
    bool confirmUnscripted = true;

    // Record.
    std::vector<ShownStatus> statuses;
    std::vector<ShownMessage> messages;
    std::vector<AskedQuestion> questions;
    std::vector<AskedQuestion> confirmations;  // the default-No questions
    std::vector<TUnitLine> unitLines;           // every ShowUnitLine call
    std::vector<RFileRequest> fileRequests;
    std::vector<bool> buttonStates;   // every SetDeviceButtonsEnabled call
    std::vector<QString> refilledSerials;
    QStringList modelNames;           // every SetModelName call
    int formsShown = 0;
    RFormValues form;                 // what the controls hold now
    QStringList trace;
    bool traceVisible = false;
    QStringList sensorNames;
    QStringList eepromRows;
    std::optional<bool> layoutFactory;
    std::optional<WindowGeometry> appliedGeometry;
    WindowGeometry currentGeometry;
    bool clockStarted = false;
    int sensorLogDialogs = 0;              // OpenSensorLogDialog calls
    std::vector<RZELCFG> sensorCalDialogs; // the record each calibration dialog got

    // Forget what was shown so far (the script stays).
    void ClearRecord();
    const ShownStatus& LastStatus() const;

    void PaintStatus(RColour background, RColour font, const QString& text) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override;
    void ShowDetailedMessage(BoxIcon icon, const QString& caption, const QString& text,
                             const QString& details) override;
    bool AskYesNo(const QString& caption, const QString& text) override;
    bool AskYesNoDefaultNo(const QString& caption, const QString& text) override;
    void ShowUnitLine(const TUnitLine& line) override { unitLines.push_back(line); }
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
    void OpenSensorLogDialog() override { ++sensorLogDialogs; }
    void OpenSensorCalDialog(const RZELCFG& cfg) override { sensorCalDialogs.push_back(cfg); }
};
