#pragma once
// The main window's view for a terminal: status results and message boxes go
// to standard error, questions are asked on the terminal (or answered in
// advance with --yes), file dialogs take the path given on the command line,
// and the form is held as plain values so that ShowConfig followed by
// CollectConfig gives the window's exact path from record to record.
#include <functional>
#include <iosfwd>
#include <optional>

#include "MainView.h"

class TConsoleView : public IMainView {
public:
    TConsoleView(std::ostream& err, std::istream& in);

    void AnswerYes() { FAnswerYes = true; }
    void SetFileAnswer(const QString& path) { FFileAnswer = path; }
    // Save dialogs without a path given take the proposed name in the
    // proposed folder.
    void TakeProposedSaveName() { FTakeProposedName = true; }
    // Runs before every line this view writes (a progress bar on the same
    // terminal ends its line there).
    void SetBeforeOutput(std::function<void()> hook) { FBeforeOutput = std::move(hook); }
    bool ErrorShown() const { return FErrorShown; }
    // An error box the command goes on after (a damaged block it repairs).
    void ForgetErrorShown() { FErrorShown = false; }
    bool Declined() const { return FDeclined; }

    void PaintStatus(RColour background, RColour font, const QString& text) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override;
    bool AskYesNo(const QString& caption, const QString& text) override;
    // The terminal's question is No unless "y" is typed (or --yes given).
    bool AskYesNoDefaultNo(const QString& caption, const QString& text) override { return AskYesNo(caption, text); }
    std::optional<QString> AskOpenFile(const RFileRequest& request) override;
    std::optional<QString> AskSaveFile(const RFileRequest& request) override;
    void SetFormValues(const RFormValues& values) override { FForm = values; }
    RFormValues FormValues() override { return FForm; }
    void SetLifeSpins(int months, int days) override;
    void SetModelName(const QString&) override {}
    void RefillSerialEdit(const QString&) override {}
    void SetDeviceButtonsEnabled(bool) override {}
    void AppendTrace(const QString& line) override;
    QStringList TraceLines() override { return {}; }
    void SetTraceVisible(bool visible) override { FTraceVisible = visible; }
    // Where the trace lines are also kept (for Comm.TXT); none by default.
    void KeepTraceIn(QStringList* lines) { FKeptTrace = lines; }
    void SetSensorNames(const QStringList&) override {}
    void PrepareEepromGrid(const QStringList&) override {}
    void ApplyLayout(bool) override {}
    void SetWindowGeometry(const WindowGeometry&) override {}
    WindowGeometry CurrentWindowGeometry() override { return {}; }
    void StartClock() override {}
    // The calibration dialog's request: the record it would open with.
    void OpenSensorCalDialog(const RZELCFG& cfg) override { FCalRequest = cfg; }
    const std::optional<RZELCFG>& CalibrationRequest() const { return FCalRequest; }

private:
    std::ostream& FErr;
    std::istream& FIn;
    RFormValues FForm;
    bool FAnswerYes = false;
    bool FErrorShown = false;
    bool FDeclined = false;
    bool FTraceVisible = false;
    QStringList* FKeptTrace = nullptr;
    QString FLastStatus;
    std::optional<QString> FFileAnswer;
    bool FTakeProposedName = false;
    std::function<void()> FBeforeOutput;
    void BeforeOutput() const
    {
        if (FBeforeOutput)
            FBeforeOutput();
    }
    std::optional<RZELCFG> FCalRequest;
};
