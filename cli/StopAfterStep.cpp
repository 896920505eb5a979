#include "StopAfterStep.h"

#include <atomic>

namespace {

std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void RequestStop(int)
{
    gStopRequested.store(true);
}

}  // namespace

TStopAfterStep::TStopAfterStep()
{
    gStopRequested.store(false);
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    // The handler goes after its first call: the second Ctrl-C takes the
    // default way out.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, &FPrevious);
}

TStopAfterStep::~TStopAfterStep()
{
    sigaction(SIGINT, &FPrevious, nullptr);
}

bool TStopAfterStep::Requested()
{
    return gStopRequested.load();
}
