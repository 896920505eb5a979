#pragma once
// What a workflow's operation leaves in the history, as plain values: its
// start, and at its end the unit, the configuration images, the events, the
// firmware sent and the calibration made. The same values travel through the
// station's spool as JSON, so a record sent twice is recognised by its UUID.
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>
#include <vector>

struct ROperationStart {
    QUuid uuid;
    QString workflow;
    qint64 startedMs = 0;  // UTC, milliseconds since 1970
    QString station;
    QString osUser;
    QString toolVersion;
};

struct RUnitIdentity {
    QString serial;
    int productId = 0;
    int hwVersion = 0;
    int fwVersion = 0;
    int sensorType = 0;
    QString userId;
};

// The 128 bytes of the unit and sensor blocks as the unit held them.
struct RConfigImage {
    QString role;      // "read", "before" (as found) or "after" (as left)
    QByteArray raw;
    bool unitCrcOk = false;
    bool sensorCrcOk = false;
};

// The downloaded records (9 bytes each, as the unit sent them) and the unit's
// life counter at the download, so that each can be dated.
struct REventDownload {
    QByteArray records;
    std::uint32_t lifeRemaining = 0;
    qint64 downloadedMs = 0;
};

struct RFirmwareRecord {
    std::uint32_t imageCrc = 0;
    int versionBefore = 0;
    int versionAfter = 0;
    int packetsResent = 0;
    int attempts = 0;
};

struct RCalibrationRecord {
    int spanGas = 0;
    QString result;
    int status = 0;
};

struct ROperationEnd {
    QUuid uuid;  // the operation's, as at its start
    qint64 endedMs = 0;
    int status = 0;
    QString statusText;
    QString step;  // the last step reached; what an interrupted operation got to
    std::optional<RUnitIdentity> unit;
    std::vector<RConfigImage> images;
    std::optional<REventDownload> events;
    std::optional<RFirmwareRecord> firmware;
    std::optional<RCalibrationRecord> calibration;
};

inline constexpr int kEventRecordSize = 9;
inline constexpr int kConfigImageSize = 128;

QJsonObject StartToJson(const ROperationStart& start);
std::optional<ROperationStart> StartFromJson(const QJsonObject& json);
QJsonObject EndToJson(const ROperationEnd& end);
std::optional<ROperationEnd> EndFromJson(const QJsonObject& json);
