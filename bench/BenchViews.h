#pragma once
// Views for running the window's own workflows in the benchmark: nothing is
// shown, every question is answered Yes, every save goes to one path, and a
// failure is printed so that a round that went wrong does not pass unseen.
#include <QString>

#include <cstdio>

#include "FirmwareView.h"
#include "MainView.h"

class TBenchView : public IMainView {
public:
    explicit TBenchView(QString savePath) : FSavePath(std::move(savePath)) {}

    void PaintStatus(RColour, RColour, const QString&) override {}
    void ShowMessage(BoxIcon, const QString& caption, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    }
    bool AskYesNo(const QString&, const QString&) override { return true; }
    std::optional<QString> AskOpenFile(const RFileRequest&) override { return std::nullopt; }
    std::optional<QString> AskSaveFile(const RFileRequest&) override { return FSavePath; }
    void SetFormValues(const RFormValues& values) override { FForm = values; }
    RFormValues FormValues() override { return FForm; }
    void SetLifeSpins(int, int) override {}
    void SetModelName(const QString&) override {}
    void RefillSerialEdit(const QString&) override {}
    void SetDeviceButtonsEnabled(bool) override {}
    void AppendTrace(const QString&) override {}
    QStringList TraceLines() override { return {}; }
    void SetTraceVisible(bool) override {}
    void SetSensorNames(const QStringList&) override {}
    void PrepareEepromGrid(const QStringList&) override {}
    void ApplyLayout(bool) override {}
    void SetWindowGeometry(const WindowGeometry&) override {}
    WindowGeometry CurrentWindowGeometry() override { return {}; }
    void StartClock() override {}

private:
    QString FSavePath;
    RFormValues FForm;
};

class TBenchFirmwareView : public IFirmwareView {
public:
    void ShowImage(const QString&, const QString&, bool) override {}
    void SetUpgradeEnabled(bool) override {}
    void SetCancelEnabled(bool) override {}
    void SetProgressMaximum(int) override {}
    void SetProgress(int) override {}
};
