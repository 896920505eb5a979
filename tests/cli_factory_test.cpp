// The command line's factory commands against the simulated detector: exit
// statuses as the window reports them, the frames each sends, and the EEPROM
// dump on standard output and in its CSV file.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "SimProcess.h"

namespace {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class FactoryDir {
public:
    explicit FactoryDir(const QByteArray& ini = "[Environment]\nModeEntry=ZTR_ENG__\nAVOperate=100\n")
    {
        QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
    }
    CliRun Run(const QStringList& args) const
    {
        QProcess cli;
        cli.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("BEAMDOCK_PORT"));
        cli.setProcessEnvironment(env);
        cli.start(BEAMDOCK_CLI_PATH, args);
        CliRun run;
        if (!cli.waitForFinished(15000))
            return run;
        run.exitCode = cli.exitCode();
        run.out = QString::fromLatin1(cli.readAllStandardOutput());
        run.err = QString::fromLatin1(cli.readAllStandardError());
        return run;
    }
    QTemporaryDir dir;
};

// The commands the unit received, wake-up frames left out, from line `from` on.
QStringList Commands(const SimProcess& sim, qsizetype from)
{
    QStringList commands;
    const QStringList lines = sim.recordedLines();
    for (qsizetype i = from; i < lines.size(); ++i) {
        if (lines[i].startsWith(QStringLiteral("RX ")) && !lines[i].startsWith(QStringLiteral("RX B2")))
            commands << lines[i].mid(3, 2);
    }
    return commands;
}

// Whether the simulated unit has completed a calibration (memory 0x92, bit 0):
// until then it refuses to power down.
bool WaitForCalibration(const SimProcess& sim, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        const QByteArray memory = sim.stateMemory();
        if (memory.size() > 0x92 && memory[0x92] != '\xFF' && (memory[0x92] & 0x01))
            return true;
        QThread::msleep(50);
    }
    return false;
}

TEST(CliFactory, EveryTestCommandAgainstTheSimulator)
{
    struct Case {
        const char* command;
        QStringList sent;
        int exitCode;
        QString err;
    };
    const Case cases[] = {
        {"power-down", {"A0", "14", "B3"}, 193, "Power Down... FAIL\nMust calibration before POWER OFF\n"},
        {"beep", {"30", "B3"}, 0, ""},
        {"rled", {"31", "B3"}, 0, ""},
        {"lled", {"32", "B3"}, 0, ""},
        {"vibrator", {"34", "B3"}, 0, ""},
        {"clear-peak", {"50", "44", "B3"}, 0, "Clear Peak... OK\n"},
        {"bump-pass", {"50", "46", "B3"}, 0, "Send Bump Pass... OK\n"},
        {"bump-fail", {"50", "45", "B3"}, 0, "Send Bump Fail... OK\n"},
        {"factory-reset", {"12", "B3"}, 0, "Fatory Reset... OK\n"},
        {"calibrate-now", {"A0", "50", "42", "B3"}, 0, "Calibration... OK\n"},
        {"power-down", {"A0", "14"}, 0, "Power Down... OK\n"},
    };
    SimProcess sim({"--cal-seconds", "1"});
    ASSERT_TRUE(sim.start());
    FactoryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        if (c.exitCode == 0 && QByteArray(c.command) == "power-down")
            ASSERT_TRUE(WaitForCalibration(sim, 5000));
        const qsizetype from = sim.recordedLines().size();
        // --yes answers the questions before factory-reset and power-down.
        const CliRun run = dir.Run({"--port", sim.portPath(), "test", c.command, "--yes"});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(Commands(sim, from), c.sent);
    }
}

TEST(CliFactory, RefusalsAndUsage)
{
    QTemporaryDir nowhere;
    const QString missing = nowhere.filePath(QStringLiteral("ttyGONE"));
    FactoryDir factory;
    FactoryDir user("[Environment]\nModeEntry=USER\n");
    struct Case {
        const FactoryDir& dir;
        QStringList args;
        int exitCode;
        QString errStart;
    };
    const Case cases[] = {
        {user, {"test", "beep"}, 4, "beamdock-cli: the factory and test commands need factory mode"},
        {user, {"eeprom"}, 4, "beamdock-cli: the factory and test commands need factory mode"},
        {factory, {"test"}, 2, "usage: beamdock-cli test beep|"},
        {factory, {"test", "buzz"}, 2, "usage: beamdock-cli test beep|"},
        {factory, {"eeprom", "--out"}, 2, "beamdock-cli: option --out needs a value\n"},
        // The window shows nothing for an output; the command line says why it failed.
        {factory, {"--port", missing, "test", "beep"}, 161, "Beep ON... Beamdock Connection ERROR\n"},
        {factory, {"--port", missing, "test", "power-down", "--yes"}, 161, "Power Down... Beamdock Connection ERROR\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun run = c.dir.Run(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.startsWith(c.errStart)) << run.err.toStdString();
    }
}

// The dump as a hex view, as JSON and as the grid's CSV file; every row read
// holds the simulator's memory (the running life count and its CRC aside).
TEST(CliFactory, EepromDumpMatchesTheSimulatorsMemory)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    FactoryDir dir;
    const CliRun hex = dir.Run({"--port", sim.portPath(), "eeprom"});
    ASSERT_EQ(hex.exitCode, 0) << hex.err.toStdString();
    const CliRun csv = dir.Run({"--port", sim.portPath(), "eeprom", "--out", "dump.csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err.toStdString();
    EXPECT_TRUE(csv.out.isEmpty());
    const CliRun json = dir.Run({"--port", sim.portPath(), "eeprom", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();

    // Each row as the grid shows it: the memory at the row's address, "FF" in
    // the last packet (never asked for) and "??" where the unit changes the
    // bytes by itself (the running life count and the CRC over it).
    const QByteArray memory = sim.stateMemory();
    ASSERT_EQ(memory.size(), 1024);
    const auto volatileByte = [](int a) { return (a >= 36 && a < 40) || a == 62 || a == 63 || (a >= 0x84 && a < 0x88); };
    const auto cells = [&](QStringList row, int r) {
        for (int c = 0; c < 16 && c + 1 < row.size(); ++c) {
            if (volatileByte(r * 16 + c))
                row[c + 1] = QStringLiteral("??");
        }
        return row;
    };
    QFile file(dir.dir.filePath(QStringLiteral("dump.csv")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList csvRows = QString::fromLatin1(file.readAll()).split(QStringLiteral("\r\n"));
    const QStringList hexRows = hex.out.split(QLatin1Char('\n'));
    const QJsonArray jsonRows = QJsonDocument::fromJson(json.out.toLatin1()).object().value("rows").toArray();
    ASSERT_EQ(csvRows.size(), 65);
    ASSERT_EQ(hexRows.size(), 65);
    ASSERT_EQ(jsonRows.size(), 64);
    EXPECT_EQ(csvRows[64], QString()) << "the last line ends in CR LF too";
    for (int r = 0; r < 64; ++r) {
        const QString address = QString::number(r * 16, 16).toUpper().rightJustified(4, QLatin1Char('0'));
        QStringList expected{address};
        for (int a = r * 16; a < r * 16 + 16; ++a)
            expected << (a >= 992 ? QStringLiteral("FF") : QString::fromLatin1(memory.mid(a, 1).toHex().toUpper()));
        expected = cells(expected, r);
        EXPECT_EQ(cells(hexRows[r].split(QLatin1Char(' '), Qt::SkipEmptyParts), r), expected);
        EXPECT_EQ(cells(csvRows[r].split(QLatin1Char(',')), r), QStringList{"0x" + address} + expected.mid(1) + QStringList{""});
        QStringList fromJson{jsonRows[r].toObject().value("address").toString()};
        for (const QJsonValue& byte : jsonRows[r].toObject().value("bytes").toArray())
            fromJson << byte.toString();
        EXPECT_EQ(cells(fromJson, r), expected);
    }
}

}  // namespace
