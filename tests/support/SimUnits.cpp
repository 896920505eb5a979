#include "SimUnits.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cstring>

#include "SimProcess.h"

SimUnits::SimUnits(int units, QStringList extra)
{
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start(QStringLiteral(BEAMDOCK_SIM_PATH),
                   QStringList{"--units", QString::number(units), "--link", FDir.filePath("tty"), "--state",
                               FDir.filePath("st"), "--control", FDir.filePath("ctl"), "--baud", "115200"} +
                       extra);
    for (int i = 0; i < units; ++i)
        FPorts.push_back(NextLine().toStdString());
}

SimUnits::~SimUnits()
{
    FProcess.terminate();
    if (!FProcess.waitForFinished(3000)) {
        FProcess.kill();
        FProcess.waitForFinished(3000);
    }
}

QString SimUnits::Control(const QString& line, bool awaitAck)
{
    QFile pipe(FDir.filePath("ctl"));
    if (!pipe.open(QIODevice::WriteOnly))
        return QString();
    pipe.write((line + QLatin1Char('\n')).toLatin1());
    pipe.close();
    return awaitAck ? NextLine() : QString();
}

QByteArray SimUnits::Memory(int unit) const
{
    QFile file(FDir.filePath(QStringLiteral("st-%1").arg(unit)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().mid(SimProcess::kStateHeaderSize, SimProcess::kMemorySize);
}

RZELCFG SimUnits::Image(int unit) const
{
    const QByteArray bytes = Memory(unit);
    RZELCFG cfg{};
    if (bytes.size() >= static_cast<int>(sizeof cfg))
        std::memcpy(&cfg, bytes.constData(), sizeof cfg);
    return cfg;
}

QString SimUnits::NextLine()
{
    const QDeadlineTimer deadline(5000);
    while (!FProcess.canReadLine() && !deadline.hasExpired())
        FProcess.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    return QString::fromLocal8Bit(FProcess.readLine()).trimmed();
}
