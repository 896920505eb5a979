#pragma once
// The folder for targets that go through a file on disk (configuration
// files, firmware images, LUMBRA.INI). What these targets test is the
// reading and writing code, not the disk, yet on a disk every input costs a
// device flush: the settings are saved through QSaveFile, which syncs, and
// ext4 flushes a file that was truncated and written again when it is
// closed. That held the targets at a few hundred inputs a second. So the
// folder lies in memory (/dev/shm) where the system has such a folder, and
// in the usual temporary folder otherwise; the files, their names and the
// calls are the same either way.
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <string>

inline const QTemporaryDir& ScratchDir()
{
    static const QTemporaryDir dir([] {
        const QFileInfo memory(QStringLiteral("/dev/shm"));
        const QString base = memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath();
        return base + QStringLiteral("/beamdock-fuzz-XXXXXX");
    }());
    return dir;
}

// The path of `name` in the scratch folder.
inline std::string ScratchPath(const char* name)
{
    return ScratchDir().filePath(QString::fromLatin1(name)).toStdString();
}
