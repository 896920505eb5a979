#pragma once
// The audit chain over the operations table: every row carries the SHA-256
// of its own content and of the row before it, so that a row changed,
// removed or slipped in afterwards breaks the chain where it happened.
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// One row of the operations table, every column as stored.
struct ROperationRow {
    qint64 seq = 0;
    QString opUuid;
    QString kind;  // "start" or "end"
    qint64 atMs = 0;
    QString workflow, station, osUser, toolVersion;
    QString serial;
    std::optional<int> productId, hwVersion, fwVersion, sensorType;
    QString userId;
    std::optional<int> status;
    QString statusText, step;
    // The SHA-256 of the test record the operation left (its end row only);
    // empty for none, and then left out of the row hash, as in rows written
    // before the records joined the chain.
    QString recordSha256;
    QString prevHash, rowHash;
};

namespace auditchain {

// The previous hash of the first row.
QString GenesisHash();

// SHA-256 (hex) of the previous hash and the row's columns, each written as
// text and separated by 0x1F; a missing number is written as "-".
QString RowHash(const ROperationRow& row);

struct Finding {
    qint64 seq = 0;
    QString message;
};

// Walks the rows in seq order; nothing when the chain is whole.
std::optional<Finding> Walk(const std::vector<ROperationRow>& rows);

}  // namespace auditchain
