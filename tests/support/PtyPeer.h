#pragma once
// A scripted detector on the far side of a pseudo-terminal: each expected
// request gets a fixed reply, so exchanges can be checked byte for byte
// without the full simulator.
#include <QByteArray>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct PeerStep {
    int requestLength;     // bytes that make up the request frame; 0 = reply at once
    QByteArray reply;      // sent back after the request (empty: stay silent)
    int delayMs = 0;       // before replying
    // A wake-up: the tool repeats its 3-byte wake-up frame until it sees the
    // answer, so the frames that follow the first one are dropped until
    // another request begins.
    bool wake = false;
};

// The step that answers a wake-up (B2 75 80) with `reply`.
PeerStep WakeStep(const QByteArray& reply);

class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    // The path the tool opens: a symbolic link to the slave side in a folder of
    // this peer's own. Qt names its port lock after the path it opens, and a
    // pseudo-terminal's number is handed to the next process as soon as it is
    // freed; a private path keeps two tests that happen to get the same
    // number one after the other from ever sharing a lock.
    const std::string& SlavePath() const { return FLinkPath; }
    // The slave device itself (/dev/pts/N), for permission checks.
    const std::string& DevicePath() const { return FSlavePath; }
    // Runs the steps in order on a thread; afterwards further input is only recorded.
    void Play(std::vector<PeerStep> steps);
    // Every byte the tool sent, in order, after waiting up to `ms` for `atLeast` bytes.
    QByteArray Received(int atLeast = 0, int ms = 500);
    // Everything the tool sent, once nothing new has come for `quietMs`: on a
    // loaded machine the peer's thread may still be reading when the tool
    // has long finished writing.
    QByteArray ReceivedWhenQuiet(int quietMs = 100, int maxMs = 3000);
    // Drop the line, as an unplugged adapter does.
    void HangUp();
    void Stop();

private:
    void Run(std::vector<PeerStep> steps);
    int FMaster = -1;
    int FSlaveKeep = -1;
    std::string FSlavePath;
    std::string FLinkDir;
    std::string FLinkPath;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    QByteArray FReceived;
};

QByteArray Hex(const char* text);  // "B5 B7 C1" -> bytes
