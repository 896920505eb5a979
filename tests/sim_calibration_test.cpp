// Calibration, turn-off and the test outputs of the simulated detector:
// progress rising and clearing on the unit's own clock, failures, stops,
// zero refusals, the sensor block after a calibration, turn-off refused
// until a calibration completed, and the console lines of the outputs.
#include "SimProcess.h"
#include "ZelRecords.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

namespace {

using namespace simwire;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kProgress = 0x80;
constexpr std::uint8_t kCalFail = 0x08;
constexpr std::size_t kZeroAt = offsetof(RZELSensorCFG, mZero);
constexpr std::size_t kSpanAt = offsetof(RZELSensorCFG, mSpan);
constexpr std::size_t kLastCalAt = offsetof(RZELSensorCFG, mLastCal);

// The factory values of the sensor block and what the simulated cell gives.
constexpr std::uint16_t kFactoryZero = 204;
constexpr std::uint16_t kFactorySpan = 5561;
constexpr std::uint32_t kFactoryLastCal = zel::kFullLife;
constexpr std::uint16_t kCellZero = 201;
constexpr std::uint16_t kCellSpan = 5480;

// The history byte of one gas reading on a fresh connection, the way the
// calibration dialog polls: wake, read, end of connection.
int PollHistory(SimProcess& sim)
{
    SimPort port(sim.portPath());
    if (!port.ok() || port.Status(Cmd(0xB2)) != kAck)
        return -1;
    const Bytes reading = port.Reading(0);
    port.Status(Cmd(0xB3));
    return reading.size() == 6 ? reading[4] : -1;
}

void SleepUntil(Clock::time_point when)
{
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now());
    if (wait.count() > 0)
        SleepMs(static_cast<int>(wait.count()));
}

TEST(SimCalibration, ProgressRisesAndClearsOnTheUnitsClock)
{
    struct Case {
        const char* name;
        QStringList args;
        std::uint8_t command;
        bool stopHalfway;    // 0x43 after 0.5 s
        bool stayAway;       // no connection at all until the state is checked
        std::uint8_t historyAtEnd;
        std::uint16_t zero;
        std::uint16_t span;
        bool lastCalSet;
    };
    const std::vector<Case> cases = {
        {"span", {}, 0x41, false, false, 0x01, kFactoryZero, kCellSpan, true},
        {"zero and span", {}, 0x42, false, false, 0x01, kCellZero, kCellSpan, true},
        {"zero and span failing", {"--cal-fail"}, 0x42, false, false, 0x01 | kCalFail, kFactoryZero, kFactorySpan,
         false},
        {"span stopped", {}, 0x41, true, false, 0x01, kFactoryZero, kFactorySpan, false},
        {"nobody connected while it ran", {}, 0x42, false, true, 0x01, kCellZero, kCellSpan, true},
    };
    // All cases run side by side, so the suite waits for one calibration.
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<Clock::time_point> started;
    std::vector<std::uint32_t> lifeAtStart;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sims.push_back(std::make_unique<SimProcess>(c.args + QStringList{"--cal-seconds", "2", "--noise", "0"}));
        START_SIM(*sims.back());
        SimPort port(sims.back()->portPath());
        ASSERT_TRUE(port.ok());
        WAKE(port);
        const Bytes identity = port.Identify();
        ASSERT_EQ(identity.size(), 18u);
        lifeAtStart.push_back(ReadLe32(identity, 4));
        ASSERT_EQ(Hex(port.SensorCommand(c.command)), Hex(kAck));
        started.push_back(Clock::now());
        const Bytes reading = port.Reading(0);
        ASSERT_EQ(reading.size(), 6u);
        EXPECT_EQ(reading[4], kProgress | 0x01) << "progress at once";
        ASSERT_EQ(Hex(port.Status(Cmd(0xB3))), Hex(kAck));
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        SleepUntil(started[i] + std::chrono::milliseconds(500));
        if (cases[i].stopHalfway) {
            SimPort port(sims[i]->portPath());
            WAKE(port);
            EXPECT_EQ(Hex(port.SensorCommand(0x43)), Hex(kAck));
            const Bytes reading = port.Reading(0);
            ASSERT_EQ(reading.size(), 6u);
            EXPECT_EQ(reading[4], 0x01) << "stopped at once";
            port.Status(Cmd(0xB3));
        } else if (!cases[i].stayAway) {
            EXPECT_EQ(PollHistory(*sims[i]), kProgress | 0x01) << "still running at 0.5 s";
        }
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        SleepUntil(started[i] + std::chrono::milliseconds(1500));
        if (!cases[i].stopHalfway && !cases[i].stayAway) {
            EXPECT_EQ(PollHistory(*sims[i]), kProgress | 0x01) << "still running at 1.5 s";
        }
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        SleepUntil(started[i] + std::chrono::milliseconds(2600));
        // The end is saved by the unit itself, with nobody connected.
        const QByteArray image = sims[i]->stateImage();
        ASSERT_EQ(image.size(), 128);
        const Bytes sensor = ToBytes(image.mid(64, 64));
        EXPECT_TRUE(BlockCrcValid(sensor));
        EXPECT_EQ(ReadLe16(sensor, kZeroAt), c.zero);
        EXPECT_EQ(ReadLe16(sensor, kSpanAt), c.span);
        const std::uint32_t lastCal = ReadLe32(sensor, kLastCalAt);
        if (c.lastCalSet) {
            EXPECT_LE(lastCal, lifeAtStart[i] - 1) << "the life remaining at the end";
            EXPECT_GE(lastCal, lifeAtStart[i] - 4);
        } else {
            EXPECT_EQ(lastCal, kFactoryLastCal);
        }
        EXPECT_EQ(PollHistory(*sims[i]), c.historyAtEnd);

        // The block on the wire says the same.
        SimPort port(sims[i]->portPath());
        WAKE(port);
        const Bytes onWire = port.Block(0x50);
        ASSERT_EQ(onWire.size(), 64u);
        EXPECT_EQ(Bytes(onWire.begin() + kZeroAt, onWire.begin() + kZeroAt + 4),
                  Bytes(sensor.begin() + kZeroAt, sensor.begin() + kZeroAt + 4));
    }
}

TEST(SimCalibration, ZeroIsRefusedInGasAndWhenTold)
{
    const Bytes refused40 = Frame({0x40});
    const Bytes refused42 = Frame({0x42});
    struct Case {
        const char* name;
        QStringList args;
        Bytes deadZone;       // written to image offset 86 first, when given
        bool calibrationRuns; // a span started before the zero
        Bytes zeroReply;
        Bytes zeroSpanReply;
        std::uint16_t zeroAfter;
    };
    const std::vector<Case> cases = {
        {"clean air", {}, {}, false, kAck, kAck, kCellZero},
        // 1.0 lies inside the dead zone of 1.5 and moves the zero it finds.
        {"gas inside the dead zone", {"--gas", "1"}, {}, false, kAck, kAck, kCellZero + 2},
        {"gas at the dead zone", {"--gas", "1.5"}, {}, false, kAck, kAck, kCellZero + 3},
        {"gas above the dead zone", {"--gas", "1.6"}, {}, false, refused40, refused42, kFactoryZero},
        {"a cell reading below zero is no gas", {"--gas", "-3"}, {}, false, kAck, kAck, kCellZero - 5},
        {"no dead zone", {"--gas", "0.1"}, {0, 0}, false, refused40, refused42, kFactoryZero},
        {"told to refuse", {"--zero-refuse"}, {}, false, refused40, refused42, kFactoryZero},
        {"a calibration is running", {}, {}, true, refused40, refused42, kFactoryZero},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.args + QStringList{"--noise", "0"});
        START_SIM(sim);
        OPEN_PORT(port, sim);
        WAKE(port);
        if (!c.deadZone.empty()) {
            ASSERT_TRUE(port.WriteConfig(86, c.deadZone));
        }
        if (c.calibrationRuns) {
            ASSERT_EQ(Hex(port.SensorCommand(0x41)), Hex(kAck));
            EXPECT_EQ(Hex(port.SensorCommand(0x41)), Hex(Frame({0x41}))) << "one calibration at a time";
        }
        EXPECT_EQ(Hex(port.SensorCommand(0x40)), Hex(c.zeroReply));
        const Bytes sensor = port.Block(0x50);
        ASSERT_EQ(sensor.size(), 64u);
        EXPECT_EQ(ReadLe16(sensor, kZeroAt), c.zeroAfter);
        EXPECT_TRUE(BlockCrcValid(sensor));
        EXPECT_EQ(ReadLe32(sensor, kLastCalAt), kFactoryLastCal) << "a zero alone is no calibration";
        EXPECT_EQ(Hex(port.SensorCommand(0x42)), Hex(c.zeroSpanReply));
        // A span needs no clean air.
        if (!c.calibrationRuns) {
            EXPECT_EQ(Hex(port.SensorCommand(0x43)), Hex(kAck));
            EXPECT_EQ(Hex(port.SensorCommand(0x41)), Hex(kAck));
        }
    }
}

TEST(SimCalibration, FailureFlagStaysUntilACalibrationPasses)
{
    SimProcess failing({"--cal-seconds", "1", "--cal-fail", "--noise", "0"});
    START_SIM(failing);
    {
        OPEN_PORT(port, failing);
        WAKE(port);
        ASSERT_EQ(Hex(port.SensorCommand(0x41)), Hex(kAck));
        ASSERT_EQ(Hex(port.Status(Cmd(0xB3))), Hex(kAck));
    }
    SleepMs(1300);
    EXPECT_EQ(PollHistory(failing), 0x01 | kCalFail);
    failing.stop();

    // The same unit, now with a cell that calibrates: the flag clears at the
    // end of the next calibration, not at its start.
    SimProcess passing({"--cal-seconds", "1", "--noise", "0"});
    QFile::remove(passing.statePath());
    ASSERT_TRUE(QFile::copy(failing.statePath(), passing.statePath()));
    START_SIM(passing);
    EXPECT_EQ(PollHistory(passing), 0x01 | kCalFail);
    {
        OPEN_PORT(port, passing);
        WAKE(port);
        ASSERT_EQ(Hex(port.SensorCommand(0x42)), Hex(kAck));
        const Bytes reading = port.Reading(0);
        ASSERT_EQ(reading.size(), 6u);
        EXPECT_EQ(reading[4], kProgress | kCalFail | 0x01);
        ASSERT_EQ(Hex(port.Status(Cmd(0xB3))), Hex(kAck));
    }
    SleepMs(1300);
    EXPECT_EQ(PollHistory(passing), 0x01);
}

TEST(SimTurnOff, RefusedUntilACalibrationCompleted)
{
    const Bytes refused = Frame({0x14});
    SimProcess sim({"--cal-seconds", "1", "--noise", "0"});
    START_SIM(sim);
    {
        OPEN_PORT(port, sim);
        WAKE(port);
        EXPECT_EQ(Hex(port.Status(Cmd(0x14))), Hex(refused));
        EXPECT_EQ(port.Identify().size(), 18u) << "a refused unit stays awake";
        // A stopped calibration and a zero alone do not count.
        ASSERT_EQ(Hex(port.SensorCommand(0x40)), Hex(kAck));
        ASSERT_EQ(Hex(port.SensorCommand(0x41)), Hex(kAck));
        ASSERT_EQ(Hex(port.SensorCommand(0x43)), Hex(kAck));
        EXPECT_EQ(Hex(port.Status(Cmd(0x14))), Hex(refused));
        ASSERT_EQ(Hex(port.SensorCommand(0x42)), Hex(kAck));
        EXPECT_EQ(Hex(port.Status(Cmd(0x14))), Hex(refused)) << "still running";
        SleepMs(1300);
        EXPECT_EQ(Hex(port.Status(Cmd(0x14))), Hex(kAck));
        // Off until the next wake-up.
        port.Send(Cmd(0xA0));
        EXPECT_TRUE(port.Collect(150).empty());
        WAKE(port);
        EXPECT_EQ(port.Identify().size(), 18u);
        ASSERT_EQ(Hex(port.Status(Cmd(0xB3))), Hex(kAck));
    }
    EXPECT_EQ(static_cast<std::uint8_t>(sim.stateMemory()[SimProcess::kStatusAt]), 0x01);

    // Kept in the unit's memory over a restart; a factory reset forgets it.
    sim.stop();
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    EXPECT_EQ(Hex(port.Status(Cmd(0x14))), Hex(kAck));
    WAKE(port);
    ASSERT_EQ(Hex(port.Status(Cmd(0x12))), Hex(kAck));
    EXPECT_EQ(Hex(port.Status(Cmd(0x14))), Hex(refused));
    const Bytes sensor = port.Block(0x50);
    ASSERT_EQ(sensor.size(), 64u);
    EXPECT_EQ(ReadLe16(sensor, kZeroAt), kFactoryZero);
    EXPECT_EQ(ReadLe16(sensor, kSpanAt), kFactorySpan);
}

TEST(SimTurnOff, AFailedCalibrationDoesNotCount)
{
    SimProcess sim({"--cal-seconds", "1", "--cal-fail"});
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    ASSERT_EQ(Hex(port.SensorCommand(0x41)), Hex(kAck));
    SleepMs(1300);
    EXPECT_EQ(Hex(port.Status(Cmd(0x14))), Hex(Frame({0x14})));
}

TEST(SimTestOutputs, ConsoleShowsEachOutputAndHowLongItWasOn)
{
    struct Case {
        std::uint8_t command;
        const char* name;
        int holdMs;
        Bytes ender;  // what ends it: end of connection, another command; empty = the simulator stops
    };
    const std::vector<Case> cases = {
        {0x30, "buzzer", 300, Cmd(0xB3)},
        {0x31, "right LED", 200, Cmd(0xA0)},
        {0x32, "left LED", 250, Cmd(0x34)},  // another output takes over
        {0x34, "vibrator", 100, {}},
    };
    SimProcess sim;
    sim.captureConsole();
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.command != 0x34) {
            ASSERT_EQ(Hex(port.Status(Cmd(c.command))), Hex(kAck));
        }
        const QString on = QString("varnolite-sim: %1 on\n").arg(c.name);
        ASSERT_TRUE(sim.waitForConsole(on, 2000)) << sim.console().toStdString();
        EXPECT_FALSE(sim.console().contains(QString("%1 off").arg(c.name))) << "on until something ends it";
        SleepMs(c.holdMs);
        if (c.ender.empty()) {
            sim.stop();
        } else if (c.ender == Cmd(0xB3)) {
            ASSERT_EQ(Hex(port.Status(c.ender)), Hex(kAck));
            WAKE(port);
        } else if (c.ender == Cmd(0xA0)) {
            EXPECT_EQ(port.Identify().size(), 18u);
        } else {
            ASSERT_EQ(Hex(port.Status(c.ender)), Hex(kAck));
        }
        const QRegularExpression off(QString("varnolite-sim: %1 off after (\\d+\\.\\d\\d) s\n").arg(c.name));
        ASSERT_TRUE(sim.waitForConsole(QString("%1 off after").arg(c.name), 2000)) << sim.console().toStdString();
        const QRegularExpressionMatch match = off.match(sim.console());
        ASSERT_TRUE(match.hasMatch()) << sim.console().toStdString();
        const double seconds = match.captured(1).toDouble();
        EXPECT_GE(seconds, c.holdMs / 1000.0 - 0.01);
        EXPECT_LT(seconds, c.holdMs / 1000.0 + 0.3);
    }
    // One line each, in order.
    const QStringList lines = sim.console().split('\n', Qt::SkipEmptyParts);
    QStringList names;
    for (const QString& line : lines)
        names << line.section(' ', 1).section(" off", 0, 0);
    EXPECT_EQ(names, (QStringList{"buzzer on", "buzzer", "right LED on", "right LED", "left LED on", "left LED",
                                  "vibrator on", "vibrator"}));
}

}  // namespace
