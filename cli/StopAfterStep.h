#pragma once
// Ctrl-C for the commands that change the unit (write, hibernate, logreset,
// test): a program killed in the middle of a write range would leave the
// unit holding part of a block. The first Ctrl-C only asks the command to
// stop once the step under way has ended; the command closes the connection
// and exits with 134. A second Ctrl-C ends the program at once.
#include <csignal>

class TStopAfterStep {
public:
    TStopAfterStep();
    // Restores the previous SIGINT handling.
    ~TStopAfterStep();
    TStopAfterStep(const TStopAfterStep&) = delete;
    TStopAfterStep& operator=(const TStopAfterStep&) = delete;

    static bool Requested();

private:
    struct sigaction FPrevious {};
};

// The exit status of a command the user stopped ("... USER STOP").
inline constexpr int kUserStopped = 134;
