// eventlog, logreset, image check and upgrade on the command line: files
// written, texts on standard error, progress lines, Ctrl-C, exit statuses.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

#include "DetectorScript.h"
#include "FirmwareFiles.h"
#include "PtyPeer.h"
#include "SimProcess.h"

namespace {

using script::Script;

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

QProcessEnvironment CleanEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("BEAMDOCK_PORT");
    return env;
}

CliRun RunCli(const QStringList& args, const QString& workDir, const QByteArray& input = {})
{
    QProcess cli;
    cli.setWorkingDirectory(workDir);
    cli.setProcessEnvironment(CleanEnvironment());
    cli.start(BEAMDOCK_CLI_PATH, args);
    cli.write(input);
    cli.closeWriteChannel();
    CliRun run;
    if (!cli.waitForFinished(30000))
        return run;
    run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -2;
    run.out = QString::fromLatin1(cli.readAllStandardOutput());
    run.err = QString::fromLatin1(cli.readAllStandardError());
    return run;
}

void WriteIni(const QTemporaryDir& dir, const QByteArray& ini)
{
    QFile file(dir.filePath("LUMBRA.INI"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(ini);
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(CliEventLog, SavesResetsAndReports)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    const QString port = sim.portPath();

    // Without --out: the proposed name in the event folder, printed.
    const CliRun saved = RunCli({"--port", port, "eventlog"}, dir.path());
    EXPECT_EQ(saved.exitCode, 0) << saved.err.toStdString();
    EXPECT_TRUE(saved.out.startsWith(dir.filePath("EVENT/SH10000123_LOG_"))) << saved.out.toStdString();
    EXPECT_TRUE(saved.out.endsWith(".CSV\n"));
    const QByteArray csv = ReadAll(saved.out.trimmed());
    EXPECT_TRUE(csv.startsWith("Product Name,Corvath Beamdock\r\nLog Type,Event Log\r\n"));
    EXPECT_EQ(csv.count("\r\n"), 15);
    EXPECT_EQ(saved.err, "Load Event Log... OK\n");

    const QString chosen = dir.filePath("mine.csv");
    const CliRun out = RunCli({"--port", port, "eventlog", "--out", chosen}, dir.path());
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_EQ(out.out, chosen + "\n");
    EXPECT_EQ(ReadAll(chosen).count("\r\n"), 15);

    const CliRun unwritable = RunCli({"--port", port, "eventlog", "--out", dir.filePath("no/such/folder.csv")}, dir.path());
    EXPECT_EQ(unwritable.exitCode, 3);
    EXPECT_TRUE(unwritable.err.endsWith("Save Event Log:\nEvent logging file did not save\nRetry SAVE EVENT LOG\n"))
        << unwritable.err.toStdString();
    EXPECT_TRUE(unwritable.out.isEmpty());

    const CliRun reset = RunCli({"--port", port, "logreset", "--yes"}, dir.path());
    EXPECT_EQ(reset.exitCode, 0);
    EXPECT_EQ(reset.err, "Event Log Reset... OK\n");
    // The copy kept before the log was cleared.
    EXPECT_TRUE(reset.out.startsWith(dir.filePath("EVENT/"))) << reset.out.toStdString();
    EXPECT_EQ(ReadAll(reset.out.trimmed()).count("\r\n"), 15);
    const CliRun empty = RunCli({"--port", port, "eventlog", "--out", dir.filePath("empty.csv")}, dir.path());
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.err, "Load Event Log... OK\nLog Event:\nNo logging event data...\n");
    EXPECT_FALSE(QFile::exists(dir.filePath("empty.csv")));
}

TEST(CliEventLog, FailuresAndUsage)
{
    struct Case {
        QStringList args;
        int exitCode;
        QString errTail;
    };
    SimProcess other({"--model", "3"});
    ASSERT_TRUE(other.start());
    QTemporaryDir nowhere;
    const Case cases[] = {
        {{"eventlog", "extra"}, 2, "usage: beamdock-cli eventlog [--out FILE]\n"},
        {{"logreset", "--now"}, 2, "usage: beamdock-cli logreset [--yes]\n"},
        {{"--port", other.portPath(), "eventlog"}, 146, "Load Event Log... FAIL\nThis is not Varnolite module\n"},
        {{"--port", other.portPath(), "logreset", "--yes"}, 146, "Event Log Reset... FAIL\nThis is not Varnolite module\n"},
        {{"--port", nowhere.filePath("ttyNONE"), "logreset", "--yes"}, 161, "Event Log Reset... Beamdock Connection ERROR\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QTemporaryDir dir;
        const CliRun run = RunCli(c.args, dir.path());
        EXPECT_EQ(run.exitCode, c.exitCode);
        if (c.exitCode == 161) {
            EXPECT_TRUE(run.err.startsWith(c.errTail)) << run.err.toStdString();
        } else {
            EXPECT_TRUE(run.err.endsWith(c.errTail)) << run.err.toStdString();
        }
    }
}

TEST(CliImage, ChecksHeaderAndStatus)
{
    QTemporaryDir dir;
    ImageRecipe badCrc;
    badCrc.crcDelta = 1;
    ImageRecipe otherModel;
    otherModel.model = 4;
    ImageRecipe shortImage;
    shortImage.size = 16383;
    struct Case {
        const char* name;
        std::optional<ImageRecipe> recipe;  // nothing: no file
        int exitCode;
        QString statusLine;
        bool header;
    };
    const Case cases[] = {
        {"good.img", ImageRecipe{}, 0, "status        0 OK\n", true},
        {"short.img", shortImage, 129, "status        129 Upgrade data file size different\n", false},
        {"crc.img", badCrc, 130, "status        130 Upgrade data file CRC error\n", true},
        {"model.img", otherModel, 131, "status        131 Upgrade data file wrong type\n", true},
        {"missing.img", std::nullopt, 128, "status        128 Upgrade data file open error\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(c.name);
        if (c.recipe)
            WriteTestFile(dir, c.name, ImageBytes(*c.recipe));
        const CliRun run = RunCli({"image", "check", path}, dir.path());
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.out.startsWith("file          " + path + "\n")) << run.out.toStdString();
        EXPECT_TRUE(run.out.contains(c.statusLine)) << run.out.toStdString();
        EXPECT_EQ(run.out.contains("min firmware  1.0\n"), c.header);
    }
    const CliRun good = RunCli({"image", "check", dir.filePath("good.img")}, dir.path());
    EXPECT_TRUE(good.out.contains("model         2 (Varnolite)\nfirmware      1.4\nhardware      001\n"
                                  "min firmware  1.0\nmin hardware  001\n"))
        << good.out.toStdString();
    const QRegularExpression crcLine("crc           (0x[0-9A-F]{4}) stated, (0x[0-9A-F]{4}) computed\n$");
    const QRegularExpressionMatch crc = crcLine.match(good.out);
    ASSERT_TRUE(crc.hasMatch()) << good.out.toStdString();
    EXPECT_EQ(crc.captured(1), crc.captured(2));

    // The factory bench takes model 4.
    QTemporaryDir factory;
    WriteIni(factory, "[Environment]\r\nModeEntry=ZTR_ENG__\r\n");
    EXPECT_EQ(RunCli({"image", "check", dir.filePath("model.img")}, factory.path()).exitCode, 0);

    const CliRun json = RunCli({"--json", "image", "check", dir.filePath("crc.img")}, dir.path());
    EXPECT_EQ(json.exitCode, 130);
    const QJsonObject o = QJsonDocument::fromJson(json.out.toLatin1()).object();
    EXPECT_EQ(o["status"].toInt(), 130);
    EXPECT_EQ(o["size"].toInt(), 16384);
    EXPECT_EQ(o["header"].toObject()["firmwareText"].toString(), "1.4");
    EXPECT_EQ(o["header"].toObject()["crc"].toInt(), (o["computedCrc"].toInt() + 1) & 0xFFFF);

    for (const QStringList& args : {QStringList{"image"}, {"image", "check"}, {"image", "show", "x.img"}})
        EXPECT_EQ(RunCli(args, dir.path()).exitCode, 2) << args.join(' ').toStdString();
}

RZELIdenty Unit()
{
    RZELIdenty id{};
    id.mPID = 2;
    id.mHW = 1;
    id.mSW = 13;
    id.mSensor = 1;
    id.mLife = 40000000;
    return id;
}

const QByteArray kSmallImagesIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\n"
                                   "[FLASH]\r\nPacketSize=16\r\nMaxAddress=32\r\nRetry=3\r\nDownloadRetry=3\r\n";

Script WholeUpgrade(const QByteArray& image, int delayMs)
{
    Script s;
    s.Wake();
    s.Identify(Unit());
    s.Kill();
    s.Wake();
    s.Ack(0x10);
    for (int r = 0; r < 32; ++r) {
        s.Ack(0x91);
        s.Data(image.mid(r * 16, 16), script::kAck, delayMs);
    }
    s.Ack(0x11);
    s.Kill();
    return s;
}

TEST(CliUpgrade, ProgressLinesWhenNotATerminal)
{
    QTemporaryDir dir;
    WriteIni(dir, kSmallImagesIni);
    const QByteArray image = ImageBytes({.size = 512});
    const QString path = QString::fromStdString(WriteTestFile(dir, "v14.img", image));
    PtyPeer peer;
    const Script s = WholeUpgrade(image, 0);
    peer.Play(s.Steps());
    const CliRun run =
        RunCli({"--port", QString::fromStdString(peer.SlavePath()), "upgrade", path, "--yes"}, dir.path());
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    QString expected = QRegularExpression::escape(path + "\nVarnolite Firmware Upgrade ... Firmware Version 1.4\n"
                                                        "Loading Upgrade File... OK\nCheck Program... OK\n") +
                       QRegularExpression::escape(QString::fromLatin1("unit 1.3 \xE2\x86\x92 image 1.4\n"));
    for (int tenth = 1; tenth <= 10; ++tenth) {
        const int value = (tenth * 32 + 9) / 10;  // the first packet count that reaches the tenth
        expected += QString("Download Image %1% \\(%2/32\\), \\d+:\\d\\d left\n").arg(tenth * 10).arg(value);
    }
    expected += "Download Image\\.\\.\\. OK\n";
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^") + expected + QStringLiteral("$")).match(run.err).hasMatch())
        << run.err.toStdString();
    // Then the unit is read again (this peer answers no more).
    EXPECT_EQ(script::OneWakeFramePerConnection(peer.Received(s.Expected().size())).left(s.Expected().size()),
              s.Expected());
}

TEST(CliUpgrade, InterruptCancelsLikeTheButton)
{
    QTemporaryDir dir;
    WriteIni(dir, kSmallImagesIni);
    const QByteArray image = ImageBytes({.size = 512});
    const QString path = QString::fromStdString(WriteTestFile(dir, "v14.img", image));
    PtyPeer peer;
    peer.Play(WholeUpgrade(image, 40).Steps());

    QProcess cli;
    cli.setWorkingDirectory(dir.path());
    cli.setProcessEnvironment(CleanEnvironment());
    cli.start(BEAMDOCK_CLI_PATH, {"--port", QString::fromStdString(peer.SlavePath()), "upgrade", path, "--yes"});
    ASSERT_TRUE(cli.waitForStarted());
    QByteArray err;
    QElapsedTimer timer;
    timer.start();
    while (!err.contains("Download Image 20%") && timer.elapsed() < 10000) {
        cli.waitForReadyRead(50);
        err += cli.readAllStandardError();
    }
    ASSERT_TRUE(err.contains("Download Image 20%")) << err.toStdString();
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    err += cli.readAllStandardError();
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 134);
    EXPECT_TRUE(err.endsWith("Download Image... USER STOP\nUser Stop...\nThe unit is in upgrade mode and will not work "
                             "until an upgrade completes. Run the upgrade again.\n"))
        << err.toStdString();
    EXPECT_FALSE(err.contains("Download Image...Fail"));
    EXPECT_FALSE(peer.Received().contains(script::Command(0x11)));
}

TEST(CliUpgrade, RefusedBeforeTheDownload)
{
    QTemporaryDir files;
    const QString good = QString::fromStdString(WriteTestFile(files, "good.img", ImageBytes({})));
    const QString shortImage = QString::fromStdString(WriteTestFile(files, "short.img", ImageBytes({.size = 100})));
    struct Case {
        const char* name;
        QStringList simArgs;
        QStringList args;
        QByteArray input;
        int exitCode;
        QString errContains;
    };
    const Case cases[] = {
        {"image of the wrong size", {}, {"upgrade", shortImage}, {}, 129,
         "Loading Upgrade File... FAIL\nUpgrade data file size different\nCheck Upgrade File\n"},
        {"unit below the minimum", {"--fw", "9"}, {"upgrade", good, "--yes"}, {}, 133,
         "Check Program... FAIL\nThis file is not useful to Varnolite unit\nCheck Upgrade File\n"},
        {"older image declined", {"--fw", "15"}, {"upgrade", good}, "y\nn\n", 4,
         "File Version Check: This file is not old version\nExecute upgrade? [y/N] "},
        {"usage", {}, {"upgrade"}, {}, 2, "usage: beamdock-cli upgrade FILE [--yes]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.simArgs);
        ASSERT_TRUE(sim.start());
        QTemporaryDir dir;
        const CliRun run = RunCli(QStringList{"--port", sim.portPath()} + c.args, dir.path(), c.input);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.contains(c.errContains)) << run.err.toStdString();
        EXPECT_TRUE(sim.recordedLines().filter("RX 10").isEmpty()) << "no upgrade started";
    }
}

// An image older than the unit goes down once the question is answered yes,
// on the terminal or with --yes, and the unit then runs the older version.
TEST(CliUpgrade, OlderImageSentWhenTheQuestionIsAnsweredYes)
{
    QTemporaryDir files;
    const QString older = QString::fromStdString(WriteTestFile(files, "older.img", ImageBytes({.firmware = 14})));
    struct Case {
        const char* name;
        QStringList args;
        QByteArray input;
        bool asked;
    };
    const Case cases[] = {
        {"answered on the terminal", {"upgrade", older}, "y\ny\n", true},
        {"answered by --yes", {"upgrade", older, "--yes"}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim({"--fw", "15"});
        ASSERT_TRUE(sim.start());
        QTemporaryDir dir;
        const CliRun run = RunCli(QStringList{"--port", sim.portPath()} + c.args, dir.path(), c.input);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.err.contains("Execute upgrade? [y/N] "), c.asked) << run.err.toStdString();
        EXPECT_TRUE(run.err.endsWith("Download Image... OK\n")) << run.err.toStdString();
        const CliRun identify = RunCli({"--port", sim.portPath(), "--json", "identify"}, dir.path());
        ASSERT_EQ(identify.exitCode, 0);
        EXPECT_EQ(QJsonDocument::fromJson(identify.out.toLatin1()).object()["identity"].toObject()["mSW"].toInt(), 14);
    }
}

TEST(CliUpgrade, MadeImageChangesTheSimulatedUnitsFirmware)
{
    SimProcess sim({"--events", "85"});
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    const QString image = dir.filePath("v16.img");
    QProcess make;
    make.start(BEAMDOCK_SIM_PATH, {"make-image", "--out", image, "--model", "2", "--fw", "16", "--hw", "1", "--min-fw",
                                   "10", "--min-hw", "1"});
    ASSERT_TRUE(make.waitForFinished(10000));
    ASSERT_EQ(make.exitCode(), 0);

    const CliRun upgrade = RunCli({"--port", sim.portPath(), "upgrade", image, "--yes"}, dir.path());
    EXPECT_EQ(upgrade.exitCode, 0) << upgrade.err.toStdString();
    EXPECT_TRUE(upgrade.err.endsWith("Download Image 100% (128/128), 0:00 left\nDownload Image... OK\n"))
        << upgrade.err.toStdString();
    const CliRun identify = RunCli({"--port", sim.portPath(), "--json", "identify"}, dir.path());
    ASSERT_EQ(identify.exitCode, 0);
    EXPECT_EQ(QJsonDocument::fromJson(identify.out.toLatin1()).object()["identity"].toObject()["mSW"].toInt(), 16);

    // The same image again: not older than the unit now, so no question.
    EXPECT_EQ(RunCli({"--port", sim.portPath(), "upgrade", image}, dir.path(), "y\n").exitCode, 0);

    const CliRun log = RunCli({"--port", sim.portPath(), "eventlog"}, dir.path());
    EXPECT_EQ(log.exitCode, 0);
    const QByteArray csv = ReadAll(log.out.trimmed());
    EXPECT_EQ(csv.count("\r\n"), 11 + 85) << "a full log";
    EXPECT_TRUE(csv.contains("Firmware Version,1.6\r\n"));
}

}  // namespace
