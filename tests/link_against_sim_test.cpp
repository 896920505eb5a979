// The product's link against the simulated detector over a real
// pseudo-terminal: fault modes give the right status codes, and the command
// line shows the frames of a read byte for byte.
#include <gtest/gtest.h>

#include <QProcess>

#include <set>

#include "SimProcess.h"
#include "ZelComms.h"

namespace {

struct Outcome {
    std::uint8_t open;
    std::uint8_t identify;
};

Outcome IdentifyAgainst(SimProcess& sim, float connectTime = 1.0f)
{
    TComZEL link;
    link.SetDefPort(sim.portPath().toStdString());
    Outcome outcome{link.OpenUSB(connectTime), 0xFF};
    if (outcome.open == 0) {
        RZELIdenty id{};
        outcome.identify = link.RequireIdenty(id);
    }
    link.CloseUSB(outcome.open != 0 ? outcome.open : outcome.identify);
    return outcome;
}

TEST(LinkAgainstSim, FaultModesGiveTheirCodes)
{
    struct Case { const char* name; QStringList args; std::uint8_t open; std::uint8_t identify; };
    const std::vector<Case> cases = {
        {"healthy", {}, 0, 0},
        {"dropped replies", {"--drop-rate", "1"}, 160, 0xFF},
        {"never wakes", {"--wake-frames", "100000"}, 160, 0xFF},
        {"slow wake-up", {"--wake-frames", "5"}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.args);
        ASSERT_TRUE(sim.start());
        const Outcome outcome = IdentifyAgainst(sim, 0.5f);
        EXPECT_EQ(outcome.open, c.open);
        EXPECT_EQ(outcome.identify, c.identify);
    }
}

// A unit acknowledges every wake-up frame, a turnaround after it: with 2 ms
// or more, and bytes that take their time on a slow line, the ACKs of the
// last frames still come after the tool's purges, in front of the first
// reply. Each connection must identify the unit all the same.
TEST(LinkAgainstSim, SlowTurnaroundStillIdentifies)
{
    const std::vector<QStringList> cases = {
        {"--turnaround", "2"}, {"--turnaround", "2", "--baud", "38400"}, {"--turnaround", "3.5"}};
    for (const QStringList& args : cases) {
        SCOPED_TRACE(args.join(' ').toStdString());
        SimProcess sim(args);
        ASSERT_TRUE(sim.start());
        for (int i = 0; i < 5; ++i) {
            const Outcome outcome = IdentifyAgainst(sim, 1.0f);
            EXPECT_EQ(outcome.open, 0);
            EXPECT_EQ(outcome.identify, 0) << "connection " << i;
        }
    }
}

// Faults at half rate: the wake-up gets through (it simply sends the next
// frame), and every later exchange either succeeds or fails with its code.
TEST(LinkAgainstSim, ReplyFaultsAfterWakeUp)
{
    // A NAK is a status reply: where data was awaited it is merely too short
    // (162), so the refusal shows on a status exchange, the connection check.
    struct Case { const char* name; QStringList args; bool statusExchange; std::uint8_t status; };
    const std::vector<Case> cases = {
        {"nak", {"--nak-rate", "0.5"}, true, 176},
        {"nak on data", {"--nak-rate", "0.5"}, false, 162},
        {"corrupted", {"--corrupt-rate", "0.5"}, false, 178},
        {"dropped", {"--drop-rate", "0.5"}, false, 162},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.args + QStringList{"--seed", "7"});
        ASSERT_TRUE(sim.start());
        TComZEL link;
        link.SetDefPort(sim.portPath().toStdString());
        ASSERT_EQ(link.OpenUSB(2.0f), 0);
        std::set<int> seen;
        for (int i = 0; i < 16; ++i) {
            RZELIdenty id{};
            seen.insert(c.statusExchange ? link.ConnectZELCheck() : link.RequireIdenty(id));
        }
        link.CloseUSB(0);
        EXPECT_TRUE(seen.count(c.status));
        seen.erase(0);
        seen.erase(c.status);
        EXPECT_TRUE(seen.empty()) << "unexpected status " << *seen.begin();
    }
}

// A reply handed over in two parts is joined by the exchange engine; a stray
// byte in front of a reply shifts it, and its CRC no longer holds. (The
// wake-up drops a read it cannot make sense of and sends the next frame, so
// at half rate it gets through on a whole ACK.)
TEST(LinkAgainstSim, SplitRepliesJoinAndStrayBytesFailTheCrc)
{
    struct Case { const char* name; QStringList args; std::set<int> statuses; };
    const std::vector<Case> cases = {
        {"split", {"--split-rate", "0.5"}, {0}},
        {"stray byte", {"--stray-rate", "0.5"}, {0, 178}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.args + QStringList{"--seed", "3"});
        ASSERT_TRUE(sim.start());
        TComZEL link;
        link.SetDefPort(sim.portPath().toStdString());
        ASSERT_EQ(link.OpenUSB(2.0f), 0);
        std::set<int> seen;
        for (int i = 0; i < 12; ++i) {
            RZELIdenty id{};
            seen.insert(link.RequireIdenty(id));
        }
        link.CloseUSB(0);
        EXPECT_EQ(seen, c.statuses);
        // The record shows the fault on the wire: a 20-byte identity in two
        // parts, or a lone 00 before a reply.
        int faulted = 0;
        for (const QString& line : sim.recordedLines())
            faulted += (line.startsWith(QStringLiteral("TX ")) && line.size() == 3 + 10 * 3 - 1) || line == "TX 00";
        EXPECT_GT(faulted, 0);
    }
}

TEST(LinkAgainstSim, UnpluggedAdapterIs161)
{
    SimProcess sim({"--unplug-after", "2"});
    ASSERT_TRUE(sim.start());
    TComZEL link;
    link.SetDefPort(sim.portPath().toStdString());
    ASSERT_EQ(link.OpenUSB(1.0f), 0);
    RZELIdenty id{};
    std::uint8_t status = 0;
    for (int i = 0; i < 5 && status == 0; ++i)
        status = link.RequireIdenty(id);
    EXPECT_EQ(status, 161);
    EXPECT_FALSE(link.PortOpen());
    link.CloseUSB(status);
}

TEST(LinkAgainstSim, CliReadShowsTheFramesOnTheWire)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    QProcess cli;
    cli.start(BEAMDOCK_CLI_PATH, {"--port", sim.portPath(), "--trace", "read", "--json"});
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    QStringList sent;
    for (const QString& line : QString::fromLatin1(cli.readAllStandardError()).split('\n')) {
        const int at = line.indexOf("[SEND] ");
        if (at >= 0)
            sent << line.mid(at);
    }
    const QStringList expected = {"[SEND] A0 78 00 ", "[SEND] 5F 38 40 ", "[SEND] 81 60 C0 ", "[SEND] 81 60 C0 ",
                                  "[SEND] 50 3C 00 ", "[SEND] 81 60 C0 ",
                                  "[SEND] 81 60 C0 ", "[SEND] B3 B5 41 "};
    EXPECT_EQ(sent, expected);
    const QByteArray json = cli.readAllStandardOutput();
    EXPECT_TRUE(json.contains("\"mSerial\": \"SH10000123\"")) << json.toStdString();
    EXPECT_TRUE(json.contains("\"identity\""));
    EXPECT_FALSE(json.contains("mDummy"));
}

TEST(LinkAgainstSim, CliReportsFailureWithSuffixAndMessage)
{
    SimProcess sim({"--model", "3"});
    ASSERT_TRUE(sim.start());
    QProcess cli;
    cli.start(BEAMDOCK_CLI_PATH, {"--port", sim.portPath(), "read"});
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 146);
    EXPECT_EQ(QString::fromLatin1(cli.readAllStandardError()),
              "Read Varnolite Information... FAIL\nThis is not Varnolite module\n");
}

}  // namespace
