#pragma once
// The detector's command interpreter. One handler per command byte, looked up
// in a table; some commands announce a follow-up frame without a command byte
// whose length only the detector's state tells (address header, data frame,
// life value, firmware packet).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <vector>

#include "DetectorModel.h"
#include "FirmwareReceiver.h"
#include "LiveReadings.h"
#include "SensorCalibration.h"
#include "SessionSettings.h"
#include "TestOutputs.h"

namespace sim {

struct Outcome {
    std::vector<std::uint8_t> reply;  // empty: the detector stays silent
    bool discardInput = false;        // throw away what else is waiting
    bool memoryChanged = false;       // the state file needs saving
};

class DetectorSession {
public:
    using Clock = std::chrono::steady_clock;

    // The simulated cell as a calibration finds it: its zero in converter
    // counts and its span in thousandths (both a little off the factory
    // values, so a calibration visibly changes them).
    static constexpr std::uint16_t kCellZero = 201;
    static constexpr std::uint16_t kCellSpan = 5480;
    // How long a bump test takes; the event keeps it as its duration.
    static constexpr std::uint16_t kBumpSeconds = 30;

    DetectorSession(DetectorModel& model, LiveReadings& readings, const SessionSettings& settings,
                    std::ostream& console);

    bool Asleep() const { return !awake_; }
    // Length of the frame the detector waits for now.
    std::size_t ExpectedLength() const;
    // The next frame is a firmware packet.
    bool AwaitingFirmwarePacket() const { return awake_ && awaiting_ == Awaiting::FirmwarePacket; }
    Outcome Handle(std::span<const std::uint8_t> frame);
    // The detector refuses the frame without acting on it (a NAK where it
    // would have answered at all).
    Outcome Refuse(std::span<const std::uint8_t> frame);
    // The frame never reached the detector's receiver.
    Outcome Lose(std::span<const std::uint8_t> frame);
    // The line went quiet in the middle of a frame: whatever follow-up frame
    // the detector expected is not coming.
    void AbortFollowUp();

    // When the unit has something to do by itself next (a calibration ends).
    std::optional<Clock::time_point> NextDeadline() const;
    // Does what is due by `now`; true when the memory changed.
    bool Advance(Clock::time_point now);
    // The simulator is closing: outputs go off.
    void Shutdown();

private:
    enum class Awaiting { Command, AddressHeader, ConfigData, LifeValue, FirmwarePacket };
    using Handler = Outcome (DetectorSession::*)(std::uint8_t command);

    struct AddressHeader {
        std::size_t count = 0;
        std::size_t address = 0;
    };
    // What 0x81 walks through: a copy taken when it was selected, so a
    // packet never mixes two life values; bytes past its end read as erased.
    struct Selection {
        std::vector<std::uint8_t> bytes;
        std::size_t packetSize = 0;
        std::size_t next = 0;
    };

    static const std::map<std::uint8_t, Handler>& Handlers();

    Outcome HandleAsleep(std::span<const std::uint8_t> frame);
    Outcome HandleCommand(std::uint8_t command);
    Outcome HandleAddressHeader(std::span<const std::uint8_t> payload);
    Outcome HandleConfigData(std::span<const std::uint8_t> payload);
    Outcome HandleLifeValue(std::span<const std::uint8_t> payload);
    Outcome HandleFirmwarePacket(std::span<const std::uint8_t> payload);

    Outcome Check(std::uint8_t);
    Outcome Release(std::uint8_t);
    Outcome Identify(std::uint8_t);
    Outcome SelectUnit(std::uint8_t);
    Outcome SelectSensor(std::uint8_t);
    Outcome SelectLog(std::uint8_t);
    Outcome NextPacket(std::uint8_t);
    Outcome AnnounceAddress(std::uint8_t);
    Outcome AnnounceData(std::uint8_t);
    Outcome AnnounceRepeat(std::uint8_t);
    Outcome AnnounceLife(std::uint8_t);
    Outcome LogSize(std::uint8_t);
    Outcome LiveReading(std::uint8_t command);
    Outcome Hibernate(std::uint8_t);
    Outcome LogReset(std::uint8_t);
    Outcome ResetUnit(std::uint8_t command);
    Outcome FactoryReset(std::uint8_t);
    Outcome UpgradeStart(std::uint8_t);
    Outcome UpgradeExecute(std::uint8_t command);
    Outcome TestOutput(std::uint8_t command);
    Outcome SensorCommand(std::uint8_t command);

    Outcome ZeroCalibration(std::uint8_t command);
    Outcome StartCalibration(std::uint8_t command, SensorCalibration::Kind kind);
    Outcome RecordBump(bool passed);
    bool ZeroRefused() const;
    std::uint16_t ZeroNow() const;
    bool FinishCalibration(Clock::time_point now);
    // History bits 2..7 of a gas reading.
    std::uint8_t HistoryFlags() const;

    void Select(std::vector<std::uint8_t> bytes, std::size_t packetSize);
    void SelectMemory(std::size_t address, std::size_t packetSize);
    void FallAsleep();

    DetectorModel& model_;
    LiveReadings& readings_;
    const SessionSettings settings_;
    std::ostream& console_;
    FirmwareReceiver firmware_;
    SensorCalibration calibration_;
    TestOutputs outputs_;

    bool awake_ = false;
    int wakeCount_ = 0;
    Awaiting awaiting_ = Awaiting::Command;
    std::optional<std::uint8_t> previousCommand_;
    std::optional<AddressHeader> header_;
    std::optional<Selection> selection_;
    // The zero a running zero-then-span calibration found at its start.
    std::uint16_t pendingZero_ = 0;
};

}  // namespace sim
