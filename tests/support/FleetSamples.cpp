#include "FleetSamples.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>

#include "BumpRecord.h"

#include "Crc16.h"
#include "HistorySamples.h"
#include "OperationRecorder.h"

namespace {

void Seal(RZELCFG& cfg)
{
    cfg.mUnit.mCRC = crc16::Compute(reinterpret_cast<const std::uint8_t*>(&cfg.mUnit), sizeof cfg.mUnit - 2);
    cfg.mSensor.mCRC = crc16::Compute(reinterpret_cast<const std::uint8_t*>(&cfg.mSensor), sizeof cfg.mSensor - 2);
}

QString Serial(const RZELCFG& cfg)
{
    return QString::fromLatin1(cfg.mUnit.mSerial, static_cast<int>(qstrnlen(cfg.mUnit.mSerial, sizeof cfg.mUnit.mSerial)));
}

}  // namespace

RZELCFG FleetConfig(const QString& serial, double lastCalDays, int calDays, const char* userId)
{
    RZELCFG cfg = SampleConfig(serial);
    std::memset(cfg.mUnit.mUserID, ' ', sizeof cfg.mUnit.mUserID);
    std::memcpy(cfg.mUnit.mUserID, userId, std::min(std::strlen(userId), sizeof cfg.mUnit.mUserID));
    cfg.mSensor.mLastCal = lastCalDays < 0 ? 0xFFFFFFFF : static_cast<std::uint32_t>(lastCalDays * zel::kDaySeconds);
    cfg.mSensor.mCalInterval = static_cast<std::uint32_t>(calDays) * zel::kDaySeconds;
    cfg.mSensor.mBumpInterval = 0;
    Seal(cfg);
    return cfg;
}

bool RecordRead(THistoryStore& store, const RZELCFG& cfg, qint64 atMs, const QString& station, const RZELCFG* before,
                int alarms)
{
    ROperationStart start = SampleStart(before ? QStringLiteral("Write Varnolite Configuration")
                                               : QStringLiteral("Read Varnolite Information"),
                                        atMs - 1500);
    start.station = station;
    ROperationEnd end = SampleEnd(start, Serial(cfg));
    end.unit->userId = QString::fromLatin1(cfg.mUnit.mUserID, sizeof cfg.mUnit.mUserID).trimmed();
    end.images.clear();
    if (before) {
        end.images.push_back(ImageRecord(QStringLiteral("before"), *before));
        end.images.push_back(ImageRecord(QStringLiteral("after"), cfg));
    } else {
        end.images.push_back(ImageRecord(QStringLiteral("read"), cfg));
    }
    if (alarms > 0) {
        // High alarms a day apart before the download, readings rising.
        REventDownload download{QByteArray(), 40'000'000, atMs};
        for (int a = 0; a < alarms; ++a) {
            const RZELEvent event{download.lifeRemaining + static_cast<std::uint32_t>((a + 1) * 86'400 * 9), 45, 0x08,
                                  static_cast<std::int16_t>(260 + a * 10)};
            download.records.append(reinterpret_cast<const char*>(&event), sizeof event);
        }
        end.events = download;
    }
    QString error;
    return store.AppendStart(start, error) != AppendResult::Failed && store.AppendEnd(end, error) != AppendResult::Failed;
}

bool GenerateFleet(THistoryStore& store, int count, qint64 nowMs)
{
    constexpr qint64 kDayMs = 86'400'000;
    const char* const users[] = {"PUMP-A", "TANK 3", "DOCK-1", "LAB-2", "SITE01"};
    for (int i = 0; i < count; ++i) {
        const QString serial = QStringLiteral("SN%1").arg(240000 + i * 7, 8, 10, QLatin1Char('0'));
        const qint64 seen = nowMs - static_cast<qint64>(i % 60) * kDayMs - (i % 24) * 3'600'000;
        // Interval 180 days; days since the last calibration at that read.
        double lastCal = (i * 37) % 110;
        if (i % 8 == 3)
            lastCal = 185 + i % 30;  // overdue
        else if (i % 10 == 5)
            lastCal = 174 + (i % 5) - static_cast<double>(i % 60);  // due within a week from now
        const RZELCFG cfg = FleetConfig(serial, i % 23 == 11 ? -1 : std::max(0.0, lastCal), 180, users[i % 5]);
        if (!RecordRead(store, cfg, seen, QStringLiteral("bench-%1").arg(1 + i % 3), nullptr, i % 3 == 0 ? 1 + i % 4 : 0))
            return false;
        if (i == 0) {
            RZELCFG after = cfg;
            after.mSensor.mAlarmHigh = 250;
            after.mSensor.mAlarmLow = 120;
            after.mSensor.mCalInterval = 90 * zel::kDaySeconds;
            std::memcpy(after.mUnit.mUserID, "PUMP-B", 6);
            Seal(after);
            if (!RecordRead(store, after, seen + 60'000, QStringLiteral("bench-1"), &cfg, 0))
                return false;
        }
    }
    return true;
}

QString RecordBumpTest(THistoryStore& store, const RZELCFG& cfg, qint64 atMs, const std::vector<double>& curve)
{
    ROperationStart start = SampleStart(QStringLiteral("bump test"), atMs - 90'000);
    ROperationEnd end = SampleEnd(start, Serial(cfg));
    end.endedMs = atMs;
    end.images.clear();
    RBumpResult result;
    result.outcome = BumpOutcome::Passed;
    result.startedUtc = QDateTime::fromMSecsSinceEpoch(start.startedMs, Qt::UTC);
    result.unit = {Serial(cfg), QStringLiteral("PUMP-A"), 2, 0x23, 4, 1, QStringLiteral("H2S"), QStringLiteral("ppm"),
                   10, 15, 1, 180, 30, false};
    result.gas = {25, QStringLiteral("LOT-4711"), QDate(2031, 3, 31), QStringLiteral("Dana Safety")};
    result.curve = curve;
    result.lowAfter = 8;
    result.highAfter = 12;
    result.peak = *std::max_element(curve.begin(), curve.end());
    result.alarmsCleared = true;
    result.sentCommand = 0x46;
    result.confirmed = true;
    RRecordContext context{start.uuid.toString(QUuid::WithoutBraces), start.station, QStringLiteral("UTC"), atMs};
    const QByteArray json = RecordBytes(BumpRecordJson(result, cfg.mSensor, context));
    end.test = RTestRecord{QStringLiteral("bump test"), QStringLiteral("PASSED"), json, RecordSha256(json)};
    QString error;
    if (store.AppendStart(start, error) == AppendResult::Failed || store.AppendEnd(end, error) == AppendResult::Failed)
        return QString();
    return context.operation;
}
