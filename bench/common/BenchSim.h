#pragma once
// The simulated detector for the benchmarks, and what they print about the
// machine they ran on.
#include <QProcess>
#include <QString>
#include <QStringList>

// varnolite-sim on a pseudo-terminal. It runs at a higher scheduling
// priority than the tool (nice -10, as the tests run it), as a real
// detector has a processor of its own; without the permission to raise it,
// it runs at the tool's priority and says so.
class TBenchSim {
public:
    TBenchSim() = default;
    ~TBenchSim() { Stop(); }
    TBenchSim(const TBenchSim&) = delete;
    TBenchSim& operator=(const TBenchSim&) = delete;

    // Starts the simulator with its port at `link`; waits until the link
    // exists.
    bool Start(const QString& link, const QStringList& extra);
    void Stop();
    qint64 Pid() const { return FProcess.processId(); }
    // The simulator's nice value, for the report.
    int Nice() const;

private:
    QProcess FProcess;
};

// A valid firmware image of `bytes` bytes (model 2, firmware 1.4).
bool MakeFirmwareImage(const QString& path, int bytes);

// Processor, core count, load average, kernel: printed at the top of every
// benchmark so that its figures carry the conditions they were taken in.
void PrintMachine(const char* title);
// "1.23 0.98 0.70" from /proc/loadavg.
QString LoadAverage();

// Resident memory of this process in KiB (VmRSS of /proc/self/status).
long ResidentKiB();
// CPU time of the whole process (every thread) in seconds.
double ProcessCpuSeconds();
