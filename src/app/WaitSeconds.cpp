#include "WaitSeconds.h"

#include <QEventLoop>
#include <QTimer>

void WaitSeconds(float seconds)
{
    if (!(seconds > 0))
        return;
    // A local event loop blocks in the dispatcher and handles whatever
    // arrives (clicks, timers, queued calls) until the time is up.
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000.0f), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}
