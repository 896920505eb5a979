#pragma once
// Writing a file whole or not at all: the bytes go to a temporary file
// beside the target, which replaces the target only once every byte is on
// disk. A write that stops part of the way (disk full, a file size limit)
// leaves the earlier file, or none, never a shortened one.
#include <QByteArray>
#include <QString>

bool WriteFileWhole(const QString& path, const QByteArray& bytes);

class QFile;

enum class OpenResult { Opened, Missing, NotRegular, Failed };

// Opens `path` for reading only when it is a regular file (after symbolic
// links). The open itself never waits: a FIFO without a writer or a device
// would otherwise hold the caller, and reading one may never end.
OpenResult OpenRegularFile(QFile& file, const QString& path);

// True when the file exists and its mode grants nobody write access: a file
// somebody made read-only on purpose, which is never rewritten (as root the
// replacement would go through and leave a writable file behind).
bool IsReadOnlyFile(const QString& path);
