#pragma once
// The production line: a template configuration written to unit after unit
// on several adapters at once, one TProductionStation per adapter. Shared by
// the "Production" window and `beamdock-cli batch`.
#include <QString>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DeviceSettings.h"
#include "ProductionStation.h"

// Reads the template (configuration file versions 1 to 8) into `plan`; on
// failure a one-line reason naming the file.
bool LoadProductionTemplate(const QString& path, RProductionPlan& plan, QString& error);

// Every port discovery sees: the CP210x bridges of the enumeration, or of
// sysfs when the enumeration finds none.
std::vector<std::string> AllAdapterPorts();

// A recorder per adapter into the history chosen by `option` (as --db);
// nothing (the line records nothing) when the location cannot be parsed, with
// the reason in `error`. `notice` gets what a recorder has to tell.
std::function<std::unique_ptr<IOperationRecorder>()> HistoryRecorders(const QString& option,
                                                                       std::function<void(const QString&)> notice,
                                                                       QString& error);

// Units done and failed so far, with the rate since the start.
struct RProductionTotals {
    int done = 0;
    int failed = 0;
    double perHour = 0.0;
};
RProductionTotals TotalsOf(int done, int failed, qint64 elapsedMs);

class TProductionLine final : public IProductionReport {
public:
    // `report` gets every station's reports, then the totals are updated.
    TProductionLine(RProductionPlan plan, const LoadedSettings& settings, IProductionReport& report);
    ~TProductionLine() override;

    // Starts a station per port; false (nothing started) when there is none.
    bool Start(const std::vector<std::string>& ports);
    // Each station ends after its current unit.
    void Stop();
    // Blocks until every station has ended.
    void Wait();
    bool Running() const;
    const RProductionPlan& Plan() const { return FPlan; }
    // Units that passed and failed so far.
    int Passed() const;
    int Failed() const;

    void StepStarted(int station, const QString& serial, const QString& step, int percent) override;
    void UnitEnded(const RUnitOutcome& outcome) override;
    void StationEnded(int station) override;

private:
    RProductionPlan FPlan;
    const LoadedSettings& FSettings;
    IProductionReport& FReport;
    std::vector<std::unique_ptr<TProductionStation>> FStations;
    mutable std::mutex FMutex;
    std::condition_variable FEnded;
    int FRunning = 0;
    int FPassed = 0;
    int FFailed = 0;
};
