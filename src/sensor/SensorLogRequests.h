#pragma once
// How the logging dialog's buttons reach the running loop: each only stores
// its request here and wakes the loop, which acts on it at its next pass.
// Safe to use from any thread.
#include <atomic>
#include <cstdint>

#include "SensorClock.h"

// FBtnSel: the calibration group's buttons, in the numbering the loop uses.
enum class LogButton : std::uint8_t {
    None = 0,
    Cal = 1,
    Zero = 2,
    Span = 3,
    CalAbort = 4,
    ClearPeak = 5,
    BumpPass = 6,
    BumpFail = 7,
};

class TSensorLogRequests {
public:
    // FLogStart: set by the run when it starts, cleared by Stop.
    void SetLogStart(bool running)
    {
        FLogStart.store(running);
        FWakeup.Notify();
    }
    bool LogStart() const { return FLogStart.load(); }
    void Stop() { SetLogStart(false); }

    // A second press before the loop took the first replaces it.
    void Press(LogButton button)
    {
        FBtnSel.store(static_cast<std::uint8_t>(button));
        FWakeup.Notify();
    }
    LogButton TakeButton() { return static_cast<LogButton>(FBtnSel.exchange(0)); }

    // SensorCheck2 (battery) and SensorCheck3 (temperature).
    void SetBatteryWanted(bool wanted) { FBattery.store(wanted); }
    void SetTemperatureWanted(bool wanted) { FTemperature.store(wanted); }
    bool BatteryWanted() const { return FBattery.load(); }
    bool TemperatureWanted() const { return FTemperature.load(); }

    TWakeup& Wakeup() { return FWakeup; }

private:
    std::atomic<bool> FLogStart{false};
    std::atomic<std::uint8_t> FBtnSel{0};
    std::atomic<bool> FBattery{true};
    std::atomic<bool> FTemperature{true};
    TWakeup FWakeup;
};
