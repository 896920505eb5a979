#pragma once
// "Production": the production line in a window of its own. One row per
// adapter (port, the unit in front, its step, progress, result and time), a
// total line, Start and Stop. The stations report from their link threads;
// every report is handed to the GUI thread, which never waits for a unit.
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "DeviceSettings.h"
#include "ProductionLine.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TProductionWindow : public QWidget {
    Q_OBJECT

public:
    using RecorderFactory = std::function<std::unique_ptr<IOperationRecorder>()>;

    // `settings` (the mode among them) must outlive the window.
    TProductionWindow(const LoadedSettings& settings, RecorderFactory makeRecorder, QWidget* parent = nullptr);
    ~TProductionWindow() override;

    bool Running() const { return FLine != nullptr; }
    void Start();
    void Stop();

signals:
    // Every station has ended (after Stop, or after one unit each).
    void LineEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class TReport;
    void BuildControls();
    void StepStarted(int station, const QString& serial, const QString& step, int percent);
    void UnitEnded(const RUnitOutcome& outcome);
    void StationEnded(int station);
    void ShowProblem(const QString& text);
    void RefreshTimes();
    void SetRunning(bool running);

    const LoadedSettings& FSettings;
    RecorderFactory FMakeRecorder;
    std::unique_ptr<TReport> FReport;
    std::unique_ptr<TProductionLine> FLine;
    int FStationsRunning = 0;
    bool FCloseWhenEnded = false;

    QLineEdit* FTemplate = nullptr;
    QLineEdit* FPorts = nullptr;
    QCheckBox* FSaveLog = nullptr;
    QLineEdit* FLogDir = nullptr;
    QCheckBox* FClearLog = nullptr;
    QCheckBox* FOnce = nullptr;
    QTableWidget* FTable = nullptr;
    QLabel* FTotals = nullptr;
    QLabel* FProblem = nullptr;
    QPushButton* FStart = nullptr;
    QPushButton* FStop = nullptr;
    QTimer FClock;
    QElapsedTimer FSinceStart;
    std::vector<QElapsedTimer> FUnitClocks;  // per row, while a unit is under way
    int FDone = 0;
    int FFailed = 0;
};
