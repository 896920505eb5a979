#pragma once
// The detector's receive-and-answer loop on the simulated line.
#include <atomic>
#include <csignal>
#include <cstdint>
#include <optional>
#include <string>

#include "CommandHandlers.h"
#include "DetectorModel.h"
#include "FaultInjector.h"
#include "FrameReader.h"
#include "FrameRecorder.h"
#include "LiveReadings.h"
#include "PtyLine.h"
#include "SimOptions.h"

namespace sim {

class SimServer {
public:
    enum class End { Stopped, Unplugged, LineError, TakenAway };

    SimServer(const SimOptions& options, ReadingSettings readings, DetectorModel& model, PtyLine& line,
              FrameRecorder& recorder);

    // Serves until `stop` is set by a signal handler. Signals are expected to
    // be blocked by the caller; `waitMask` is the mask to wait under, so a
    // stop request ends the wait at once.
    End Run(const sigset_t& waitMask, const volatile std::sig_atomic_t& stop);

    // Saves the detector's memory to the state file, if there is one.
    void SaveState();

    // For a unit among several: `wakeFd` (an eventfd) is written when the
    // unit is to stop or be taken away; Run then ends with End::TakenAway
    // while `away` is set, else with End::Stopped.
    void SetWake(int wakeFd, const std::atomic<bool>* away)
    {
        wakeFd_ = wakeFd;
        away_ = away;
    }

private:
    bool Receive();
    // A unit set to refuse configuration writes NAKs their data frames.
    bool RefusesWrite(const std::vector<std::uint8_t>& frame) const;
    // False once the unit has been "unplugged".
    bool ServeFrames();
    bool NextFrameReady();
    void ListenUntil(FrameReader::Clock::time_point deadline);
    // Drops a partial frame that went stale, and with it the follow-up the
    // detector was waiting for.
    void DiscardStaleInput(FrameReader::Clock::time_point now);
    // The nearer of the stale-input deadline and the unit's own next task.
    std::optional<FrameReader::Clock::time_point> WakeDeadline() const;
    void Send(const std::vector<std::uint8_t>& reply, const FaultPlan& plan);

    const SimOptions& options_;
    DetectorModel& model_;
    PtyLine& line_;
    FrameRecorder& recorder_;
    LiveReadings readings_;
    DetectorSession session_;
    FaultInjector faults_;
    FrameReader reader_;
    std::uint64_t answered_ = 0;
    int wakeFd_ = -1;
    const std::atomic<bool>* away_ = nullptr;
};

}  // namespace sim
