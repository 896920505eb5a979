#include "UnitLine.h"

#include "SimServer.h"

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {
namespace {

std::string Numbered(const std::string& path, int number)
{
    return path.empty() ? path : path + "-" + std::to_string(number);
}

std::string SerialText(const std::array<char, 10>& serial)
{
    return std::string(serial.begin(), serial.end());
}

bool ParseSerialWord(const std::string& word, std::array<char, 10>& out)
{
    if (word.empty() || word.size() > out.size())
        return false;
    for (char c : word)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')))
            return false;
    out.fill('0');
    std::copy(word.begin(), word.end(), out.begin());
    return true;
}

}  // namespace

std::array<char, 10> AddToSerial(std::array<char, 10> serial, int add)
{
    for (int i = static_cast<int>(serial.size()) - 1; i >= 0 && add > 0; --i) {
        if (serial[i] < '0' || serial[i] > '9')
            break;
        const int digit = serial[i] - '0' + add;
        serial[i] = static_cast<char>('0' + digit % 10);
        add = digit / 10;
    }
    return serial;
}

SimOptions UnitOptions(const SimOptions& base, int number)
{
    SimOptions options = base;
    options.refuseWrites =
        std::find(base.refusingUnits.begin(), base.refusingUnits.end(), number) != base.refusingUnits.end();
    if (base.units > 1) {
        options.linkPath = Numbered(base.linkPath, number);
        options.statePath = Numbered(base.statePath, number);
        options.recordPath = Numbered(base.recordPath, number);
        options.identity.serial = AddToSerial(base.FreshIdentity().serial, number - 1);
        // Each unit's faults and readings follow a sequence of their own.
        options.seed = base.seed + static_cast<std::uint32_t>(number - 1);
    }
    return options;
}

UnitLine::UnitLine(int number, SimOptions options, UnitFactory factory, std::mutex& consoleLock)
    : number_(number), options_(std::move(options)), factory_(std::move(factory)), consoleLock_(consoleLock)
{
}

UnitLine::~UnitLine()
{
    Stop();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

bool UnitLine::Open(std::string& error)
{
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        error = "eventfd failed";
        return false;
    }
    readings_ = factory_.readings(options_, error);
    if (!readings_)
        return false;
    model_ = factory_.detector(options_, error);
    if (!model_)
        return false;
    if (!options_.recordPath.empty() && !recorder_.Open(options_.recordPath, error))
        return false;
    if (!options_.statePath.empty() && !model_->Save(options_.statePath, error))
        return false;
    return line_.Open(options_.linkPath, error);
}

void UnitLine::Start()
{
    thread_ = std::thread([this] { Serve(); });
}

void UnitLine::Stop()
{
    if (!thread_.joinable())
        return;
    stop_ = true;
    Wake();
    thread_.join();
    line_.Close();
}

void UnitLine::Wake()
{
    const std::uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

void UnitLine::TakeAway()
{
    away_ = true;
    Wake();
}

void UnitLine::PutInFront(std::optional<std::array<char, 10>> serial)
{
    {
        std::lock_guard lock(requestLock_);
        frontRequested_ = true;
        frontSerial_ = serial;
    }
    // A unit in front is taken away first; its replacement follows at once.
    away_ = true;
    Wake();
}

void UnitLine::Announce(const std::string& line)
{
    std::lock_guard lock(consoleLock_);
    std::cout << line << std::endl;
}

bool UnitLine::Replace(const std::array<char, 10>& serial)
{
    SimOptions fresh = options_;
    fresh.statePath.clear();
    fresh.identity.serial = serial;
    std::string error;
    auto model = factory_.detector(fresh, error);
    if (!model) {
        std::cerr << "varnolite-sim: unit " << number_ << ": " << error << std::endl;
        return false;
    }
    model_ = std::move(model);
    options_.identity.serial = serial;
    if (!options_.statePath.empty() && !model_->Save(options_.statePath, error))
        std::cerr << "varnolite-sim: " << error << std::endl;
    return true;
}

bool UnitLine::WaitAway()
{
    for (;;) {
        if (stop_)
            return false;
        std::optional<std::array<char, 10>> serial;
        bool front = false;
        {
            std::lock_guard lock(requestLock_);
            front = frontRequested_;
            frontRequested_ = false;
            serial = frontSerial_;
        }
        if (front) {
            away_ = false;
            if (!serial || *serial == model_->CurrentIdentity().serial || Replace(*serial)) {
                Announce("unit " + std::to_string(number_) + " front " +
                         SerialText(model_->CurrentIdentity().serial));
                return true;
            }
        }
        pollfd fds[2]{{line_.MasterFd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return false;
        if (fds[0].revents & POLLIN) {
            // Out of the adapter's reach the unit hears nothing of it.
            std::uint8_t chunk[256];
            while (line_.Read(chunk, sizeof chunk) > 0) {
            }
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            (void)!::read(wakeFd_, &count, sizeof count);
        }
    }
}

void UnitLine::Serve()
{
    sigset_t blocked;
    pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
    const volatile std::sig_atomic_t never = 0;
    for (;;) {
        SimServer::End end;
        {
            SimServer server(options_, *readings_, *model_, line_, recorder_);
            server.SetWake(wakeFd_, &away_);
            end = server.Run(blocked, never);
            server.SaveState();
        }
        if (end == SimServer::End::TakenAway && !stop_) {
            bool frontAlready = false;
            {
                std::lock_guard lock(requestLock_);
                frontAlready = frontRequested_;
            }
            if (!frontAlready)
                Announce("unit " + std::to_string(number_) + " away");
            if (WaitAway())
                continue;
        }
        lineFailed_ = end == SimServer::End::LineError;
        // An unplugged unit's port disappears, as with a single unit.
        if (end == SimServer::End::Unplugged)
            line_.Close();
        break;
    }
    ended_ = true;
    Wake();
}

namespace {

class ControlPipe {
public:
    ~ControlPipe()
    {
        if (fd_ >= 0) {
            ::close(fd_);
            ::unlink(path_.c_str());
        }
    }
    bool Open(const std::string& path, std::string& error)
    {
        if (path.empty())
            return true;
        struct stat st{};
        if (::lstat(path.c_str(), &st) == 0 && !S_ISFIFO(st.st_mode)) {
            error = "--control " + path + " exists and is not a named pipe";
            return false;
        }
        if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
            error = "cannot create the named pipe " + path;
            return false;
        }
        // Open for writing as well, so the pipe never reports an end when a
        // writer closes it.
        fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        path_ = path;
        if (fd_ < 0)
            error = "cannot open the named pipe " + path;
        return fd_ >= 0;
    }
    int Fd() const { return fd_; }
    // Complete lines read so far.
    std::vector<std::string> Lines()
    {
        char chunk[256];
        long n;
        while ((n = ::read(fd_, chunk, sizeof chunk)) > 0)
            pending_.append(chunk, static_cast<std::size_t>(n));
        std::vector<std::string> lines;
        for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
            lines.push_back(pending_.substr(0, end));
            pending_.erase(0, end + 1);
        }
        return lines;
    }

private:
    int fd_ = -1;
    std::string path_;
    std::string pending_;
};

void Obey(const std::string& line, std::vector<std::unique_ptr<UnitLine>>& units)
{
    std::istringstream words(line);
    std::string verb, serialWord, extra;
    int number = 0;
    words >> verb >> number;
    const bool numbered = !words.fail() && number >= 1 && number <= static_cast<int>(units.size());
    std::array<char, 10> serial{};
    if (verb == "front" && (words >> serialWord) && !ParseSerialWord(serialWord, serial)) {
        std::cerr << "varnolite-sim: control: bad serial '" << serialWord << "': 1 to 10 of 0-9 A-Z" << std::endl;
        return;
    }
    if (!numbered || (words >> extra) || (verb != "away" && verb != "front")) {
        std::cerr << "varnolite-sim: control: '" << line << "' is not \"away K\" or \"front K [SERIAL]\" with K 1.."
                  << units.size() << std::endl;
        return;
    }
    UnitLine& unit = *units[static_cast<std::size_t>(number - 1)];
    if (verb == "away")
        unit.TakeAway();
    else
        unit.PutInFront(serialWord.empty() ? std::nullopt : std::optional(serial));
}

}  // namespace

int RunUnits(const SimOptions& options, const UnitFactory& factory, const sigset_t& waitMask,
             const volatile std::sig_atomic_t& stop)
{
    std::mutex consoleLock;
    std::vector<std::unique_ptr<UnitLine>> units;
    std::string error;
    ControlPipe control;
    if (!control.Open(options.controlPath, error)) {
        std::cerr << "varnolite-sim: " << error << std::endl;
        return 1;
    }
    for (int number = 1; number <= options.units; ++number) {
        units.push_back(std::make_unique<UnitLine>(number, UnitOptions(options, number), factory, consoleLock));
        if (!units.back()->Open(error)) {
            std::cerr << "varnolite-sim: unit " << number << ": " << error << std::endl;
            return 2;
        }
    }
    for (auto& unit : units)
        std::cout << unit->PortPath() << '\n';
    std::cout << std::flush;
    for (auto& unit : units)
        unit->Start();

    // The units end by themselves only when unplugged; check now and then.
    constexpr long kEndCheckNs = 200'000'000;
    while (!stop) {
        pollfd pfd{control.Fd(), POLLIN, 0};
        const timespec timeout{0, kEndCheckNs};
        const int ready = ::ppoll(&pfd, control.Fd() >= 0 ? 1 : 0, &timeout, &waitMask);
        if (ready > 0 && (pfd.revents & POLLIN))
            for (const std::string& line : control.Lines())
                Obey(line, units);
        bool allEnded = true;
        for (auto& unit : units)
            allEnded = allEnded && unit->Ended();
        if (allEnded)
            break;
    }
    bool lineFailed = false;
    for (auto& unit : units) {
        unit->Stop();
        lineFailed = lineFailed || unit->LineFailed();
    }
    return lineFailed ? 1 : 0;
}

}  // namespace sim
