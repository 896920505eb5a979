#pragma once
// An IFirmwareView that queues every call for the view living in the GUI
// thread and returns at once: the download must never wait for a progress
// bar to repaint. Queued calls keep their order, also relative to the
// waiting calls of TGuiThreadView that follow them.
#include <QObject>

#include "FirmwareView.h"

class TGuiThreadFirmwareView : public IFirmwareView {
public:
    // `context` is a QObject of the GUI thread; `target` must outlive every
    // call that was queued.
    TGuiThreadFirmwareView(IFirmwareView& target, QObject* context) : FTarget(target), FContext(context) {}

    void ShowImage(const QString& fileLabel, const QString& description, bool upgradeEnabled) override;
    void SetUpgradeEnabled(bool enabled) override;
    void SetCancelEnabled(bool enabled) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgress(int value) override;
    void ShowProgressText(const QString& text) override;
    void ShowUpgradeNote(const QString& text) override;

private:
    IFirmwareView& FTarget;
    QObject* FContext;
};
