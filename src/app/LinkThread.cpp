#include "LinkThread.h"

#include <exception>

TLinkThread::TLinkThread(QObject* parent)
    : QObject(parent), FContext(std::make_unique<QObject>()), FLink(std::make_unique<TComZEL>())
{
    FThread.setObjectName(QStringLiteral("link"));
    FContext->moveToThread(&FThread);
    FThread.start();
}

TLinkThread::~TLinkThread()
{
    FThread.quit();
    FThread.wait();
    // The port is closed at the end of every operation; what is left of the
    // link object holds no thread-bound resource.
    FLink.reset();
}

bool TLinkThread::Run(std::function<void()> work)
{
    bool expected = false;
    if (!FBusy.compare_exchange_strong(expected, true))
        return false;
    QMetaObject::invokeMethod(
        FContext.get(),
        [this, work = std::move(work)] {
            try {
                work();
            } catch (const std::exception& error) {
                FLink->ComClose();
                emit Failed(QString::fromLocal8Bit(error.what()));
            }
            FBusy.store(false);
            emit Finished();
        },
        Qt::QueuedConnection);
    return true;
}
