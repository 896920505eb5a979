#pragma once
// The simulated serial line: a pseudo-terminal whose slave side stands in for
// the adapter's /dev/ttyUSBn, reachable under a fixed symbolic link.
//
// The simulator keeps its own descriptor on the slave side open for its whole
// life. Without it, every time the tool closes the port (it does so after each
// operation) the last slave descriptor goes away, the master sees a hang-up,
// and the line would have to be rebuilt.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace sim {

class PtyLine {
public:
    PtyLine() = default;
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;
    ~PtyLine();

    // Creates the pseudo-terminal in raw mode and, when `linkPath` is not
    // empty, points the link at its slave side (an old link is replaced; any
    // other file at that path is left alone and reported).
    bool Open(const std::string& linkPath, std::string& error);
    // Closes both sides and removes the link, if it still points here.
    void Close();

    bool IsOpen() const { return master_ >= 0; }
    int MasterFd() const { return master_; }
    // Waits up to `ms` until the tool has read everything sent to it, so that
    // an unplug does not swallow the last reply still queued on the line.
    void WaitUntilRead(int ms) const;
    const std::string& SlavePath() const { return slavePath_; }
    // What the tool opens: the link when there is one, otherwise the slave.
    const std::string& PortPath() const { return linkPath_.empty() ? slavePath_ : linkPath_; }

    // Non-blocking read of what the tool has written; 0 when nothing waits,
    // -1 on a line error.
    long Read(std::uint8_t* buffer, std::size_t capacity);
    // Writes the whole reply, waiting at most a short while for room. When
    // nobody reads the port, stale bytes are dropped rather than blocking
    // the detector.
    bool Write(std::span<const std::uint8_t> bytes);

private:
    bool CreateLink(const std::string& linkPath, std::string& error);
    void RemoveLink();

    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

}  // namespace sim
