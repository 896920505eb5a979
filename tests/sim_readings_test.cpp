// Live readings of the simulated detector with exact values (--noise 0):
// decimals, negative values, over limit, peak and clear peak, the alarm
// flags against the sensor block's set points, gas scripts, battery and
// temperature.
#include "SimProcess.h"
#include "ZelRecords.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

using namespace simwire;

constexpr std::uint8_t kGas = 0;
constexpr std::uint8_t kTemperature = 1;
constexpr std::uint8_t kBattery = 2;

// RZELSensor as six bytes: value and peak little-endian, history, alarm.
Bytes Reading(std::int16_t value, std::uint16_t peak, std::uint8_t history, std::uint8_t alarm)
{
    const auto v = static_cast<std::uint16_t>(value);
    return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(peak & 0xFF),
            static_cast<std::uint8_t>(peak >> 8), history, alarm};
}

QString WriteScript(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
    return path;
}

TEST(SimReadings, GasValuesDecimalsAndFlags)
{
    constexpr std::uint8_t kTwa = 0x01, kStel = 0x02, kLow = 0x04, kHigh = 0x08;
    struct Case {
        QStringList args;
        Bytes writeAt64;  // set points written first (high, low), when given
        Bytes writeAt90;  // sensor maximum written first, when given
        Bytes expect;
    };
    const std::vector<Case> cases = {
        {{}, {}, {}, Reading(0, 0, 0x01, 0)},
        {{"--gas", "9.9"}, {}, {}, Reading(99, 99, 0x01, 0)},
        {{"--gas", "10"}, {}, {}, Reading(100, 100, 0x01, kLow)},
        {{"--gas", "12.5"}, {}, {}, Reading(125, 125, 0x01, kLow | kTwa)},
        {{"--gas", "12.5", "--gas-decimals", "2"}, {}, {}, Reading(1250, 1250, 0x02, kLow | kTwa)},
        {{"--gas", "12.5", "--gas-decimals", "0"}, {}, {}, Reading(13, 13, 0x00, kLow | kTwa)},
        {{"--gas", "3.25", "--gas-decimals", "3"}, {}, {}, Reading(3250, 3250, 0x03, 0)},
        {{"--gas", "-1.5"}, {}, {}, Reading(-15, 0, 0x01, 0)},
        {{"--gas", "-0.25", "--gas-decimals", "2"}, {}, {}, Reading(-25, 0, 0x02, 0)},
        {{"--gas", "15"}, {}, {}, Reading(150, 150, 0x01, kLow | kHigh | kTwa)},
        {{"--gas", "20"}, {}, {}, Reading(200, 200, 0x01, kLow | kHigh | kTwa | kStel)},
        // At the sensor maximum (100.0) still a value, above it over limit.
        {{"--gas", "100"}, {}, {}, Reading(1000, 1000, 0x01, 0x0F)},
        {{"--gas", "100.1"}, {}, {}, Reading(0x7FFF, 1001, 0x01, 0x0F)},
        // Below the maximum but beyond what three decimals hold in 16 bits.
        {{"--gas", "40", "--gas-decimals", "3"}, {}, {}, Reading(0x7FFF, 40000, 0x03, 0x0F)},
        // The unit's own set points and maximum, as the tool writes them.
        {{"--gas", "6"}, {80, 0, 50, 0}, {}, Reading(60, 60, 0x01, kLow | kTwa)},
        {{"--gas", "9"}, {80, 0, 50, 0}, {}, Reading(90, 90, 0x01, 0x0F)},
        {{"--gas", "25"}, {0, 0, 0, 0}, {}, Reading(250, 250, 0x01, 0)},
        {{"--gas", "25"}, {}, {200, 0}, Reading(0x7FFF, 250, 0x01, 0x0F)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + " " + Hex(c.writeAt64).toStdString());
        SimProcess sim(c.args + QStringList{"--noise", "0"});
        START_SIM(sim);
        OPEN_PORT(port, sim);
        WAKE(port);
        if (!c.writeAt64.empty()) {
            ASSERT_TRUE(port.WriteConfig(64, c.writeAt64));
        }
        if (!c.writeAt90.empty()) {
            ASSERT_TRUE(port.WriteConfig(90, c.writeAt90));
        }
        // The exact exchange on the wire: 20 D8 01, six bytes and their CRC.
        const Bytes reply = port.Exchange({0x20, 0xD8, 0x01}, 8);
        EXPECT_EQ(Hex(reply), Hex(Frame(c.expect)));
        // Asked again, the same: nothing drifts without noise.
        EXPECT_EQ(Hex(port.Reading(kGas)), Hex(c.expect));
    }
}

TEST(SimReadings, BatteryAndTemperatureWithTheirOwnDecimalsAndCounts)
{
    struct Case {
        std::uint8_t mode;
        Bytes frame;
        Bytes expect;
    };
    // 3.58 V with two decimals and 832 counts; 23.5 C with one and 432.
    const std::vector<Case> cases = {
        {kBattery, {0x22, 0x19, 0x80}, Reading(358, 832, 0x02, 0)},
        {kTemperature, {0x21, 0x18, 0xC0}, Reading(235, 432, 0x01, 0)},
    };
    SimProcess sim({"--noise", "0", "--gas", "50"});
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(Hex(port.Exchange(c.frame, 8)), Hex(Frame(c.expect)));
    }
}

TEST(SimReadings, DefaultNoiseStaysWithinAFewTenths)
{
    SimProcess sim;
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    std::set<int> gas, battery, temperature;
    for (int i = 0; i < 25; ++i) {
        const Bytes g = port.Reading(kGas);
        const Bytes b = port.Reading(kBattery);
        const Bytes t = port.Reading(kTemperature);
        ASSERT_EQ(g.size(), 6u);
        ASSERT_EQ(b.size(), 6u);
        ASSERT_EQ(t.size(), 6u);
        gas.insert(static_cast<std::int16_t>(ReadLe16(g, 0)));
        battery.insert(ReadLe16(b, 0));
        temperature.insert(ReadLe16(t, 0));
        EXPECT_EQ(g[4], 0x01);
    }
    EXPECT_GE(*gas.begin(), -3);
    EXPECT_LE(*gas.rbegin(), 3);
    EXPECT_GT(gas.size(), 1u) << "clean air is never perfectly still";
    EXPECT_GE(*battery.begin(), 357);
    EXPECT_LE(*battery.rbegin(), 359);
    EXPECT_GE(*temperature.begin(), 234);
    EXPECT_LE(*temperature.rbegin(), 236);
}

TEST(SimReadings, PeakFollowsTheGasAlsoBetweenReadingsAndClears)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Step {
        int atMs;             // after the simulator came up
        std::uint8_t command; // 0x20 a gas reading, 0x44 clear peak (after 0x50), 0xB3 reconnect
        std::int16_t value;
        std::uint16_t peak;
    };
    struct Case {
        const char* name;
        QByteArray script;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"falling gas keeps its peak until cleared", "0 50\n1 10\n",
         {{0, 0x20, 500, 500}, {1300, 0x20, 100, 500}, {1300, 0x44, 0, 0}, {1300, 0x20, 100, 100}}},
        {"a burst nobody asked about shows in the peak", "0 0\n0.3 40\n0.6 0\n",
         {{0, 0x20, 0, 0}, {900, 0x20, 0, 400}}},
        {"the peak survives the end of a connection", "0 7\n0.2 3\n",
         {{0, 0x20, 70, 70}, {400, 0xB3, 0, 0}, {400, 0x20, 30, 70}, {400, 0x44, 0, 0}, {400, 0x20, 30, 30}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim({"--noise", "0", "--gas-script", WriteScript(dir, "gas.txt", c.script)});
        START_SIM(sim);
        const auto started = std::chrono::steady_clock::now();
        OPEN_PORT(port, sim);
        WAKE(port);
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.atMs);
            const auto due = started + std::chrono::milliseconds(step.atMs);
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
            if (wait.count() > 0)
                SleepMs(static_cast<int>(wait.count()));
            if (step.command == 0x44) {
                EXPECT_EQ(Hex(port.SensorCommand(0x44)), Hex(kAck));
            } else if (step.command == 0xB3) {
                ASSERT_TRUE(port.Reconnect());
            } else {
                // Value, peak and history; the exposure flags depend on
                // how long the simulator has run.
                const Bytes reading = port.Reading(kGas);
                ASSERT_EQ(reading.size(), 6u);
                Bytes expected = Reading(step.value, step.peak, 0x01, 0);
                expected.pop_back();
                EXPECT_EQ(Hex(Bytes(reading.begin(), reading.begin() + 5)), Hex(expected));
            }
        }
        // Clear peak counts only straight after 0x50.
        EXPECT_EQ(Hex(port.Status(Cmd(0x44))), Hex(kNak));
    }
}

TEST(SimReadings, ScriptStepsAndTheFixedValueBeforeThem)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString script = WriteScript(dir, "gas.txt", "# demo\n\n0.6 30   # span gas on\n  2.5\t-2 \n");
    SimProcess sim({"--noise", "0", "--gas", "5", "--gas-script", script});
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    EXPECT_EQ(Hex(port.Reading(kGas)), Hex(Reading(50, 50, 0x01, 0)));
    SleepMs(800);
    const Bytes spanGas = port.Reading(kGas);
    ASSERT_EQ(spanGas.size(), 6u);
    EXPECT_EQ(ReadLe16(spanGas, 0), 300);
    EXPECT_EQ(spanGas[5] & 0x0C, 0x0C) << "LOW and HIGH at 30.0";
}

TEST(SimReadings, ExposureAveragesCoverTheTimeRunSoFar)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // 30.0 for the first second, then clean air: the mean of the time run
    // so far stays above the high set point (15.0) until 2 s and above the
    // low one (10.0) until 3 s.
    SimProcess sim({"--noise", "0", "--gas-script", WriteScript(dir, "gas.txt", "0 30\n1 0\n")});
    START_SIM(sim);
    const auto started = std::chrono::steady_clock::now();
    OPEN_PORT(port, sim);
    WAKE(port);
    EXPECT_EQ(Hex(port.Reading(kGas)), Hex(Reading(300, 300, 0x01, 0x0F)));
    SleepMs(static_cast<int>(2400 - std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - started).count()));
    EXPECT_EQ(Hex(port.Reading(kGas)), Hex(Reading(0, 300, 0x01, 0x01))) << "TWA only";
}

TEST(SimReadings, BadGasScriptsEndWithStatusTwoAndTheLine)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        QByteArray script;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"abc 1\n", "line 1: bad time 'abc'"},
        {"# fine\n5\n", "line 2: expected \"SECONDS VALUE\""},
        {"1 2 3\n", "line 1: expected"},
        {"2 1\n1 1\n", "line 2: times must increase"},
        {"1 1\n1 2\n", "line 2: times must increase"},
        {"-1 5\n", "line 1: bad time '-1'"},
        {"1 x\n", "line 1: bad value 'x'"},
        {"1 1e9\n", "line 1: bad value '1e9'"},
        {"1 nan\n", "line 1: bad value 'nan'"},
        {QByteArray(1100000, '1'), "larger than 1048576 bytes"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script.left(40).toStdString());
        const QString path = WriteScript(dir, QString("s%1.txt").arg(n++), c.script);
        QProcess sim;
        sim.start(BEAMDOCK_SIM_PATH, {"--gas-script", path});
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(sim.exitCode(), 2);
        const QByteArray err = sim.readAllStandardError();
        EXPECT_TRUE(err.contains(c.reason)) << err.toStdString();
        EXPECT_TRUE(err.contains(path.toLocal8Bit()));
        EXPECT_EQ(err.count('\n'), 1);
        EXPECT_TRUE(sim.readAllStandardOutput().isEmpty());
    }
    QProcess missing;
    missing.start(BEAMDOCK_SIM_PATH, {"--gas-script", dir.filePath("none.txt")});
    ASSERT_TRUE(missing.waitForFinished(5000));
    EXPECT_EQ(missing.exitCode(), 2);
    EXPECT_TRUE(missing.readAllStandardError().contains("cannot read gas script"));
}

}  // namespace
