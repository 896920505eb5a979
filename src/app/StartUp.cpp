#include "StartUp.h"

#include <QDir>

#include "DeviceSettings.h"
#include "ProgramDirectory.h"

namespace {

const QString kPortOption = QStringLiteral("--port");
const QString kDirOption = QStringLiteral("--dir");

// The value of "--name VALUE" or "--name=VALUE"; empty when not given.
QString OptionValue(const QStringList& arguments, const QString& name)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == name && i + 1 < arguments.size())
            return arguments[i + 1];
        if (argument.startsWith(name + QLatin1Char('=')))
            return argument.mid(name.size() + 1);
    }
    return QString();
}

}  // namespace

QString ChoosePort(const QStringList& arguments, const QString& environmentPort, const std::string& settingsPort)
{
    const QString given = OptionValue(arguments, kPortOption);
    if (!given.isEmpty())
        return given;
    if (!environmentPort.isEmpty())
        return environmentPort;
    return QString::fromStdString(settingsPort);
}

std::string ChooseProgramDirectory(const QStringList& arguments, const QString& environmentDir)
{
    QString dir = OptionValue(arguments, kDirOption);
    if (dir.isEmpty())
        dir = environmentDir;
    if (dir.isEmpty())
        return ProgramDirectoryNow();
    return ProgramDirectory(QDir(dir).absolutePath().toStdString());
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
    SetCurrentSettings(LoadSettings(ChooseProgramDirectory(arguments, qEnvironmentVariable(startup::kDirVariable))));
    return ChoosePort(arguments, qEnvironmentVariable(startup::kPortVariable), CurrentSettings().port);
}
