// The factory and TEST page commands: the frames each one sends, how the
// unit's refusals are reported, the silent test outputs and their hold, and
// the EEPROM dump from the simulated detector to its CSV file.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <thread>

#include "Crc16.h"
#include "DeviceSettings.h"
#include "EepromGridModel.h"
#include "FactoryTestWorkflows.h"
#include "MainWorkflows.h"
#include "ProfileFile.h"
#include "ProgramDirectory.h"
#include "PtyPeer.h"
#include "ScriptedView.h"
#include "SimProcess.h"
#include "TestPageView.h"

namespace {

const QByteArray kFactoryIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\nAVOperate=100\r\n";
const QByteArray kAck = Hex("B5 B7 C1");
const QByteArray kNak = Hex("B6 B6 81");
const QByteArray kWake = Hex("B2 75 80");

QByteArray WithCrc(QByteArray data)
{
    const std::uint16_t crc = crc16::Compute(reinterpret_cast<const std::uint8_t*>(data.constData()), data.size());
    data.append(static_cast<char>(crc >> 8));
    data.append(static_cast<char>(crc & 0xFF));
    return data;
}

QByteArray Frame(const char* hex) { return WithCrc(Hex(hex)); }

QByteArray IdentityReply(std::uint8_t pid)
{
    const RZELIdenty id{pid, 7, 13, 1, 52704000, {'S', 'H', '1', '0', '0', '0', '0', '1', '2', '3'}};
    return WithCrc(QByteArray(reinterpret_cast<const char*>(&id), sizeof id));
}

// A factory program directory, the logic of both pages and a grid model.
class Bench {
public:
    explicit Bench(const QStringList& simArgs = {}, const QByteArray& ini = kFactoryIni) : sim(simArgs)
    {
        QFile file(programDir.filePath(QStringLiteral("LUMBRA.INI")));
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
        file.close();
        settings = LoadSettings(programDir.path().toStdString() + "/");
        link.SetDefPort(sim.portPath().toStdString());
        main = std::make_unique<TMainWorkflows>(view, link, settings);
        main->FormCreate();
        grid.Prepare(view.eepromRows);
        factory = std::make_unique<TFactoryTestWorkflows>(*main, page);
        view.ClearRecord();
    }

    // The frames the detector received since `from`, wake-up frames left out.
    QStringList Received(qsizetype from = 0) const
    {
        QStringList frames;
        const QStringList lines = sim.recordedLines();
        for (qsizetype i = from; i < lines.size(); ++i) {
            if (lines[i].startsWith(QStringLiteral("RX ")) && lines[i] != QStringLiteral("RX B2 75 80"))
                frames << lines[i].mid(3);
        }
        return frames;
    }

    QTemporaryDir programDir;
    SimProcess sim;
    LoadedSettings settings;
    TComZEL link;
    ScriptedView view;
    std::unique_ptr<TMainWorkflows> main;
    TEepromGridModel grid;
    TModelTestPageView page{grid};
    std::unique_ptr<TFactoryTestWorkflows> factory;
};

QString HexOf(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex(' ').toUpper()); }

// Until a calibration has completed the unit refuses to power down; the
// simulator keeps that in its status byte (memory 0x92, bit 0).
bool WaitForCalibration(const SimProcess& sim, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        const QByteArray memory = sim.stateMemory();
        if (memory.size() > 0x92 && memory[0x92] != '\xFF' && (memory[0x92] & 0x01))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Every button of both pages against the simulated detector: the frames it
// sends, byte for byte, what the user sees, and what the unit did.
TEST(FactoryCommands, EveryButtonAgainstTheSimulator)
{
    struct Case {
        FactoryHandler handler;
        int tag;
        QStringList frames;    // after the wake-up
        QString name;          // empty: reports nothing
        std::uint8_t status = 0;
        QString box;           // the failure's message
        const char* output = nullptr;  // shown on the simulator's console
    };
    const QString a0 = HexOf(Frame("A0")), kill = HexOf(Frame("B3")), select = HexOf(Frame("50"));
    const QString turnOff = HexOf(Frame("14"));
    const Case cases[] = {
        // Never calibrated since its last factory reset: the unit stays on.
        {FactoryHandler::FatoryOptTurnOff, 0, {a0, turnOff, kill}, "Power Down", 193,
         "Must calibration before POWER OFF"},
        {FactoryHandler::EtcFactoryReset, 0, {HexOf(Frame("12")), kill}, "Fatory Reset"},
        {FactoryHandler::EtcIdentify, 0, {a0, kill}, "Load Identify"},
        {FactoryHandler::EtcBeepON, 1, {HexOf(Frame("30")), kill}, {}, 0, {}, "buzzer"},
        {FactoryHandler::EtcBeepON, 2, {HexOf(Frame("31")), kill}, {}, 0, {}, "right LED"},
        {FactoryHandler::EtcBeepON, 3, {HexOf(Frame("32")), kill}, {}, 0, {}, "left LED"},
        {FactoryHandler::EtcBeepON, 4, {HexOf(Frame("34")), kill}, {}, 0, {}, "vibrator"},
        {FactoryHandler::EtcClearPeak, 1, {select, HexOf(Frame("44")), kill}, "Clear Peak"},
        {FactoryHandler::EtcClearPeak, 2, {select, HexOf(Frame("45")), kill}, "Send Bump Fail"},
        {FactoryHandler::EtcClearPeak, 3, {select, HexOf(Frame("46")), kill}, "Send Bump Pass"},
        {FactoryHandler::FatoryOptCal, 0, {a0, select, HexOf(Frame("42")), kill}, "Calibration"},
        // Calibrated now: the unit switches off and is not told that the
        // connection ends.
        {FactoryHandler::FatoryOptTurnOff, 0, {a0, turnOff}, "Power Down"},
    };
    Bench bench({"--hw", "7", "--cal-seconds", "1"});
    bench.sim.captureConsole();
    ASSERT_TRUE(bench.sim.start());
    for (const Case& c : cases) {
        const RFactoryCommand* row = FindFactoryCommand(c.handler, c.tag);
        ASSERT_NE(row, nullptr);
        SCOPED_TRACE(row->button);
        if (c.handler == FactoryHandler::FatoryOptTurnOff && c.status == 0)
            ASSERT_TRUE(WaitForCalibration(bench.sim, 5000));
        const qsizetype from = bench.sim.recordedLines().size();
        bench.view.ClearRecord();
        bench.factory->Run(c.handler, c.tag);
        EXPECT_EQ(bench.factory->LastStatus(), std::optional<std::uint8_t>(c.status));
        EXPECT_EQ(bench.Received(from), c.frames);
        EXPECT_EQ(bench.view.buttonStates, (std::vector<bool>{false, true}));
        EXPECT_FALSE(bench.link.PortOpen());
        if (c.name.isEmpty()) {
            EXPECT_TRUE(bench.view.statuses.empty());
            EXPECT_TRUE(bench.view.messages.empty());
            // On for the AVOperate time (100 ms), then off with the connection.
            const QString off = QString::fromLatin1(c.output) + QStringLiteral(" off after ");
            ASSERT_TRUE(bench.sim.waitForConsole(off, 2000)) << bench.sim.console().toStdString();
            const QString console = bench.sim.console();
            const double seconds = console.mid(console.lastIndexOf(off) + off.size()).section(QLatin1Char(' '), 0, 0).toDouble();
            EXPECT_GE(seconds, 0.09);
            EXPECT_LT(seconds, 0.6);
            continue;
        }
        ASSERT_EQ(bench.view.statuses.size(), 2u);
        EXPECT_EQ(bench.view.statuses[0].text, c.name + "...");
        EXPECT_EQ(bench.view.statuses[0].background, colours::kWhite);
        EXPECT_EQ(bench.view.statuses[1].text, c.name + (c.status == 0 ? "... OK" : "... FAIL"));
        EXPECT_EQ(bench.view.statuses[1].background, c.status == 0 ? colours::kGreen : colours::kRed);
        if (c.status != 0) {
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].caption, c.name);
            EXPECT_EQ(bench.view.messages[0].text, c.box);
        } else if (c.handler == FactoryHandler::EtcIdentify) {
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Information);
            EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Varnolite Identify"));
            // The life count runs down in the unit; every other line is fixed.
            const QRegularExpression box(QStringLiteral(
                "^Product ID = 2\rHardware Version = 007\rFirmware Version = 1.3\rLife Remaining = \\d+ sec\r"
                "Sensor present = 0x01\rSerial Number = SH10000123$"));
            EXPECT_TRUE(box.match(bench.view.messages[0].text).hasMatch()) << bench.view.messages[0].text.toStdString();
        } else {
            EXPECT_TRUE(bench.view.messages.empty());
        }
    }
}

// The unit's refusals and the model check, against a scripted unit: the
// frames on the wire and the texts the user gets.
TEST(FactoryCommands, RefusalsAreReportedWithTheirOwnTexts)
{
    struct Case {
        const char* name;
        FactoryHandler handler;
        int tag;
        std::vector<QByteArray> replies;  // to each request after the wake-up
        QByteArray sent;                  // after the wake-up
        std::uint8_t status;
        QString statusLine;
        QString box;
    };
    const QByteArray a0 = Frame("A0"), kill = Frame("B3"), select = Frame("50");
    const Case cases[] = {
        {"power down refused by an uncalibrated unit", FactoryHandler::FatoryOptTurnOff, 0,
         {IdentityReply(2), Frame("14"), kAck}, a0 + Frame("14") + kill, 193, "Power Down... FAIL",
         "Must calibration before POWER OFF"},
        {"power down answered with a NAK", FactoryHandler::FatoryOptTurnOff, 0, {IdentityReply(2), kNak, kAck},
         a0 + Frame("14") + kill, 176, "Power Down... FAIL", "Varnolite comunication error - negative response"},
        {"calibration refused", FactoryHandler::FatoryOptCal, 0, {IdentityReply(2), kAck, Frame("42"), kAck},
         a0 + select + Frame("42") + kill, 194, "Calibration... FAIL", "Zero calibration failed"},
        {"another product", FactoryHandler::FatoryOptCal, 0, {IdentityReply(9), kAck}, a0 + kill, 146,
         "Calibration... FAIL", "This is not Varnolite module"},
        {"clear peak refused keeps the plain text", FactoryHandler::EtcClearPeak, 1, {kAck, Frame("44"), kAck},
         select + Frame("44") + kill, 177, "Clear Peak... FAIL", "Varnolite comunication error"},
        {"power down accepted closes only the port", FactoryHandler::FatoryOptTurnOff, 0, {IdentityReply(2), kAck},
         a0 + Frame("14"), 0, "Power Down... OK", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench;
        PtyPeer peer;
        bench.link.SetDefPort(peer.SlavePath());
        bench.link.ComOpen(peer.SlavePath());
        // The wake-up ACK already waits when the first frame's slot ends.
        std::vector<PeerStep> steps{{0, kAck}, {3, {}}};
        for (const QByteArray& reply : c.replies)
            steps.push_back({3, reply});
        peer.Play(steps);
        bench.factory->Run(c.handler, c.tag);
        EXPECT_EQ(bench.factory->LastStatus(), std::optional<std::uint8_t>(c.status));
        EXPECT_EQ(peer.Received(3 + c.sent.size() + 1, 300), kWake + c.sent);
        EXPECT_EQ(bench.view.LastStatus().text, c.statusLine);
        if (c.box.isEmpty()) {
            EXPECT_TRUE(bench.view.messages.empty());
        } else {
            ASSERT_EQ(bench.view.messages.size(), 1u);
            EXPECT_EQ(bench.view.messages[0].caption, c.statusLine.section(QStringLiteral("..."), 0, 0));
            EXPECT_EQ(bench.view.messages[0].text, c.box);
        }
    }
}

class NoAdapters : public discovery::AdapterSource {
public:
    std::uint8_t List(std::vector<discovery::Adapter>&) override { return 0; }
};

// The test outputs report nothing, whatever happens; the command line still
// learns the status.
TEST(TestOutputs, ShowNothingWhateverHappens)
{
    struct Case {
        const char* name;
        std::function<void(Bench&)> arrange;
        std::uint8_t status;
    };
    QTemporaryDir nowhere;
    PtyPeer silent;
    const Case cases[] = {
        {"no adapter", [](Bench& b) {
             b.link.SetDefPort("");
             b.link.SetAdapterSources(std::make_unique<NoAdapters>(), std::make_unique<NoAdapters>());
         }, 255},
        {"a port that does not open",
         [&](Bench& b) { b.link.SetDefPort(nowhere.filePath(QStringLiteral("ttyGONE")).toStdString()); }, 161},
        {"no unit in front of the adapter", [&](Bench& b) { b.link.SetDefPort(silent.SlavePath()); }, 160},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench({}, kFactoryIni + "ConnectTime=500\r\n");
        c.arrange(bench);
        bench.factory->EtcBeepONBtnClick(1);
        EXPECT_TRUE(bench.view.statuses.empty());
        EXPECT_TRUE(bench.view.messages.empty());
        EXPECT_EQ(bench.factory->LastStatus(), std::optional<std::uint8_t>(c.status));
        EXPECT_FALSE(bench.link.PortOpen());
    }
    Bench unknown;  // a tag no button carries sends nothing at all
    ASSERT_TRUE(unknown.sim.start());
    unknown.factory->EtcBeepONBtnClick(5);
    unknown.factory->EtcClearPeakBtnClick(0);
    EXPECT_TRUE(unknown.sim.recordedLines().isEmpty());
    EXPECT_FALSE(unknown.factory->LastStatus().has_value());
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The output stays on for AVOperate milliseconds: the end-of-connection
// command follows that long after the output command, and the program
// sleeps meanwhile.
TEST(TestOutputs, HoldTheLinkForTheConfiguredTimeWithoutSpinning)
{
    Bench bench({}, "[Environment]\r\nModeEntry=ZTR_ENG__\r\nAVOperate=800\r\n");
    ASSERT_TRUE(bench.sim.start());
    QDateTime sent;
    QDateTime killed;
    bench.link.SetOnZELEvent([&](TComZEL*, const QDateTime& now, const QString& log) {
        if (log.startsWith(QStringLiteral("[SEND] 34 ")))
            sent = now;
        if (log.startsWith(QStringLiteral("[SEND] B3 ")))
            killed = now;
    });
    const double cpuBefore = CpuSeconds();
    bench.factory->EtcBeepONBtnClick(4);
    const double cpu = CpuSeconds() - cpuBefore;
    ASSERT_TRUE(sent.isValid() && killed.isValid());
    EXPECT_GE(sent.msecsTo(killed), 800);
    EXPECT_LT(sent.msecsTo(killed), 1300);
    EXPECT_LT(cpu, 0.25) << "the hold sleeps, it does not spin";
}

// What the grid must show after a read: from the first row on, the memory at
// each row's own address (erased past the end of the detector's memory and
// in the last packet, which is never asked for); rows before keep "FF".
// Cells the detector changes by itself (the running life count and the CRC
// over it) read "??".
QStringList ExpectedRows(const QByteArray& memory, int start, int max, int packet)
{
    const int lastStart = max - packet;
    const int received = lastStart <= 0 ? packet : ((lastStart + packet - 1) / packet) * packet;
    const int first = start / 16 * 16;
    QStringList rows;
    for (int r = 0; r < max / 16; ++r) {
        QString line = QStringLiteral("0x") + QString::number(r * 16, 16).toUpper().rightJustified(4, QLatin1Char('0'));
        for (int address = r * 16; address < r * 16 + 16; ++address) {
            const bool read = address >= first && address - first < received && address < memory.size();
            line += QLatin1Char(',') +
                    (read ? QString::fromLatin1(QByteArray(1, memory[address]).toHex().toUpper()) : QStringLiteral("FF"));
        }
        rows << line + QLatin1Char(',');
    }
    return rows;
}

QStringList Masked(QStringList rows)
{
    const int volatileAt[] = {36, 37, 38, 39, 62, 63, 0x84, 0x85, 0x86, 0x87};
    for (const int address : volatileAt) {
        if (address / 16 < rows.size())
            rows[address / 16].replace(7 + (address % 16) * 3, 2, QStringLiteral("??"));
    }
    return rows;
}

QStringList CsvLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (!bytes.endsWith("\r\n"))
        return {QStringLiteral("no CR LF at the end")};
    return QString::fromLatin1(bytes.chopped(2)).split(QStringLiteral("\r\n"));
}

// Read, then save: the file holds every row of the grid, and the rows read
// hold the detector's memory.
TEST(EepromDump, ReadThenSaveMatchesTheDetectorsMemory)
{
    struct Case {
        const char* settings;
        int start;
        int max;
        int packet;
    };
    const Case cases[] = {
        {"", 0, 1024, 32},
        {"ReadStartAddress=256\r\n", 256, 1024, 32},
        {"MaxAddress=2048\r\nPacketSize=128\r\n", 0, 2048, 128},  // beyond the link's 1 KiB buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        Bench bench({}, kFactoryIni + "[EEPROM]\r\n" + c.settings);
        ASSERT_TRUE(bench.sim.start());
        bench.factory->EtcEEPROMReadBtnClick();
        ASSERT_EQ(bench.factory->LastStatus(), std::optional<std::uint8_t>(0));
        ASSERT_EQ(bench.view.statuses.size(), 2u);
        EXPECT_EQ(bench.view.statuses[0].text, QStringLiteral("Read EEPROM data..."));
        EXPECT_EQ(bench.view.statuses[1].text, QStringLiteral("Read EEPROM data... OK"));
        EXPECT_EQ(bench.Received().filter(QStringLiteral("81 60 C0")).size(), (c.max - c.packet) / c.packet);

        const QString path = bench.programDir.filePath(QStringLiteral("dump.csv"));
        bench.view.saveFileAnswers = {path};
        bench.factory->EtcEEPROMSaveBtnClick();
        EXPECT_TRUE(bench.view.messages.empty());
        const QByteArray memory = bench.sim.stateMemory();
        ASSERT_EQ(memory.size(), 1024);
        EXPECT_EQ(Masked(CsvLines(path)), Masked(ExpectedRows(memory, c.start, c.max, c.packet)));
    }
}

TEST(EepromDump, SaveDialogFolderAndFailures)
{
    Bench bench;
    // Before any read: the start-up grid.
    const QString first = bench.programDir.filePath(QStringLiteral("EEPROM/first.csv"));
    bench.view.saveFileAnswers = {first};
    bench.factory->EtcEEPROMSaveBtnClick();
    ASSERT_EQ(bench.view.fileRequests.size(), 1u);
    const RFileRequest& request = bench.view.fileRequests[0];
    EXPECT_EQ(request.title, QStringLiteral("Save EEPROM Data..."));
    EXPECT_EQ(request.filter, QStringLiteral("Data file|*.csv"));
    EXPECT_EQ(request.defaultSuffix, QStringLiteral("csv"));
    EXPECT_EQ(request.folder, QString::fromStdString(bench.settings.programDir + "EEPROM/"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^EEPROM_\\d{12}\\.CSV$")).match(request.fileName).hasMatch())
        << request.fileName.toStdString();
    EXPECT_EQ(CsvLines(first), ExpectedRows({}, 0, 1024, 32));

    // A file that cannot be written: the box, the old file untouched, and
    // the folder remembered all the same.
    QTemporaryDir locked;
    const QString blocked = locked.filePath(QStringLiteral("sub"));
    ASSERT_TRUE(QFile(blocked).open(QIODevice::WriteOnly));  // a file where the folder should be
    bench.view.saveFileAnswers = {blocked + QStringLiteral("/dump.csv")};
    bench.factory->EtcEEPROMSaveBtnClick();
    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_EQ(bench.view.messages[0].icon, BoxIcon::Error);
    EXPECT_EQ(bench.view.messages[0].caption, QStringLiteral("Save EEPROM Data"));
    EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("EEPROM data file did not save\rRetry SAVE FILE"));
    EXPECT_EQ(ProfileFile(SettingsFilePath(bench.settings.programDir)).ReadString("EEPROM", "SaveDirectory", ""),
              blocked.toStdString() + "/");

    bench.view.ClearRecord();
    bench.factory->EtcEEPROMSaveBtnClick();  // cancelled
    ASSERT_EQ(bench.view.fileRequests.size(), 1u);
    EXPECT_EQ(bench.view.fileRequests[0].folder, blocked + QStringLiteral("/"));
    EXPECT_TRUE(bench.view.messages.empty());
}

// A failed read leaves the grid as it was.
TEST(EepromDump, FailedReadChangesNothing)
{
    Bench bench;
    PtyPeer peer;
    bench.link.SetDefPort(peer.SlavePath());
    bench.link.ComOpen(peer.SlavePath());
    peer.Play({{0, kAck}, {3, {}}, {3, kAck}, {6, kNak}, {3, kAck}});
    bench.grid.setData(bench.grid.index(0, 1), QStringLiteral("AB"));
    const EepromGridTexts before = bench.grid.Texts();
    bench.factory->EtcEEPROMReadBtnClick();
    EXPECT_EQ(bench.factory->LastStatus(), std::optional<std::uint8_t>(176));
    EXPECT_EQ(bench.view.LastStatus().text, QStringLiteral("Read EEPROM data... FAIL"));
    ASSERT_EQ(bench.view.messages.size(), 1u);
    EXPECT_EQ(bench.view.messages[0].text, QStringLiteral("Varnolite comunication error - negative response"));
    EXPECT_EQ(bench.grid.Texts(), before);
    EXPECT_EQ(peer.Received(15, 300), kWake + Frame("70") + Frame("20 00 00 00") + Frame("B3"));
}

// Calibration and power-down make the next "Hibernate" ask again; the TEST
// page's commands do not.
TEST(FactoryCommands, CalibrationAndPowerDownMakeHibernateAskAgain)
{
    Bench bench({}, kFactoryIni + "[UNIT]\r\nUnitWriteFactoryStart=16\r\nUnitWriteFactorySize=1\r\n");
    ASSERT_TRUE(bench.sim.start());
    bench.main->UserReadDeviceBtnClick();
    bench.view.form.factory.hibernateItem = 1;  // the unit may hibernate
    bench.main->UserWriteDeviceBtnClick();
    ASSERT_EQ(bench.view.LastStatus().text, QStringLiteral("Write Varnolite Information... OK"));
    for (const RFactoryCommand& row : FactoryCommandTable()) {
        SCOPED_TRACE(row.button);
        bench.view.yesNoAnswers = {true};
        bench.main->UserOptHibernateBtnClick();
        ASSERT_TRUE(bench.main->HibernateConfirmed());
        bench.factory->Run(row.handler, row.tag);
        const bool forgets =
            row.handler == FactoryHandler::FatoryOptCal || row.handler == FactoryHandler::FatoryOptTurnOff;
        EXPECT_EQ(bench.main->HibernateConfirmed(), !forgets);
    }
}

}  // namespace
