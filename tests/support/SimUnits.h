#pragma once
// varnolite-sim --units N at 115200 baud in a private temporary directory,
// with its control pipe: unit K on <dir>/tty-K, its memory in <dir>/st-K.
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "ZelRecords.h"

class SimUnits {
public:
    explicit SimUnits(int units, QStringList extra = {});
    ~SimUnits();
    SimUnits(const SimUnits&) = delete;
    SimUnits& operator=(const SimUnits&) = delete;

    const std::vector<std::string>& Ports() const { return FPorts; }
    // Sends a control line ("away K", "front K [SERIAL]") and returns the
    // simulator's acknowledgement (nothing when `awaitAck` is false, for a
    // line the simulator refuses).
    QString Control(const QString& line, bool awaitAck = true);
    // The configuration image of unit K's state file (zero when unreadable).
    RZELCFG Image(int unit) const;
    // Unit K's whole 1024-byte memory (empty when unreadable).
    QByteArray Memory(int unit) const;

private:
    QString NextLine();

    QTemporaryDir FDir;
    QProcess FProcess;
    std::vector<std::string> FPorts;
};
