#include "HistorySamples.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstring>
#include <gtest/gtest.h>

#include "Crc16.h"
#include "HistorySink.h"
#include "OperationRecorder.h"

ROperationStart SampleStart(const QString& workflow, qint64 startedMs)
{
    return {QUuid::createUuid(), workflow, startedMs, QStringLiteral("bench-1"), QStringLiteral("tech"),
            QStringLiteral("1.3.0.10")};
}

RZELCFG SampleConfig(const QString& serial)
{
    RZELCFG cfg = DefaultConfig();
    std::memset(cfg.mUnit.mSerial, 0, sizeof cfg.mUnit.mSerial);
    std::memcpy(cfg.mUnit.mSerial, serial.toLatin1().constData(),
                std::min<std::size_t>(sizeof cfg.mUnit.mSerial, static_cast<std::size_t>(serial.size())));
    std::memcpy(cfg.mUnit.mUserID, "TECH01", 6);
    cfg.mUnit.mCRC = crc16::Compute(reinterpret_cast<const std::uint8_t*>(&cfg.mUnit), sizeof cfg.mUnit - 2);
    cfg.mSensor.mCRC = crc16::Compute(reinterpret_cast<const std::uint8_t*>(&cfg.mSensor), sizeof cfg.mSensor - 2);
    return cfg;
}

ROperationEnd SampleEnd(const ROperationStart& start, const QString& serial, int status)
{
    ROperationEnd end;
    end.uuid = start.uuid;
    end.endedMs = start.startedMs + 1500;
    end.status = status;
    end.statusText = status == 0 ? QStringLiteral(" OK") : QStringLiteral(" failed");
    end.step = QStringLiteral("ReadSensorCFGData");
    end.unit = RUnitIdentity{serial, 2, 1, 0x23, 4, QStringLiteral("TECH01")};
    end.images.push_back(ImageRecord(QStringLiteral("read"), SampleConfig(serial)));
    return end;
}

void RunHistoryWriter()
{
    QString error;
    const std::optional<RHistoryLocation> location = ParseHistoryUrl(qEnvironmentVariable("BEAMDOCK_TEST_DB"), error);
    ASSERT_TRUE(location) << error.toStdString();
    const int count = qEnvironmentVariableIntValue("BEAMDOCK_TEST_COUNT");
    const QString station = qEnvironmentVariable("BEAMDOCK_TEST_STATION");
    THistorySink sink(*location, qEnvironmentVariable("BEAMDOCK_TEST_SPOOL"));
    for (int i = 0; i < count; ++i) {
        ROperationStart start = SampleStart(QStringLiteral("Read Varnolite Information"), QDateTime::currentMSecsSinceEpoch());
        start.station = station;
        const RSinkResult begun = sink.Put(start);
        ASSERT_TRUE(begun.kept && !begun.spooled) << begun.problem.toStdString();
        const RSinkResult ended =
            sink.Put(SampleEnd(start, QStringLiteral("U%1-%2").arg(station.section(QLatin1Char('-'), 1)).arg(i % 10)));
        ASSERT_TRUE(ended.kept && !ended.spooled) << ended.problem.toStdString();
    }
}

std::vector<std::unique_ptr<QProcess>> StartHistoryWriters(const QString& url, int count, int operations)
{
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int n = 0; n < count; ++n) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("BEAMDOCK_TEST_DB"), url);
        env.insert(QStringLiteral("BEAMDOCK_TEST_COUNT"), QString::number(operations));
        env.insert(QStringLiteral("BEAMDOCK_TEST_STATION"), QStringLiteral("station-%1").arg(n));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("--gtest_also_run_disabled_tests"),
                        QStringLiteral("--gtest_filter=HistoryWriter.DISABLED_Records")});
        writers.push_back(std::move(process));
    }
    return writers;
}
