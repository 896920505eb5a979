// beamdock-cli batch against simulated units: its arguments, one line per
// unit, the exit status, Ctrl-C.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>

#include "ConfigFile.h"
#include "SimUnits.h"

namespace {

class CliBatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        RZELCFG cfg = DefaultConfig();
        std::memcpy(cfg.mUnit.mUserID, "SITE42", 6);
        cfg.mSensor.mSensorType = 1;
        templatePath = dir.filePath("site.cfg");
        ASSERT_TRUE(WriteConfigFile(templatePath.toStdString(), cfg, false, QDateTime::currentDateTime()));
        env = QProcessEnvironment::systemEnvironment();
        env.remove("BEAMDOCK_PORT");
        env.insert("BEAMDOCK_DB", dir.filePath("history.sqlite"));
        env.insert("XDG_CONFIG_HOME", dir.path());
    }
    void Start(const QStringList& args)
    {
        cli.setProcessEnvironment(env);
        cli.start(BEAMDOCK_CLI_PATH, QStringList{"--dir", dir.path()} + args);
    }
    QStringList WithPorts(QStringList args, const SimUnits& sim) const
    {
        for (const std::string& port : sim.Ports())
            args << "--port" << QString::fromStdString(port);
        return args;
    }

    QTemporaryDir dir;
    QString templatePath;
    QProcessEnvironment env;
    QProcess cli;
};

TEST_F(CliBatch, ArgumentsUnitLinesAndExitStatus)
{
    SimUnits sim(2, {"--refuse-writes", "2"});
    struct Case {
        const char* name;
        QStringList args;
        int exitCode;
        const char* errorText;
    };
    const Case cases[] = {
        {"no template", {"batch", "--once"}, 2, "usage: beamdock-cli batch --template FILE.cfg"},
        {"template missing", {"batch", "--template", dir.filePath("none.cfg"), "--port", "/dev/null"}, 3, "none.cfg"},
        {"all and ports", {"batch", "--template", templatePath, "--all", "--port", "/dev/null"}, 2, "--all or --port"},
        {"clear log in user mode", {"batch", "--template", templatePath, "--clear-log"}, 2, "factory mode only"},
        {"stray argument", {"batch", "--template", templatePath, "extra"}, 2, "unexpected 'extra'"},
        {"one unit refuses", WithPorts({"batch", "--template", templatePath, "--once", "--json"}, sim), 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start(c.args);
        ASSERT_TRUE(cli.waitForFinished(20000));
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        EXPECT_EQ(cli.exitCode(), c.exitCode) << err.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(c.errorText))) << err.toStdString();
        const QStringList lines = QString::fromLocal8Bit(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        if (c.exitCode != 1) {
            EXPECT_TRUE(lines.isEmpty());
            continue;
        }
        ASSERT_EQ(lines.size(), 2);
        int passed = 0;
        for (const QString& line : lines) {
            const QJsonObject unit = QJsonDocument::fromJson(line.toUtf8()).object();
            const bool second = unit["port"].toString().toStdString() == sim.Ports()[1];
            EXPECT_EQ(unit["passed"].toBool(), !second) << line.toStdString();
            EXPECT_EQ(unit["serial"].toString(), second ? "SH10000124" : "SH10000123");
            EXPECT_EQ(unit["step"].toString(), second ? "Write and verify" : "Done");
            EXPECT_EQ(unit["status"].toInt(), second ? 176 : 0);
            passed += unit["passed"].toBool() ? 1 : 0;
        }
        EXPECT_EQ(passed, 1);
    }
}

TEST_F(CliBatch, CtrlCStopsAfterTheUnitsUnderWay)
{
    SimUnits sim(2);
    Start(WithPorts({"batch", "--template", templatePath}, sim));
    QString out;
    for (int i = 0; i < 100 && out.count('\n') < 2; ++i) {
        cli.waitForReadyRead(200);
        out += QString::fromLocal8Bit(cli.readAllStandardOutput());
    }
    ASSERT_EQ(out.count(QStringLiteral("PASS")), 2) << out.toStdString();
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_TRUE(QString::fromLocal8Bit(cli.readAllStandardError()).contains("stopped after 2 unit(s)"));
    EXPECT_EQ(std::memcmp(sim.Image(1).mUnit.mUserID, "SITE42", 6), 0);
}

}  // namespace
