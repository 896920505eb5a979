#include "SimProcess.h"

#include <csignal>
#include <sys/prctl.h>

#include <QDeadlineTimer>
#include <QFile>

#include <utility>

namespace {

constexpr int kStopWaitMs = 3000;
constexpr char kStateMagic[] = "VSIM";

}  // namespace

SimProcess::SimProcess(QStringList extraArgs) : extraArgs_(std::move(extraArgs))
{
    process_.setReadChannel(QProcess::StandardOutput);
    // The simulator's complaints belong in the test log.
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that aborts (a sanitizer report) must not leave its simulator
    // running and holding the test runner's output pipe.
    process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::start(int timeoutMs)
{
    if (!dir_.isValid() || isRunning())
        return false;
    QStringList args{"--link", portPath(), "--record", recordPath(), "--state", statePath()};
    args += extraArgs_;
    process_.start(QStringLiteral(BEAMDOCK_SIM_PATH), args);
    if (!process_.waitForStarted(timeoutMs))
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray out;
    while (!out.contains('\n')) {
        if (deadline.hasExpired() || process_.state() != QProcess::Running)
            return false;
        if (process_.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            out += process_.readAllStandardOutput();
    }
    return QString::fromLocal8Bit(out.left(out.indexOf('\n'))) == portPath();
}

void SimProcess::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(kStopWaitMs)) {
        process_.kill();
        process_.waitForFinished(kStopWaitMs);
    }
}

bool SimProcess::waitForExit(int timeoutMs)
{
    if (process_.state() == QProcess::NotRunning)
        return true;
    return process_.waitForFinished(timeoutMs);
}

bool SimProcess::isRunning() const
{
    return process_.state() != QProcess::NotRunning;
}

int SimProcess::exitCode() const
{
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString SimProcess::dir() const
{
    return dir_.path();
}

QString SimProcess::portPath() const
{
    return dir_.filePath(QStringLiteral("ttyVARNO"));
}

QString SimProcess::statePath() const
{
    return dir_.filePath(QStringLiteral("state.bin"));
}

QString SimProcess::recordPath() const
{
    return dir_.filePath(QStringLiteral("record.txt"));
}

QStringList SimProcess::recordedLines() const
{
    QFile file(recordPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray SimProcess::stateMemory() const
{
    QFile file(statePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.size() != kStateHeaderSize + kMemorySize || !bytes.startsWith(kStateMagic) || bytes[4] != 1 ||
        bytes[5] != 0)
        return {};
    return bytes.mid(kStateHeaderSize, kMemorySize);
}

QByteArray SimProcess::stateImage() const
{
    return stateMemory().left(kConfigImageSize);
}
