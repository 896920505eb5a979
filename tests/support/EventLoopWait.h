#pragma once
// Runs the event loop until a condition holds, for the widget tests: the
// window's work arrives through queued calls, so a test waits in the loop
// rather than sleeping.
#include <QEventLoop>
#include <QTimer>

#include <functional>

// Runs the event loop until `done` holds or `ms` have passed; whether it holds.
inline bool WaitFor(const std::function<bool()>& done, int ms = 15000)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start(10);
    if (!done())
        loop.exec();
    return done();
}
