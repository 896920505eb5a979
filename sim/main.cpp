// varnolite-sim: a Varnolite detector behind a Beamdock infrared adapter, on a
// pseudo-terminal, for training, demonstrations and the tool's own tests.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sys/stat.h>

#include "DetectorModel.h"
#include "FrameRecorder.h"
#include "PtyLine.h"
#include "SimOptions.h"
#include "SimServer.h"

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
    if (!options.statePath.empty() && FileExists(options.statePath)) {
        auto model = sim::DetectorModel::Load(options.statePath, error);
        if (model)
            model->ApplyOverrides(options.identity);
        return model;
    }
    return sim::DetectorModel::Fresh(options.FreshIdentity(), options.life.value_or(sim::DetectorModel::kFreshLife));
}

}  // namespace

int main(int argc, char** argv)
{
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

    sim::SimServer server(options, *model, line, recorder);
    const auto end = server.Run(waitMask, g_stop);
    server.SaveState();
    line.Close();
    return end == sim::SimServer::End::LineError ? kExitFailure : kExitOk;
}
