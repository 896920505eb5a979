#pragma once
// What the logging run shows to and asks of the user. The dialog implements
// it with its widgets (through a view that carries the calls to the GUI
// thread), the command line prints it, tests record it. Everything but the
// two questions only shows something and returns at once.
#include <QList>
#include <QPointF>
#include <QString>

#include <optional>

#include "SensorReading.h"
#include "ViewTypes.h"

// The chart as it is to be drawn: the bottom axis and every point inside it,
// oldest first.
struct RChartWindow {
    double min = 0;
    double max = 100;
    double increment = 10;
    QList<QPointF> points;
    // The left axis: the gas and its unit ("H2S (ppm)").
    QString valueTitle;
};

class ISensorLogView {
public:
    virtual ~ISensorLogView() = default;

    // Start off and Stop on while a run holds the link; the window may only
    // be closed while it is not running.
    virtual void SetRunning(bool running) = 0;
    // The calibration group: `commands` for Calibration, Zero, Span, Clear
    // Peak, Bump Pass and Bump Fail; `abort` for Cal. Abort.
    virtual void SetCalButtons(bool commands, bool abort) = 0;
    virtual void SetCalProgressMax(int maximum) = 0;
    virtual void SetCalProgress(int position) = 0;
    virtual void SetCalLabel(const QString& text, RColour colour) = 0;
    virtual void SetCalProgLabel(const QString& text) = 0;
    // The three value rows and the History and Alarm boxes.
    virtual void ShowReading(const RReadingDisplay& reading) = 0;
    virtual void ShowChart(const RChartWindow& chart) = 0;
    // Records could not be added to the data log: shown, with the number
    // lost so far, until the next run starts (which sends 0 to clear it).
    // The run goes on.
    virtual void ShowDataLogFailure(const QString& path, int lostRecords) = 0;
    // The unit stopped answering (with the status of the exchange that
    // failed) or answers again; readings stop and start with it.
    virtual void ShowUnitAnswering(bool /*answering*/, std::uint8_t /*status*/) {}

    // Waiting calls.
    virtual std::optional<QString> AskSaveFile(const RFileRequest& request) = 0;
    virtual void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) = 0;
};
