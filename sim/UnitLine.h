#pragma once
// Several simulated units at once, each on a pseudo-terminal and a thread of
// its own, so that one unit's exchanges never wait for another's. A unit can
// be taken away from its adapter and a unit (the same or another) put in
// front of it again, as on a production line.
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "DetectorModel.h"
#include "FrameRecorder.h"
#include "LiveReadings.h"
#include "PtyLine.h"
#include "SimOptions.h"

namespace sim {

// Builds a detector for the given options (loading their state file when
// there is one) and the reading settings; both report a bad input in `error`.
struct UnitFactory {
    std::function<std::optional<DetectorModel>(const SimOptions&, std::string&)> detector;
    std::function<std::optional<ReadingSettings>(const SimOptions&, std::string&)> readings;
};

// The options of unit `number` (1-based) of `units`: its own link, state and
// record files and serial number.
SimOptions UnitOptions(const SimOptions& base, int number);
// `serial` plus `add`, counting in the trailing digits (carrying, width kept).
std::array<char, 10> AddToSerial(std::array<char, 10> serial, int add);

class UnitLine {
public:
    UnitLine(int number, SimOptions options, UnitFactory factory, std::mutex& consoleLock);
    ~UnitLine();
    UnitLine(const UnitLine&) = delete;
    UnitLine& operator=(const UnitLine&) = delete;

    // Loads or creates the detector and opens the line.
    bool Open(std::string& error);
    const std::string& PortPath() const { return line_.PortPath(); }
    void Start();
    // Ends the unit's thread and saves its state.
    void Stop();
    // True when the unit ended by itself (an unplug or a line error).
    bool Ended() const { return ended_.load(); }
    bool LineFailed() const { return lineFailed_.load(); }

    void TakeAway();
    // Nothing: the unit taken away comes back.
    void PutInFront(std::optional<std::array<char, 10>> serial);

private:
    void Serve();
    // While away: hears nothing; true when a unit is put in front.
    bool WaitAway();
    void Wake();
    void Announce(const std::string& line);
    bool Replace(const std::array<char, 10>& serial);

    int number_;
    SimOptions options_;
    UnitFactory factory_;
    std::mutex& consoleLock_;
    std::optional<DetectorModel> model_;
    std::optional<ReadingSettings> readings_;
    FrameRecorder recorder_;
    PtyLine line_;
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<bool> away_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> ended_{false};
    std::atomic<bool> lineFailed_{false};
    std::mutex requestLock_;
    bool frontRequested_ = false;
    std::optional<std::array<char, 10>> frontSerial_;
};

// Serves all units until a stop signal (waiting under `waitMask`) or until
// every unit has ended; reads the control pipe meanwhile. Returns the exit
// status.
int RunUnits(const SimOptions& options, const UnitFactory& factory, const sigset_t& waitMask,
             const volatile std::sig_atomic_t& stop);

}  // namespace sim
