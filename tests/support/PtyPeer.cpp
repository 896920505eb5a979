#include "PtyPeer.h"

#include "SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

PtyPeer::PtyPeer()
{
    FMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0)
        throw std::runtime_error("no pseudo-terminal");
    FSlavePath = ptsname(FMaster);
    std::string dir = "/tmp/ptypeer-XXXXXX";
    if (!::mkdtemp(dir.data()))
        throw std::runtime_error("no folder for the pseudo-terminal's link");
    FLinkDir = dir;
    FLinkPath = FLinkDir + "/ttyPEER";
    if (::symlink(FSlavePath.c_str(), FLinkPath.c_str()) != 0)
        throw std::runtime_error("no link to the pseudo-terminal");
    // Holding the slave open keeps the line up while the tool opens and closes it.
    FSlaveKeep = ::open(FSlavePath.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(FSlaveKeep, &tio);
    cfmakeraw(&tio);
    tcsetattr(FSlaveKeep, TCSANOW, &tio);
}

PtyPeer::~PtyPeer()
{
    Stop();
    if (FSlaveKeep >= 0)
        ::close(FSlaveKeep);
    if (FMaster >= 0)
        ::close(FMaster);
    ::unlink(FLinkPath.c_str());
    ::rmdir(FLinkDir.c_str());
}

void PtyPeer::Play(std::vector<PeerStep> steps)
{
    Stop();
    FStop = false;
    // Replies that wait for no request are on the line when Play returns: a
    // test that goes on at once finds them there, however busy the machine.
    std::size_t first = 0;
    for (; first < steps.size() && steps[first].requestLength == 0; ++first)
        (void)!::write(FMaster, steps[first].reply.constData(), static_cast<size_t>(steps[first].reply.size()));
    steps.erase(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(first));
    FThread = std::thread([this, steps = std::move(steps)]() mutable {
        // Linux keeps a nice value per thread: the scripted detector answers
        // ahead of the busy test suite, as real hardware would.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kPeerNice);
        Run(std::move(steps));
    });
}

void PtyPeer::Run(std::vector<PeerStep> steps)
{
    const QByteArray wakeFrame = Hex("B2 75 80");
    std::size_t step = 0;
    QByteArray pending;
    bool dropWakes = false;
    while (!FStop) {
        pollfd pfd{FMaster, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0)
            continue;
        char buf[512];
        const ssize_t got = ::read(FMaster, buf, sizeof buf);
        if (got <= 0)
            continue;
        {
            std::lock_guard<std::mutex> lock(FLock);
            FReceived.append(buf, static_cast<int>(got));
        }
        pending.append(buf, static_cast<int>(got));
        for (;;) {
            if (dropWakes) {
                while (pending.startsWith(wakeFrame))
                    pending.remove(0, wakeFrame.size());
                if (!pending.isEmpty() && wakeFrame.startsWith(pending))
                    break;  // maybe the start of one more wake-up frame
                if (!pending.isEmpty())
                    dropWakes = false;
            }
            if (step >= steps.size() || pending.size() < steps[step].requestLength)
                break;
            pending.remove(0, steps[step].requestLength);
            if (steps[step].delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(steps[step].delayMs));
            if (!steps[step].reply.isEmpty())
                (void)!::write(FMaster, steps[step].reply.constData(), static_cast<size_t>(steps[step].reply.size()));
            dropWakes = dropWakes || steps[step].wake;
            ++step;
        }
    }
}

PeerStep WakeStep(const QByteArray& reply)
{
    PeerStep step{3, reply};
    step.wake = true;
    return step;
}

QByteArray PtyPeer::Received(int atLeast, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> lock(FLock);
            if (FReceived.size() >= atLeast)
                return FReceived;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard<std::mutex> lock(FLock);
    return FReceived;
}

QByteArray PtyPeer::ReceivedWhenQuiet(int quietMs, int maxMs)
{
    const auto start = std::chrono::steady_clock::now();
    qsizetype last = -1;
    auto lastChange = start;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::mutex> lock(FLock);
            if (FReceived.size() != last) {
                last = FReceived.size();
                lastChange = now;
            } else if (now - lastChange >= std::chrono::milliseconds(quietMs) ||
                       now - start >= std::chrono::milliseconds(maxMs)) {
                return FReceived;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void PtyPeer::HangUp()
{
    Stop();
    if (FSlaveKeep >= 0)
        ::close(FSlaveKeep);
    FSlaveKeep = -1;
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}

void PtyPeer::Stop()
{
    FStop = true;
    if (FThread.joinable())
        FThread.join();
}
