#include "PgCluster.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <pwd.h>
#include <unistd.h>

namespace {

const QString kSuperuser = QStringLiteral("beamdock");
const QString kServerUser = QStringLiteral("nobody");
constexpr int kPort = 5432;
constexpr int kToolTimeoutMs = 120000;

bool RunningAsRoot()
{
    return geteuid() == 0;
}

}  // namespace

TPgCluster::TPgCluster()
{
    if (RunningAsRoot()) {
        if (const passwd* user = getpwnam(kServerUser.toLocal8Bit().constData()))
            [[maybe_unused]] const int ignored = chown(FDir.path().toLocal8Bit().constData(), user->pw_uid, user->pw_gid);
    }
}

TPgCluster::~TPgCluster()
{
    Stop();
}

QString TPgCluster::BinDir()
{
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList names = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& name : names) {
        const QString bin = versions.filePath(name + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return QString();
}

bool TPgCluster::Run(const QString& program, const QStringList& arguments, QString& error, bool asServerUser)
{
    QProcess process;
    process.setWorkingDirectory(FDir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (asServerUser && RunningAsRoot())
        process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), kServerUser, QStringLiteral("--"), program} + arguments);
    else
        process.start(program, arguments);
    if (!process.waitForFinished(kToolTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        error = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

bool TPgCluster::Start(QString& error, bool durable)
{
    const QString bin = BinDir();
    if (bin.isEmpty()) {
        error = QStringLiteral("the PostgreSQL server is not installed (./build.sh deps installs it)");
        return false;
    }
    if (!FDir.isValid()) {
        error = QStringLiteral("no temporary folder for the cluster");
        return false;
    }
    const QString data = FDir.filePath(QStringLiteral("data"));
    if (!FInitialised) {
        if (!Run(bin + QStringLiteral("/initdb"),
                 {QStringLiteral("-D"), data, QStringLiteral("-U"), kSuperuser, QStringLiteral("-A"), QStringLiteral("trust"),
                  QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("--no-sync")},
                 error))
            return false;
        FInitialised = true;
    }
    // No TCP at all: only the socket in the private folder.
    QString options = QStringLiteral("-k %1 -c listen_addresses= -p %2").arg(FDir.path()).arg(kPort);
    if (!durable)
        options += QStringLiteral(" -c fsync=off");
    if (!Run(bin + QStringLiteral("/pg_ctl"),
             {QStringLiteral("-D"), data, QStringLiteral("-l"), FDir.filePath(QStringLiteral("server.log")),
              QStringLiteral("-o"), options, QStringLiteral("-w"), QStringLiteral("start")},
             error)) {
        QFile log(FDir.filePath(QStringLiteral("server.log")));
        if (log.open(QIODevice::ReadOnly))
            error += QString::fromLocal8Bit(log.readAll());
        return false;
    }
    FRunning = true;
    return true;
}

void TPgCluster::Stop()
{
    if (!FRunning)
        return;
    QString error;
    Run(BinDir() + QStringLiteral("/pg_ctl"),
        {QStringLiteral("-D"), FDir.filePath(QStringLiteral("data")), QStringLiteral("-m"), QStringLiteral("fast"),
         QStringLiteral("-w"), QStringLiteral("stop")},
        error);
    FRunning = false;
}

bool TPgCluster::CreateDatabase(const QString& name, QString& error)
{
    return Run(BinDir() + QStringLiteral("/createdb"),
               {QStringLiteral("-h"), FDir.path(), QStringLiteral("-p"), QString::number(kPort), QStringLiteral("-U"),
                kSuperuser, name},
               error, false);
}

QString TPgCluster::Url(const QString& database) const
{
    return QStringLiteral("postgresql://%1@:%2/%3?host=%4").arg(kSuperuser).arg(kPort).arg(database, FDir.path());
}
