#pragma once
// Views for running the window's own workflows in the benchmark: nothing is
// shown, every question is answered Yes, every save goes to one path, and a
// failure is printed so that a round that went wrong does not pass unseen
// (unless the row expects it, as the wake-up nobody answers does).
#include <QString>

#include <cstdio>
#include <functional>

#include "FirmwareView.h"
#include "MainView.h"
#include "SensorCalView.h"
#include "SensorLogView.h"

class TBenchView : public IMainView {
public:
    explicit TBenchView(QString savePath) : FSavePath(std::move(savePath)) {}

    // Boxes are expected (a row that fails on purpose): counted, not printed.
    void SetBoxesExpected(bool expected) { FBoxesExpected = expected; }
    int Boxes() const { return FBoxes; }
    // The form as the window would hold it: Read Device fills it, Write
    // Device takes it.
    RFormValues& Form() { return FForm; }

    void PaintStatus(RColour, RColour, const QString&) override {}
    void ShowMessage(BoxIcon, const QString& caption, const QString& text) override
    {
        ++FBoxes;
        if (!FBoxesExpected)
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
    bool FBoxesExpected = false;
    int FBoxes = 0;
};

class TBenchFirmwareView : public IFirmwareView {
public:
    void ShowImage(const QString&, const QString&, bool) override {}
    void SetUpgradeEnabled(bool) override {}
    void SetCancelEnabled(bool) override {}
    void SetProgressMaximum(int) override {}
    void SetProgress(int) override {}
};

// The "Sensor Calibration" dialog's texts and boxes, dropped (boxes printed).
class TBenchCalView : public ISensorCalView {
public:
    void SetCaption(const QString&) override {}
    void SetSpanGas(double, double, double, const QString&) override {}
    void SetCalLine(CalLine, const QString&, RColour) override {}
    void SetCalibrating(bool) override {}
    void SetProgressMax(int) override {}
    void SetProgress(int) override {}
    void ShowMessage(BoxIcon, const QString& caption, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    }
};

// The logging dialog: keeps the chart as a window that has drawn it would,
// and calls `onReading` after each reading shown, so the caller can time
// the intervals.
class TBenchLogView : public ISensorLogView {
public:
    explicit TBenchLogView(QString dataLog) : FDataLog(std::move(dataLog)) {}
    std::function<void()> onReading;
    long readings = 0;

    void SetRunning(bool) override {}
    void SetCalButtons(bool, bool) override {}
    void SetCalProgressMax(int) override {}
    void SetCalProgress(int) override {}
    void SetCalLabel(const QString&, RColour) override {}
    void SetCalProgLabel(const QString&) override {}
    void ShowReading(const RReadingDisplay&) override
    {
        ++readings;
        if (onReading)
            onReading();
    }
    void ShowChart(const RChartWindow& chart) override { FChart = chart; }
    void ShowDataLogFailure(const QString& path, int lost) override
    {
        if (lost > 0)
            std::fprintf(stderr, "data log %s: %d records lost\n", qPrintable(path), lost);
    }
    std::optional<QString> AskSaveFile(const RFileRequest&) override { return FDataLog; }
    void ShowMessage(BoxIcon, const QString& caption, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    }

private:
    QString FDataLog;
    RChartWindow FChart;
};
