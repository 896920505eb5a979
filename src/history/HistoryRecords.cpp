#include "HistoryRecords.h"

#include <QJsonArray>

namespace {

QString Base64(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

QByteArray FromBase64(const QJsonValue& value)
{
    return QByteArray::fromBase64(value.toString().toLatin1());
}

QString Ms(qint64 ms)
{
    return QString::number(ms);
}

qint64 MsFrom(const QJsonValue& value)
{
    return value.toString().toLongLong();
}

}  // namespace

QJsonObject StartToJson(const ROperationStart& s)
{
    return {{"uuid", s.uuid.toString(QUuid::WithoutBraces)},
            {"workflow", s.workflow},
            {"started", Ms(s.startedMs)},
            {"station", s.station},
            {"osUser", s.osUser},
            {"toolVersion", s.toolVersion}};
}

std::optional<ROperationStart> StartFromJson(const QJsonObject& j)
{
    ROperationStart s;
    s.uuid = QUuid::fromString(j.value("uuid").toString());
    if (s.uuid.isNull())
        return std::nullopt;
    s.workflow = j.value("workflow").toString();
    s.startedMs = MsFrom(j.value("started"));
    s.station = j.value("station").toString();
    s.osUser = j.value("osUser").toString();
    s.toolVersion = j.value("toolVersion").toString();
    return s;
}

QJsonObject EndToJson(const ROperationEnd& e)
{
    QJsonObject j{{"uuid", e.uuid.toString(QUuid::WithoutBraces)},
                  {"ended", Ms(e.endedMs)},
                  {"status", e.status},
                  {"statusText", e.statusText},
                  {"step", e.step}};
    if (e.unit)
        j.insert("unit", QJsonObject{{"serial", e.unit->serial},
                                     {"productId", e.unit->productId},
                                     {"hwVersion", e.unit->hwVersion},
                                     {"fwVersion", e.unit->fwVersion},
                                     {"sensorType", e.unit->sensorType},
                                     {"userId", e.unit->userId}});
    QJsonArray images;
    for (const RConfigImage& image : e.images)
        images.append(QJsonObject{{"role", image.role},
                                  {"raw", Base64(image.raw)},
                                  {"unitCrcOk", image.unitCrcOk},
                                  {"sensorCrcOk", image.sensorCrcOk}});
    j.insert("images", images);
    if (e.events)
        j.insert("events", QJsonObject{{"records", Base64(e.events->records)},
                                       {"lifeRemaining", QString::number(e.events->lifeRemaining)},
                                       {"downloaded", Ms(e.events->downloadedMs)}});
    if (e.firmware)
        j.insert("firmware", QJsonObject{{"imageCrc", QString::number(e.firmware->imageCrc)},
                                         {"versionBefore", e.firmware->versionBefore},
                                         {"versionAfter", e.firmware->versionAfter},
                                         {"packetsResent", e.firmware->packetsResent},
                                         {"attempts", e.firmware->attempts}});
    if (e.calibration)
        j.insert("calibration", QJsonObject{{"spanGas", e.calibration->spanGas},
                                            {"result", e.calibration->result},
                                            {"status", e.calibration->status}});
    return j;
}

std::optional<ROperationEnd> EndFromJson(const QJsonObject& j)
{
    ROperationEnd e;
    e.uuid = QUuid::fromString(j.value("uuid").toString());
    if (e.uuid.isNull())
        return std::nullopt;
    e.endedMs = MsFrom(j.value("ended"));
    e.status = j.value("status").toInt();
    e.statusText = j.value("statusText").toString();
    e.step = j.value("step").toString();
    if (j.contains("unit")) {
        const QJsonObject u = j.value("unit").toObject();
        e.unit = RUnitIdentity{u.value("serial").toString(), u.value("productId").toInt(),
                               u.value("hwVersion").toInt(),  u.value("fwVersion").toInt(),
                               u.value("sensorType").toInt(), u.value("userId").toString()};
    }
    for (const QJsonValue& value : j.value("images").toArray()) {
        const QJsonObject i = value.toObject();
        e.images.push_back({i.value("role").toString(), FromBase64(i.value("raw")), i.value("unitCrcOk").toBool(),
                            i.value("sensorCrcOk").toBool()});
    }
    if (j.contains("events")) {
        const QJsonObject v = j.value("events").toObject();
        e.events = REventDownload{FromBase64(v.value("records")),
                                  static_cast<std::uint32_t>(v.value("lifeRemaining").toString().toULongLong()),
                                  MsFrom(v.value("downloaded"))};
    }
    if (j.contains("firmware")) {
        const QJsonObject f = j.value("firmware").toObject();
        e.firmware = RFirmwareRecord{static_cast<std::uint32_t>(f.value("imageCrc").toString().toULongLong()),
                                     f.value("versionBefore").toInt(), f.value("versionAfter").toInt(),
                                     f.value("packetsResent").toInt(), f.value("attempts").toInt()};
    }
    if (j.contains("calibration")) {
        const QJsonObject c = j.value("calibration").toObject();
        e.calibration = RCalibrationRecord{c.value("spanGas").toInt(), c.value("result").toString(),
                                           c.value("status").toInt()};
    }
    return e;
}
