#include "InterruptWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>

namespace {

constexpr char kInterrupt = 'i';
constexpr char kRetime = 't';
constexpr char kQuit = 'q';

int gPipe[2] = {-1, -1};
struct sigaction gPrevious {};

void OnSigInt(int)
{
    const char message = kInterrupt;
    (void)!::write(gPipe[1], &message, 1);
}

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

TInterruptWatch::TInterruptWatch(std::function<void()> onStop) : FOnStop(std::move(onStop))
{
    if (::pipe2(gPipe, O_CLOEXEC) != 0)
        gPipe[0] = gPipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnSigInt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &gPrevious);
    if (gPipe[0] >= 0)
        FThread = std::thread([this] { Run(); });
}

TInterruptWatch::~TInterruptWatch()
{
    Send(kQuit);
    if (FThread.joinable())
        FThread.join();
    sigaction(SIGINT, &gPrevious, nullptr);
    for (int& fd : gPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void TInterruptWatch::Send(char message)
{
    if (gPipe[1] >= 0)
        (void)!::write(gPipe[1], &message, 1);
}

void TInterruptWatch::StopAfter(double seconds)
{
    FDeadlineMs.store(NowMs() + static_cast<long long>(seconds * 1000.0));
    Send(kRetime);
}

void TInterruptWatch::Run()
{
    for (;;) {
        int timeout = -1;
        const long long deadline = FDeadlineMs.load();
        if (deadline >= 0)
            timeout = static_cast<int>(std::max(0LL, deadline - NowMs()));
        pollfd pfd{gPipe[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, timeout);
        if (ready == 0) {
            FDeadlineMs.store(-1);
            FOnStop();
            continue;
        }
        if (ready < 0)
            continue;  // a signal interrupted the wait
        char message = 0;
        if (::read(gPipe[0], &message, 1) != 1)
            return;
        if (message == kQuit)
            return;
        if (message == kInterrupt) {
            FInterrupted.store(true);
            FOnStop();
        }
    }
}
