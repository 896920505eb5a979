// The simulated detector's event log over its pseudo-terminal: generated
// logs, their ordering keys and alarm totals, bump tests appended by the
// sensor commands, log reset, and state files from before the status byte.
#include "SimProcess.h"
#include "ZelRecords.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using namespace simwire;

constexpr std::size_t kEventSize = sizeof(RZELEvent);
constexpr std::uint16_t kBumpBit = 0x8000;
constexpr std::int16_t kOverLimit = 0x7FFF;

std::vector<RZELEvent> Events(const Bytes& log)
{
    std::vector<RZELEvent> events(log.size() / kEventSize);
    for (std::size_t i = 0; i < events.size(); ++i)
        std::memcpy(&events[i], log.data() + i * kEventSize, kEventSize);
    return events;
}

struct Totals {
    std::uint16_t count = 0;
    std::uint32_t seconds = 0;
};

Totals AlarmTotals(const std::vector<RZELEvent>& events)
{
    Totals totals;
    for (const RZELEvent& e : events) {
        const std::uint16_t duration = e.mDurationEvent;
        if (duration & kBumpBit)
            continue;
        ++totals.count;
        totals.seconds += duration;
    }
    return totals;
}

TEST(SimEventLog, GeneratedLogsAreVariedKeyedAndCounted)
{
    struct Case {
        QStringList args;
        std::size_t events;
        bool everyKind;  // low, high, over limit, negative, bump
    };
    const std::vector<Case> cases = {
        {{"--events", "0"}, 0, false},
        {{"--events", "1"}, 1, false},
        {{"--events", "6"}, 6, true},
        {{"--events", "40", "--seed", "9"}, 40, true},
        {{"--events", "85"}, 85, true},
        // A unit fresh from the factory has no service time to spread them
        // over: the keys still lie above its life and stay apart.
        {{"--events", "12", "--life", "63072000"}, 12, true},
        // Without the option a new unit has its short history.
        {{}, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        SimProcess sim(c.args);
        START_SIM(sim);
        OPEN_PORT(port, sim);
        WAKE(port);
        const Bytes identity = port.Identify();
        ASSERT_EQ(identity.size(), 18u);
        const std::uint32_t life = ReadLe32(identity, 4);
        const Bytes log = port.EventLog();
        ASSERT_EQ(log.size(), c.events * kEventSize);
        const std::vector<RZELEvent> events = Events(log);

        bool low = false, high = false, over = false, negative = false, bump = false;
        for (std::size_t i = 0; i < events.size(); ++i) {
            const RZELEvent& e = events[i];
            const std::uint32_t start = e.mStartEvent;
            const std::uint16_t duration = e.mDurationEvent;
            const std::int16_t reading = e.mSensorReading;
            EXPECT_GT(start, life) << "event " << i << " lies in the past";
            EXPECT_NE(start, 0xFFFFFFFFu);
            if (i > 0) {
                const std::uint32_t previous = events[i - 1].mStartEvent;
                EXPECT_LT(start, previous) << "oldest first, each key its own";
            }
            EXPECT_NE(duration & 0x7FFF, 0) << "every event lasted a while";
            low |= (e.mAlarmStatusFlag & 0x04) != 0;
            high |= (e.mAlarmStatusFlag & 0x08) != 0;
            over |= reading == kOverLimit;
            negative |= reading < 0;
            bump |= (duration & kBumpBit) != 0;
            EXPECT_EQ(e.mAlarmStatusFlag & ~0x0C, 0);
        }
        if (c.everyKind) {
            EXPECT_TRUE(low && high && over && negative && bump)
                << low << high << over << negative << bump;
        }

        // The unit block's totals agree with the alarm events.
        const Bytes unit = port.Block(0x5F);
        ASSERT_EQ(unit.size(), 64u);
        const Totals totals = AlarmTotals(events);
        EXPECT_EQ(ReadLe16(unit, offsetof(RZELUnitCFG, mAlarmCount)), totals.count);
        EXPECT_EQ(ReadLe32(unit, offsetof(RZELUnitCFG, mAlarmTime)), totals.seconds);
        EXPECT_EQ(unit[offsetof(RZELUnitCFG, mPEventLog)], c.events);
        EXPECT_TRUE(BlockCrcValid(unit));

        // In memory: the records at 0x100, then erased slots to the end.
        ASSERT_EQ(Hex(port.Status(Cmd(0xB3))), Hex(kAck));
        const QByteArray memory = sim.stateMemory();
        ASSERT_EQ(memory.size(), 1024);
        const Bytes stored = ToBytes(memory.mid(SimProcess::kLogAt, static_cast<int>(85 * kEventSize)));
        EXPECT_EQ(Hex(Bytes(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(log.size()))), Hex(log));
        EXPECT_EQ(Bytes(stored.begin() + static_cast<std::ptrdiff_t>(log.size()), stored.end()),
                  Bytes(stored.size() - log.size(), 0xFF));
    }
}

TEST(SimEventLog, SameSeedSameLogOtherSeedOtherLog)
{
    const auto logOf = [](const QString& seed) {
        SimProcess sim({"--events", "10", "--seed", seed, "--life", "50000000"});
        if (!sim.start())
            return Bytes{};
        SimPort port(sim.portPath());
        if (port.Status(Cmd(0xB2)) != kAck)
            return Bytes{};
        Bytes log = port.EventLog();
        // Keys move with the life counter; compare them relative to it.
        const Bytes identity = port.Identify();
        if (identity.size() != 18)
            return Bytes{};
        const std::uint32_t life = ReadLe32(identity, 4);
        for (std::size_t at = 0; at + kEventSize <= log.size(); at += kEventSize) {
            const Bytes age = Le32(ReadLe32(log, at) - life);
            std::copy(age.begin(), age.end(), log.begin() + static_cast<std::ptrdiff_t>(at));
        }
        return log;
    };
    const Bytes first = logOf("5");
    ASSERT_EQ(first.size(), 10 * kEventSize);
    const Bytes again = logOf("5");
    const Bytes other = logOf("6");
    // The life counter may tick between identify and log; one second of
    // difference in the ages is all that may differ.
    ASSERT_EQ(again.size(), first.size());
    for (std::size_t at = 0; at < first.size(); at += kEventSize) {
        EXPECT_LE(std::max(ReadLe32(first, at), ReadLe32(again, at)) - std::min(ReadLe32(first, at), ReadLe32(again, at)),
                  1u);
        EXPECT_EQ(Bytes(first.begin() + at + 4, first.begin() + at + 9), Bytes(again.begin() + at + 4, again.begin() + at + 9));
    }
    EXPECT_NE(Hex(other), Hex(first));
}

TEST(SimEventLog, OptionReplacesTheLogOfALoadedState)
{
    SimProcess first;
    START_SIM(first);
    first.stop();
    const QByteArray state = [&] {
        QFile file(first.statePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    ASSERT_EQ(state.size(), 1032);

    struct Case {
        QStringList args;
        std::size_t events;
    };
    const std::vector<Case> cases = {{{"--events", "7"}, 7}, {{"--events", "0"}, 0}, {{}, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        SimProcess sim(c.args);
        QFile file(sim.statePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(state);
        file.close();
        START_SIM(sim);
        OPEN_PORT(port, sim);
        WAKE(port);
        const std::vector<RZELEvent> events = Events(port.EventLog());
        EXPECT_EQ(events.size(), c.events);
        const Bytes unit = port.Block(0x5F);
        ASSERT_EQ(unit.size(), 64u);
        EXPECT_EQ(ReadLe16(unit, offsetof(RZELUnitCFG, mAlarmCount)), AlarmTotals(events).count);
        EXPECT_EQ(ReadLe32(unit, offsetof(RZELUnitCFG, mAlarmTime)), AlarmTotals(events).seconds);
        // The rest of the loaded unit is still there.
        EXPECT_EQ(Bytes(unit.begin() + 16, unit.begin() + 26),
                  ToBytes(state.mid(8 + 16, 10)));
    }
}

TEST(SimEventLog, BumpTestsAreAppendedAndFlagged)
{
    struct Step {
        std::uint8_t command;  // sensor command after 0x50, or 0x13 log reset
        std::size_t eventsAfter;
        bool bumpFailFlag;
    };
    struct Case {
        const char* name;
        QStringList args;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"pass then fail then pass", {"--gas", "2.5", "--noise", "0"},
         {{0x46, 5, false}, {0x45, 6, true}, {0x46, 7, false}}},
        {"after a log reset the bump is the only event", {"--noise", "0"},
         {{0x45, 5, true}, {0x13, 0, true}, {0x46, 1, false}}},
        {"a full log loses its oldest event", {"--events", "85", "--noise", "0"},
         {{0x45, 85, true}, {0x46, 85, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.args);
        START_SIM(sim);
        OPEN_PORT(port, sim);
        WAKE(port);
        const Bytes unitBefore = port.Block(0x5F);
        ASSERT_EQ(unitBefore.size(), 64u);
        std::vector<RZELEvent> before = Events(port.EventLog());
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.command);
            if (step.command == 0x13) {
                ASSERT_EQ(Hex(port.Status(Cmd(0x13))), Hex(kAck));
                before.clear();
            } else {
                ASSERT_EQ(Hex(port.SensorCommand(step.command)), Hex(kAck));
            }
            const Bytes identity = port.Identify();
            ASSERT_EQ(identity.size(), 18u);
            const std::uint32_t life = ReadLe32(identity, 4);
            const std::vector<RZELEvent> after = Events(port.EventLog());
            ASSERT_EQ(after.size(), step.eventsAfter);

            const Bytes gas = port.Reading(0);
            ASSERT_EQ(gas.size(), 6u);
            EXPECT_EQ((gas[4] & 0x10) != 0, step.bumpFailFlag) << "Bump Test Fail bit";
            if (step.command == 0x13)
                continue;

            const RZELEvent& bump = after.back();
            EXPECT_EQ(static_cast<std::uint16_t>(bump.mDurationEvent), kBumpBit | 30);
            EXPECT_EQ(bump.mAlarmStatusFlag, 0);
            const std::uint32_t start = bump.mStartEvent;
            EXPECT_GE(start, life + 30 - 0) << "the test began its duration ago";
            EXPECT_LE(start, life + 32);
            const std::int16_t reading = bump.mSensorReading;
            EXPECT_EQ(reading, c.args.contains("2.5") ? 25 : 0);

            // What went before is kept, but for the oldest when the log was full.
            std::vector<RZELEvent> expected = before;
            if (expected.size() == 85) {
                const auto oldest = std::max_element(expected.begin(), expected.end(),
                                                     [](const RZELEvent& a, const RZELEvent& b) {
                                                         return a.mStartEvent < b.mStartEvent;
                                                     });
                expected.erase(oldest);
            }
            ASSERT_EQ(after.size(), expected.size() + 1);
            if (!expected.empty()) {
                EXPECT_EQ(std::memcmp(after.data(), expected.data(), expected.size() * kEventSize), 0);
            }
            before = after;
        }
        // Bump tests are no alarms: the unit's alarm totals stay.
        const Bytes unitAfter = port.Block(0x5F);
        ASSERT_EQ(unitAfter.size(), 64u);
        EXPECT_EQ(Bytes(unitAfter.begin() + 40, unitAfter.begin() + 44), Bytes(unitBefore.begin() + 40, unitBefore.begin() + 44));
        EXPECT_EQ(Bytes(unitAfter.begin() + 48, unitAfter.begin() + 50), Bytes(unitBefore.begin() + 48, unitBefore.begin() + 50));
    }
}

TEST(SimEventLog, PassedBumpSetsTheLastBumpTimerAndFlagsSurviveARestart)
{
    SimProcess sim({"--noise", "0"});
    START_SIM(sim);
    {
        OPEN_PORT(port, sim);
        WAKE(port);
        ASSERT_EQ(Hex(port.SensorCommand(0x45)), Hex(kAck));
        const Bytes failed = port.Block(0x50);
        ASSERT_EQ(failed.size(), 64u);
        EXPECT_EQ(ReadLe32(failed, offsetof(RZELSensorCFG, mLastBump)), 0u) << "a failed test is no bump";
        ASSERT_EQ(Hex(port.Status(Cmd(0xB3))), Hex(kAck));
    }
    ASSERT_EQ(static_cast<std::uint8_t>(sim.stateMemory()[SimProcess::kStatusAt]), 0x10);
    sim.stop();
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    const Bytes gas = port.Reading(0);
    ASSERT_EQ(gas.size(), 6u);
    EXPECT_EQ(gas[4], 0x11) << "Bump Test Fail kept, one decimal";
    ASSERT_EQ(Hex(port.SensorCommand(0x46)), Hex(kAck));
    const Bytes identity = port.Identify();
    const Bytes sensor = port.Block(0x50);
    ASSERT_EQ(sensor.size(), 64u);
    const std::uint32_t lastBump = ReadLe32(sensor, offsetof(RZELSensorCFG, mLastBump));
    EXPECT_LE(lastBump, ReadLe32(identity, 4) + 1);
    EXPECT_GE(lastBump, ReadLe32(identity, 4));
    EXPECT_TRUE(BlockCrcValid(sensor));
    EXPECT_EQ(port.Reading(0).at(4), 0x01);
}

TEST(SimEventLog, StateFileWithoutStatusByteStillLoads)
{
    // A state saved before the unit kept its status byte has 0xFF there.
    SimProcess sim({"--noise", "0"});
    START_SIM(sim);
    sim.stop();
    QFile file(sim.statePath());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(SimProcess::kStateHeaderSize + SimProcess::kStatusAt));
    ASSERT_EQ(file.write(QByteArray(1, '\xFF')), 1);
    file.close();

    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    const Bytes gas = port.Reading(0);
    ASSERT_EQ(gas.size(), 6u);
    EXPECT_EQ(Hex(gas), Hex({0x00, 0x00, 0x00, 0x00, 0x01, 0x00})) << "no flags from an erased byte";
    EXPECT_EQ(Hex(port.Status(Cmd(0x14))), Hex(Frame({0x14}))) << "not calibrated";
    EXPECT_EQ(Events(port.EventLog()).size(), 4u);
}

}  // namespace
