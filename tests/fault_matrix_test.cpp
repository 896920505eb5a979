// Every workflow of the tool against the simulated detector while the line
// misbehaves: replies dropped, damaged or refused, the adapter pulled at a
// random exchange, a detector that never wakes, replies split across reads
// and stray bytes ahead of a reply. One table of workflows, one of faults;
// every pair is a test of its own, seeded from the two names, and checks:
//   - the status it ended with is success or one the fault can cause;
//   - the unit's memory holds exactly what a reported success says was
//     written, and nothing else changed;
//   - it took no longer than its exchanges' time-outs and wake-ups allow;
//   - an export is complete and parseable, or absent with any earlier file
//     untouched;
//   - the process is idle afterwards, and did not spin while it waited.
// The workflows run on the window's link thread, as the window runs them.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "ConfigFile.h"
#include "Crc16.h"
#include "DataLogCsv.h"
#include "DeviceSettings.h"
#include "EepromGridModel.h"
#include "EventLogCsv.h"
#include "EventLogWorkflow.h"
#include "FactoryTestWorkflows.h"
#include "FirmwareUpgrade.h"
#include "LinkThread.h"
#include "MainWorkflows.h"
#include "RecordingChannel.h"
#include "ScriptedSensorViews.h"
#include "ScriptedView.h"
#include "SensorCalibration.h"
#include "SensorLogging.h"
#include "SimProcess.h"
#include "TestPageView.h"

namespace {

using Bytes = simwire::Bytes;
using SteadyClock = std::chrono::steady_clock;

// ---------------------------------------------------------------- faults

enum class FaultKind { Drop, Corrupt, Nak, Unplug, NeverWakes, Split, Stray };

struct RFaultCase {
    FaultKind kind;
    const char* name;
};

const RFaultCase kFaults[] = {
    {FaultKind::Drop, "DroppedReplies"},   {FaultKind::Corrupt, "CorruptedReplies"},
    {FaultKind::Nak, "Naks"},              {FaultKind::Unplug, "PortVanishes"},
    {FaultKind::NeverWakes, "NeverWakes"}, {FaultKind::Split, "SplitReplies"},
    {FaultKind::Stray, "StrayBytes"},
};

const QString kFaultRate = QStringLiteral("0.05");

QStringList FaultArgs(FaultKind kind, std::uint32_t seed, int unplugSpan)
{
    QStringList args{"--seed", QString::number(seed)};
    switch (kind) {
    case FaultKind::Drop: return args << "--drop-rate" << kFaultRate;
    case FaultKind::Corrupt: return args << "--corrupt-rate" << kFaultRate;
    case FaultKind::Nak: return args << "--nak-rate" << kFaultRate;
    case FaultKind::Unplug:
        return args << "--unplug-after" << QString::number(1 + seed % static_cast<std::uint32_t>(unplugSpan));
    case FaultKind::NeverWakes: return args << "--wake-frames" << "100000";
    case FaultKind::Split: return args << "--split-rate" << kFaultRate;
    case FaultKind::Stray: return args << "--stray-rate" << kFaultRate;
    }
    return args;
}

// The codes an exchange can end with because of the fault. A damaged or
// misread reply to a command that announces a follow-up frame (address
// header, data, life value) leaves the unit waiting for that frame while
// the tool starts over: the unit drops the partial frame after 20 ms, and
// the tool's repeat goes unanswered once (no response). A NAK where a data
// reply is awaited is a reply too short: no response when the time is up.
std::set<std::uint8_t> LinkCodesOf(FaultKind kind)
{
    switch (kind) {
    case FaultKind::Drop: return {zelstatus::kNoResponse};
    case FaultKind::Corrupt: return {zelstatus::kReplyCrc, zelstatus::kNoResponse};
    case FaultKind::Nak: return {zelstatus::kNak, zelstatus::kNoResponse};
    case FaultKind::Unplug: return {zelstatus::kChannelError};
    case FaultKind::NeverWakes: return {zelstatus::kNoWakeUp};
    case FaultKind::Split: return {};
    case FaultKind::Stray: return {zelstatus::kReplyCrc, zelstatus::kNoResponse};
    }
    return {};
}

bool SuccessPossible(FaultKind kind)
{
    return kind != FaultKind::NeverWakes;
}

// Stable across runs and compilers: the seed printed with a failure
// reproduces it. BEAMDOCK_FAULT_SALT (a number) draws another set of seeds,
// to look for trouble beyond the ones CI runs.
std::uint32_t CaseSeed(const char* workflow, const char* fault)
{
    std::uint32_t hash = 2166136261u ^ static_cast<std::uint32_t>(qEnvironmentVariableIntValue("BEAMDOCK_FAULT_SALT"));
    for (const char* p : {workflow, "/", fault})
        for (; *p; ++p)
            hash = (hash ^ static_cast<std::uint8_t>(*p)) * 16777619u;
    return hash;
}

// ------------------------------------------------------ the line's budget

constexpr double kShortTimeout = 0.1;
constexpr double kLongTimeout = 0.5;
// Per exchange beyond its time-out: the write, the 1 ms pause, the 4 ms
// pause after a firmware frame, a loaded machine's scheduling.
constexpr double kPerExchange = 0.02;
// Per run: thread hand-over, settings and file work, a slow machine.
constexpr double kFixedMargin = 3.0;

bool IsCommand(const Bytes& frame, std::uint8_t command)
{
    return frame.size() == 3 && frame[0] == command;
}

// The time-out the tool allows the reply to `frames[i]`.
double ReplyTimeout(const std::vector<Bytes>& frames, std::size_t i, bool upgradeOpen)
{
    const Bytes& frame = frames[i];
    const Bytes* previous = i > 0 ? &frames[i - 1] : nullptr;
    if (frame.size() == 3) {
        const std::uint8_t command = frame[0];
        if (command >= zelcmd::kUpgradeExecute && command <= zelcmd::kResetUnit)
            return kLongTimeout;
        if (command >= 0x40 && command <= 0x46 && previous && IsCommand(*previous, zelcmd::kSelectSensor))
            return kLongTimeout;
        return kShortTimeout;
    }
    if (upgradeOpen && previous && (IsCommand(*previous, 0x91) || IsCommand(*previous, 0x93)))
        return kLongTimeout;
    return kShortTimeout;
}

struct RWakeUp {
    double seconds = 0;
    int frames = 0;
};

std::vector<RWakeUp> WakeUpsIn(const QStringList& trace)
{
    static const QRegularExpression line(QStringLiteral("\\[CHECK TIME\\] ([0-9]+)[.,]([0-9]+) \\(([0-9]+)\\)"));
    std::vector<RWakeUp> wakeUps;
    for (const QString& text : trace) {
        const QRegularExpressionMatch m = line.match(text);
        if (m.hasMatch())
            wakeUps.push_back({(m.captured(1) + '.' + m.captured(2)).toDouble(), m.captured(3).toInt()});
    }
    return wakeUps;
}

// What the exchanges of a run allow it to take: every reply's time-out,
// every wake-up's connect time, and the pauses between.
struct RLineBudget {
    double seconds = 0;
    int exchanges = 0;
    int wakeUps = 0;
};

// `withWakeFrames`: the frames include the wake-up frames (the record of
// the line); a trace lists only the exchanges.
RLineBudget BudgetOf(const std::vector<Bytes>& frames, const std::vector<RWakeUp>& wakeUps, double connectSeconds,
                     bool withWakeFrames)
{
    RLineBudget budget;
    bool upgradeOpen = false;
    double timeouts = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        timeouts += ReplyTimeout(frames, i, upgradeOpen);
        if (IsCommand(frames[i], zelcmd::kUpgradeStart))
            upgradeOpen = true;
        if (IsCommand(frames[i], zelcmd::kKill))
            upgradeOpen = false;
    }
    // The wake-up frames are in the record too; their time is the connect time.
    int wakeFrames = 0;
    if (withWakeFrames)
        for (const RWakeUp& wake : wakeUps)
            wakeFrames += wake.frames;
    budget.exchanges = static_cast<int>(frames.size()) - wakeFrames;
    budget.wakeUps = static_cast<int>(wakeUps.size());
    budget.seconds = timeouts - wakeFrames * kShortTimeout + budget.wakeUps * (connectSeconds + kPerExchange) +
                     budget.exchanges * kPerExchange + kFixedMargin;
    return budget;
}

double CpuSeconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Seconds(SteadyClock::time_point from)
{
    return std::chrono::duration<double>(SteadyClock::now() - from).count();
}

// -------------------------------------------------------- unit's memory

QByteArray ReadWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteWholeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

constexpr int kUnitBlock = 0;
constexpr int kSensorBlock = 64;
constexpr int kIdentityAt = 0x080;
constexpr int kLogSlots = 85;
constexpr int kEventSize = sizeof(RZELEvent);

struct RRegion {
    int first;
    int size;
    bool Holds(int i) const { return i >= first && i < first + size; }
};

// Bytes the detector changes by itself: the life count it runs down (in the
// unit block and the identity), and the CRCs that close both blocks.
bool ChangedByDetector(int i)
{
    const int life = offsetof(RZELUnitCFG, mLifeRemaining);
    const int identityLife = kIdentityAt + offsetof(RZELIdenty, mLife);
    return (i >= life && i < life + 4) || (i >= identityLife && i < identityLife + 4) || i == 62 || i == 63 ||
           i == 126 || i == 127;
}

void FixBlockCrcs(QByteArray& memory)
{
    for (int block : {kUnitBlock, kSensorBlock}) {
        auto* bytes = reinterpret_cast<std::uint8_t*>(memory.data() + block);
        const std::uint16_t crc = crc16::Compute(bytes, 62);
        bytes[62] = static_cast<std::uint8_t>(crc & 0xFF);
        bytes[63] = static_cast<std::uint8_t>(crc >> 8);
    }
}

// Indices where `a` and `b` differ outside `regions` and outside what the
// detector changes by itself.
std::vector<int> DifferencesOutside(const QByteArray& a, const QByteArray& b, const std::vector<RRegion>& regions)
{
    std::vector<int> found;
    for (int i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (a[i] == b[i] || ChangedByDetector(i))
            continue;
        if (std::none_of(regions.begin(), regions.end(), [i](const RRegion& r) { return r.Holds(i); }))
            found.push_back(i);
    }
    return found;
}

bool SameInside(const QByteArray& a, const QByteArray& b, const RRegion& region)
{
    for (int i = region.first; i < region.first + region.size; ++i)
        if (!ChangedByDetector(i) && a[i] != b[i])
            return false;
    return true;
}

std::string Indices(const std::vector<int>& indices)
{
    std::ostringstream out;
    for (int i : indices)
        out << "0x" << std::hex << i << ' ';
    return out.str();
}

int EventCount(const QByteArray& memory)
{
    int count = 0;
    for (; count < kLogSlots; ++count) {
        std::uint32_t start = 0;
        std::memcpy(&start, memory.constData() + SimProcess::kLogAt + count * kEventSize, sizeof start);
        if (start == 0xFFFFFFFFu)
            break;
    }
    return count;
}

RZELEvent EventAt(const QByteArray& memory, int index)
{
    RZELEvent event{};
    std::memcpy(&event, memory.constData() + SimProcess::kLogAt + index * kEventSize, sizeof event);
    return event;
}

template <typename Block>
Block BlockAt(const QByteArray& memory, int at)
{
    Block block{};
    std::memcpy(&block, memory.constData() + at, sizeof block);
    return block;
}

std::uint32_t LifeIn(const QByteArray& memory)
{
    return BlockAt<RZELUnitCFG>(memory, kUnitBlock).mLifeRemaining;
}

const RRegion kLogArea{SimProcess::kLogAt, kLogSlots * kEventSize};
const RRegion kEventPointer{static_cast<int>(offsetof(RZELUnitCFG, mPEventLog)), 1};
const RRegion kStatusByte{SimProcess::kStatusAt, 1};
const RRegion kSensorBlockArea{kSensorBlock, 64};

// ------------------------------------------------------------- settings

const QByteArray kFactoryIni =
    "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\nAVOperate=200\r\n"
    // Write more than the defaults: unit user settings, the suspend flag,
    // serial number, battery limits and hardware version, the sensor's type,
    // gas values and temperature compensation.
    "[UNIT]\r\nUnitWriteUserSize=8\r\nUnitWriteFactoryStart=16\r\nUnitWriteFactorySize=20\r\n"
    "SensorWriteFactoryStart=86\r\nSensorWriteFactorySize=20\r\n"
    // A 2 KiB image: sixteen packets are enough to meet every fault.
    "[FLASH]\r\nPacketSize=128\r\nMaxAddress=16\r\nRetry=3\r\nDownloadRetry=3\r\n"
    "[Logging]\r\nInterval=1\r\nConnectTime=500\r\n"
    "[Calibration]\r\nCalibrationCheckTime=1\r\n"
    // An eight-second calibration limit keeps a calibration that loses its
    // unit short.
    "[SENSOR]\r\nH2S=1,ppm,H,8,0,100\r\n"
    "[SENSORCAL]\r\nH2S=300\r\n";

constexpr double kFactoryConnect = 0.5;
constexpr double kUserConnect = 3.0;
constexpr int kImageSize = 16 * 128;
constexpr std::uint8_t kImageFirmware = 14;
constexpr std::uint8_t kUnitFirmware = 13;
constexpr std::uint16_t kStoredSpanGas = 300;
constexpr double kLoggingRun = 3.0;
constexpr double kCalibrationLimit = 8.0;
constexpr double kOutputHold = 0.2;

// The first built-in or configured sensor entry is H2S, code 1: the unit's.
constexpr int kH2sItem = 0;

struct QuietFirmwareView : IFirmwareView {
    void ShowImage(const QString&, const QString&, bool) override {}
    void SetUpgradeEnabled(bool) override {}
    void SetCancelEnabled(bool) override {}
    void SetProgressMaximum(int) override {}
    void SetProgress(int) override {}
};

// ---------------------------------------------------------------- bench

struct ROutcome {
    // The status the workflow ended with, as the user was told it.
    std::optional<std::uint8_t> status;
    // Time the workflow spends by design (an output held on, a logging run,
    // a calibration), beyond its exchanges.
    double hold = 0;
    // The calibration gave up on a unit it could not reach.
    bool timedOut = false;
};

struct RWorkflowCase;

class Bench {
public:
    Bench(const RWorkflowCase& workflow, FaultKind fault, const QStringList& faultArgs);
    ~Bench() { SetCurrentSettings(LoadedSettings{}); }

    // Runs `work` on the link thread; false when it did not end in time.
    bool OnLink(const std::function<void()>& work, double limitSeconds);
    QString Path(const QString& name) const { return programDir.filePath(name); }
    QStringList Trace() const
    {
        const std::lock_guard<std::mutex> hold(traceLock);
        return trace;
    }

    const RWorkflowCase& workflow;
    FaultKind fault;
    QTemporaryDir programDir;
    std::unique_ptr<SimProcess> sim;
    TLinkThread thread;
    TRecordingChannel* channel = nullptr;
    ScriptedView view;
    std::unique_ptr<TMainWorkflows> main;
    QByteArray prepared;  // the state file the unit started from
    QByteArray before;    // its memory then
    mutable std::mutex traceLock;
    QStringList trace;
};

struct RWorkflowCase {
    const char* name;
    bool factoryMode;
    QStringList simArgs;
    // Replies a clean run gets: the port vanishes after 1 to this many.
    int unplugSpan;
    // Changes to the unit's memory before the run (nullptr: none).
    void (*prepare)(QByteArray& memory);
    ROutcome (*run)(Bench& bench);
    // The checks of what it left behind, for success and failure alike.
    void (*verify)(Bench& bench, const ROutcome& outcome, const QByteArray& after);
    // Codes the workflow turns a fault's codes into.
    std::set<std::uint8_t> (*mappedCodes)(FaultKind fault);
};

Bench::Bench(const RWorkflowCase& wf, FaultKind f, const QStringList& faultArgs) : workflow(wf), fault(f)
{
    if (wf.factoryMode)
        WriteWholeFile(Path(QStringLiteral("LUMBRA.INI")), kFactoryIni);
    sim = std::make_unique<SimProcess>(wf.simArgs + faultArgs);
    sim->captureConsole();
    SetCurrentSettings(LoadSettings(programDir.path().toStdString() + "/"));

    auto recording = TRecordingChannel::OverSerialPort();
    channel = recording.get();
    thread.Link().SetChannel(std::move(recording));
    thread.Link().SetDefPort(sim->portPath().toStdString());
    main = std::make_unique<TMainWorkflows>(view, thread.Link(), CurrentSettings());
    main->FormCreate();
    // Every trace line also reaches the memo, as with tracing on.
    thread.Link().SetOnZELEvent([this](TComZEL*, const QDateTime& now, const QString& log) {
        {
            const std::lock_guard<std::mutex> hold(traceLock);
            trace << log;
        }
        main->CommTrace(now, log);
    });
    view.ClearRecord();
}

bool Bench::OnLink(const std::function<void()>& work, double limitSeconds)
{
    if (!thread.Run(work))
        return false;
    const auto start = SteadyClock::now();
    while (thread.Busy()) {
        if (Seconds(start) > limitSeconds)
            return false;
        // The simulator's console is read on this thread.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        simwire::SleepMs(5);
    }
    return true;
}

// Starts the unit once so that its memory is on file, lets `change` edit
// it, and puts it back with both block CRCs right.
bool PrepareUnit(SimProcess& sim, void (*change)(QByteArray&), QByteArray& stateFile)
{
    if (!sim.start())
        return false;
    sim.stop();
    stateFile = ReadWholeFile(sim.statePath());
    if (stateFile.size() != SimProcess::kStateHeaderSize + SimProcess::kMemorySize)
        return false;
    if (change) {
        QByteArray memory = stateFile.mid(SimProcess::kStateHeaderSize, SimProcess::kMemorySize);
        change(memory);
        FixBlockCrcs(memory);
        stateFile.replace(SimProcess::kStateHeaderSize, SimProcess::kMemorySize, memory);
        if (!WriteWholeFile(sim.statePath(), stateFile))
            return false;
    }
    return true;
}

// The memory a fault-free unit that started from `stateFile` has after the
// given frames, each answered by a status reply.
QByteArray ReferenceUnit(const QByteArray& stateFile, const std::vector<Bytes>& frames)
{
    SimProcess reference;
    if (!WriteWholeFile(reference.statePath(), stateFile) || !reference.start())
        return {};
    {
        SimPort port(reference.portPath());
        if (!port.ok() || port.Status(simwire::Cmd(zelcmd::kCheck)) != simwire::kAck)
            return {};
        for (const Bytes& frame : frames)
            if (port.Status(frame) != simwire::kAck)
                return {};
    }
    reference.stop();
    return reference.stateMemory();
}

int ConsoleCount(Bench& bench, const QString& text)
{
    return static_cast<int>(bench.sim->console().count(text));
}

// ------------------------------------------------------ common checks

void ExpectMemoryUnchanged(const QByteArray& before, const QByteArray& after)
{
    const std::vector<int> changed = DifferencesOutside(before, after, {});
    EXPECT_TRUE(changed.empty()) << "changed in the unit: " << Indices(changed);
}

void ExpectNoneReceivedAfter(Bench& bench, const QString& last, const QString& forbidden)
{
    const QStringList lines = bench.sim->recordedLines();
    int at = -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(QStringLiteral("RX ") + last))
            at = i;
    ASSERT_GE(at, 0) << "never received " << last.toStdString();
    for (int i = at + 1; i < lines.size(); ++i)
        EXPECT_FALSE(lines[i].startsWith(QStringLiteral("RX ") + forbidden)) << lines[i].toStdString();
}

std::set<std::uint8_t> NoMappedCodes(FaultKind)
{
    return {};
}

// ----------------------------------------------------- Read Device

ROutcome RunReadDevice(Bench& bench)
{
    bench.OnLink([&] { bench.main->UserReadDeviceBtnClick(); }, 60);
    return {bench.main->LastResult()};
}

void VerifyReadDevice(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
    const QByteArray shown(reinterpret_cast<const char*>(&bench.main->CurrentConfig()), sizeof(RZELCFG));
    if (outcome.status == 0) {
        EXPECT_TRUE(DifferencesOutside(shown, after.left(sizeof(RZELCFG)), {}).empty())
            << "the configuration shown is the unit's";
        EXPECT_EQ(bench.view.form.opt.serial, QStringLiteral("SH10000123"));
    } else {
        const RZELCFG untouched = DefaultConfig();
        EXPECT_EQ(shown, QByteArray(reinterpret_cast<const char*>(&untouched), sizeof untouched))
            << "a failed read leaves the window's configuration alone";
    }
}

// ---------------------------------------------------- Write Device

// What was written of `ranges` (in the order written) and, when `life` is
// given, the life count after them: a prefix of the order, each range
// whole. A range whose bytes the write did not change counts either way.
void ExpectWrittenPrefix(const QByteArray& before, const QByteArray& after, const RZELCFG& sent,
                         const std::vector<RRegion>& ranges, bool succeeded, std::vector<RRegion> mayChange = {})
{
    if (mayChange.empty())
        mayChange = ranges;
    const QByteArray intended(reinterpret_cast<const char*>(&sent), sizeof sent);
    bool stillWritten = true;
    for (const RRegion& range : ranges) {
        const bool isNew = SameInside(after, intended, range);
        const bool isOld = SameInside(after, before, range);
        EXPECT_TRUE(isNew || isOld) << "range at " << range.first << " half written";
        if (succeeded) {
            EXPECT_TRUE(isNew) << "range at " << range.first << " not written";
        }
        if (!stillWritten) {
            EXPECT_TRUE(isOld) << "range at " << range.first << " written after an earlier one failed";
        }
        if (!isNew)
            stillWritten = false;
    }
    const std::vector<int> outside = DifferencesOutside(before, after, mayChange);
    EXPECT_TRUE(outside.empty()) << "written outside the ranges: " << Indices(outside);
}

void EditUserForm(RConfigControls& edit)
{
    edit.sensorItem = kH2sItem;
    edit.alarmHigh = 20.0;
    edit.alarmLow = 12.5;
    edit.userID = QStringLiteral("FLT-07");
    edit.testIntervalHours = 12;
    edit.calIntervalDays = 30;
    edit.bumpIntervalDays = 7;
    edit.displayItem = static_cast<int>(DisplayItem::SensorOnly);
    edit.hideBumpLed = true;
}

ROutcome RunWriteDeviceUser(Bench& bench)
{
    EditUserForm(bench.view.form.user);
    bench.OnLink([&] { bench.main->UserWriteDeviceBtnClick(); }, 60);
    return {bench.main->LastResult()};
}

void VerifyWriteDeviceUser(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectWrittenPrefix(bench.before, after, bench.main->CurrentConfig(), {{0, 8}, {64, 10}}, outcome.status == 0);
}

constexpr std::uint32_t kEnteredLife = 10 * 2628000u + 5 * 86400u - 1;

ROutcome RunWriteDeviceFactory(Bench& bench)
{
    RConfigControls& edit = bench.view.form.opt;
    EditUserForm(edit);
    edit.serial = QStringLiteral("FM00000042");
    edit.hwVersion = QStringLiteral("3");
    edit.lifeMonths = 10;
    edit.lifeDays = 5;
    RFactoryControls& factory = bench.view.form.factory;
    factory.hibernateItem = 1;
    factory.batteryCold = 640;
    factory.batteryWarm = 620;
    factory.batteryStartup = 600;
    factory.batteryCritical = 590;
    factory.spanGas = 50.0;
    factory.sensorMax = 100.0;
    factory.deadZone = 1.5;
    factory.tempComp = {-1, 2, -3};
    bench.OnLink([&] { bench.main->UserWriteDeviceBtnClick(); }, 60);
    return {bench.main->LastResult()};
}

// The unit reports its hardware version and serial number in its identity
// too: a factory write of them shows there as well.
const RRegion kIdentityHardware{kIdentityAt + static_cast<int>(offsetof(RZELIdenty, mHW)), 1};
const RRegion kIdentitySerial{kIdentityAt + static_cast<int>(offsetof(RZELIdenty, mSerial)), 10};

void VerifyWriteDeviceFactory(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    const bool succeeded = outcome.status == 0;
    // In the order they are written: unit factory, unit user, sensor
    // factory, sensor user; then the life count with its own command.
    const std::vector<RRegion> ranges{{15, 20}, {0, 8}, {85, 20}, {64, 10}};
    std::vector<RRegion> mirrored = ranges;
    mirrored.push_back(kIdentityHardware);
    mirrored.push_back(kIdentitySerial);
    ExpectWrittenPrefix(bench.before, after, bench.main->CurrentConfig(), ranges, succeeded, mirrored);
    const auto unit = BlockAt<RZELUnitCFG>(after, kUnitBlock);
    const auto identity = BlockAt<RZELIdenty>(after, kIdentityAt);
    EXPECT_EQ(std::string(unit.mSerial, 10), std::string(identity.mSerial, 10));
    EXPECT_EQ(unit.mHWVersion, identity.mHW);
    // A copy: the record is packed, and a reference to its field would be misaligned.
    const uint32_t enteredLife = bench.main->CurrentConfig().mUnit.mLifeRemaining;
    EXPECT_EQ(enteredLife, kEnteredLife);
    const bool lifeWritten = LifeIn(after) <= kEnteredLife;
    if (succeeded) {
        EXPECT_TRUE(lifeWritten);
        EXPECT_GE(LifeIn(after), kEnteredLife - 60) << "the unit counts down from the value written";
    }
    if (lifeWritten) {
        const QByteArray intended(reinterpret_cast<const char*>(&bench.main->CurrentConfig()), sizeof(RZELCFG));
        for (const RRegion& range : ranges)
            EXPECT_TRUE(SameInside(after, intended, range)) << "life written before range " << range.first;
    } else {
        EXPECT_GE(LifeIn(after) + 60, LifeIn(bench.before)) << "life neither kept nor written";
    }
}

// ------------------------------------------------------- Hibernate

void AllowSuspend(QByteArray& memory)
{
    memory[static_cast<int>(offsetof(RZELUnitCFG, mAllowSuspend))] = static_cast<char>(zel::kSuspendAllowed);
}

ROutcome RunHibernate(Bench& bench)
{
    bench.view.yesNoAnswers = {true};
    bench.OnLink([&] { bench.main->UserOptHibernateBtnClick(); }, 60);
    return {bench.main->LastResult()};
}

void VerifyHibernate(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
    EXPECT_LE(bench.view.questions.size(), 1u);
    if (outcome.status == 0) {
        ASSERT_EQ(bench.view.questions.size(), 1u);
        // A hibernating unit no longer listens: nothing follows the command.
        ExpectNoneReceivedAfter(bench, QStringLiteral("17"), QStringLiteral("B3"));
    }
}

// -------------------------------------------------- Save Event Log

const QDateTime kReference(QDate(2024, 6, 3), QTime(14, 5, 9));
const QByteArray kPreviousFile = "an earlier export, to be kept unless replaced whole\r\n";

ROutcome RunSaveEventLog(Bench& bench)
{
    const QString path = bench.Path(QStringLiteral("EVENT/SH10000123_LOG.CSV"));
    QDir().mkpath(bench.Path(QStringLiteral("EVENT")));
    WriteWholeFile(path, kPreviousFile);
    bench.view.saveFileAnswers = {path};
    TEventLogWorkflow events(*bench.main, [] { return kReference; });
    bench.OnLink([&] { events.UserLogSaveBtnClick(); }, 60);
    return {bench.main->LastResult()};
}

void VerifySaveEventLog(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
    const QByteArray file = ReadWholeFile(bench.Path(QStringLiteral("EVENT/SH10000123_LOG.CSV")));
    if (outcome.status != 0) {
        EXPECT_EQ(file, kPreviousFile) << "a failed download leaves the earlier file alone";
        return;
    }
    // The unit's own log, as the export writes it, byte for byte.
    RComZELReadBuf log;
    log.mData = kLogSlots * kEventSize;
    std::memcpy(log.mBuf, after.constData() + SimProcess::kLogAt, static_cast<std::size_t>(log.mData));
    ASSERT_GT(EventCount(after), 0);
    EXPECT_EQ(file, eventlog::EventLogCsv(log, kEventSize, bench.main->CurrentConfig().mUnit, kReference));
}

// ------------------------------------------------------- Log Reset

ROutcome RunLogReset(Bench& bench)
{
    TEventLogWorkflow events(*bench.main);
    bench.OnLink([&] { events.UserLogResetBtnClick(); }, 60);
    return {bench.main->LastResult()};
}

void VerifyLogReset(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    const std::vector<int> outside = DifferencesOutside(bench.before, after, {kLogArea, kEventPointer});
    EXPECT_TRUE(outside.empty()) << "changed besides the log: " << Indices(outside);
    ASSERT_GT(EventCount(bench.before), 0);
    if (outcome.status == 0)
        EXPECT_EQ(EventCount(after), 0);
    else
        EXPECT_TRUE(EventCount(after) == 0 || DifferencesOutside(bench.before, after, {}).empty()) << "log neither kept nor cleared";
}

// ------------------------------------------------ Upgrade Firmware

const RRegion kIdentityFirmware{kIdentityAt + static_cast<int>(offsetof(RZELIdenty, mSW)), 1};
const RRegion kUnitFirmwareByte{static_cast<int>(offsetof(RZELUnitCFG, mFWVersion)), 1};

std::set<std::uint8_t> FirmwareCodes(FaultKind fault)
{
    // Whatever keeps the unit's answer to 0x11 from arriving is a failed
    // validation to the user: the image did not make it.
    if (fault == FaultKind::Drop || fault == FaultKind::Corrupt || fault == FaultKind::Nak ||
        fault == FaultKind::Stray)
        return {fwstatus::kValidationFailed};
    return {};
}

ROutcome RunUpgradeFirmware(Bench& bench)
{
    const QString image = bench.Path(QStringLiteral("IMG/fault.img"));
    QDir().mkpath(bench.Path(QStringLiteral("IMG")));
    QProcess make;
    make.start(QStringLiteral(BEAMDOCK_SIM_PATH), {"make-image", "--out", image, "--size", QString::number(kImageSize),
                                                    "--fw", QString::number(kImageFirmware)});
    EXPECT_TRUE(make.waitForFinished(10000) && make.exitCode() == 0) << "no image made";
    QuietFirmwareView panels;
    TFirmwareUpgrade upgrade(*bench.main, panels);
    EXPECT_EQ(upgrade.LoadUpgradeFile(image, true), fwstatus::kOK);
    bench.OnLink([&] { upgrade.UserFMUpgradeBtnClick(); }, 300);
    return {bench.main->LastResult()};
}

void VerifyUpgradeFirmware(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    const std::vector<int> outside = DifferencesOutside(bench.before, after, {kIdentityFirmware, kUnitFirmwareByte});
    EXPECT_TRUE(outside.empty()) << "changed besides the firmware version: " << Indices(outside);
    const auto identity = static_cast<std::uint8_t>(after[kIdentityFirmware.first]);
    const auto unit = static_cast<std::uint8_t>(after[kUnitFirmwareByte.first]);
    EXPECT_EQ(identity, unit) << "identity and unit block disagree";
    if (outcome.status == 0)
        EXPECT_EQ(identity, kImageFirmware) << "a successful upgrade leaves the image's firmware";
    else
        EXPECT_TRUE(identity == kUnitFirmware || identity == kImageFirmware);
}

// ------------------------------------- Factory Options and TEST page

// The factory and TEST commands with their page.
struct FactoryPage {
    explicit FactoryPage(Bench& bench) : page(grid), commands(*bench.main, page)
    {
        QStringList rows;
        for (const std::string& text : EepromGridStartTexts(CurrentSettings().cfg))
            rows << QString::fromStdString(text);
        grid.Prepare(rows);
    }
    TEepromGridModel grid;
    TModelTestPageView page;
    TFactoryTestWorkflows commands;
};

ROutcome RunFactory(Bench& bench, FactoryHandler handler, int tag, double hold = 0)
{
    FactoryPage page(bench);
    bench.OnLink([&] { page.commands.Run(handler, tag); }, 60);
    ROutcome outcome{page.commands.LastStatus()};
    outcome.hold = hold;
    return outcome;
}

ROutcome RunCalibrationCommand(Bench& bench)
{
    return RunFactory(bench, FactoryHandler::FatoryOptCal, 0);
}

const QString kCalibrationRunning = QStringLiteral("zero and span calibration running");

void VerifyCalibrationCommand(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
    if (outcome.status == 0) {
        EXPECT_TRUE(bench.sim->waitForConsole(kCalibrationRunning, 2000));
    }
    EXPECT_LE(ConsoleCount(bench, kCalibrationRunning), 1) << "the start command is sent once";
}

void MarkCalibrated(QByteArray& memory)
{
    memory[SimProcess::kStatusAt] = 0x01;
}

ROutcome RunTurnOff(Bench& bench)
{
    return RunFactory(bench, FactoryHandler::FatoryOptTurnOff, 0);
}

const QString kSwitchedOff = QStringLiteral("unit switched off");

void VerifyTurnOff(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
    if (outcome.status == 0) {
        EXPECT_TRUE(bench.sim->waitForConsole(kSwitchedOff, 2000));
        // The unit switching off gets no end-of-connection command.
        ExpectNoneReceivedAfter(bench, QStringLiteral("14"), QStringLiteral("B3"));
    }
    EXPECT_LE(ConsoleCount(bench, kSwitchedOff), 1);
}

void ChangeUserSettings(QByteArray& memory)
{
    std::memcpy(memory.data() + offsetof(RZELUnitCFG, mUserID), "FAULTS", 6);
    const std::uint16_t alarmHigh = 333;
    std::memcpy(memory.data() + kSensorBlock + offsetof(RZELSensorCFG, mAlarmHigh), &alarmHigh, sizeof alarmHigh);
}

ROutcome RunFactoryReset(Bench& bench)
{
    return RunFactory(bench, FactoryHandler::EtcFactoryReset, 0);
}

void VerifyFactoryReset(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    const QByteArray reset = ReferenceUnit(bench.prepared, {simwire::Cmd(zelcmd::kFactoryReset)});
    ASSERT_EQ(reset.size(), SimProcess::kMemorySize) << "no reference unit";
    ASSERT_FALSE(DifferencesOutside(bench.before, reset, {}).empty()) << "the reset must change something";
    const bool isReset = DifferencesOutside(reset, after, {}).empty();
    if (outcome.status == 0)
        EXPECT_TRUE(isReset) << "differs from a reset unit: " << Indices(DifferencesOutside(reset, after, {}));
    else
        EXPECT_TRUE(isReset || DifferencesOutside(bench.before, after, {}).empty()) << "neither kept nor reset";
}

ROutcome RunIdentify(Bench& bench)
{
    return RunFactory(bench, FactoryHandler::EtcIdentify, 0);
}

void VerifyIdentify(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
    int boxes = 0;
    for (const ShownMessage& message : bench.view.messages)
        if (message.caption == QStringLiteral("Varnolite Identify")) {
            ++boxes;
            EXPECT_TRUE(message.text.endsWith(QStringLiteral("Serial Number = SH10000123"))) << message.text.toStdString();
        }
    EXPECT_EQ(boxes, outcome.status == 0 ? 1 : 0) << "the identity box only on success";
}

ROutcome RunBeep(Bench& bench)
{
    return RunFactory(bench, FactoryHandler::EtcBeepON, 1, kOutputHold);
}

void VerifyBeep(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
    // The outputs report nothing, whatever happens.
    EXPECT_TRUE(bench.view.statuses.empty());
    EXPECT_TRUE(bench.view.messages.empty());
    const QString on = QStringLiteral("buzzer on");
    if (outcome.status == 0) {
        EXPECT_TRUE(bench.sim->waitForConsole(on, 2000));
    }
    EXPECT_LE(ConsoleCount(bench, on), 1);
}

ROutcome RunClearPeak(Bench& bench)
{
    return RunFactory(bench, FactoryHandler::EtcClearPeak, 1);
}

void VerifyClearPeak(Bench& bench, const ROutcome&, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
}

// A bump test result adds one event and sets the unit's bump status; a
// passed one also restarts the bump interval.
void VerifyBump(Bench& bench, const ROutcome& outcome, const QByteArray& after, bool passed)
{
    const RRegion lastBump{kSensorBlock + static_cast<int>(offsetof(RZELSensorCFG, mLastBump)), 4};
    const std::vector<int> outside =
        DifferencesOutside(bench.before, after, {kLogArea, kEventPointer, kStatusByte, lastBump});
    EXPECT_TRUE(outside.empty()) << "changed besides the bump records: " << Indices(outside);
    const int added = EventCount(after) - EventCount(bench.before);
    EXPECT_TRUE(added == 0 || added == 1) << added << " events added: the command is sent once";
    if (outcome.status == 0) {
        EXPECT_EQ(added, 1);
    }
    if (added == 1) {
        const RZELEvent bump = EventAt(after, EventCount(after) - 1);
        EXPECT_NE(bump.mDurationEvent & 0x8000, 0) << "recorded as a bump test";
        EXPECT_EQ((static_cast<std::uint8_t>(after[SimProcess::kStatusAt]) & 0x10) != 0, !passed);
    }
}

ROutcome RunBumpPass(Bench& bench)
{
    return RunFactory(bench, FactoryHandler::EtcClearPeak, 3);
}

void VerifyBumpPass(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    VerifyBump(bench, outcome, after, true);
}

ROutcome RunBumpFail(Bench& bench)
{
    return RunFactory(bench, FactoryHandler::EtcClearPeak, 2);
}

void VerifyBumpFail(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    VerifyBump(bench, outcome, after, false);
}

// The grid after the last EEPROM read, kept for its check.
EepromGridTexts gLastGrid;

ROutcome RunEepromRead(Bench& bench)
{
    FactoryPage page(bench);
    bench.OnLink([&] { page.commands.EtcEEPROMReadBtnClick(); }, 60);
    gLastGrid = page.grid.Texts();
    return {page.commands.LastStatus()};
}

void VerifyEepromRead(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
    ASSERT_EQ(gLastGrid.size(), 64u);
    // The last packet of the range is never asked for: its rows show FF.
    for (int row = 0; row < 64; ++row)
        for (int column = 1; column <= kEepromBytesPerRow; ++column) {
            const int at = row * kEepromBytesPerRow + column - 1;
            const bool fromUnit = outcome.status == 0 && row < 62;
            const QString expected =
                fromUnit ? EepromByteText(static_cast<std::uint8_t>(bench.before[at])) : QStringLiteral("FF");
            if (fromUnit && ChangedByDetector(at))
                continue;
            EXPECT_EQ(gLastGrid[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)], expected)
                << "row " << row << " column " << column;
        }
}

// --------------------------------------------------- the calibration

const RRegion kSpanGas{kSpanGasAddress, kSpanGasSize};

// The record the main window hands the dialog after its read.
RZELCFG UnitForTheDialog()
{
    RZELCFG cfg = DefaultConfig();
    cfg.mSensor.mSensorType = 1;
    return cfg;
}

struct CalibrationDialog {
    explicit CalibrationDialog(Bench& bench) : view(&clock), run(view, bench.thread.Link(), CurrentSettings(), clock, requests) {}
    TSystemClock clock;
    TSensorCalRequests requests;
    ScriptedSensorCalView view;
    TSensorCalWorkflow run;
};

std::vector<ShownMessage> gCalibrationBoxes;
CalOutcome gCalibrationOutcome = CalOutcome::None;

ROutcome RunCalibrationPrepare(Bench& bench)
{
    CalibrationDialog dialog(bench);
    bool prepared = false;
    bench.OnLink(
        [&] {
            if (dialog.run.ShowDlg(UnitForTheDialog()))
                prepared = dialog.run.PrepareCalibration(kStoredSpanGas / 10.0);
        },
        60);
    gCalibrationBoxes = dialog.view.messages;
    ROutcome outcome{dialog.run.OutcomeStatus()};
    EXPECT_EQ(prepared, outcome.status == 0);
    return outcome;
}

void VerifyCalibrationPrepare(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    const std::vector<int> outside = DifferencesOutside(bench.before, after, {kSpanGas});
    EXPECT_TRUE(outside.empty()) << "changed besides the span gas: " << Indices(outside);
    const auto span = BlockAt<RZELSensorCFG>(after, kSensorBlock).mSpanGas;
    const auto spanBefore = BlockAt<RZELSensorCFG>(bench.before, kSensorBlock).mSpanGas;
    ASSERT_NE(spanBefore, kStoredSpanGas) << "the unit must need the stored value";
    if (outcome.status == 0) {
        EXPECT_EQ(span, kStoredSpanGas);
        EXPECT_TRUE(gCalibrationBoxes.empty());
    } else {
        EXPECT_TRUE(span == spanBefore || span == kStoredSpanGas);
        ASSERT_EQ(gCalibrationBoxes.size(), 1u);
        EXPECT_EQ(gCalibrationBoxes[0].caption, caltext::kReadCaption);
    }
}

ROutcome RunShortCalibration(Bench& bench)
{
    CalibrationDialog dialog(bench);
    bench.OnLink(
        [&] {
            if (dialog.run.ShowDlg(UnitForTheDialog()))
                dialog.run.CalBtnClick(kStoredSpanGas / 10.0);
        },
        120);
    gCalibrationOutcome = dialog.run.Outcome();
    gCalibrationBoxes = dialog.view.messages;
    ROutcome outcome;
    outcome.hold = kCalibrationLimit;
    switch (gCalibrationOutcome) {
    case CalOutcome::Ok: outcome.status = 0; break;
    case CalOutcome::NotStarted:
    case CalOutcome::ConnectFailed:
    case CalOutcome::StartFailed: outcome.status = dialog.run.OutcomeStatus(); break;
    case CalOutcome::TimeOut: outcome.timedOut = true; break;
    default: ADD_FAILURE() << "calibration ended as " << static_cast<int>(gCalibrationOutcome); break;
    }
    return outcome;
}

void VerifyShortCalibration(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    // A calibration changes the sensor block's calibration fields and marks
    // the unit calibrated; the span gas value was written before it.
    const std::vector<int> outside = DifferencesOutside(bench.before, after, {kSensorBlockArea, kStatusByte});
    EXPECT_TRUE(outside.empty()) << "changed besides the calibration: " << Indices(outside);
    const auto sensor = BlockAt<RZELSensorCFG>(after, kSensorBlock);
    const auto sensorBefore = BlockAt<RZELSensorCFG>(bench.before, kSensorBlock);
    if (outcome.status == 0) {
        EXPECT_EQ(sensor.mSpanGas, kStoredSpanGas);
        EXPECT_NE(sensor.mLastCal, sensorBefore.mLastCal) << "the unit calibrated";
        EXPECT_EQ(static_cast<std::uint8_t>(after[SimProcess::kStatusAt]) & 0x01, 0x01);
        EXPECT_TRUE(gCalibrationBoxes.empty());
    }
    if (outcome.timedOut) {
        EXPECT_EQ(bench.fault, FaultKind::Unplug) << "only a unit out of reach runs out the time";
    }
    if (sensor.mLastCal != sensorBefore.mLastCal) {
        EXPECT_EQ(sensor.mSpanGas, kStoredSpanGas) << "calibrated against another span gas value";
    }
}

// ------------------------------------------------------ logging run

struct LoggingDialog {
    explicit LoggingDialog(Bench& bench) : view(&clock), run(view, bench.thread.Link(), CurrentSettings(), clock, requests) {}
    TSystemClock clock;
    TSensorLogRequests requests;
    ScriptedSensorLogView view;
    TSensorLogWorkflow run;
};

struct RLoggingSeen {
    std::size_t readings = 0;
    bool asked = false;
    std::vector<ShownMessage> boxes;
    int lost = 0;
};
RLoggingSeen gLogging;

const QString kDataLogName = QStringLiteral("DAT/SH10000123_DAT.CSV");

ROutcome RunLogging(Bench& bench)
{
    LoggingDialog dialog(bench);
    dialog.view.saveFileAnswers = {bench.Path(kDataLogName)};
    std::atomic<bool> ended{false};
    std::thread stopper([&] {
        const auto until = SteadyClock::now() + std::chrono::duration<double>(kLoggingRun);
        while (!ended && SteadyClock::now() < until)
            simwire::SleepMs(10);
        dialog.requests.Stop();
    });
    bench.OnLink([&] { dialog.run.StartBtnClick(); }, 60);
    ended = true;
    stopper.join();
    gLogging = {dialog.view.readings.size(), !dialog.view.fileRequests.empty(), dialog.view.messages,
                dialog.run.LostRecords()};
    ROutcome outcome{dialog.run.EndStatus()};
    outcome.hold = kLoggingRun;
    return outcome;
}

void VerifyLogging(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
    const QByteArray file = ReadWholeFile(bench.Path(kDataLogName));
    EXPECT_EQ(gLogging.lost, 0);
    if (!gLogging.asked) {
        // The unit could not be read at the start: no run, no file.
        EXPECT_NE(outcome.status, 0);
        ASSERT_EQ(gLogging.boxes.size(), 1u);
        EXPECT_EQ(gLogging.boxes[0].caption, logtext::kUnitInfoCaption);
        EXPECT_TRUE(file.isEmpty());
        return;
    }
    if (outcome.status == 0) {
        EXPECT_TRUE(gLogging.boxes.empty()) << "line faults during a run are waited out";
        EXPECT_GE(gLogging.readings, 1u);
    } else {
        EXPECT_TRUE(IsAdapterFailure(*outcome.status));
        ASSERT_EQ(gLogging.boxes.size(), 1u);
        EXPECT_EQ(gLogging.boxes[0].caption, logtext::kBeamdockCaption);
    }
    // Header, then every reading shown as one whole record and an empty line.
    const RZELUnitCFG unit = BlockAt<RZELUnitCFG>(after, kUnitBlock);
    EXPECT_TRUE(file.startsWith(DataLogHeader(unit).left(60))) << file.left(200).toStdString();
    const QList<QByteArray> records = file.mid(file.indexOf("Temperature ADC\r\n") + 17).split('\n');
    int complete = 0;
    for (const QByteArray& line : records) {
        if (line.isEmpty() || line == "\r")
            continue;
        EXPECT_EQ(line.count(','), 14) << line.toStdString();
        EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
        ++complete;
    }
    EXPECT_EQ(complete, static_cast<int>(gLogging.readings));
    EXPECT_TRUE(file.endsWith("\r\n") || gLogging.readings == 0);
}

// ------------------------------------------- the command line's read

struct RCliRun {
    int exitCode = -1;
    QString err;
    double seconds = 0;
    double cpu = 0;
};
RCliRun gCli;

const QByteArray kPreviousCfg = "an earlier configuration file\r\n";

ROutcome RunCliRead(Bench& bench)
{
    const QString saved = bench.Path(QStringLiteral("Configure/unit.cfg"));
    QDir().mkpath(bench.Path(QStringLiteral("Configure")));
    WriteWholeFile(saved, kPreviousCfg);
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("BEAMDOCK_PORT"));
    env.remove(QStringLiteral("BEAMDOCK_DIR"));
    cli.setProcessEnvironment(env);
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = SteadyClock::now();
    cli.start(QStringLiteral(BEAMDOCK_CLI_PATH),
              {"--port", bench.sim->portPath(), "--dir", bench.programDir.path(), "--trace", "read", "--save", saved});
    cli.closeWriteChannel();
    const bool finished = cli.waitForFinished(60000);
    gCli.seconds = Seconds(start);
    EXPECT_TRUE(finished) << "the command line did not end";
    gCli.cpu = CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    gCli.exitCode = finished && cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    gCli.err = QString::fromLatin1(cli.readAllStandardError());
    ROutcome outcome;
    if (gCli.exitCode >= 0 && gCli.exitCode <= 255)
        outcome.status = static_cast<std::uint8_t>(gCli.exitCode);
    return outcome;
}

void VerifyCliRead(Bench& bench, const ROutcome& outcome, const QByteArray& after)
{
    ExpectMemoryUnchanged(bench.before, after);
    const QString saved = bench.Path(QStringLiteral("Configure/unit.cfg"));
    if (outcome.status != 0) {
        EXPECT_EQ(ReadWholeFile(saved), kPreviousCfg) << "a failed read writes no file";
    } else {
        RZELCFG loaded{};
        ASSERT_EQ(ReadConfigFile(saved.toStdString(), DefaultConfig(), loaded), ConfigFileResult::Ok);
        EXPECT_EQ(std::string(loaded.mUnit.mSerial, 10), "SH10000123");
    }
    // Its own budget: the frames its trace shows and its wake-ups.
    std::vector<Bytes> frames;
    static const QRegularExpression send(QStringLiteral("\\[SEND\\] ((?:[0-9A-F]{2} )+)"));
    const QStringList lines = gCli.err.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QRegularExpressionMatch m = send.match(line);
        if (m.hasMatch())
            frames.push_back(simwire::ToBytes(QByteArray::fromHex(m.captured(1).toLatin1())));
    }
    const RLineBudget budget = BudgetOf(frames, WakeUpsIn(lines), kFactoryConnect, false);
    EXPECT_LE(gCli.seconds, budget.seconds) << budget.exchanges << " exchanges, " << budget.wakeUps << " wake-ups";
    // It waits in the kernel, not on the processor.
    EXPECT_LE(gCli.cpu, 0.5 * gCli.seconds + 0.5) << "cpu " << gCli.cpu << " s of " << gCli.seconds << " s";
}

// ------------------------------------------------------------ matrix

const RWorkflowCase kWorkflows[] = {
    {"ReadDevice", true, {}, 9, nullptr, RunReadDevice, VerifyReadDevice, NoMappedCodes},
    {"WriteDeviceUser", false, {}, 11, nullptr, RunWriteDeviceUser, VerifyWriteDeviceUser, NoMappedCodes},
    {"WriteDeviceFactory", true, {}, 19, nullptr, RunWriteDeviceFactory, VerifyWriteDeviceFactory, NoMappedCodes},
    {"Hibernate", true, {}, 11, AllowSuspend, RunHibernate, VerifyHibernate, NoMappedCodes},
    {"SaveEventLog", true, {}, 14, nullptr, RunSaveEventLog, VerifySaveEventLog, NoMappedCodes},
    {"LogReset", true, {}, 4, nullptr, RunLogReset, VerifyLogReset, NoMappedCodes},
    {"UpgradeFirmware", true, {"--fw-image-size", QString::number(kImageSize)}, 40, nullptr, RunUpgradeFirmware,
     VerifyUpgradeFirmware, FirmwareCodes},
    {"FactoryCalibration", true, {"--cal-seconds", "600"}, 5, nullptr, RunCalibrationCommand,
     VerifyCalibrationCommand, NoMappedCodes},
    {"TurnOff", true, {}, 4, MarkCalibrated, RunTurnOff, VerifyTurnOff, NoMappedCodes},
    {"FactoryReset", true, {}, 3, ChangeUserSettings, RunFactoryReset, VerifyFactoryReset, NoMappedCodes},
    {"Identify", true, {}, 3, nullptr, RunIdentify, VerifyIdentify, NoMappedCodes},
    {"BeepOutput", true, {}, 3, nullptr, RunBeep, VerifyBeep, NoMappedCodes},
    {"ClearPeak", true, {}, 4, nullptr, RunClearPeak, VerifyClearPeak, NoMappedCodes},
    {"BumpPass", true, {}, 4, nullptr, RunBumpPass, VerifyBumpPass, NoMappedCodes},
    {"BumpFail", true, {}, 4, nullptr, RunBumpFail, VerifyBumpFail, NoMappedCodes},
    {"EepromRead", true, {}, 35, nullptr, RunEepromRead, VerifyEepromRead, NoMappedCodes},
    {"CalibrationPrepare", true, {}, 18, nullptr, RunCalibrationPrepare, VerifyCalibrationPrepare, NoMappedCodes},
    {"ShortCalibration", true, {"--cal-seconds", "2"}, 30, nullptr, RunShortCalibration, VerifyShortCalibration,
     NoMappedCodes},
    {"LoggingRun", true, {"--noise", "0"}, 20, nullptr, RunLogging, VerifyLogging, NoMappedCodes},
    {"CommandLineRead", true, {}, 9, nullptr, RunCliRead, VerifyCliRead, NoMappedCodes},
};

constexpr int kWorkflowCount = static_cast<int>(std::size(kWorkflows));
constexpr int kFaultCount = static_cast<int>(std::size(kFaults));

// What the process may use of the processor while it waits for the unit,
// and over an idle 300 ms afterwards.
constexpr double kWaitingCpuShare = 0.5;
constexpr double kWaitingCpuAllowance = 0.3;
constexpr int kIdleMs = 300;
constexpr double kIdleCpu = 0.03;

class FaultMatrix : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(FaultMatrix, EndsRightLeavesTheUnitRightAndIdles)
{
    const RWorkflowCase& workflow = kWorkflows[std::get<0>(GetParam())];
    const RFaultCase& fault = kFaults[std::get<1>(GetParam())];
    const std::uint32_t seed = CaseSeed(workflow.name, fault.name);
    const QStringList faultArgs = FaultArgs(fault.kind, seed, workflow.unplugSpan);
    SCOPED_TRACE(testing::Message() << workflow.name << " under " << fault.name << ", seed " << seed
                                    << ": varnolite-sim " << (workflow.simArgs + faultArgs).join(' ').toStdString());

    Bench bench(workflow, fault.kind, faultArgs);
    ASSERT_TRUE(PrepareUnit(*bench.sim, workflow.prepare, bench.prepared));
    ASSERT_TRUE(bench.sim->start()) << "simulator did not come up";
    bench.before = bench.sim->stateMemory();
    ASSERT_EQ(bench.before.size(), SimProcess::kMemorySize);

    const double cpuBefore = CpuSeconds(RUSAGE_SELF);
    const auto start = SteadyClock::now();
    const ROutcome outcome = workflow.run(bench);
    const double wall = Seconds(start);
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    ASSERT_FALSE(bench.thread.Busy()) << "the workflow did not end";

    const double idleBefore = CpuSeconds(RUSAGE_SELF);
    simwire::SleepMs(kIdleMs);
    const double idle = CpuSeconds(RUSAGE_SELF) - idleBefore;
    EXPECT_LE(idle, kIdleCpu) << "cpu over an idle " << kIdleMs << " ms afterwards";
    EXPECT_LE(cpu, kWaitingCpuShare * wall + kWaitingCpuAllowance) << "cpu " << cpu << " s in " << wall << " s";

    std::set<std::uint8_t> allowed = LinkCodesOf(fault.kind);
    const std::set<std::uint8_t> mapped = workflow.mappedCodes(fault.kind);
    allowed.insert(mapped.begin(), mapped.end());
    if (SuccessPossible(fault.kind))
        allowed.insert(zelstatus::kOK);
    if (!outcome.timedOut) {
        ASSERT_TRUE(outcome.status.has_value()) << "no status reported";
        std::ostringstream codes;
        for (std::uint8_t code : allowed)
            codes << int(code) << ' ';
        EXPECT_EQ(allowed.count(*outcome.status), 1u)
            << "ended with " << int(*outcome.status) << "; this fault allows " << codes.str();
    }

    if (workflow.run != RunCliRead) {
        const double connect = workflow.factoryMode ? kFactoryConnect : kUserConnect;
        std::vector<Bytes> frames;
        for (const TRecordingChannel::Frame& frame : bench.channel->Frames())
            frames.push_back(frame.bytes);
        const RLineBudget budget = BudgetOf(frames, WakeUpsIn(bench.Trace()), connect, true);
        EXPECT_LE(wall, budget.seconds + outcome.hold)
            << budget.exchanges << " exchanges and " << budget.wakeUps << " wake-ups allow " << budget.seconds << " s";
    }

    // The unit's memory as it ended: the simulator saves every change.
    bench.sim->stop();
    const QByteArray after = bench.sim->stateMemory();
    ASSERT_EQ(after.size(), SimProcess::kMemorySize);
    workflow.verify(bench, outcome, after);
    if (HasFailure()) {
        const QStringList record = bench.sim->recordedLines();
        ADD_FAILURE() << "simulator console:\n"
                      << bench.sim->console().toStdString() << "\nlast frames the unit saw:\n"
                      << record.mid(std::max<qsizetype>(0, record.size() - 40)).join('\n').toStdString()
                      << "\ntrace (" << bench.Trace().size() << " lines):\n" << bench.Trace().mid(std::max<qsizetype>(0, bench.Trace().size() - 40)).join('\n').toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWorkflow, FaultMatrix,
                         ::testing::Combine(::testing::Range(0, kWorkflowCount), ::testing::Range(0, kFaultCount)),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
                             return std::string(kWorkflows[std::get<0>(info.param)].name) + "_" +
                                    kFaults[std::get<1>(info.param)].name;
                         });

// The adapter pulled out during a logging run and put back: the port the
// run holds is gone for good, so the run stops with the "Beamdock Error"
// box, keeps the records it wrote, and leaves the port free for the unit
// that answers on the same path again.
TEST(LoggingRunUnplugged, StopsWithTheBeamdockErrorBoxAndTheUnitAnswersAfterwards)
{
    static const RWorkflowCase replug{"LoggingReplug", true, {"--noise", "0"}, 20, nullptr, RunLogging, VerifyLogging,
                                      NoMappedCodes};
    Bench bench(replug, FaultKind::Unplug, {});
    ASSERT_TRUE(bench.sim->start());
    bench.before = bench.sim->stateMemory();

    LoggingDialog dialog(bench);
    dialog.view.saveFileAnswers = {bench.Path(kDataLogName)};
    std::atomic<int> readings{0};
    dialog.view.onReading = [&](const RReadingDisplay&) { ++readings; };
    ASSERT_TRUE(bench.thread.Run([&] { dialog.run.StartBtnClick(); }));
    // The simulator is this thread's child: it is pulled and put back here.
    const auto start = SteadyClock::now();
    bool replugged = false;
    auto pulledAt = start;
    while (bench.thread.Busy() && Seconds(start) < 30) {
        if (!replugged && readings >= 2) {
            pulledAt = SteadyClock::now();
            bench.sim->stop();
            simwire::SleepMs(200);
            replugged = true;
            ASSERT_TRUE(bench.sim->start()) << "the unit did not come back";
        }
        simwire::SleepMs(5);
    }
    const double noticed = Seconds(pulledAt);
    if (bench.thread.Busy()) {
        dialog.requests.Stop();
        while (bench.thread.Busy())
            simwire::SleepMs(5);
        FAIL() << "the run went on without its adapter";
    }
    ASSERT_TRUE(replugged) << "the run ended before it was unplugged";

    const double idleBefore = CpuSeconds(RUSAGE_SELF);
    simwire::SleepMs(kIdleMs);
    EXPECT_LE(CpuSeconds(RUSAGE_SELF) - idleBefore, kIdleCpu);
    // It noticed at its next exchange: within a reading interval and an
    // exchange's time-out of the unplug.
    EXPECT_LE(noticed, 1.0 + kShortTimeout + kFixedMargin);

    ASSERT_EQ(dialog.view.messages.size(), 1u);
    EXPECT_EQ(dialog.view.messages[0].caption, logtext::kBeamdockCaption);
    EXPECT_EQ(dialog.view.messages[0].text, logtext::kBeamdockText);
    EXPECT_TRUE(IsAdapterFailure(dialog.run.EndStatus()));
    EXPECT_EQ(dialog.view.running.back(), false) << "the dialog is idle again";
    const QByteArray file = ReadWholeFile(bench.Path(kDataLogName));
    EXPECT_EQ(file.count("\r\n\r\n"), 1 + static_cast<qsizetype>(dialog.view.readings.size()))
        << "the header's empty line and one per record";

    bench.view.ClearRecord();
    ASSERT_TRUE(bench.OnLink([&] { bench.main->UserReadDeviceBtnClick(); }, 30));
    EXPECT_EQ(bench.main->LastResult(), std::optional<std::uint8_t>(0)) << "the port was left free";
}

}  // namespace
