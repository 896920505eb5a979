// The workflows against the simulated detector with a history recorder: what
// each operation leaves in the history, including one whose adapter is
// unplugged half-way.
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <tuple>

#include "DeviceSettings.h"
#include "EepromGridModel.h"
#include "FactoryTestWorkflows.h"
#include "HistoryQueries.h"
#include "HistoryRecorder.h"
#include "MainWorkflows.h"
#include "ScriptedView.h"
#include "SensorCalibration.h"
#include "SimProcess.h"
#include "TestPageView.h"
#include "ZelComms.h"

namespace {

struct Station {
    explicit Station(const QStringList& simArgs) : sim(simArgs)
    {
        location.sqlitePath = dir.filePath(QStringLiteral("history.sqlite"));
        settings = LoadSettings(dir.path().toStdString() + "/");
        link.SetDefPort(sim.portPath().toStdString());
        recorder = std::make_unique<THistoryRecorder>(location, [this](const QString& text) { notice = text; });
        main = std::make_unique<TMainWorkflows>(view, link, settings);
        main->SetRecorder(recorder.get());
        main->FormCreate();
    }

    QTemporaryDir dir;
    SimProcess sim;
    RHistoryLocation location;
    LoadedSettings settings;
    TComZEL link;
    ScriptedView view;
    QString notice;
    std::unique_ptr<THistoryRecorder> recorder;
    std::unique_ptr<TMainWorkflows> main;
};

struct Expected {
    const char* workflow;
    int status;
    const char* step;
    const char* roles;  // the images' roles, joined by ","
};

}  // namespace

TEST(HistoryRecordingTest, EveryOperationCycleLeavesItsOperation)
{
    struct Case {
        const char* name;
        QStringList simArgs;
        void (*run)(Station&);
        std::vector<Expected> newestFirst;  // of unit SH10000123
        int interruptedOperations;          // ended without a unit
    };
    const Case cases[] = {
        {"read, write, read back",
         {},
         [](Station& s) {
             s.main->UserReadDeviceBtnClick();
             s.view.form.user.alarmHigh += 1;
             s.view.form.opt.alarmHigh += 1;
             s.main->UserWriteDeviceBtnClick();
             s.main->UserReadDeviceBtnClick();
         },
         // The write keeps the unit's image before it, what it sent and what
         // it read back; the read after it finds no difference.
         {{"Read Varnolite Information", 0, "ReadCFGData", "read"},
          {"Write Varnolite Information", 0, "ReadBack", "before,sent,after"},
          {"Read Varnolite Information", 0, "ReadCFGData", "read"}},
         0},
        {"adapter unplugged during the read", {"--unplug-after", "3"}, [](Station& s) { s.main->UserReadDeviceBtnClick(); },
         {{"Read Varnolite Information", 161, "ReadCFGData", ""}}, 0},
        {"adapter unplugged before the unit answered", {"--unplug-after", "1"},
         [](Station& s) { s.main->UserReadDeviceBtnClick(); }, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Station station(c.simArgs);
        ASSERT_TRUE(station.sim.start());
        c.run(station);
        station.recorder->WaitIdle();
        EXPECT_TRUE(station.notice.isEmpty()) << station.notice.toStdString();

        THistoryStore store;
        QString error;
        ASSERT_TRUE(store.Open(station.location, error)) << error.toStdString();
        const std::vector<ROperationView> ops = historyqueries::UnitOperations(store, QStringLiteral("SH10000123"), error);
        ASSERT_EQ(ops.size(), c.newestFirst.size());
        for (std::size_t i = 0; i < ops.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(ops[i].workflow, QString::fromLatin1(c.newestFirst[i].workflow));
            EXPECT_EQ(ops[i].status, c.newestFirst[i].status);
            EXPECT_EQ(ops[i].step, QString::fromLatin1(c.newestFirst[i].step));
            QStringList roles;
            for (const auto& [role, raw] : ops[i].images)
                roles << role;
            EXPECT_EQ(roles.join(QLatin1Char(',')), QString::fromLatin1(c.newestFirst[i].roles));
        }
        if (ops.size() == 3) {
            // The image the write sent and the one it read back equal the
            // one the next read found; the image before it, the one read first.
            EXPECT_EQ(ops[1].images[1].second, ops[0].images.front().second);
            EXPECT_EQ(ops[1].images.back().second, ops[0].images.front().second);
            EXPECT_EQ(ops[1].images.front().second, ops[2].images.front().second);
            RZELCFG before{}, after{};
            std::memcpy(&before, ops[2].images.front().second.constData(), sizeof before);
            std::memcpy(&after, ops[1].images.back().second.constData(), sizeof after);
            // The command line names the field that changed, old -> new.
            QProcess cli;
            cli.start(QStringLiteral(BEAMDOCK_CLI_PATH), {QStringLiteral("--dir"), station.dir.path(), QStringLiteral("--db"),
                                                          station.location.sqlitePath, QStringLiteral("history"),
                                                          QStringLiteral("unit"), QStringLiteral("SH10000123")});
            ASSERT_TRUE(cli.waitForFinished(30000));
            const QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'));
            ASSERT_GE(lines.size(), 4);
            EXPECT_TRUE(lines[1].contains(QStringLiteral("Write Varnolite Information  0 OK"))) << lines[1].toStdString();
            EXPECT_EQ(lines[2], QStringLiteral("    mAlarmHigh: %1 -> %2").arg(before.mSensor.mAlarmHigh).arg(after.mSensor.mAlarmHigh));
            EXPECT_TRUE(lines[3].startsWith(QStringLiteral("    mCRC: "))) << lines[3].toStdString();
        }
        // Ended, with the status the user was shown and the step it got to,
        // but no unit to file it under.
        QSqlQuery unplugged(store.Db());
        ASSERT_TRUE(unplugged.exec(QStringLiteral("SELECT status, step FROM operations WHERE kind = 'end' AND serial IS NULL")));
        int interrupted = 0;
        while (unplugged.next()) {
            ++interrupted;
            EXPECT_EQ(unplugged.value(0).toInt(), 161);
            EXPECT_FALSE(unplugged.value(1).toString().isEmpty());
        }
        EXPECT_EQ(interrupted, c.interruptedOperations);
        EXPECT_EQ(historyqueries::Verify(store, error), std::nullopt);
    }
}

TEST(HistoryRecordingTest, DeviceCommandsRecordUnlessToldNot)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("history.sqlite"));
    auto run = [&](const QStringList& args) {
        QProcess cli;
        cli.setWorkingDirectory(dir.path());
        cli.start(QStringLiteral(BEAMDOCK_CLI_PATH),
                  QStringList{QStringLiteral("--dir"), dir.path(), QStringLiteral("--db"), db, QStringLiteral("--port"),
                              sim.portPath()} + args);
        EXPECT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        return QString::fromUtf8(cli.readAllStandardOutput());
    };
    run({QStringLiteral("identify")});
    run({QStringLiteral("--no-history"), QStringLiteral("read")});
    EXPECT_TRUE(run({QStringLiteral("read")}).contains(QStringLiteral("Calibration due: ")));
    const QStringList lines = run({QStringLiteral("history"), QStringLiteral("unit"), QStringLiteral("SH10000123")})
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains(QStringLiteral("  Read Varnolite Information  0 OK  (step: ReadCFGData)")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("  Identify Varnolite  0 OK")));
}

// Looking never creates a history, and an operation that failed before any
// unit answered is still found.
TEST(HistoryRecordingTest, LookingCreatesNoHistoryAndOperationsWithoutAUnitAreFound)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("station/history.sqlite"));
    auto run = [&](const QStringList& args, QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) {
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.remove(QStringLiteral("BEAMDOCK_DB"));
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.setWorkingDirectory(dir.path());
        cli.start(QStringLiteral(BEAMDOCK_CLI_PATH), QStringList{QStringLiteral("--dir"), dir.path()} + args);
        EXPECT_TRUE(cli.waitForFinished(60000));
        return std::make_tuple(cli.exitCode(), QString::fromUtf8(cli.readAllStandardOutput()),
                               QString::fromUtf8(cli.readAllStandardError()));
    };
    const QString station = dir.filePath(QStringLiteral("data/beamdock/history.sqlite"));
    const struct {
        QStringList args;
        bool succeeds;
        const char* said;
    } looks[] = {
        {{"history", "units"}, true, "no history at @S yet"},
        {{"--json", "history", "units"}, true, "no history at @S yet"},
        {{"history", "unit", "SH10000123"}, false, "no history at @S yet"},
        {{"history", "unit", "--unknown"}, false, "no history at @S yet"},
        {{"history", "events", "SH10000123"}, false, "no history at @S yet"},
        {{"history", "verify"}, true, "no history at @S yet"},
        {{"--db", db, "history", "units"}, true, "no history at @D yet"},
        {{"--no-history", "--port", sim.portPath(), "identify"}, true, ""},
        {{"--no-history", "--port", sim.portPath(), "read"}, true, ""},
    };
    for (const auto& look : looks) {
        const auto [code, out, err] = run(look.args);
        EXPECT_EQ(code == 0, look.succeeds) << look.args.join(' ').toStdString() << ": " << err.toStdString();
        EXPECT_TRUE(err.contains(QString::fromLatin1(look.said).replace("@S", station).replace("@D", db)))
            << err.toStdString();
    }
    EXPECT_EQ(std::get<1>(run({"--json", "history", "units"})).simplified(),
              QStringLiteral("{ \"operationsWithoutUnit\": 0, \"units\": [ ] }"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("data"))));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("station"))));

    // An adapter that is not there: the operation ends before any unit answers.
    EXPECT_NE(std::get<0>(run({"--db", db, "--port", dir.filePath(QStringLiteral("no-such-port")), "identify"})), 0);
    run({"--db", db, "--port", sim.portPath(), "identify"});
    // A logging run belongs to its unit; a saved file to none.
    EXPECT_EQ(std::get<0>(run({"--db", db, "--port", sim.portPath(), "log", "--seconds", "1.5", "--out", "log.csv"})), 0);
    EXPECT_EQ(std::get<0>(run({"--db", db, "--port", sim.portPath(), "read", "--save", "unit.cfg"})), 0);
    EXPECT_TRUE(std::get<1>(run({"--db", db, "history", "unit", "SH10000123"}))
                    .contains(QStringLiteral("  Sensor Reading Data Logging  0 OK")));
    EXPECT_TRUE(std::get<1>(run({"--db", db, "history", "units"}))
                    .contains(QStringLiteral("\n2 operations without a unit (configuration files, and operations that ended "
                                             "before a unit answered; history unit --unknown lists them)\n")));
    const auto [code, out, err] = run({"--db", db, "history", "unit", "--unknown"});
    EXPECT_EQ(code, 0) << err.toStdString();
    EXPECT_EQ(out.count(QStringLiteral("  Identify Varnolite  ")), 1) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("  Save Configuration File  0 OK"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("  Identify Varnolite  161 "))) << out.toStdString();
}

// The factory page's one-shot calibration and the logging run's buttons are
// kept like any calibration; only a whole one that passed moves the due date.
TEST(HistoryRecordingTest, CalibrationsAreKeptButOnlyWholeOnesCount)
{
    Station station({"--cal-seconds", "1"});
    ASSERT_TRUE(station.sim.start());
    TEepromGridModel grid;
    TModelTestPageView page{grid};
    TFactoryTestWorkflows factory(*station.main, page);
    station.main->UserReadDeviceBtnClick();
    factory.Run(FactoryHandler::FatoryOptCal, 0);
    ASSERT_EQ(factory.LastStatus(), std::optional<std::uint8_t>(0));

    // A logging run tells two calibrations while its own operation is open.
    RZELIdenty unit{};
    std::memcpy(unit.mSerial, "SH10000123", sizeof unit.mSerial);
    IOperationRecorder& recorder = *station.recorder;
    recorder.BeginOperation(QStringLiteral("Sensor Reading Data Logging"));
    recorder.CalibrationAside(QStringLiteral("Sensor Calibration (Zero CAL.)"), unit,
                              {0, QStringLiteral("zero only"), kCalNotCounted}, 0);
    recorder.CalibrationAside(QStringLiteral("Sensor Calibration (Span CAL.)"), unit,
                              {0, QStringLiteral("not started"), 160}, 160);
    recorder.CalibrationAside(QStringLiteral("Sensor Calibration (Span CAL.)"), unit,
                              {0, QStringLiteral("passed"), 0}, 0);
    recorder.UnitIdentified(unit);
    recorder.EndOperation(0);
    station.recorder->WaitIdle();
    EXPECT_TRUE(station.notice.isEmpty()) << station.notice.toStdString();

    THistoryStore store;
    QString error;
    ASSERT_TRUE(store.Open(station.location, error)) << error.toStdString();
    QSqlQuery rows(store.Db());
    ASSERT_TRUE(rows.exec(QStringLiteral("SELECT o.workflow, c.result, c.status, c.span_gas, c.at_ms FROM calibrations c"
                                         " JOIN operations o ON o.op_uuid = c.op_uuid AND o.kind = 'start' ORDER BY o.seq")));
    QStringList kept;
    qint64 passedAt = 0;
    while (rows.next()) {
        kept << QStringList{rows.value(0).toString(), rows.value(1).toString(), rows.value(2).toString(),
                            rows.value(3).toString()}
                    .join(QLatin1Char('|'));
        if (rows.value(2).toInt() == 0)
            passedAt = rows.value(4).toLongLong();
    }
    // The one-shot's span gas is the one the unit holds (25 ppm).
    EXPECT_EQ(kept, (QStringList{QStringLiteral("Calibration|started, end not watched|1|250"),
                                 QStringLiteral("Sensor Calibration (Zero CAL.)|zero only|1|0"),
                                 QStringLiteral("Sensor Calibration (Span CAL.)|not started|160|0"),
                                 QStringLiteral("Sensor Calibration (Span CAL.)|passed|0|0")}));
    EXPECT_EQ(historyqueries::LatestService(store, QStringLiteral("SH10000123"), error).calibrationMs,
              std::optional<qint64>(passedAt));
    EXPECT_EQ(historyqueries::UnitOperations(store, QStringLiteral("SH10000123"), error).front().workflow,
              QStringLiteral("Sensor Reading Data Logging"));
    EXPECT_EQ(historyqueries::Verify(store, error), std::nullopt);

    // One line per operation, a status text of two lines included.
    QProcess cli;
    cli.start(QStringLiteral(BEAMDOCK_CLI_PATH), {QStringLiteral("--db"), station.location.sqlitePath,
                                                  QStringLiteral("history"), QStringLiteral("unit"),
                                                  QStringLiteral("SH10000123")});
    ASSERT_TRUE(cli.waitForFinished(30000));
    const QStringList lines = QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d "))).size(), lines.size());
    EXPECT_EQ(lines.filter(QStringLiteral("160 Varnolite connect error / Check Beamdock")).size(), 1);
}
