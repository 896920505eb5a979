#include "ProductionLine.h"

#include <QFileInfo>

#include <algorithm>

#include "AdapterDiscovery.h"
#include "ConfigFile.h"
#include "HistoryLocation.h"
#include "HistoryRecorder.h"
#include "ZelRecords.h"

bool LoadProductionTemplate(const QString& path, RProductionPlan& plan, QString& error)
{
    RZELCFG loaded{};
    const ConfigFileResult result = ReadConfigFile(path.toStdString(), DefaultConfig(), loaded);
    if (result != ConfigFileResult::Ok) {
        const ConfigFileMessage message = ReadConfigFileMessage(result);
        error = QStringLiteral("template %1: %2").arg(path, QString::fromUtf8(message.text).replace(QLatin1Char('\r'), QLatin1Char(' ')));
        return false;
    }
    plan.templateConfig = loaded;
    plan.templateName = QFileInfo(path).fileName();
    return true;
}

std::vector<std::string> AllAdapterPorts()
{
    std::vector<discovery::Adapter> adapters;
    discovery::QtPortSource enumeration;
    if (enumeration.List(adapters) != discovery::kFound || adapters.empty()) {
        adapters.clear();
        discovery::SysfsCp210xSource sysfs;
        sysfs.List(adapters);
    }
    std::vector<std::string> ports;
    for (const discovery::Adapter& adapter : adapters)
        if (std::find(ports.begin(), ports.end(), adapter.portPath) == ports.end())
            ports.push_back(adapter.portPath);
    std::sort(ports.begin(), ports.end());
    return ports;
}

std::function<std::unique_ptr<IOperationRecorder>()> HistoryRecorders(const QString& option,
                                                                       std::function<void(const QString&)> notice,
                                                                       QString& error)
{
    const std::optional<RHistoryLocation> location = ChooseHistoryLocation(option, error);
    if (!location)
        return {};
    return [location = *location, notice = std::move(notice)]() -> std::unique_ptr<IOperationRecorder> {
        return std::make_unique<THistoryRecorder>(location, notice);
    };
}

RProductionTotals TotalsOf(int done, int failed, qint64 elapsedMs)
{
    RProductionTotals totals{done, failed, 0.0};
    if (elapsedMs > 0)
        totals.perHour = done * 3'600'000.0 / static_cast<double>(elapsedMs);
    return totals;
}

TProductionLine::TProductionLine(RProductionPlan plan, const LoadedSettings& settings, IProductionReport& report)
    : FPlan(std::move(plan)), FSettings(settings), FReport(report)
{
}

TProductionLine::~TProductionLine()
{
    Stop();
    FStations.clear();
}

bool TProductionLine::Start(const std::vector<std::string>& ports)
{
    if (ports.empty() || Running())
        return false;
    FStations.clear();
    {
        std::lock_guard lock(FMutex);
        FRunning = static_cast<int>(ports.size());
        FPassed = FFailed = 0;
    }
    for (std::size_t i = 0; i < ports.size(); ++i)
        FStations.push_back(
            std::make_unique<TProductionStation>(static_cast<int>(i), ports[i], FPlan, FSettings, *this));
    for (auto& station : FStations)
        station->Start();
    return true;
}

void TProductionLine::Stop()
{
    for (auto& station : FStations)
        station->Stop();
}

void TProductionLine::Wait()
{
    std::unique_lock lock(FMutex);
    FEnded.wait(lock, [this] { return FRunning == 0; });
}

bool TProductionLine::Running() const
{
    std::lock_guard lock(FMutex);
    return FRunning > 0;
}

int TProductionLine::Passed() const
{
    std::lock_guard lock(FMutex);
    return FPassed;
}

int TProductionLine::Failed() const
{
    std::lock_guard lock(FMutex);
    return FFailed;
}

void TProductionLine::StepStarted(int station, const QString& serial, const QString& step, int percent)
{
    FReport.StepStarted(station, serial, step, percent);
}

void TProductionLine::UnitEnded(const RUnitOutcome& outcome)
{
    {
        std::lock_guard lock(FMutex);
        (outcome.passed ? FPassed : FFailed) += 1;
    }
    FReport.UnitEnded(outcome);
}

void TProductionLine::StationEnded(int station)
{
    FReport.StationEnded(station);
    {
        std::lock_guard lock(FMutex);
        --FRunning;
    }
    FEnded.notify_all();
}
