#include "Certificate.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTimeZone>

#include "PdfAttachment.h"
#include "PdfPage.h"
#include "TextHelpers.h"

namespace {

// A version byte as the window shows it ("1.3", "001").
QString Version(const QJsonObject& object, const char* key, std::string (*format)(std::uint8_t))
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble() || value.toDouble() < 0 || value.toDouble() > 255)
        return QStringLiteral("-");
    return QString::fromStdString(format(static_cast<std::uint8_t>(value.toInt())));
}

QString Text(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 10);
    if (value.isBool())
        return value.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    const QString text = value.toString();
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString Seconds(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isDouble() ? QStringLiteral("%1 s").arg(value.toDouble(), 0, 'f', 1) : QStringLiteral("not raised");
}

QString WithUnit(const QJsonObject& object, const char* key, const QString& unit)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return QStringLiteral("-");
    return QStringLiteral("%1 %2").arg(QString::number(value.toDouble(), 'g', 10), unit).trimmed();
}

QString Offset(const QDateTime& when)
{
    const int minutes = when.offsetFromUtc() / 60;
    return QStringLiteral("%1%2:%3")
        .arg(minutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(std::abs(minutes) / 60, 2, 10, QLatin1Char('0'))
        .arg(std::abs(minutes) % 60, 2, 10, QLatin1Char('0'));
}

QString Stamp(const QString& iso, const QString& zoneId)
{
    QDateTime when = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!when.isValid())
        return iso;
    const QTimeZone zone(zoneId.toUtf8());
    when = zone.isValid() ? when.toTimeZone(zone) : when.toLocalTime();
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC") + Offset(when) +
           (zone.isValid() ? QStringLiteral(" ") + zoneId : QString());
}

void Draw(QPdfWriter& writer, const QJsonObject& record, const QString& sha256)
{
    TPdfPage page(writer);
    const bool bump = record.value(QStringLiteral("kind")).toString() == QStringLiteral("bump test");
    const QJsonObject unit = record.value(QStringLiteral("unit")).toObject();
    const QJsonObject gas = record.value(QStringLiteral("gas")).toObject();
    const QString gasUnit = unit.value(QStringLiteral("gasUnit")).toString();

    page.Title(bump ? QStringLiteral("Bump Test Certificate") : QStringLiteral("Calibration Certificate"),
               QStringLiteral("Portable gas detector, tested with Beamdock"));
    page.Section(QStringLiteral("Certificate"));
    page.Field(QStringLiteral("Certificate number"), CertificateNumber(Text(record, "operation")));
    page.Field(QStringLiteral("Date and time"), Stamp(Text(record, "started"), Text(record, "zone")));
    page.Field(QStringLiteral("Station"), Text(record, "station"));
    page.Field(QStringLiteral("Technician"), Text(record, "technician"));

    page.Section(QStringLiteral("Instrument"));
    page.Field(QStringLiteral("Serial number"), Text(unit, "serial"));
    page.Field(QStringLiteral("User ID"), Text(unit, "userId"));
    page.Field(QStringLiteral("Product"), QStringLiteral("Varnolite (product %1, hardware %2)")
                                              .arg(Text(unit, "productId"), Version(unit, "hwVersion", HWVersionText)));
    page.Field(QStringLiteral("Firmware"), Version(unit, "fwVersion", FWVersionText));
    page.Field(QStringLiteral("Sensor"), QStringLiteral("%1, unit of measure %2").arg(Text(unit, "sensorName"), gasUnit));
    page.Field(QStringLiteral("Alarm set points"), QStringLiteral("LOW %1, HIGH %2")
                                                       .arg(WithUnit(unit, "lowSetPoint", gasUnit),
                                                            WithUnit(unit, "highSetPoint", gasUnit)));

    page.Section(QStringLiteral("Test gas"));
    page.Field(QStringLiteral("Gas"), Text(unit, "sensorName"));
    page.Field(QStringLiteral("Concentration"), WithUnit(gas, "concentration", gasUnit));
    page.Field(QStringLiteral("Cylinder lot"), Text(gas, "lot"));
    page.Field(QStringLiteral("Cylinder expiry"), Text(gas, "expiry"));

    page.Section(QStringLiteral("Results"));
    if (bump) {
        page.Field(QStringLiteral("Time to LOW alarm"), Seconds(record, "lowAlarmAfterS"));
        page.Field(QStringLiteral("Time to HIGH alarm"), Seconds(record, "highAlarmAfterS"));
        page.Field(unit.value(QStringLiteral("sensorType")).toInt() == 4 ? QStringLiteral("Lowest reading")
                                                                          : QStringLiteral("Peak reading"),
                   WithUnit(record, "peak", gasUnit));
        page.Field(QStringLiteral("Pass rule"), Text(record, "ruleText"));
        page.Field(QStringLiteral("Alarms cleared"), Text(record, "alarmsCleared"));
    } else {
        const QString tolerance = QStringLiteral("±%1 % of the span gas").arg(Text(record, "tolerancePercent"));
        page.Field(QStringLiteral("As found"), QStringLiteral("%1  (%2)").arg(WithUnit(record, "asFound", gasUnit),
                                                                           Text(record, "asFoundResult")));
        page.Field(QStringLiteral("As left"), QStringLiteral("%1  (%2)").arg(WithUnit(record, "asLeft", gasUnit),
                                                                          Text(record, "asLeftResult")));
        page.Field(QStringLiteral("Tolerance"), tolerance);
        page.Field(QStringLiteral("Adjusted"), Text(record, "adjusted"));
    }
    if (const QString reason = record.value(QStringLiteral("reason")).toString(); !reason.isEmpty())
        page.Field(QStringLiteral("Remark"), reason);

    page.Verdict(Text(record, "result"));

    page.Section(QStringLiteral("Next due"));
    page.Field(QStringLiteral("Next calibration due"), Text(record, "nextCalibrationDue"));
    page.Field(QStringLiteral("Next bump test due"), Text(record, "nextBumpDue"));

    page.Signature(QStringLiteral("Technician's signature"));
    page.Footer({QStringLiteral("Record SHA-256: %1").arg(sha256),
                 QStringLiteral("The record is attached to this document as %1; beamdock-cli history "
                                "verify-certificate checks it against the history.")
                     .arg(kRecordAttachment)});
}

}  // namespace

QString CertificateNumber(const QString& operationUuid)
{
    QString bare = operationUuid;
    bare.remove(QLatin1Char('{')).remove(QLatin1Char('}'));
    return QStringLiteral("BD-") + bare.toUpper();
}

bool WriteCertificate(const QString& path, const QByteArray& recordBytes, QString& error)
{
    const QJsonDocument document = QJsonDocument::fromJson(recordBytes);
    if (!document.isObject()) {
        error = QStringLiteral("the record is not a JSON object");
        return false;
    }
    const QString sha256 = RecordSha256(recordBytes);
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        PrepareDocument(writer, CertificateNumber(document.object().value(QStringLiteral("operation")).toString()));
        Draw(writer, document.object(), sha256);
    }
    const std::optional<QByteArray> attached =
        AttachFile(pdf, kRecordAttachment, QByteArrayLiteral("application/json"), recordBytes, error);
    if (!attached)
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*attached) != attached->size() || !file.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

std::optional<RCertificateContent> ReadCertificate(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray pdf = file.read(64 * 1024 * 1024);
    const std::optional<QByteArray> record = AttachedFile(pdf, kRecordAttachment);
    if (!record) {
        error = QStringLiteral("%1 carries no %2: it is not a certificate of this tool").arg(path, kRecordAttachment);
        return std::nullopt;
    }
    return RCertificateContent{*record, RecordSha256(*record)};
}
