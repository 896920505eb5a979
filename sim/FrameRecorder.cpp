#include "FrameRecorder.h"

#include "SimProtocol.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace sim {

FrameRecorder::~FrameRecorder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool FrameRecorder::Open(const std::string& path, std::string& error)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error = "cannot open record file " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void FrameRecorder::Line(const char* prefix, std::span<const std::uint8_t> bytes)
{
    if (fd_ < 0)
        return;
    // One write per line: with O_APPEND the line lands whole.
    const std::string line = prefix + HexBytes(bytes) + "\n";
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace sim
