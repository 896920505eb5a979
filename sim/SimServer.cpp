#include "SimServer.h"

#include "SimProtocol.h"

#include <cerrno>
#include <iostream>
#include <poll.h>
#include <unistd.h>
#include <sys/prctl.h>

namespace sim {
namespace {

constexpr std::size_t kReadChunk = 256;
// Between the two parts of a split reply: long enough that the tool reads
// them apart, short against the 100 ms a reply may take.
constexpr std::chrono::milliseconds kSplitGap{3};

constexpr unsigned long kLineTimerSlackNs = 10'000;

// The reading generator gets its own stream so that live readings never
// shift the fault sequence of a seeded run.
constexpr std::uint32_t kReadingSeedOffset = 0x5EED;

timespec Remaining(FrameReader::Clock::time_point deadline)
{
    const auto left = std::max(deadline - FrameReader::Clock::now(), FrameReader::Clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

}  // namespace

SimServer::SimServer(const SimOptions& options, ReadingSettings readings, DetectorModel& model, PtyLine& line,
                     FrameRecorder& recorder)
    : options_(options),
      model_(model),
      line_(line),
      recorder_(recorder),
      readings_(std::move(readings), options.seed + kReadingSeedOffset, LiveReadings::Clock::now()),
      session_(model, readings_, options.session, std::cerr),
      faults_(options.dropRate, options.corruptRate, options.nakRate, options.seed)
{
    faults_.SetLineFaults(options.splitRate, options.strayRate);
    // Paced like a wire, each reply waits out its bytes' time on the line;
    // the kernel's default timer slack would add up to 50 us to every reply
    // on top of the wire time.
    if (options.baud != 0)
        ::prctl(PR_SET_TIMERSLACK, kLineTimerSlackNs, 0, 0, 0);
}

SimServer::End SimServer::Run(const sigset_t& waitMask, const volatile std::sig_atomic_t& stop)
{
    End end = End::Stopped;
    while (!stop) {
        if (session_.Advance(FrameReader::Clock::now()))
            SaveState();
        timespec timeout{};
        const auto deadline = WakeDeadline();
        if (deadline)
            timeout = Remaining(*deadline);
        pollfd fds[2]{{line_.MasterFd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        pollfd& pfd = fds[0];
        const int ready = ::ppoll(fds, wakeFd_ >= 0 ? 2 : 1, deadline ? &timeout : nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            end = End::LineError;
            break;
        }
        if (wakeFd_ >= 0 && (fds[1].revents & POLLIN)) {
            std::uint64_t count = 0;
            (void)!::read(wakeFd_, &count, sizeof count);
            if (away_ && away_->load())
                end = End::TakenAway;
            break;
        }
        if (pfd.revents & POLLIN) {
            if (!Receive()) {
                end = End::LineError;
                break;
            }
        } else if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            end = End::LineError;
            break;
        }
        if (!ServeFrames()) {
            end = End::Unplugged;
            break;
        }
        DiscardStaleInput(FrameReader::Clock::now());
    }
    session_.Shutdown();
    return end;
}

bool SimServer::RefusesWrite(const std::vector<std::uint8_t>& frame) const
{
    return options_.refuseWrites && !frame.empty() && frame.front() == cmd::kDataFrame && !session_.Asleep() &&
           !session_.AwaitingFirmwarePacket();
}

void SimServer::DiscardStaleInput(FrameReader::Clock::time_point now)
{
    if (reader_.DiscardIfStale(now))
        session_.AbortFollowUp();
}

std::optional<FrameReader::Clock::time_point> SimServer::WakeDeadline() const
{
    const auto stale = reader_.StaleDeadline();
    const auto task = session_.NextDeadline();
    if (stale && task)
        return std::min(*stale, *task);
    return stale ? stale : task;
}

void SimServer::SaveState()
{
    if (options_.statePath.empty())
        return;
    std::string error;
    if (!model_.Save(options_.statePath, error))
        std::cerr << "varnolite-sim: " << error << std::endl;
}

bool SimServer::Receive()
{
    std::uint8_t chunk[kReadChunk];
    for (;;) {
        const long n = line_.Read(chunk, sizeof chunk);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        const auto now = FrameReader::Clock::now();
        // A partial frame that sat too long is not continued by new bytes.
        DiscardStaleInput(now);
        reader_.Feed({chunk, static_cast<std::size_t>(n)}, now);
    }
}

bool SimServer::NextFrameReady()
{
    const std::size_t need = session_.ExpectedLength();
    if (session_.Asleep()) {
        // Asleep, the receiver hunts for a well-formed frame byte by byte,
        // so a stray byte cannot keep it out of step with the wake-up
        // frames that follow.
        while (reader_.Has(need) && !FrameCrcValid(reader_.Peek(need)))
            reader_.Skip(1);
    }
    return reader_.Has(need);
}

bool SimServer::ServeFrames()
{
    while (NextFrameReady()) {
        // A detector answers every frame it hears, each wake-up frame too,
        // a turnaround after the frame's last byte: frames that arrived
        // while it was answering an earlier one get their answers in turn.
        const auto answerAt = reader_.ArrivalOf(session_.ExpectedLength()) + options_.turnaround;
        const std::vector<std::uint8_t> frame = reader_.Take(session_.ExpectedLength());
        recorder_.Received(frame);
        const FaultPlan plan = faults_.Next();
        Outcome outcome;
        if (plan.nak || RefusesWrite(frame))
            outcome = session_.Refuse(frame);
        else if (plan.drop && session_.AwaitingFirmwarePacket())
            // A long firmware frame is what the infrared link loses on its
            // way in: the unit never sees it, so it stores nothing.
            outcome = session_.Lose(frame);
        else
            outcome = session_.Handle(frame);
        if (outcome.discardInput)
            reader_.Clear();
        if (outcome.memoryChanged)
            SaveState();
        if (outcome.reply.empty() || plan.drop)
            continue;
        if (plan.corrupt)
            faults_.Corrupt(outcome.reply);
        ListenUntil(answerAt);
        Send(outcome.reply, plan);
        if (options_.unplugAfter && ++answered_ >= *options_.unplugAfter) {
            line_.WaitUntilRead(200);
            return false;
        }
    }
    return true;
}

// Waits while the answer is due or on the wire, taking in what the tool
// sends meanwhile with the time it came: nothing is lost, and those frames'
// turnarounds run from when they arrived, not from when they are served.
void SimServer::ListenUntil(FrameReader::Clock::time_point deadline)
{
    for (;;) {
        const auto now = FrameReader::Clock::now();
        if (now >= deadline)
            return;
        const timespec timeout = Remaining(deadline);
        pollfd pfd{line_.MasterFd(), POLLIN, 0};
        // Signals stay blocked here; a stop request is seen by Run's wait
        // once the answer is out, a millisecond or so later.
        const int ready = ::ppoll(&pfd, 1, &timeout, nullptr);
        if (ready > 0 && (pfd.revents & POLLIN) && !Receive())
            return;
        if (ready > 0 && !(pfd.revents & POLLIN))
            SleepFor(deadline - FrameReader::Clock::now());
    }
}

void SimServer::Send(const std::vector<std::uint8_t>& reply, const FaultPlan& plan)
{
    if (options_.baud != 0)
        ListenUntil(FrameReader::Clock::now() + WireTime(reply.size(), options_.baud));
    // Ambient infrared light now and then reaches the adapter as a byte of
    // its own, just before the reply.
    if (plan.stray) {
        const std::vector<std::uint8_t> stray{0x00};
        if (line_.Write(stray))
            recorder_.Sent(stray);
    }
    if (plan.split && reply.size() > 1) {
        // The adapter's USB side hands the reply over in two transfers.
        const std::size_t half = reply.size() / 2;
        const std::vector<std::uint8_t> first(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(half));
        const std::vector<std::uint8_t> second(reply.begin() + static_cast<std::ptrdiff_t>(half), reply.end());
        if (line_.Write(first))
            recorder_.Sent(first);
        SleepFor(kSplitGap);
        if (line_.Write(second))
            recorder_.Sent(second);
        return;
    }
    if (line_.Write(reply))
        recorder_.Sent(reply);
}

}  // namespace sim
