#pragma once
// The sensor tools' views for tests: answers scripted in advance, and every
// call recorded in order with the clock's time, so a test can check what the
// user saw, in which colour, and when.
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "ScriptedView.h"
#include "SensorCalView.h"
#include "SensorClock.h"
#include "SensorLogView.h"

struct ShownLabel {
    double at;  // clock seconds when it was shown
    QString text;
    RColour colour;
};

class ScriptedSensorLogView : public ISensorLogView {
public:
    explicit ScriptedSensorLogView(ISensorClock* clock = nullptr) : FClock(clock) {}

    // Script: save dialog answers in order; none left means Cancel.
    std::deque<std::optional<QString>> saveFileAnswers;
    // Runs inside each ShowReading, after it was recorded.
    std::function<void(const RReadingDisplay&)> onReading;

    // Record.
    std::vector<bool> running;
    std::vector<std::pair<bool, bool>> calButtons;  // commands, abort
    std::vector<int> progressMax;
    std::vector<int> progress;
    std::vector<ShownLabel> calLabels;
    QStringList progLabels;
    std::vector<RReadingDisplay> readings;
    std::vector<RChartWindow> charts;
    std::vector<std::pair<QString, int>> dataLogFailures;
    std::vector<RFileRequest> fileRequests;
    std::vector<ShownMessage> messages;

    // The CalLabel texts that were not empty, in order.
    QStringList CalTexts() const;
    const ShownLabel* FindLabel(const QString& text) const;

    void SetRunning(bool isRunning) override { running.push_back(isRunning); }
    void SetCalButtons(bool commands, bool abort) override { calButtons.emplace_back(commands, abort); }
    void SetCalProgressMax(int maximum) override { progressMax.push_back(maximum); }
    void SetCalProgress(int position) override { progress.push_back(position); }
    void SetCalLabel(const QString& text, RColour colour) override;
    void SetCalProgLabel(const QString& text) override { progLabels << text; }
    void ShowReading(const RReadingDisplay& reading) override;
    void ShowChart(const RChartWindow& chart) override { charts.push_back(chart); }
    void ShowDataLogFailure(const QString& path, int lostRecords) override
    {
        dataLogFailures.emplace_back(path, lostRecords);
    }
    std::optional<QString> AskSaveFile(const RFileRequest& request) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override
    {
        messages.push_back({icon, caption, text, {}});
    }

private:
    ISensorClock* FClock;
};

struct ShownCalLine {
    double at;
    CalLine line;
    QString text;
    RColour colour;
};

class ScriptedSensorCalView : public ISensorCalView {
public:
    explicit ScriptedSensorCalView(ISensorClock* clock = nullptr) : FClock(clock) {}

    QString caption;
    double spanMin = 0;
    double spanMax = 0;
    double spanValue = 0;
    QString unit;
    std::vector<ShownCalLine> lines;
    std::vector<bool> calibrating;
    std::vector<int> progressMax;
    std::vector<int> progress;
    std::vector<ShownMessage> messages;

    // Non-empty texts shown on `line`, in order.
    QStringList Texts(CalLine line) const;
    const ShownCalLine* Find(const QString& text) const;

    void SetCaption(const QString& text) override { caption = text; }
    void SetSpanGas(double minimum, double maximum, double value, const QString& unitText) override
    {
        spanMin = minimum;
        spanMax = maximum;
        spanValue = value;
        unit = unitText;
    }
    void SetCalLine(CalLine line, const QString& text, RColour colour) override;
    void SetCalibrating(bool running) override { calibrating.push_back(running); }
    void SetProgressMax(int maximum) override { progressMax.push_back(maximum); }
    void SetProgress(int position) override { progress.push_back(position); }
    void ShowMessage(BoxIcon icon, const QString& captionText, const QString& text) override
    {
        messages.push_back({icon, captionText, text, {}});
    }

private:
    ISensorClock* FClock;
};
