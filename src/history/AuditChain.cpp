#include "AuditChain.h"

#include <QCryptographicHash>

namespace auditchain {
namespace {

constexpr char kSeparator = '\x1f';

void Add(QByteArray& out, const QString& text)
{
    out += text.toUtf8();
    out += kSeparator;
}

void Add(QByteArray& out, const std::optional<int>& value)
{
    out += value ? QByteArray::number(*value) : QByteArray("-");
    out += kSeparator;
}

QString Describe(const ROperationRow& row)
{
    return QStringLiteral("row %1 (operation %2, %3)").arg(row.seq).arg(row.opUuid, row.kind);
}

}  // namespace

QString GenesisHash()
{
    return QString(64, QLatin1Char('0'));
}

QString RowHash(const ROperationRow& r)
{
    QByteArray content;
    Add(content, r.prevHash);
    Add(content, QString::number(r.seq));
    Add(content, r.opUuid);
    Add(content, r.kind);
    Add(content, QString::number(r.atMs));
    Add(content, r.workflow);
    Add(content, r.station);
    Add(content, r.osUser);
    Add(content, r.toolVersion);
    Add(content, r.serial);
    Add(content, r.productId);
    Add(content, r.hwVersion);
    Add(content, r.fwVersion);
    Add(content, r.sensorType);
    Add(content, r.userId);
    Add(content, r.status);
    Add(content, r.statusText);
    Add(content, r.step);
    if (!r.recordSha256.isEmpty())
        Add(content, r.recordSha256);
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

std::optional<Finding> Walk(const std::vector<ROperationRow>& rows)
{
    QString expected = GenesisHash();
    qint64 expectedSeq = rows.empty() ? 0 : rows.front().seq;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ROperationRow& row = rows[i];
        const bool linked = row.prevHash == expected && row.seq == expectedSeq;
        const bool intact = RowHash(row) == row.rowHash;
        if (linked && intact) {
            expected = row.rowHash;
            expectedSeq = row.seq + 1;
            continue;
        }
        // The row after a slipped-in one still points at the row before it.
        const ROperationRow* next = i + 1 < rows.size() ? &rows[i + 1] : nullptr;
        if (next && next->prevHash == expected)
            return Finding{row.seq, Describe(row) + QStringLiteral(" was inserted: the chain skips it")};
        if (!linked)
            return Finding{row.seq, QStringLiteral("a row before %1 was removed: it points at a row that is not there "
                                                   "(expected row %2)")
                                        .arg(Describe(row))
                                        .arg(expectedSeq)};
        return Finding{row.seq, Describe(row) + QStringLiteral(" was changed: its content no longer gives its hash")};
    }
    return std::nullopt;
}

}  // namespace auditchain
