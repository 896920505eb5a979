#pragma once
// A file attached to a finished PDF by an incremental update: the original
// bytes stay as they are, and an appended section adds the embedded file,
// its /Filespec dictionary, an /EmbeddedFiles name tree and a new catalog
// that points at it (/Names and /AF), with a cross-reference section chained
// to the old one by /Prev. Readers list the file under the document's
// attachments. A document whose metadata claims PDF/A-1b, which forbids
// embedded files, gets that metadata again claiming PDF/A-3b, which allows
// them.
//
// Only classic cross-reference tables (what QPdfWriter writes) are handled;
// a file with a cross-reference stream is refused.
#include <QByteArray>
#include <QString>

#include <optional>

// `pdf` with `content` attached as `name` (MIME type `mime`); nothing, with
// `error`, when the PDF's trailer cannot be understood.
std::optional<QByteArray> AttachFile(const QByteArray& pdf, const QString& name, const QByteArray& mime,
                                     const QByteArray& content, QString& error);

// The content of the first attached file named `name`; nothing when the
// PDF holds none (or it cannot be read).
std::optional<QByteArray> AttachedFile(const QByteArray& pdf, const QString& name);
