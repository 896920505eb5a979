#pragma once
// An IMainView that hands every call to the view living in the GUI thread
// and waits for its answer there. The workflows run on the link thread and
// call this; the window's widgets are only ever touched by the GUI thread.
// Called from the GUI thread itself, it calls straight through.
#include <QObject>
#include <QThread>

#include <type_traits>
#include <utility>

#include "MainView.h"

class TGuiThreadView : public IMainView {
public:
    // `context` is a QObject of the GUI thread (the window); `target` must
    // outlive every call.
    TGuiThreadView(IMainView& target, QObject* context) : FTarget(target), FContext(context) {}

    void PaintStatus(RColour background, RColour font, const QString& text) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override;
    bool AskYesNo(const QString& caption, const QString& text) override;
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

private:
    // Runs `call` in the GUI thread and returns its result once it is done.
    template <typename Call>
    auto OnGuiThread(Call&& call) -> std::invoke_result_t<Call>
    {
        using Result = std::invoke_result_t<Call>;
        if (QThread::currentThread() == FContext->thread())
            return call();
        if constexpr (std::is_void_v<Result>) {
            QMetaObject::invokeMethod(FContext, std::forward<Call>(call), Qt::BlockingQueuedConnection);
        } else {
            Result result{};
            QMetaObject::invokeMethod(FContext, std::forward<Call>(call), Qt::BlockingQueuedConnection, &result);
            return result;
        }
    }

    IMainView& FTarget;
    QObject* FContext;
};
