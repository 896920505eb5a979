#pragma once
// Writing a file whole or not at all: the bytes go to a temporary file
// beside the target, which replaces the target only once every byte is on
// disk. A write that stops part of the way (disk full, a file size limit)
// leaves the earlier file, or none, never a shortened one.
#include <QByteArray>
#include <QString>

bool WriteFileWhole(const QString& path, const QByteArray& bytes);
