#pragma once
// Time as the sensor tools see it. Their loops wait in the operating system
// until the next thing is due (a reading, a link poll, a calibration
// time-out) or until a button asks for something, and never spin. The clock
// is an interface so that tests can run a three-minute calibration in
// virtual time.
#include <QDateTime>

#include <chrono>
#include <condition_variable>
#include <mutex>

// Wakes a waiting loop early. Notify() may be called from any thread (a
// button on the GUI thread, the command line's signal watcher); a notice
// given while nobody waits is kept until the next wait takes it.
class TWakeup {
public:
    void Notify();
    // Blocks until `deadline` or a notice; true when a notice ended the wait
    // (it is used up).
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    // Uses up a pending notice without waiting.
    bool TakeNotice();

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FNoticed = false;
};

class ISensorClock {
public:
    virtual ~ISensorClock() = default;
    // Seconds on a steady clock from an arbitrary origin: all deadlines.
    virtual double Seconds() = 0;
    // The local wall-clock time: file names and record time stamps.
    virtual QDateTime LocalTime() = 0;
    // Returns once Seconds() has reached `deadline`, or earlier when
    // `wakeup` gets a notice. A deadline already passed returns at once.
    virtual void WaitUntil(double deadline, TWakeup& wakeup) = 0;
};

class TSystemClock : public ISensorClock {
public:
    TSystemClock();
    double Seconds() override;
    QDateTime LocalTime() override;
    void WaitUntil(double deadline, TWakeup& wakeup) override;

private:
    std::chrono::steady_clock::time_point FOrigin;
};
