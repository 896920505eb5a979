#include "BenchSim.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>

#include <sys/resource.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr int kSimNice = -10;

}  // namespace

bool TBenchSim::Start(const QString& link, const QStringList& extra)
{
    Stop();
    FProcess.setStandardOutputFile(QProcess::nullDevice());
    FProcess.setStandardErrorFile(QProcess::nullDevice());
    FProcess.setChildProcessModifier([] { ::setpriority(PRIO_PROCESS, 0, kSimNice); });
    FProcess.start(QStringLiteral(BEAMDOCK_SIM_PATH), QStringList{QStringLiteral("--link"), link} + extra);
    if (!FProcess.waitForStarted(5000))
        return false;
    // The simulator makes the link once its pseudo-terminal is ready; a
    // short kernel sleep between looks, nothing spins.
    for (int i = 0; i < 250 && !QFileInfo::exists(link); ++i)
        QThread::msleep(20);
    return QFileInfo::exists(link);
}

void TBenchSim::Stop()
{
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.terminate();
    if (!FProcess.waitForFinished(3000)) {
        FProcess.kill();
        FProcess.waitForFinished(3000);
    }
}

int TBenchSim::Nice() const
{
    const qint64 pid = FProcess.processId();
    if (pid <= 0)
        return 0;
    errno = 0;
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
}

bool MakeFirmwareImage(const QString& path, int bytes)
{
    QProcess make;
    make.start(QStringLiteral(BEAMDOCK_SIM_PATH),
               {QStringLiteral("make-image"), QStringLiteral("--out"), path, QStringLiteral("--size"),
                QString::number(bytes)});
    return make.waitForFinished(10000) && make.exitStatus() == QProcess::NormalExit && make.exitCode() == 0;
}

QString LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    const QList<QByteArray> fields = file.readAll().split(' ');
    return QString::fromLatin1(fields.value(0) + ' ' + fields.value(1) + ' ' + fields.value(2));
}

// The filesystem that holds `path` (after symbolic links), from the mount
// table: the longest mount point that contains it.
QString FilesystemOf(const QString& path)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (real.isEmpty() || !mounts.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    QString best;
    QString type = QStringLiteral("?");
    for (const QByteArray& line : mounts.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3)
            continue;
        const QString point = QString::fromLocal8Bit(fields[1]);
        const bool contains = real == point || real.startsWith(point.endsWith(QLatin1Char('/')) ? point : point + QLatin1Char('/'));
        if (contains && point.size() >= best.size()) {
            best = point;
            type = QString::fromLatin1(fields[2]);
        }
    }
    return QStringLiteral("%1 on %2").arg(real, type);
}

void PrintMachine(const char* title)
{
    QString model = QStringLiteral("?");
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : cpuinfo.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                model = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
        }
    }
    utsname names{};
    ::uname(&names);
    std::printf("%s\n", title);
    std::printf("machine: %s, %ld processors online, Linux %s, Qt %s\n", qPrintable(model),
                ::sysconf(_SC_NPROCESSORS_ONLN), names.release, qVersion());
    // Qt takes a lock file for every port it opens and syncs it to disk:
    // on tmpfs that costs nothing, on a disk it costs a flush per open.
    std::printf("serial port lock files: /var/lock -> %s\n", qPrintable(FilesystemOf(QStringLiteral("/var/lock"))));
    std::printf("load average at start: %s\n", qPrintable(LoadAverage()));
}

long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double ProcessCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
