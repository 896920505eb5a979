// Block, log and EEPROM reads of the simulated detector: which packet size a
// read uses after an address header, and the memory an EEPROM dump shows.
#include "SimProcess.h"
#include "ZelComms.h"
#include "ZelRecords.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using namespace simwire;

// Bytes of the memory that follow the running life counter, so two
// snapshots taken a second apart may differ there.
bool MovesWithLife(std::size_t at)
{
    return (at >= 36 && at < 40) || (at >= 62 && at < 64) || (at >= 0x84 && at < 0x88);
}

void ExpectSameMemory(const Bytes& dump, const QByteArray& memory, std::size_t from)
{
    if (dump.empty())
        return;
    ASSERT_LE(from + dump.size(), static_cast<std::size_t>(memory.size()));
    for (std::size_t i = 0; i < dump.size(); ++i) {
        if (MovesWithLife(from + i))
            continue;
        ASSERT_EQ(dump[i], static_cast<std::uint8_t>(memory[static_cast<int>(from + i)])) << "offset " << from + i;
    }
}

TEST(SimPacketSize, SelectAfterATwoByteWriteReadsWholePackets)
{
    // The span gas write that precedes the calibration's block read: count
    // 2 at image offset 88 (bytes 24..25 of the sensor block).
    const Bytes spanGas{0xC8, 0x00};
    struct Case {
        const char* name;
        QStringList args;
        std::uint8_t select;
        std::size_t packet;
    };
    const std::vector<Case> cases = {
        {"sensor block", {}, 0x50, 32},
        {"unit block", {}, 0x5F, 32},
        {"event log", {}, 0x60, 32},
        {"sensor block in 16-byte packets", {"--packet-size", "16"}, 0x50, 16},
        {"event log in 9-byte packets", {"--packet-size", "9"}, 0x60, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.args);
        START_SIM(sim);
        OPEN_PORT(port, sim);
        WAKE(port);
        const Bytes expected = c.select == 0x60 ? port.EventLog(c.packet) : Bytes{};
        ASSERT_EQ(expected.size(), c.select == 0x60 ? 36u : 0u);
        ASSERT_EQ(Hex(port.Status({0x70, 0xE4, 0x01})), Hex(kAck));
        ASSERT_EQ(Hex(port.Status(Header(2, 88))), Hex(kAck));
        ASSERT_EQ(Hex(port.Status({0x91, 0xAC, 0xC1})), Hex(kAck));
        ASSERT_EQ(Hex(port.Status(Frame(spanGas))), Hex(kAck));
        ASSERT_EQ(Hex(port.Status(Cmd(c.select))), Hex(kAck));
        Bytes read;
        while (read.size() < 64) {
            const Bytes reply = port.Exchange({0x81, 0x60, 0xC0}, c.packet + 2);
            ASSERT_EQ(reply.size(), c.packet + 2) << "after " << read.size() << " bytes";
            ASSERT_TRUE(ReplyCrcValid(reply));
            EXPECT_TRUE(port.Collect(20).empty()) << "nothing beyond the packet";
            read.insert(read.end(), reply.begin(), reply.end() - 2);
        }
        read.resize(64);
        if (c.select == 0x50) {
            EXPECT_EQ(Hex({read[24], read[25]}), Hex(spanGas));
            EXPECT_TRUE(BlockCrcValid(read));
        } else if (c.select == 0x5F) {
            EXPECT_EQ(std::string(read.begin() + 16, read.begin() + 26), "SH10000123");
            EXPECT_TRUE(BlockCrcValid(read));
        } else {
            EXPECT_EQ(Hex(Bytes(read.begin(), read.begin() + 36)), Hex(Bytes(expected.begin(), expected.begin() + 36)));
        }
    }
}

TEST(SimPacketSize, WriteThenReadBackThroughTheLink)
{
    // Write the span gas, read the sensor block again before closing: one
    // connection, as the calibration dialog's preparation does it.
    SimProcess sim;
    START_SIM(sim);
    TComZEL link;
    link.SetDefPort(sim.portPath().toStdString());
    ASSERT_EQ(link.OpenUSB(1.0f), 0);
    RZELCFG cfg = DefaultConfig();
    ASSERT_EQ(link.ReadSensorCFGData(cfg.mSensor, 32, 64), 0);
    cfg.mSensor.mSpanGas = 500;
    const RComZELReadBuf image = PackConfigImage(cfg);
    ASSERT_EQ(link.WriteCFGData(image, 88, 2), 0);
    RZELSensorCFG again{};
    EXPECT_EQ(link.ReadSensorCFGData(again, 32, 64), 0);
    EXPECT_EQ(again.mSpanGas, 500);
    EXPECT_EQ(again.mDeadZone, cfg.mSensor.mDeadZone) << "one byte off would land in the dead zone";
    RZELUnitCFG unit{};
    EXPECT_EQ(link.ReadUnitCFGData(unit, 32, 64), 0);
    link.CloseUSB(0);
}

TEST(SimEeprom, ReadFollowsTheHeadersCountAndAddress)
{
    SimProcess sim({"--events", "20"});
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    // Save the memory as it is now (a write of a byte that is already there).
    const Bytes unit = port.Block(0x5F);
    ASSERT_EQ(unit.size(), 64u);
    ASSERT_TRUE(port.WriteConfig(0, {unit[0]}));
    const QByteArray memory = sim.stateMemory();
    ASSERT_EQ(memory.size(), 1024);

    struct Case {
        std::uint8_t count;
        std::uint16_t address;
        int packets;
    };
    const std::vector<Case> cases = {
        {16, 0x0100, 3}, {128, 0x0000, 2}, {1, 0x03FF, 2}, {32, 0x03F0, 2}, {9, 0x0092, 4}, {100, 0x0380, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " @ " + std::to_string(c.address));
        ASSERT_EQ(Hex(port.Status(Cmd(0x70))), Hex(kAck));
        ASSERT_EQ(Hex(port.Status(Header(c.count, c.address))), Hex(kAck));
        for (int p = 0; p < c.packets; ++p) {
            const Bytes reply = port.Exchange(Cmd(0x81), c.count + 2u);
            ASSERT_EQ(reply.size(), c.count + 2u);
            ASSERT_TRUE(ReplyCrcValid(reply));
            const std::size_t from = c.address + static_cast<std::size_t>(p) * c.count;
            const Bytes data(reply.begin(), reply.end() - 2);
            // Inside the memory the bytes are the memory's; past it, erased.
            const std::size_t inside = from >= 1024 ? 0 : std::min<std::size_t>(c.count, 1024 - from);
            ExpectSameMemory(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(inside)), memory, from);
            EXPECT_EQ(Bytes(data.begin() + static_cast<std::ptrdiff_t>(inside), data.end()), Bytes(c.count - inside, 0xFF));
        }
    }
}

TEST(SimEeprom, DumpOnTheWireMatchesTheStateMemory)
{
    SimProcess sim({"--events", "85"});
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    // The dump as the tool reads it with the standard settings: 70 E4 01,
    // header 20 00 00 00 C0 0B, then 81 60 C0 for each of 31 packets.
    ASSERT_EQ(Hex(port.Status({0x70, 0xE4, 0x01})), Hex(kAck));
    ASSERT_EQ(Hex(port.Status({0x20, 0x00, 0x00, 0x00, 0xC0, 0x0B})), Hex(kAck));
    Bytes dump;
    for (int p = 0; p < 31; ++p) {
        const Bytes reply = port.Exchange({0x81, 0x60, 0xC0}, 34);
        ASSERT_EQ(reply.size(), 34u) << "packet " << p;
        ASSERT_TRUE(ReplyCrcValid(reply));
        dump.insert(dump.end(), reply.begin(), reply.end() - 2);
    }
    ASSERT_EQ(Hex(port.Status(Cmd(0xB3))), Hex(kAck));
    ExpectSameMemory(dump, sim.stateMemory(), 0);

    // The same through the link's own dump routine.
    TComZEL link;
    link.SetDefPort(sim.portPath().toStdString());
    ASSERT_EQ(link.OpenUSB(1.0f), 0);
    RComZELReadBuf buffer;
    ASSERT_EQ(link.ReadEEPROMData(buffer, 32, 0, 1024), 0);
    link.CloseUSB(0);
    ASSERT_EQ(buffer.mData, 992);
    const Bytes linked(buffer.mBuf, buffer.mBuf + 992);
    ExpectSameMemory(linked, sim.stateMemory(), 0);
    EXPECT_EQ(Bytes(buffer.mBuf + 992, buffer.mBuf + 1024), Bytes(32, 0xFF));
}

TEST(SimEeprom, PacketRequestAfterAWriteUsesTheBlockPacketSize)
{
    SimProcess sim;
    START_SIM(sim);
    OPEN_PORT(port, sim);
    WAKE(port);
    ASSERT_TRUE(port.WriteConfig(88, {0xFA, 0x00}));
    // The header's count sized the write, not a read.
    const Bytes reply = port.Exchange(Cmd(0x81), 34);
    ASSERT_EQ(reply.size(), 34u);
    ASSERT_TRUE(ReplyCrcValid(reply));
    EXPECT_EQ(Hex({reply[0], reply[1]}), "FA 00");
}

}  // namespace
