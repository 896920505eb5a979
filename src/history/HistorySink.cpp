#include "HistorySink.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <set>

namespace {

const QString kStart = QStringLiteral("start");
constexpr qint64 kRetryPauseMs = 30'000;
const QString kEnd = QStringLiteral("end");

QString UuidOf(const RHistoryEntry& entry)
{
    return std::visit([](const auto& record) { return record.uuid.toString(QUuid::WithoutBraces); }, entry);
}

// The start sorts before the end of the same operation.
QString KeyOf(const RHistoryEntry& entry)
{
    return UuidOf(entry) + (std::holds_alternative<ROperationStart>(entry) ? QStringLiteral("/0") : QStringLiteral("/1"));
}

QByteArray Payload(const RHistoryEntry& entry)
{
    const QJsonObject json = std::holds_alternative<ROperationStart>(entry)
                                 ? QJsonObject{{"start", StartToJson(std::get<ROperationStart>(entry))}}
                                 : QJsonObject{{"end", EndToJson(std::get<ROperationEnd>(entry))}};
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

std::optional<RHistoryEntry> FromPayload(const QByteArray& payload)
{
    const QJsonObject json = QJsonDocument::fromJson(payload).object();
    if (json.contains(kStart)) {
        if (auto start = StartFromJson(json.value(kStart).toObject()))
            return RHistoryEntry(*start);
    } else if (json.contains(kEnd)) {
        if (auto end = EndFromJson(json.value(kEnd).toObject()))
            return RHistoryEntry(*end);
    }
    return std::nullopt;
}

AppendResult Append(THistoryStore& store, const RHistoryEntry& entry, QString& error)
{
    if (const auto* start = std::get_if<ROperationStart>(&entry))
        return store.AppendStart(*start, error);
    return store.AppendEnd(std::get<ROperationEnd>(entry), error);
}

}  // namespace

THistorySink::THistorySink(RHistoryLocation location, QString spoolPath)
    : FLocation(std::move(location)), FSpoolPath(spoolPath.isEmpty() ? DefaultHistoryPath() : std::move(spoolPath))
{
}

bool THistorySink::EnsurePrimary(QString& error)
{
    return FPrimary.IsOpen() || FPrimary.Open(FLocation, error);
}

bool THistorySink::EnsureSpool(QString& error)
{
    if (FSpool.IsOpen())
        return true;
    RHistoryLocation station;
    station.sqlitePath = FSpoolPath;
    return FSpool.Open(station, error);
}

bool THistorySink::Spool(const RHistoryEntry& entry, QString& error)
{
    if (!EnsureSpool(error))
        return false;
    QSqlQuery query(FSpool.Db());
    query.prepare(QStringLiteral("INSERT INTO spool (entry_key, queued_ms, payload) VALUES (?, ?, ?)"
                                 " ON CONFLICT (entry_key) DO NOTHING"));
    query.addBindValue(KeyOf(entry));
    query.addBindValue(QDateTime::currentMSecsSinceEpoch());
    query.addBindValue(QString::fromUtf8(Payload(entry)));
    if (!query.exec()) {
        error = QStringLiteral("Failed to put the record into the spool %1: %2").arg(FSpoolPath, query.lastError().text());
        return false;
    }
    return true;
}

RSinkResult THistorySink::Put(const RHistoryEntry& entry)
{
    RSinkResult result;
    QString error;
    if (FLocation.engine == HistoryEngine::Sqlite) {
        result.kept = EnsurePrimary(error) && Append(FPrimary, entry, error) != AppendResult::Failed;
        result.problem = error;
        return result;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now < FRetryAfterMs)
        error = FRetryReason;
    else if (EnsurePrimary(error)) {
        // Older records first, so that the server's chain keeps their order.
        if (Waiting() > 0)
            Sync();
        if (Append(FPrimary, entry, error) != AppendResult::Failed) {
            result.kept = true;
            return result;
        }
        FPrimary.Close();  // reconnect next time: the server may have gone
    }
    if (!FPrimary.IsOpen() && now >= FRetryAfterMs) {
        FRetryAfterMs = now + kRetryPauseMs;
        FRetryReason = error;
    }
    result.problem = error;
    QString spoolError;
    result.spooled = result.kept = Spool(entry, spoolError);
    if (!result.kept)
        result.problem += QStringLiteral("; ") + spoolError;
    return result;
}

int THistorySink::Waiting()
{
    QString error;
    if (FLocation.engine == HistoryEngine::Sqlite || !EnsureSpool(error))
        return 0;
    QSqlQuery query(FSpool.Db());
    if (query.exec(QStringLiteral("SELECT COUNT(*) FROM spool")) && query.next())
        return query.value(0).toInt();
    return 0;
}

RSyncResult THistorySink::Sync()
{
    RSyncResult result;
    if (FLocation.engine == HistoryEngine::Sqlite)
        return result;
    if (!EnsureSpool(result.problem))
        return result;
    if (!EnsurePrimary(result.problem)) {
        FRetryAfterMs = QDateTime::currentMSecsSinceEpoch() + kRetryPauseMs;
        FRetryReason = result.problem;
        result.waiting = Waiting();
        return result;
    }
    QSqlQuery waiting(FSpool.Db());
    if (!waiting.exec(QStringLiteral("SELECT entry_key, payload FROM spool ORDER BY queued_ms, entry_key"))) {
        result.problem = waiting.lastError().text();
        return result;
    }
    std::vector<std::pair<QString, QByteArray>> entries;
    while (waiting.next())
        entries.emplace_back(waiting.value(0).toString(), waiting.value(1).toString().toUtf8());
    waiting.finish();
    std::set<QString> sent;
    QSqlQuery remove(FSpool.Db());
    remove.prepare(QStringLiteral("DELETE FROM spool WHERE entry_key = ?"));
    for (const auto& [key, payload] : entries) {
        const std::optional<RHistoryEntry> entry = FromPayload(payload);
        if (entry) {
            QString error;
            const AppendResult appended = Append(FPrimary, *entry, error);
            if (appended == AppendResult::Failed) {
                result.problem = error;
                FPrimary.Close();
                break;
            }
            if (appended == AppendResult::Stored)
                sent.insert(UuidOf(*entry));
        }
        // A record the spool cannot read back would block all behind it; it
        // is dropped after being reported.
        if (!entry)
            result.problem = QStringLiteral("A spooled record (%1) could not be read and was dropped").arg(key);
        remove.addBindValue(key);
        remove.exec();
    }
    result.sentOperations = static_cast<int>(sent.size());
    result.waiting = Waiting();
    return result;
}
