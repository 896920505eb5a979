#include "PdfAttachment.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRegularExpression>

namespace {

QByteArray Offset10(qsizetype offset)
{
    return QByteArray::number(offset).rightJustified(10, '0');
}

// A PDF literal string: backslash, parentheses escaped; ASCII names only.
QByteArray Literal(const QString& text)
{
    QByteArray out = text.toLatin1();
    out.replace('\\', "\\\\").replace('(', "\\(").replace(')', "\\)");
    return '(' + out + ')';
}

QByteArray NameEscaped(const QByteArray& mime)
{
    QByteArray out;
    for (char c : mime)
        out += c == '/' ? QByteArray("#2F") : QByteArray(1, c);
    return out;
}

// The catalog's XMP metadata object rewritten to claim PDF/A-3b instead of
// PDF/A-1b: its number and its whole new body (dictionary and stream).
// Nothing when the document claims no PDF/A-1b.
std::optional<std::pair<QByteArray, QByteArray>> PdfA3Metadata(const QByteArray& pdf, const QByteArray& catalog)
{
    const QRegularExpression metadataRe(QStringLiteral("/Metadata\\s+(\\d+)\\s+0\\s+R"));
    const auto reference = metadataRe.match(QString::fromLatin1(catalog));
    if (!reference.hasMatch())
        return std::nullopt;
    const QByteArray number = reference.captured(1).toLatin1();
    const qsizetype at = pdf.lastIndexOf('\n' + number + " 0 obj");
    const qsizetype bodyAt = at < 0 ? -1 : pdf.indexOf("<<", at);
    const qsizetype endAt = bodyAt < 0 ? -1 : pdf.indexOf("endobj", bodyAt);
    if (endAt < 0)
        return std::nullopt;
    QByteArray body = pdf.mid(bodyAt, endAt - bodyAt);
    // Same length: the stream's /Length stays right.
    const QByteArray claim = "pdfaid:part=\"1\"";
    if (body.contains("/Filter") || body.count(claim) != 1)
        return std::nullopt;
    body.replace(claim, "pdfaid:part=\"3\"");
    return std::pair{number, body};
}

}  // namespace

std::optional<QByteArray> AttachFile(const QByteArray& pdf, const QString& name, const QByteArray& mime,
                                     const QByteArray& content, QString& error)
{
    const qsizetype startxref = pdf.lastIndexOf("startxref");
    const qsizetype trailerAt = pdf.lastIndexOf("trailer");
    if (startxref < 0 || trailerAt < 0 || trailerAt > startxref) {
        error = QStringLiteral("the PDF has no classic trailer");
        return std::nullopt;
    }
    const QByteArray trailer = pdf.mid(trailerAt, startxref - trailerAt);
    const QRegularExpression sizeRe(QStringLiteral("/Size\\s+(\\d+)"));
    const QRegularExpression rootRe(QStringLiteral("/Root\\s+(\\d+)\\s+0\\s+R"));
    const QRegularExpression xrefRe(QStringLiteral("startxref\\s+(\\d+)"));
    const auto size = sizeRe.match(QString::fromLatin1(trailer));
    const auto root = rootRe.match(QString::fromLatin1(trailer));
    const auto prev = xrefRe.match(QString::fromLatin1(pdf.mid(startxref)));
    if (!size.hasMatch() || !root.hasMatch() || !prev.hasMatch()) {
        error = QStringLiteral("the PDF trailer lacks /Size, /Root or startxref");
        return std::nullopt;
    }
    const int firstFree = size.captured(1).toInt();
    const QByteArray rootNumber = root.captured(1).toLatin1();

    // The catalog as written, to be written again with /Names added.
    const QByteArray rootHead = '\n' + rootNumber + " 0 obj";
    const qsizetype rootAt = pdf.lastIndexOf(rootHead);
    const qsizetype dictAt = rootAt < 0 ? -1 : pdf.indexOf("<<", rootAt);
    const qsizetype endAt = dictAt < 0 ? -1 : pdf.indexOf("endobj", dictAt);
    if (dictAt < 0 || endAt < 0) {
        error = QStringLiteral("the PDF catalog cannot be found");
        return std::nullopt;
    }
    QByteArray catalog = pdf.mid(dictAt, endAt - dictAt).trimmed();
    if (catalog.contains("/Names")) {
        error = QStringLiteral("the PDF catalog already has a name dictionary");
        return std::nullopt;
    }
    const int fileObj = firstFree, specObj = firstFree + 1, treeObj = firstFree + 2;
    catalog.insert(2, " /Names << /EmbeddedFiles " + QByteArray::number(treeObj) + " 0 R >> /AF [" +
                          QByteArray::number(specObj) + " 0 R]");
    // PDF/A-1 allows no embedded file; PDF/A-3 does, with the relation the
    // file has to the document. A page written as PDF/A-1b says so anew.
    const std::optional<std::pair<QByteArray, QByteArray>> metadata = PdfA3Metadata(pdf, catalog);

    QByteArray out = pdf;
    if (!out.endsWith('\n'))
        out += '\n';
    QList<std::pair<int, qsizetype>> offsets;
    const QByteArray md5 = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
    offsets.append({fileObj, out.size()});
    out += QByteArray::number(fileObj) + " 0 obj\n<< /Type /EmbeddedFile /Subtype /" + NameEscaped(mime) +
           " /Params << /Size " + QByteArray::number(content.size()) + " /CheckSum <" + md5 + "> /ModDate " +
           Literal(QDateTime::currentDateTimeUtc().toString(QStringLiteral("'D:'yyyyMMddHHmmss'Z'"))) +
           " >> /Length " +
           QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream\nendobj\n";
    offsets.append({specObj, out.size()});
    out += QByteArray::number(specObj) + " 0 obj\n<< /Type /Filespec /F " + Literal(name) + " /UF " + Literal(name) +
           " /Desc (The record this document certifies) /AFRelationship /Source /EF << /F " +
           QByteArray::number(fileObj) + " 0 R >> >>\nendobj\n";
    offsets.append({treeObj, out.size()});
    out += QByteArray::number(treeObj) + " 0 obj\n<< /Names [" + Literal(name) + ' ' + QByteArray::number(specObj) +
           " 0 R] >>\nendobj\n";
    const qsizetype newRoot = out.size();
    out += rootNumber + " 0 obj\n" + catalog + "\nendobj\n";
    qsizetype newMetadata = -1;
    if (metadata) {
        newMetadata = out.size();
        out += metadata->first + " 0 obj\n" + metadata->second + "endobj\n";
    }

    const qsizetype xref = out.size();
    out += "xref\n0 1\n0000000000 65535 f \n" + rootNumber + " 1\n" + Offset10(newRoot) + " 00000 n \n";
    if (metadata)
        out += metadata->first + " 1\n" + Offset10(newMetadata) + " 00000 n \n";
    out += QByteArray::number(fileObj) + " 3\n";
    for (const auto& [number, at] : offsets)
        out += Offset10(at) + " 00000 n \n";
    // The old trailer's entries (/Info, /ID) carry over; /Size and /Prev are new.
    QByteArray entries = trailer.mid(trailer.indexOf("<<") + 2);
    entries.truncate(entries.lastIndexOf(">>"));
    QString rest = QString::fromLatin1(entries);
    rest.remove(QRegularExpression(QStringLiteral("/Size\\s+\\d+")));
    rest.remove(QRegularExpression(QStringLiteral("/Prev\\s+\\d+")));
    entries = rest.toLatin1();
    out += "trailer\n<< /Size " + QByteArray::number(treeObj + 1) + " /Prev " + prev.captured(1).toLatin1() + ' ' +
           entries.trimmed() + " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

std::optional<QByteArray> AttachedFile(const QByteArray& pdf, const QString& name)
{
    // The /Filespec dictionary names the file's stream object; the stream's
    // /Length says how much to take.
    const QRegularExpression filespecRe(QStringLiteral("/Type /Filespec /F \\(%1\\).*?/EF << /F (\\d+) 0 R")
                                            .arg(QRegularExpression::escape(name)));
    const auto filespec = filespecRe.match(QString::fromLatin1(pdf));
    if (!filespec.hasMatch())
        return std::nullopt;
    const QByteArray head = '\n' + filespec.captured(1).toLatin1() + " 0 obj";
    const qsizetype at = pdf.lastIndexOf(head);
    if (at < 0)
        return std::nullopt;
    const qsizetype streamAt = pdf.indexOf("stream\n", at);
    const QRegularExpression lengthRe(QStringLiteral("/Length (\\d+)"));
    const auto length = lengthRe.match(QString::fromLatin1(pdf.mid(at, streamAt - at)));
    if (streamAt < 0 || !length.hasMatch())
        return std::nullopt;
    const qsizetype begin = streamAt + 7;
    const qsizetype count = length.captured(1).toLongLong();
    if (count < 0 || begin + count > pdf.size())
        return std::nullopt;
    return pdf.mid(begin, count);
}
