// Bump test and certificate figures, each the median of 3 runs with the
// load average before it:
//   - CPU time of this process while a bump test waits for an alarm that
//     never comes (the poll once a second), against the wall time;
//   - a certificate written (PDF, attachment, rename);
//   - the fleet report of a generated history of 1,000 units, through
//     beamdock-cli history report (process start included).
#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "BenchSim.h"
#include "BumpRecord.h"
#include "BumpTest.h"
#include "Certificate.h"
#include "Crc16.h"
#include "HistoryStore.h"
#include "OperationRecorder.h"

namespace {

class TQuietView final : public IBumpView {
public:
    std::optional<RTestGas> AskGas(const RBumpUnit&, const RTestGas& proposed) override { return proposed; }
    void ShowStep(const QString&) override {}
    void ShowReading(double, double, std::uint8_t, int) override {}
    void ShowResult(const RBumpResult&) override {}
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Report(const char* what, const std::vector<double>& values, const QStringList& loads, const char* unit)
{
    std::printf("%-44s median %8.2f %s  runs", what, Median(values), unit);
    for (double value : values)
        std::printf(" %.2f", value);
    std::printf("  load before each: %s\n", qPrintable(loads.join(QStringLiteral(" | "))));
}

double BumpWaitCpuShare(const QString& dir, int seconds)
{
    TBenchSim sim;
    const QString port = dir + QStringLiteral("/tty");
    if (!sim.Start(port, {"--noise", "0"}))
        return -1;
    LoadedSettings settings;
    settings.programDir = dir.toStdString() + "/";
    settings.cfg.mConnectTime = 500;
    TComZEL link;
    link.SetDefPort(port.toStdString());
    TSystemClock clock;
    TBumpRequests requests;
    TQuietView view;
    TBumpTest test(view, link, settings, clock, requests, NullRecorder());
    RBumpRule rule;
    rule.timeLimit = seconds;
    rule.clearLimit = 0;
    const RTestGas gas{25, QStringLiteral("B"), QDate::currentDate().addYears(1), QStringLiteral("bench")};
    const double cpu = ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    test.Run(gas, rule);
    return 100.0 * (ProcessCpuSeconds() - cpu) / (wall.nsecsElapsed() / 1e9);
}

QByteArray SampleRecord()
{
    RBumpResult result;
    result.outcome = BumpOutcome::Passed;
    result.startedUtc = QDateTime::currentDateTimeUtc();
    result.unit = {QStringLiteral("SH10000123"), QStringLiteral("SITE01"), 2, 13, 1, 1, QStringLiteral("H2S"),
                   QStringLiteral("ppm"), 10, 15, 1, 180 * 86400, 30, false};
    result.gas = {25, QStringLiteral("LOT-1"), QDate::currentDate().addYears(1), QStringLiteral("Bench")};
    for (int i = 0; i < 12; ++i)
        result.curve.push_back(i * 2.0);
    result.lowAfter = 5;
    result.highAfter = 8;
    result.peak = 22;
    return RecordBytes(BumpRecordJson(result, RZELSensorCFG{}, CurrentRecordContext(QString())));
}

bool MakeFleet(const QString& db, int units)
{
    THistoryStore store;
    QString error;
    RHistoryLocation location;
    location.engine = HistoryEngine::Sqlite;
    location.sqlitePath = db;
    if (!store.Open(location, error))
        return false;
    QSqlQuery(store.Db()).exec(QStringLiteral("PRAGMA synchronous=OFF"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (int unit = 0; unit < units; ++unit) {
        const QString serial = QStringLiteral("U%1").arg(unit, 9, 10, QLatin1Char('0'));
        RZELCFG cfg = DefaultConfig();
        std::memset(cfg.mUnit.mSerial, 0, sizeof cfg.mUnit.mSerial);
        std::memcpy(cfg.mUnit.mSerial, serial.toLatin1().constData(), static_cast<std::size_t>(serial.size()));
        cfg.mSensor.mCalInterval = 180 * zel::kDaySeconds;
        cfg.mSensor.mBumpInterval = 30;
        cfg.mSensor.mLastCal = static_cast<std::uint32_t>(unit % 200) * zel::kDaySeconds;
        cfg.mSensor.mLastBump = static_cast<std::uint32_t>(unit % 40) * zel::kDaySeconds;
        ROperationStart start{QUuid::createUuid(), QStringLiteral("bump test"), now - 60000, QStringLiteral("bench"),
                              QStringLiteral("tech"), QStringLiteral("bench")};
        ROperationEnd end;
        end.uuid = start.uuid;
        end.endedMs = now - 50000;
        end.unit = RUnitIdentity{serial, 2, 1, 13, 1, QStringLiteral("SITE01")};
        end.images.push_back(ImageRecord(recordrole::kRead, cfg));
        std::vector<RZELEvent> events;
        for (int i = 0; i < 20; ++i)
            events.push_back({static_cast<std::uint32_t>(60'000'000 - i * 3600), static_cast<std::uint16_t>(10 + i),
                              static_cast<std::uint8_t>(i % 3 == 0 ? 0x08 : 0x04), static_cast<std::int16_t>(50 + i)});
        end.events = REventDownload{EventRecords(events), 59'000'000, now - 50000};
        const QByteArray record = SampleRecord();
        end.test = RTestRecord{QStringLiteral("bump test"), QStringLiteral("PASSED"), record, RecordSha256(record)};
        if (store.AppendStart(start, error) == AppendResult::Failed ||
            store.AppendEnd(end, error) == AppendResult::Failed) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    PrintMachine("Bump test and certificates");
    QTemporaryDir dir;
    const int waitSeconds = argc > 1 ? std::atoi(argv[1]) : 20;

    std::vector<double> cpu, certificate, fleet;
    QStringList cpuLoads, certificateLoads, fleetLoads;
    for (int run = 0; run < 3; ++run) {
        cpuLoads << LoadAverage();
        cpu.push_back(BumpWaitCpuShare(dir.path(), waitSeconds));
    }
    Report(qPrintable(QStringLiteral("CPU while a bump test waits (%1 s)").arg(waitSeconds)), cpu, cpuLoads,
           "% of wall");

    const QByteArray record = SampleRecord();
    for (int run = 0; run < 3; ++run) {
        certificateLoads << LoadAverage();
        QElapsedTimer timer;
        timer.start();
        QString error;
        if (!WriteCertificate(dir.filePath(QStringLiteral("c%1.pdf").arg(run)), record, error))
            std::fprintf(stderr, "%s\n", qPrintable(error));
        certificate.push_back(timer.nsecsElapsed() / 1e6);
    }
    Report("Certificate written", certificate, certificateLoads, "ms");

    const QString db = dir.filePath(QStringLiteral("fleet.sqlite"));
    if (!MakeFleet(db, 1000))
        return 1;
    for (int run = 0; run < 3; ++run) {
        fleetLoads << LoadAverage();
        QElapsedTimer timer;
        timer.start();
        QProcess cli;
        cli.start(QStringLiteral(BEAMDOCK_CLI_PATH), {"--dir", dir.path(), "--db", db, "history", "report", "--out",
                                                      dir.filePath(QStringLiteral("fleet.pdf"))});
        cli.waitForFinished(120000);
        if (cli.exitCode() != 0)
            std::fprintf(stderr, "%s\n", cli.readAllStandardError().constData());
        fleet.push_back(timer.nsecsElapsed() / 1e9);
    }
    Report("Fleet report of 1,000 units (beamdock-cli)", fleet, fleetLoads, "s");
    if (argc > 2)
        QFile::copy(dir.filePath(QStringLiteral("fleet.pdf")), QString::fromLocal8Bit(argv[2]));
    return 0;
}
