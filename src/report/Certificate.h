#pragma once
// The certificate of one bump test or calibration: one A4 page as
// QPdfWriter writes it (PDF/A-1b), with the record it certifies attached as
// "record.json", which makes it claim PDF/A-3b, and that record's SHA-256
// printed, so the page can be
// checked against the history. Everything printed comes from the record
// itself: the history makes the same certificate again from what it keeps.
//
// Needs a QGuiApplication (fonts).
#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

#include "HistoryRecords.h"

inline const QString kRecordAttachment = QStringLiteral("record.json");


// "BD-" and the operation UUID without braces, upper case.
QString CertificateNumber(const QString& operationUuid);

// Writes the certificate to `path` whole or not at all (a temporary file in
// the same folder, renamed over it).
bool WriteCertificate(const QString& path, const QByteArray& recordBytes, QString& error);

// What a certificate carries: the attached record, and whether it still
// hashes to the SHA-256 printed with it. Nothing when `path` is no
// certificate of this tool.
struct RCertificateContent {
    QByteArray record;
    QString sha256;
};
std::optional<RCertificateContent> ReadCertificate(const QString& path, QString& error);
