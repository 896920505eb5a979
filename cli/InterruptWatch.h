#pragma once
// Ctrl-C and a time limit for the long-running commands (log, calibrate),
// turned into an ordinary call on a thread of its own. The signal handler
// only writes one byte to a pipe; the watching thread makes the call, so the
// request it sets may take a lock and wake the workflow.
#include <atomic>
#include <functional>
#include <thread>

class TInterruptWatch {
public:
    // `onStop` runs on the watching thread for every Ctrl-C and when the
    // time limit passes.
    explicit TInterruptWatch(std::function<void()> onStop);
    // Restores the previous SIGINT handling.
    ~TInterruptWatch();
    TInterruptWatch(const TInterruptWatch&) = delete;
    TInterruptWatch& operator=(const TInterruptWatch&) = delete;

    // `onStop` also runs once `seconds` from now.
    void StopAfter(double seconds);
    bool Interrupted() const { return FInterrupted.load(); }

private:
    void Run();
    void Send(char message);

    std::function<void()> FOnStop;
    std::thread FThread;
    std::atomic<bool> FInterrupted{false};
    std::atomic<long long> FDeadlineMs{-1};  // steady clock, -1 = none
};
