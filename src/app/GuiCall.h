#pragma once
// Calls from the link thread into the GUI thread. Widgets may only be
// touched by the GUI thread, so every view that a link-thread workflow talks
// to hands its calls over with one of these two:
//   CallOnGui  waits until the call has run there and returns its result;
//              for questions and for values the workflow needs next.
//   PostToGui  queues the call and returns at once; for what only shows
//              something, so that a busy window never delays the link.
// Queued and waiting calls to the same context keep their order. Called from
// the GUI thread itself, both run the call straight away.
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <functional>
#include <type_traits>
#include <utility>

template <typename Call>
auto CallOnGui(QObject* context, Call&& call) -> std::invoke_result_t<Call>
{
    using Result = std::invoke_result_t<Call>;
    if (QThread::currentThread() == context->thread())
        return call();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(context, std::forward<Call>(call), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(context, std::forward<Call>(call), Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

inline void PostToGui(QObject* context, std::function<void()> call)
{
    if (QThread::currentThread() == context->thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
}
