// varnolite-sim: a Varnolite detector behind a Beamdock infrared adapter, on a
// pseudo-terminal, for training, demonstrations and the tool's own tests.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>
#include <sys/stat.h>

#include "AtomicFile.h"
#include "DetectorModel.h"
#include "EventHistory.h"
#include "FirmwareImage.h"
#include "FrameRecorder.h"
#include "GasSource.h"
#include "PtyLine.h"
#include "SimOptions.h"
#include "SimServer.h"
#include "UnitLine.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

// Stop signals stay blocked except while the loop waits in ppoll, so a stop
// never lands in the middle of a reply or a state save.
sigset_t InstallStopSignals()
{
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(sig, &action, nullptr);
        sigaddset(&stopSignals, sig);
    }
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stopSignals, &previous);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigdelset(&previous, sig);
    return previous;
}

bool FileExists(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

std::optional<sim::DetectorModel> MakeDetector(const sim::SimOptions& options, std::string& error)
{
    std::optional<sim::DetectorModel> model;
    if (!options.statePath.empty() && FileExists(options.statePath)) {
        model = sim::DetectorModel::Load(options.statePath, error);
        if (model)
            model->ApplyOverrides(options.identity);
    } else {
        model = sim::DetectorModel::Fresh(options.FreshIdentity(), options.life.value_or(sim::DetectorModel::kFreshLife));
    }
    if (model && options.events)
        model->ReplaceEventLog(sim::VariedHistory(*options.events, model->Life(), options.seed));
    return model;
}

std::optional<sim::ReadingSettings> MakeReadingSettings(const sim::SimOptions& options, std::string& error)
{
    std::vector<sim::GasStep> steps;
    if (!options.gasScriptPath.empty() && !sim::GasSource::LoadScript(options.gasScriptPath, steps, error))
        return std::nullopt;
    sim::ReadingSettings settings;
    // Clean air for an oxygen cell is 20.9 % by volume, not nothing.
    const bool oxygen = options.FreshIdentity().sensor == sim::kOxygenSensor;
    const double clean = !options.gasGiven && oxygen ? sim::kOxygenInAir : options.gas;
    settings.gas = sim::GasSource(clean, std::move(steps));
    settings.t90 = options.gasT90;
    settings.controlPath = options.gasControlPath;
    settings.noiseTenths = options.noiseTenths;
    settings.gasDecimals = options.gasDecimals;
    return settings;
}

int MakeImage(int argc, char** argv)
{
    sim::MakeImageOptions options;
    std::string error;
    if (!sim::ParseMakeImageOptions(argc, argv, options, error)) {
        std::cerr << "varnolite-sim make-image: " << error << " (see varnolite-sim make-image --help)" << std::endl;
        return kExitUsage;
    }
    if (options.help) {
        std::cout << sim::MakeImageUsageText() << std::flush;
        return kExitOk;
    }
    const std::vector<std::uint8_t> image = sim::MakeImage(options.header, options.size, options.seed);
    if (!sim::WriteFileWhole(options.outPath, image, error)) {
        std::cerr << "varnolite-sim make-image: " << error << std::endl;
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "make-image")
        return MakeImage(argc, argv);
    sim::SimOptions options;
    std::string error;
    if (!sim::ParseOptions(argc, argv, options, error)) {
        std::cerr << "varnolite-sim: " << error << "\nTry 'varnolite-sim --help'." << std::endl;
        return kExitUsage;
    }
    if (options.help) {
        std::cout << sim::UsageText() << std::flush;
        return kExitOk;
    }
    const sigset_t waitMask = InstallStopSignals();
    options.refuseWrites = sim::UnitOptions(options, 1).refuseWrites;
    if (options.units > 1 || !options.controlPath.empty())
        return sim::RunUnits(options, sim::UnitFactory{MakeDetector, MakeReadingSettings}, waitMask, g_stop);

    auto readings = MakeReadingSettings(options, error);
    if (!readings) {
        std::cerr << "varnolite-sim: " << error << std::endl;
        return kExitUsage;
    }
    auto model = MakeDetector(options, error);
    if (!model) {
        std::cerr << "varnolite-sim: " << error << std::endl;
        return kExitUsage;
    }
    sim::FrameRecorder recorder;
    if (!options.recordPath.empty() && !recorder.Open(options.recordPath, error)) {
        std::cerr << "varnolite-sim: " << error << std::endl;
        return kExitUsage;
    }
    if (!options.statePath.empty() && !model->Save(options.statePath, error)) {
        std::cerr << "varnolite-sim: " << error << std::endl;
        return kExitUsage;
    }
    sim::PtyLine line;
    if (!line.Open(options.linkPath, error)) {
        std::cerr << "varnolite-sim: " << error << std::endl;
        return kExitFailure;
    }
    std::cout << line.PortPath() << std::endl;

    sim::SimServer server(options, std::move(*readings), *model, line, recorder);
    const auto end = server.Run(waitMask, g_stop);
    server.SaveState();
    line.Close();
    return end == sim::SimServer::End::LineError ? kExitFailure : kExitOk;
}
