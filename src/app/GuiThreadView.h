#pragma once
// An IMainView that hands every call to the view living in the GUI thread
// and waits for its answer there. The workflows run on the link thread and
// call this; the window's widgets are only ever touched by the GUI thread.
// Called from the GUI thread itself, it calls straight through.
#include <QObject>

#include <utility>

#include "GuiCall.h"
#include "MainView.h"

class TGuiThreadView : public IMainView {
public:
    // `context` is a QObject of the GUI thread (the window); `target` must
    // outlive every call.
    TGuiThreadView(IMainView& target, QObject* context) : FTarget(target), FContext(context) {}

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
    void OpenSensorLogDialog() override;
    void OpenSensorCalDialog(const RZELCFG& cfg) override;

private:
    template <typename Call>
    auto OnGuiThread(Call&& call)
    {
        return CallOnGui(FContext, std::forward<Call>(call));
    }

    IMainView& FTarget;
    QObject* FContext;
};
