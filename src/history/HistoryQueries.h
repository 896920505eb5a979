#pragma once
// What the history commands read: one row per unit, a unit's operations
// with their configuration images, a unit's merged event log, and the checks
// of the audit chain and the stored images.
#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

#include "HistoryStore.h"

struct RUnitRow {
    QString serial;
    int productId = 0, sensorType = 0, fwVersion = 0;
    QString userId;
    qint64 lastSeenMs = 0;
    QByteArray latestImage;  // empty when no image was taken
    qint64 imageMs = 0;
    std::optional<qint64> historyCalMs, historyBumpMs;
};

struct ROperationView {
    QString uuid, workflow, station, osUser, toolVersion;
    qint64 startMs = 0;
    std::optional<qint64> endMs;
    std::optional<int> status;
    QString statusText, step;
    std::vector<std::pair<QString, QByteArray>> images;  // role, raw; as found first
};

struct RStoredEvent {
    QByteArray raw;
    std::optional<qint64> calendarMs;
};

namespace historyqueries {

std::vector<RUnitRow> Units(THistoryStore& store, QString& error);
// Newest first.
std::vector<ROperationView> UnitOperations(THistoryStore& store, const QString& serial, QString& error);
// The unit's latest configuration image; empty when none was taken.
QByteArray LatestImage(THistoryStore& store, const QString& serial, QString& error);
std::vector<RStoredEvent> UnitEvents(THistoryStore& store, const QString& serial, QString& error);
// The first problem of the chain or of the stored images; nothing when whole.
std::optional<QString> Verify(THistoryStore& store, QString& error);

}  // namespace historyqueries
