// Exchanges of the protocol object against a scripted peer on a real
// pseudo-terminal: frames byte for byte, reply classification, held traces.
#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "Crc16.h"
#include "MemoryChannel.h"
#include "PtyPeer.h"
#include "ZelComms.h"

namespace {

const QByteArray kAck = Hex("B5 B7 C1");
const QByteArray kNak = Hex("B6 B6 81");

QByteArray WithCrc(QByteArray data)
{
    const std::uint16_t crc = crc16::Compute(reinterpret_cast<const std::uint8_t*>(data.constData()), data.size());
    data.append(static_cast<char>(crc >> 8));
    data.append(static_cast<char>(crc & 0xFF));
    return data;
}

QByteArray Pattern(int len, int seed)
{
    QByteArray data;
    for (int i = 0; i < len; ++i)
        data.append(static_cast<char>((i * 7 + seed) & 0xFF));
    return data;
}

struct Fixture : ::testing::Test {
    PtyPeer peer;
    TComZEL link;
    QStringList trace;

    void SetUp() override
    {
        link.SetOnZELEvent([this](TComZEL*, const QDateTime&, const QString& log) { trace << log; });
        link.ComOpen(peer.SlavePath());
    }
};

struct ReplyCase {
    const char* name;
    QByteArray reply;
    std::uint8_t status;
    QString readLine;
};

TEST_F(Fixture, StatusRepliesAreClassified)
{
    const QByteArray otherStatus = WithCrc(Hex("17"));
    const std::vector<ReplyCase> cases = {
        {"ack", kAck, 0, "[READ] ACK:B5 B7 C1 "},
        {"damaged ack", Hex("B5 B7 00"), 0, "[READ] WRONGACK:B5 B7 00 "},
        {"all zero", Hex("00 00 00"), 162, "[READ] NORESPONSE:00 00 00 "},
        {"echoed wake-up", WithCrc(Hex("B2")), 162, "[READ] NORESPONSE:B2 75 80 "},
        {"nak", kNak, 176, "[READ] NAK:B6 B6 81 "},
        {"other status", otherStatus, 177, "[READ] ERROR:17 " + QString(TComZEL::HexDump(reinterpret_cast<const std::uint8_t*>(otherStatus.constData()) + 1, 2))},
        {"bad crc", Hex("B6 B6 00"), 178, "[READ] CRCERROR:B6 B6 00 "},
        {"silence", QByteArray(), 162, "[READ] "},
        {"short", Hex("B5"), 162, "[READ] B5 "},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        trace.clear();
        peer.Play({{3, c.reply}});
        EXPECT_EQ(link.SendCommand(TraceMode::Report, 0xB2, 3, 0.1f), c.status);
        ASSERT_EQ(trace.size(), 2);
        EXPECT_EQ(trace[0], "[SEND] B2 75 80 ");
        EXPECT_EQ(trace[1], c.readLine);
    }
}

TEST_F(Fixture, DataRepliesAreJudgedByTheirCrcOnly)
{
    const QByteArray identity = WithCrc(Pattern(18, 0xEE));  // first byte would be an odd status
    QByteArray damaged = identity;
    damaged[19] = static_cast<char>(damaged[19] ^ 0x01);
    struct Case { const char* name; QByteArray reply; std::uint8_t status; bool prefixed; };
    for (const Case& c : {Case{"good", identity, 0, false}, Case{"damaged", damaged, 178, true},
                          Case{"with surplus", identity + Hex("AA BB"), 0, false}}) {
        SCOPED_TRACE(c.name);
        trace.clear();
        peer.Play({{3, c.reply}});
        RZELIdenty id{};
        EXPECT_EQ(link.RequireIdenty(id), c.status);
        ASSERT_EQ(trace.size(), 2);
        EXPECT_EQ(trace[0], "[SEND] A0 78 00 ");
        const QString expectedRead = QString("[READ] ") + (c.prefixed ? "CRCERROR:" : "") +
                                     TComZEL::HexDump(reinterpret_cast<const std::uint8_t*>(c.reply.constData()), c.reply.size());
        EXPECT_EQ(trace[1], expectedRead);
        if (c.status == 0) {
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&id), 18), identity.left(18));
        }
    }
}

TEST_F(Fixture, QuietModeBuildsNoSendLineAndFiresNothing)
{
    peer.Play({{3, kNak}});
    EXPECT_EQ(link.SendCommand(TraceMode::Quiet, 0xB2, 3, 0.1f), 176);
    EXPECT_TRUE(trace.isEmpty());
    RZELLogRead held;
    link.GetLog(held);
    EXPECT_TRUE(held.mSendLog.isEmpty());
    EXPECT_EQ(held.mRevLog, "[READ] NAK:B6 B6 81 ");
}

TEST_F(Fixture, FrameWithoutCommandByteCarriesPayloadAndCrc)
{
    peer.Play({{6, kAck}});
    const std::uint8_t header[4] = {0x0A, 0x00, 0x00, 0x40};
    EXPECT_EQ(link.SendPacket(TraceMode::Report, 0, header, 4, 3, 0.1f), 0);
    EXPECT_EQ(peer.Received(6), Hex("0A 00 00 40 28 02"));
}

TEST_F(Fixture, UnitBlockIsSelectedAndReadInTwoPackets)
{
    RZELUnitCFG expected = DefaultConfig().mUnit;
    const std::uint16_t crc = crc16::Compute(reinterpret_cast<const std::uint8_t*>(&expected), 62);
    expected.mCRC = crc;  // stored low byte first, as the detector keeps it
    const QByteArray block(reinterpret_cast<const char*>(&expected), 64);
    peer.Play({{3, kAck}, {3, WithCrc(block.left(32))}, {3, WithCrc(block.mid(32))}});
    RZELUnitCFG unit{};
    EXPECT_EQ(link.ReadUnitCFGData(unit, 32, 64), 0);
    EXPECT_EQ(peer.Received(9), Hex("5F 38 40 81 60 C0 81 60 C0"));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&unit), 64), block);
    EXPECT_EQ(trace.size(), 6);
}

TEST_F(Fixture, BlockCrcStoredHighByteFirstIsRejected)
{
    RZELSensorCFG sent = DefaultConfig().mSensor;
    const std::uint16_t crc = crc16::Compute(reinterpret_cast<const std::uint8_t*>(&sent), 62);
    sent.mCRC = static_cast<std::uint16_t>((crc >> 8) | (crc << 8));
    ASSERT_NE(sent.mCRC, crc);
    const QByteArray block(reinterpret_cast<const char*>(&sent), 64);
    peer.Play({{3, kAck}, {3, WithCrc(block.left(32))}, {3, WithCrc(block.mid(32))}});
    RZELSensorCFG sensor{};
    EXPECT_EQ(link.ReadSensorCFGData(sensor, 32, 64), 192);
    EXPECT_EQ(peer.Received(9).left(3), Hex("50 3C 00"));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&sensor), 64), block);  // overwritten all the same
}

TEST_F(Fixture, BlockReadRefusesSizesThatCannotFillTheRecord)
{
    RZELUnitCFG unit = DefaultConfig().mUnit;
    const RZELUnitCFG before = unit;
    struct Case { std::uint16_t packet, size; };
    for (const Case c : {Case{0, 64}, Case{129, 256}, Case{32, 48}, Case{48, 64}, Case{32, 300}}) {
        EXPECT_EQ(link.ReadUnitCFGData(unit, c.packet, c.size), zelstatus::kSizeRefused) << c.packet << "/" << c.size;
    }
    EXPECT_EQ(std::memcmp(&unit, &before, sizeof unit), 0);
    EXPECT_TRUE(peer.Received(1, 50).isEmpty());
}

TEST_F(Fixture, WriteSendsHeaderThenDataAndHoldsTraceUntilTheEnd)
{
    RComZELReadBuf image = PackConfigImage(DefaultConfig());
    peer.Play({{3, kAck}, {6, kAck}, {3, kAck}, {12, kAck}});
    EXPECT_EQ(link.WriteCFGData(image, 64, 10), 0);
    const QByteArray data(reinterpret_cast<const char*>(image.mBuf + 64), 10);
    EXPECT_EQ(peer.Received(24), Hex("70 E4 01 0A 00 00 40 28 02 91 AC C1") + WithCrc(data));
    EXPECT_EQ(trace.size(), 8);
    EXPECT_EQ(trace[0], "[SEND] 70 E4 01 ");
    EXPECT_EQ(trace[7], "[READ] ACK:B5 B7 C1 ");
}

TEST_F(Fixture, WriteRefusedAtTheHeaderFiresFourLines)
{
    peer.Play({{3, kAck}, {6, kNak}});
    EXPECT_EQ(link.WriteCFGData(PackConfigImage(DefaultConfig()), 0, 8), 176);
    ASSERT_EQ(trace.size(), 4);
    EXPECT_EQ(trace[3], "[READ] NAK:B6 B6 81 ");
}

TEST_F(Fixture, WriteOutsideTheImageIsRefusedWithoutTraffic)
{
    const RComZELReadBuf image = PackConfigImage(DefaultConfig());
    for (auto [address, size] : {std::pair{0, 0}, {0, 129}, {120, 9}, {200, 1}})
        EXPECT_EQ(link.WriteCFGData(image, address, size), zelstatus::kSizeRefused) << address << "+" << size;
    EXPECT_TRUE(peer.Received(1, 50).isEmpty());
}

TEST_F(Fixture, LifeValueGoesLeastSignificantByteFirst)
{
    peer.Play({{3, kAck}, {6, kAck}});
    EXPECT_EQ(link.WriteCFGTimeData(63072000), 0);
    EXPECT_EQ(peer.Received(9), WithCrc(Hex("71")) + WithCrc(Hex("00 67 C2 03")));
    EXPECT_EQ(trace.size(), 4);
}

TEST_F(Fixture, LogDownloadStopsAtTheAnnouncedSize)
{
    const QByteArray log = Pattern(32, 3);
    peer.Play({{3, kAck}, {3, WithCrc(Hex("14 00 00 00"))}, {3, WithCrc(log.left(16))}, {3, WithCrc(log.mid(16, 16))}});
    RComZELReadBuf buf;
    EXPECT_EQ(link.LoadLog(buf, 16), 0);
    EXPECT_EQ(buf.mData, 20);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(buf.mBuf), 20), log.left(20));
    EXPECT_EQ(peer.Received(12), WithCrc(Hex("60")) + WithCrc(Hex("A1")) + Hex("81 60 C0 81 60 C0"));
}

TEST_F(Fixture, LogLargerThanTheBufferIsReadAsFarAsItHolds)
{
    const QByteArray log = Pattern(1024, 5);
    std::vector<PeerStep> steps{{3, kAck}, {3, WithCrc(Hex("01 05 00 00"))}};  // 1,281 bytes announced
    for (int at = 0; at < 1024; at += 128)
        steps.push_back({3, WithCrc(log.mid(at, 128))});
    peer.Play(steps);
    RComZELReadBuf buf;
    EXPECT_EQ(link.LoadLog(buf, 128), 0);
    EXPECT_EQ(buf.mData, 1024);
    EXPECT_EQ(link.LogBytesLeftOut(), 257u);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(buf.mBuf), 1024), log);
    EXPECT_EQ(peer.Received(6 + 8 * 3, 150).size(), 6 + 8 * 3) << "no request beyond the buffer";
}

// The last packet of a range is never asked for; its place is filled with
// erased bytes. Ranges beyond the link's 1 KiB buffer get a dump of their own.
TEST(EepromDump, LeavesTheLastPacketUnreadAndFilled)
{
    struct Case {
        std::uint16_t packet;
        std::uint16_t start;
        std::uint16_t max;
        int packets;     // 0x81 requests on the wire
        QByteArray header;
    };
    const Case cases[] = {
        {16, 0, 64, 3, Hex("10 00 00 00")},
        {32, 0, 1024, 31, Hex("20 00 00 00")},
        {32, 0x0100, 1024, 31, Hex("20 00 01 00")},  // the count does not shrink with the start
        {128, 0x1234, 32768, 255, Hex("80 00 12 34")},
        {32, 0, 16, 1, Hex("20 00 00 00")},          // a range below one packet still reads one
        {7, 0, 64, 9, Hex("07 00 00 00")},           // 63 bytes read, then 7 erased
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "packet " << c.packet << " max " << c.max);
        PtyPeer peer;
        TComZEL link;
        link.ComOpen(peer.SlavePath());
        std::vector<PeerStep> steps{{3, kAck}, {6, kAck}};
        QByteArray sent;
        for (int i = 0; i < c.packets; ++i) {
            const QByteArray data = Pattern(c.packet, i + 1);
            sent += data;
            steps.push_back({3, WithCrc(data)});
        }
        peer.Play(steps);
        RZELMemoryDump dump;
        dump.mData = 99;
        dump.mBuf.assign(5, 0x11);
        ASSERT_EQ(link.ReadEEPROMData(dump, c.packet, c.start, c.max), 0);
        EXPECT_EQ(dump.mData, c.packets * c.packet);
        ASSERT_EQ(dump.mBuf.size(), static_cast<std::size_t>((c.packets + 1) * c.packet));
        const QByteArray got(reinterpret_cast<const char*>(dump.mBuf.data()), static_cast<qsizetype>(dump.mBuf.size()));
        EXPECT_EQ(got, sent + QByteArray(c.packet, '\xFF'));
        QByteArray wire = Hex("70 E4 01") + WithCrc(c.header);
        for (int i = 0; i < c.packets; ++i)
            wire += Hex("81 60 C0");
        EXPECT_EQ(peer.Received(wire.size()), wire);
        // Nothing more is asked once the range is read.
        EXPECT_EQ(peer.Received(wire.size() + 1, 150).size(), wire.size());
    }
}

TEST_F(Fixture, EepromDumpThatFailsHalfWayKeepsWhatArrived)
{
    // A status reply where a packet belongs is too short to be one.
    peer.Play({{3, kAck}, {6, kAck}, {3, WithCrc(Pattern(16, 1))}, {3, kNak}});
    RZELMemoryDump dump;
    EXPECT_EQ(link.ReadEEPROMData(dump, 16, 0, 64), zelstatus::kNoResponse);
    EXPECT_EQ(dump.mData, 16);
    EXPECT_EQ(dump.mBuf.size(), 16u) << "no erased tail after a failure";
    RZELMemoryDump refused;
    EXPECT_EQ(link.ReadEEPROMData(refused, 0, 0, 64), zelstatus::kSizeRefused);
    EXPECT_EQ(link.ReadEEPROMData(refused, 129, 0, 64), zelstatus::kSizeRefused);
    EXPECT_TRUE(refused.mBuf.empty());
}

TEST_F(Fixture, StandardEepromHeader)
{
    peer.Play({{3, kAck}, {6, kNak}});
    RZELMemoryDump buf;
    EXPECT_EQ(link.ReadEEPROMData(buf, 32, 0, 1024), 176);
    EXPECT_EQ(peer.Received(9), Hex("70 E4 01 20 00 00 00 C0 0B"));
}

TEST_F(Fixture, SuccessfulFirmwareFrameLeavesNoTrace)
{
    RComZELReadBuf frame;
    frame.mData = 8;
    std::memset(frame.mBuf, 0x5A, 8);
    peer.Play({{3, kAck}, {10, kAck}, {3, kAck}, {10, kNak}});
    EXPECT_EQ(link.UpgradeData(1, frame), 0);
    EXPECT_TRUE(trace.isEmpty());
    EXPECT_EQ(link.UpgradeData(3, frame), 176);
    ASSERT_EQ(trace.size(), 3);  // command send and reply, data reply only
    EXPECT_EQ(trace[0], "[SEND] 93 " + TComZEL::HexDump(reinterpret_cast<const std::uint8_t*>(WithCrc(Hex("93")).constData()) + 1, 2));
    EXPECT_EQ(trace[2], "[READ] NAK:B6 B6 81 ");
}

TEST_F(Fixture, CommandBytesPassThroughUnchanged)
{
    peer.Play({{3, kAck}, {3, kAck}, {3, kAck}});
    EXPECT_EQ(link.AVOn(0x34), 0);
    EXPECT_EQ(link.SensorCalibration(0x46), 0);
    EXPECT_EQ(peer.Received(9), WithCrc(Hex("34")) + WithCrc(Hex("50")) + WithCrc(Hex("46")));
}

TEST_F(Fixture, ExchangeOnAClosedPortIs161)
{
    link.ComClose();
    EXPECT_EQ(link.KillZEL(), 161);
    ASSERT_EQ(trace.size(), 2);
    EXPECT_EQ(trace[1], "[READ] ");
}

// While the port is open the link thread's sleeps keep to a 10 us timer
// slack (the pauses after each exchange would otherwise end up to 50 us
// late); closing the port gives the thread its own slack back.
TEST(LinkTimerSlack, HeldWhileThePortIsOpen)
{
    const long before = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    PtyPeer peer;
    TComZEL link;
    link.ComOpen(peer.SlavePath());
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 10'000);
    link.ComClose();
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), before);
    link.ComOpen(peer.SlavePath());
    peer.HangUp();
    EXPECT_EQ(link.KillZEL(), 161);
    link.CloseUSB(161);  // as every operation ends, also after a lost line
    EXPECT_EQ(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), before);
}

TEST_F(Fixture, VanishedLineIs161AndClosesThePort)
{
    peer.HangUp();
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(link.SendCommand(TraceMode::Report, 0xB2, 3, 0.1f), 161);
    EXPECT_FALSE(link.PortOpen());
    EXPECT_LT(timer.elapsed(), 1000);
}

// The line drops in the middle of a reply: the bytes that did arrive are not
// a reply, and the trace says so by showing none.
TEST_F(Fixture, LineLostInsideAReplyTracesNoReplyBytes)
{
    peer.Play({{3, Hex("01 02 03")}});
    std::thread cut([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        peer.HangUp();
    });
    EXPECT_EQ(link.SendCommand(TraceMode::Report, 0x81, 34, 0.5f), 161);
    cut.join();
    ASSERT_EQ(trace.size(), 2);
    EXPECT_EQ(trace[0], "[SEND] 81 60 C0 ");
    EXPECT_EQ(trace[1], "[READ] ");
}

// Wake-up: frames every 1.05 ms until an ACK, then a "[CHECK TIME]" line.
TEST_F(Fixture, WakeUpAckedAtOnceTakesOneFrame)
{
    // The ACK is already waiting when the first frame's slot ends.
    peer.Play({{0, kAck}});
    EXPECT_EQ(link.ConnectZEL(1.0f), 0);
    ASSERT_EQ(trace.size(), 2);
    EXPECT_EQ(trace[0], "B5 B7 C1 ");
    EXPECT_TRUE(trace[1].startsWith("[CHECK TIME] "));
    EXPECT_TRUE(trace[1].endsWith(" (1)"));
}

TEST_F(Fixture, WakeUpSkipsANakInTheSameRead)
{
    peer.Play({{3, kNak + kAck}});
    EXPECT_EQ(link.ConnectZEL(1.0f), 0);
    ASSERT_GE(trace.size(), 3);
    EXPECT_EQ(trace[0], "B6 B6 81 B5 B7 C1 ");
    EXPECT_EQ(trace[1], "B5 B7 C1 ");
}

TEST_F(Fixture, WakeUpDiscardsAReplyWithABadCrcAndTriesAgain)
{
    // The ACK answers a later frame, so the damaged reply is read on its own.
    // A peer that falls behind on a loaded machine answers several frames at
    // once; the pause keeps the ACK out of the damaged reply's read even then
    // (the wake-up drops a whole read whose first reply is damaged).
    peer.Play({{3, Hex("B5 B7 00")}, {3, {}}, {3, {}}, {3, kAck, 20}});
    EXPECT_EQ(link.ConnectZEL(1.0f), 0);
    ASSERT_EQ(trace.size(), 2);
    EXPECT_EQ(trace[0], "B5 B7 C1 ");
    const QString frames = trace[1].section('(', 1).chopped(1);
    EXPECT_GE(frames.toInt(), 4) << trace[1].toStdString();
}

TEST_F(Fixture, WakeUpWithZeroTimeSendsNothing)
{
    peer.Play({});
    EXPECT_EQ(link.ConnectZEL(0.0f), 160);
    ASSERT_EQ(trace.size(), 1);
    EXPECT_TRUE(trace[0].endsWith(" (0)"));
    EXPECT_TRUE(peer.Received(1, 50).isEmpty());
}

TEST_F(Fixture, SilentDetectorGivesUpAfterTheConnectTimeAtTheFrameRate)
{
    peer.Play({});
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(link.ConnectZEL(0.3f), 160);
    const qint64 ms = timer.elapsed();
    EXPECT_GE(ms, 300);
    EXPECT_LT(ms, 800);
    // One frame every 1.05 ms: roughly 285 frames in 0.3 s; a loaded test
    // machine wakes late, but never faster than the spacing allows.
    const int frames = peer.ReceivedWhenQuiet().size() / 3;
    EXPECT_GT(frames, 100);
    EXPECT_LE(frames, 290);
}

// The engine over a line in memory: the line's own clock runs the
// time-outs, so silence costs no real time, and replies may come split,
// late, behind stray bytes, or not at all.
TEST(MemoryLine, ExchangesRunOnTheLinesClock)
{
    using Chunks = std::vector<TMemoryChannel::Chunk>;
    using std::chrono::microseconds;
    const QByteArray identity = WithCrc(Hex("02 01 0D 01 00 38 24 03") + QByteArray("SH10000123"));
    const auto bytes = [](const QByteArray& b) { return std::vector<std::uint8_t>(b.begin(), b.end()); };
    struct Case {
        const char* name;
        Chunks reply;
        std::uint8_t status;
        double minSeconds;  // on the line's clock
    };
    const std::vector<Case> cases = {
        {"whole reply at once", {{microseconds(300), bytes(identity)}}, 0, 0.0003},
        {"split across two reads", {{microseconds(300), bytes(identity.left(7))}, {microseconds(2500), bytes(identity.mid(7))}},
         0, 0.0025},
        {"stray byte before the reply", {{microseconds(100), {0x00}}, {microseconds(300), bytes(identity)}}, 178, 0.0003},
        {"silence waits the whole time-out", {}, 162, 0.1},
        {"reply after the time-out", {{microseconds(150000), bytes(identity)}}, 162, 0.1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TComZEL link;
        auto channel = std::make_unique<TMemoryChannel>([&c](const std::vector<std::uint8_t>&) { return c.reply; });
        TMemoryChannel* line = channel.get();
        link.SetChannel(std::move(channel));
        link.ComOpen("memory");
        const auto start = line->Now();
        QElapsedTimer real;
        real.start();
        RZELIdenty record{};
        EXPECT_EQ(link.RequireIdenty(record), c.status);
        EXPECT_GE(std::chrono::duration<double>(line->Now() - start).count(), c.minSeconds);
        EXPECT_LT(real.elapsed(), 50) << "no real waiting on a line in memory";
        if (c.status == 0) {
            EXPECT_EQ(std::string(record.mSerial, 10), "SH10000123");
        }
    }
}

// A line whose reader gets the processor back late after every wait, as a
// thread does on a busy machine: the line's clock runs on by `late` after
// each wait for input.
class LateWakingLine : public ISerialChannel {
public:
    LateWakingLine(std::unique_ptr<TMemoryChannel> line, std::chrono::microseconds late)
        : FLine(std::move(line)), FLate(late)
    {
    }
    void SetDeviceName(const std::string& name) override { FLine->SetDeviceName(name); }
    void SetBaudData(int baud) override { FLine->SetBaudData(baud); }
    void Open() override { FLine->Open(); }
    void Close() override { FLine->Close(); }
    bool Enabled() const override { return FLine->Enabled(); }
    int Write(const std::uint8_t* buf, int count) override { return FLine->Write(buf, count); }
    int Read(std::uint8_t* buf, int count) override { return FLine->Read(buf, count); }
    void PurgeIn() override { FLine->PurgeIn(); }
    bool WaitForInput(int ms) override
    {
        const bool ready = FLine->WaitForInput(ms);
        FLine->SleepUntil(FLine->Now() + FLate);
        return ready;
    }
    Clock::time_point Now() const override { return FLine->Now(); }
    void SleepUntil(Clock::time_point deadline) override { FLine->SleepUntil(deadline); }

private:
    std::unique_ptr<TMemoryChannel> FLine;
    std::chrono::microseconds FLate;
};

// A reply that is waiting when the late reader looks is the unit's answer,
// even when the look comes after the 100 ms time-out; only a line with
// nothing on it is silence.
TEST(MemoryLine, ReplyWaitingWhenALateReaderLooksIsTaken)
{
    using std::chrono::microseconds;
    const QByteArray identity = WithCrc(Hex("02 01 0D 01 00 38 24 03") + QByteArray("SH10000123"));
    struct Case {
        const char* name;
        std::vector<TMemoryChannel::Chunk> reply;
        microseconds late;
        std::uint8_t status;
    };
    const std::vector<TMemoryChannel::Chunk> at90ms = {
        {microseconds(90000), std::vector<std::uint8_t>(identity.begin(), identity.end())}};
    const std::vector<Case> cases = {
        {"reply at 90 ms, reader back at 150 ms", at90ms, microseconds(60000), 0},
        {"reply at 90 ms, reader back at once", at90ms, microseconds(0), 0},
        {"silence, reader back late", {}, microseconds(60000), 162},
        {"half a reply, reader back late",
         {{microseconds(90000), std::vector<std::uint8_t>(identity.begin(), identity.begin() + 7)}},
         microseconds(60000), 162},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TComZEL link;
        auto memory = std::make_unique<TMemoryChannel>([&c](const std::vector<std::uint8_t>&) { return c.reply; });
        link.SetChannel(std::make_unique<LateWakingLine>(std::move(memory), c.late));
        link.ComOpen("memory");
        RZELIdenty record{};
        EXPECT_EQ(link.RequireIdenty(record), c.status);
        if (c.status == 0) {
            EXPECT_EQ(std::string(record.mSerial, 10), "SH10000123");
        }
    }
}

TEST(MemoryLine, WakeUpAndALostLine)
{
    TComZEL link;
    int frames = 0;
    auto channel = std::make_unique<TMemoryChannel>([&frames](const std::vector<std::uint8_t>& frame) {
        if (frame == std::vector<std::uint8_t>{0xB2, 0x75, 0x80})
            ++frames;
        // Awake after the tenth frame.
        return frames < 10 ? std::vector<TMemoryChannel::Chunk>{}
                           : std::vector<TMemoryChannel::Chunk>{{std::chrono::microseconds(400), {0xB5, 0xB7, 0xC1}}};
    });
    TMemoryChannel* line = channel.get();
    link.SetChannel(std::move(channel));
    link.ComOpen("memory");
    const auto start = line->Now();
    EXPECT_EQ(link.ConnectZEL(3.0f), 0);
    EXPECT_EQ(frames, 10);
    const double ms = std::chrono::duration<double, std::milli>(line->Now() - start).count();
    EXPECT_NEAR(ms, 10 * 1.05 + 2.0, 0.2) << "ten slots, then the two settling pauses";

    line->LoseLineAtWrite(line->Writes() + 1);
    EXPECT_EQ(link.KillZEL(), 0);
    EXPECT_EQ(link.KillZEL(), 161);
    EXPECT_FALSE(link.PortOpen());
}

// A unit acknowledges every wake-up frame it hears. With a turnaround longer
// than the frame spacing, the ACKs of the last frames arrive after the tool's
// purges, in front of the first reply: they are dropped, and traced, where
// they cannot be that reply; a reply that itself starts with the ACK's bytes
// is still taken whole.
TEST(MemoryLine, LateWakeUpAcksAheadOfTheFirstReply)
{
    using std::chrono::microseconds;
    const QByteArray identity = WithCrc(Hex("02 01 0D 01 00 38 24 03") + QByteArray("SH10000123"));
    const QByteArray sensor = WithCrc(Hex("B5 B7 C1 00 05 00"));
    struct Case {
        const char* name;
        microseconds turnaround;
        std::function<std::uint8_t(TComZEL&)> command;
        std::uint8_t status;
        bool dropTraced;
    };
    const std::vector<Case> cases = {
        {"identity behind a late ACK", microseconds(3500),
         [](TComZEL& l) {
             RZELIdenty record{};
             const std::uint8_t s = l.RequireIdenty(record);
             return s == 0 && std::string(record.mSerial, 10) != "SH10000123" ? std::uint8_t(255) : s;
         },
         0, true},
        {"a NAK behind a late ACK stays a NAK", microseconds(3500), [](TComZEL& l) { return l.SendHibernate(); },
         176, true},
        {"an ACK behind a late ACK", microseconds(3500), [](TComZEL& l) { return l.KillZEL(); }, 0, true},
        {"a reading that starts like an ACK", microseconds(300),
         [](TComZEL& l) {
             RZELSensor reading{};
             const std::uint8_t s = l.RequireSensor(reading, 0);
             return s == 0 && reading.mHistory != 5 ? std::uint8_t(255) : s;
         },
         0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto channel = std::make_unique<TMemoryChannel>([&](const std::vector<std::uint8_t>& frame) {
            const auto bytes = [](const QByteArray& b) { return std::vector<std::uint8_t>(b.begin(), b.end()); };
            using Chunks = std::vector<TMemoryChannel::Chunk>;
            switch (frame[0]) {
            case 0xB2: return Chunks{{c.turnaround, bytes(kAck)}};
            case 0xA0: return Chunks{{microseconds(300), bytes(identity)}};
            case 0x17: return Chunks{{microseconds(300), bytes(kNak)}};
            case 0x20: return Chunks{{microseconds(300), bytes(sensor)}};
            default: return Chunks{{microseconds(300), bytes(kAck)}};
            }
        });
        TComZEL link;
        QStringList trace;
        link.SetOnZELEvent([&trace](TComZEL*, const QDateTime&, const QString& log) { trace << log; });
        link.SetChannel(std::move(channel));
        link.ComOpen("memory");
        ASSERT_EQ(link.ConnectZEL(1.0f), 0);
        EXPECT_EQ(c.command(link), c.status) << trace.join('\n').toStdString();
        EXPECT_EQ(trace.last().contains("late wake-up ACK dropped"), c.dropTraced) << trace.last().toStdString();
    }
}

// A silent unit over the whole default connect time: the frames keep their
// 1.05 ms spacing on average (deadlines on a fixed grid, so the few tens of
// microseconds every sleep overshoots do not add up over 2,857 slots).
TEST_F(Fixture, SilentThreeSecondsKeepTheFrameSpacing)
{
    peer.Play({});
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(link.ConnectZEL(3.0f), 160);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const int frames = peer.ReceivedWhenQuiet().size() / 3;
    std::printf("3 s silent wake-up: %d frames in %.1f ms, mean spacing %.4f ms\n", frames, ms, 3000.0 / frames);
    EXPECT_LE(frames, 2858);
    EXPECT_NEAR(3000.0 / frames, 1.05, 0.05);
}

}  // namespace
