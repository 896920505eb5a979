#pragma once
// The one thread that talks to the detector. It owns the TComZEL object, so
// the serial port is always opened, used and closed on this thread, and it
// runs one operation at a time as plain sequential code. The GUI thread stays
// free to paint and to answer the operation's questions (see TGuiThreadView).
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

#include "ZelComms.h"

class TLinkThread : public QObject {
    Q_OBJECT

public:
    explicit TLinkThread(QObject* parent = nullptr);
    // Waits for the thread to end. Call only while no operation runs: a
    // running one may be waiting for the GUI thread.
    ~TLinkThread() override;
    TLinkThread(const TLinkThread&) = delete;
    TLinkThread& operator=(const TLinkThread&) = delete;

    TComZEL& Link() { return *FLink; }
    bool Busy() const { return FBusy.load(); }

    // Queues `work` on the link thread. False, and nothing queued, while an
    // earlier operation is still running.
    bool Run(std::function<void()> work);

signals:
    // Emitted on the link thread after each operation; receivers in the GUI
    // thread get it queued.
    void Finished();
    // An operation ended with an exception that no workflow step handles.
    void Failed(const QString& message);

private:
    QThread FThread;
    std::unique_ptr<QObject> FContext;  // lives in FThread; runs the work
    std::unique_ptr<TComZEL> FLink;
    std::atomic<bool> FBusy{false};
};
