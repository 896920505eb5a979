#include "StartUp.h"

#include <QDir>

#include "DeviceSettings.h"
#include "ProgramDirectory.h"

namespace {
const QString kPortOption = QStringLiteral("--port");
}

QString ChoosePort(const QStringList& arguments, const QString& environmentPort, const std::string& settingsPort)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == kPortOption && i + 1 < arguments.size())
            return arguments[i + 1];
        if (argument.startsWith(kPortOption + QLatin1Char('=')))
            return argument.mid(kPortOption.size() + 1);
    }
    if (!environmentPort.isEmpty())
        return environmentPort;
    return QString::fromStdString(settingsPort);
}

TInstanceGuard::TInstanceGuard(const QString& folder)
{
    QString dir = folder;
    if (dir.isEmpty())
        dir = qEnvironmentVariable(startup::kLockDirVariable);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    FPath = QDir(dir).filePath(startup::kInstanceName + QStringLiteral(".lock"));
}

bool TInstanceGuard::Acquire()
{
    FLock = std::make_unique<QLockFile>(FPath);
    // No age limit: a running copy may stay open for days. Only a lock whose
    // process has gone counts as stale.
    FLock->setStaleLockTime(0);
    return FLock->tryLock(0);
}

QString LoadStartUpSettings(const QStringList& arguments)
{
    SetCurrentSettings(LoadSettings(ProgramDirectoryNow()));
    return ChoosePort(arguments, qEnvironmentVariable(startup::kPortVariable), CurrentSettings().port);
}
