#pragma once
// The sensor dialogs' views as the link thread sees them: every call is
// handed to the dialog on the GUI thread. What only shows something is
// queued, so a busy window never holds up a reading; the two questions (the
// save dialog, a message box) wait for their answer. From the GUI thread
// itself the calls go straight through.
#include <QObject>

#include <atomic>
#include <mutex>

#include "SensorCalView.h"
#include "SensorLogView.h"

class TSensorLogGuiView : public ISensorLogView {
public:
    // `context` is a QObject of the GUI thread (the dialog); `target` must
    // outlive every call. Queued calls die with `context`.
    TSensorLogGuiView(ISensorLogView& target, QObject* context) : FTarget(target), FContext(context) {}

    void SetRunning(bool running) override;
    void SetCalButtons(bool commands, bool abort) override;
    void SetCalProgressMax(int maximum) override;
    void SetCalProgress(int position) override;
    void SetCalLabel(const QString& text, RColour colour) override;
    void SetCalProgLabel(const QString& text) override;
    void ShowReading(const RReadingDisplay& reading) override;
    // Coalesced: a chart still waiting to be drawn is replaced by the newer
    // one, so a window that falls behind draws the latest state once.
    void ShowChart(const RChartWindow& chart) override;
    void ShowDataLogFailure(const QString& path, int lostRecords) override;
    std::optional<QString> AskSaveFile(const RFileRequest& request) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override;

private:
    ISensorLogView& FTarget;
    QObject* FContext;
    std::mutex FChartLock;
    RChartWindow FPendingChart;
    bool FChartQueued = false;
};

class TSensorCalGuiView : public ISensorCalView {
public:
    TSensorCalGuiView(ISensorCalView& target, QObject* context) : FTarget(target), FContext(context) {}

    void SetCaption(const QString& caption) override;
    void SetSpanGas(double minimum, double maximum, double value, const QString& unit) override;
    void SetCalLine(CalLine line, const QString& text, RColour colour) override;
    void SetCalibrating(bool running) override;
    void SetProgressMax(int maximum) override;
    void SetProgress(int position) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override;

private:
    ISensorCalView& FTarget;
    QObject* FContext;
};
