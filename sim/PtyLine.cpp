#include "PtyLine.h"

#include <sys/ioctl.h>

#include <ctime>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {
namespace {

constexpr int kWriteWaitMs = 100;

std::string Errno(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

}  // namespace

PtyLine::~PtyLine()
{
    Close();
}

bool PtyLine::Open(const std::string& linkPath, std::string& error)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        error = Errno("posix_openpt");
        return false;
    }
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = Errno("grantpt/unlockpt");
        Close();
        return false;
    }
    char name[PATH_MAX];
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        error = Errno("ptsname");
        Close();
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = Errno("open " + slavePath_);
        Close();
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B115200);
        ::cfsetospeed(&tio, B115200);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    const int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    if (!linkPath.empty() && !CreateLink(linkPath, error)) {
        Close();
        return false;
    }
    return true;
}

void PtyLine::Close()
{
    RemoveLink();
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
}

long PtyLine::Read(std::uint8_t* buffer, std::size_t capacity)
{
    for (;;) {
        const ssize_t n = ::read(master_, buffer, capacity);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}

bool PtyLine::Write(std::span<const std::uint8_t> bytes)
{
    bool flushedStale = false;
    while (!bytes.empty()) {
        const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        // The slave's input queue is full: old replies nobody picked up.
        if (!flushedStale) {
            ::tcflush(slave_, TCIFLUSH);
            flushedStale = true;
            continue;
        }
        pollfd pfd{master_, POLLOUT, 0};
        if (::poll(&pfd, 1, kWriteWaitMs) <= 0)
            return false;
    }
    return true;
}

bool PtyLine::CreateLink(const std::string& linkPath, std::string& error)
{
    struct stat st{};
    if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = linkPath + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    // Build the new link beside the old one and rename it over, so the path
    // never points nowhere.
    const std::string temp = linkPath + ".new." + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(slavePath_.c_str(), temp.c_str()) != 0) {
        error = Errno("symlink " + temp);
        return false;
    }
    if (::rename(temp.c_str(), linkPath.c_str()) != 0) {
        error = Errno("rename to " + linkPath);
        ::unlink(temp.c_str());
        return false;
    }
    linkPath_ = linkPath;
    return true;
}

void PtyLine::RemoveLink()
{
    if (linkPath_.empty())
        return;
    // Another simulator may have taken the path over since; leave its link.
    char target[PATH_MAX];
    const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_)
        ::unlink(linkPath_.c_str());
    linkPath_.clear();
}

void PtyLine::WaitUntilRead(int ms) const
{
    // The slave's input queue is shared by every opener, so our own slave
    // descriptor sees how much the tool has not read yet.
    for (int waited = 0; waited < ms; ++waited) {
        int unread = 0;
        if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &unread) != 0 || unread == 0)
            return;
        const timespec pause{0, 1000000};
        ::nanosleep(&pause, nullptr);
    }
}

}  // namespace sim
