#pragma once
// The sensor tools' views for a terminal: one line per reading on standard
// output, for scripts; the dialogs' texts, boxes and progress on standard
// error, for the person watching.
#include <QString>

#include <functional>
#include <iosfwd>
#include <optional>

#include "SensorCalView.h"
#include "SensorLogView.h"

// "09:30:00.000 sensor 12.34 peak 15.00 battery 3.05 (700) temperature 23.5
// (512) flags Calibration Due,LOW" -- a quantity not read shows "-", no flag
// set shows "-".
QString ReadingLine(const RReadingDisplay& reading);

class TConsoleLogView : public ISensorLogView {
public:
    TConsoleLogView(std::ostream& out, std::ostream& err) : FOut(out), FErr(err) {}

    // The data log path given with --out; none: no data log.
    void SetLogFile(const std::optional<QString>& path) { FLogFile = path; }
    // Called when the reading loop begins (the first, empty chart).
    std::function<void()> onLoopStart;
    bool ErrorShown() const { return FErrorShown; }

    void SetRunning(bool) override {}
    void SetCalButtons(bool, bool) override {}
    void SetCalProgressMax(int) override {}
    void SetCalProgress(int) override {}
    void SetCalLabel(const QString& text, RColour colour) override;
    void SetCalProgLabel(const QString&) override {}
    void ShowReading(const RReadingDisplay& reading) override;
    void ShowChart(const RChartWindow& chart) override;
    void ShowDataLogFailure(const QString& path, int lostRecords) override;
    void ShowUnitAnswering(bool answering, std::uint8_t status) override;
    std::optional<QString> AskSaveFile(const RFileRequest& request) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override;

private:
    std::ostream& FOut;
    std::ostream& FErr;
    std::optional<QString> FLogFile;
    bool FLoopStarted = false;
    bool FFailureShown = false;
    bool FErrorShown = false;
};

class TConsoleCalView : public ISensorCalView {
public:
    // `progressInPlace`: a terminal, where the progress line is rewritten
    // each second; otherwise a line every ten seconds.
    TConsoleCalView(std::ostream& err, bool progressInPlace) : FErr(err), FInPlace(progressInPlace) {}

    const QString& Caption() const { return FCaption; }
    double SpanMin() const { return FMin; }
    double SpanMax() const { return FMax; }
    double SpanValue() const { return FValue; }
    const QString& Unit() const { return FUnit; }

    void SetCaption(const QString& caption) override { FCaption = caption; }
    void SetSpanGas(double minimum, double maximum, double value, const QString& unit) override;
    void SetCalLine(CalLine line, const QString& text, RColour colour) override;
    void SetCalibrating(bool running) override;
    void SetProgressMax(int maximum) override { FProgressMax = maximum; }
    void SetProgress(int position) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override;

private:
    void EndProgressLine();

    std::ostream& FErr;
    bool FInPlace;
    QString FCaption;
    double FMin = 0;
    double FMax = 0;
    double FValue = 0;
    QString FUnit;
    int FProgressMax = 0;
    bool FProgressOpen = false;
};
