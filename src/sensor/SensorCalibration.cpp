#include "SensorCalibration.h"

#include <algorithm>
#include <cmath>

#include "BlockAttempts.h"
#include "CommError.h"
#include "SensorReading.h"
#include "SensorTypes.h"

namespace {

constexpr std::uint8_t kStatusOK = 0;
constexpr std::uint8_t kSensorDiffers = 148;
constexpr std::uint8_t kZeroSpanCommand = 0x42;
constexpr std::uint8_t kClearCalCommand = 0x43;
// A poll that did not reach the detector is tried again this soon.
constexpr double kRetryPoll = 1.0;
// "More than" a number of seconds: wake just after it.
constexpr double kJustAfter = 0.001;
constexpr long kMaxTenths = 0xFFFF;

std::uint16_t TenthsWord(long tenths)
{
    return static_cast<std::uint16_t>(std::clamp(tenths, 0L, kMaxTenths));
}

}  // namespace

QString SpanGasText(std::uint16_t tenths)
{
    if (tenths % 10 == 0)
        return QString::number(tenths / 10);
    return QString::number(tenths / 10) + QLatin1Char('.') + QString::number(tenths % 10);
}

TSensorCalWorkflow::TSensorCalWorkflow(ISensorCalView& view, TComZEL& link, const LoadedSettings& settings,
                                       ISensorClock& clock, TSensorCalRequests& requests)
    : FView(view), FLink(link), FSettings(settings), FClock(clock), FRequests(requests)
{
}

float TSensorCalWorkflow::ConnectSeconds() const
{
    return static_cast<float>(FSettings.cfg.mConnectTime) / 1000.0f;
}

int TSensorCalWorkflow::CalTime() const
{
    // A sensor entry without a calibration time would time every
    // calibration out the moment it starts; the settings' limit stands in.
    if (FPSensor && FPSensor->mCalTime > 0)
        return FPSensor->mCalTime;
    return FSettings.cfg.mCalTime;
}

void TSensorCalWorkflow::ClearLines()
{
    for (CalLine line : {CalLine::Status, CalLine::Apply, CalLine::Result})
        FView.SetCalLine(line, QString(), colours::kBlack);
}

bool TSensorCalWorkflow::ShowDlg(const RZELCFG& cfg)
{
    FZELCFG = cfg;
    FCalib = 0;
    FSensorType = cfg.mSensor.mSensorType;
    const int index = FindSensorType(FSettings.sensors, FSensorType);
    if (index < 0) {
        FPSensor = nullptr;
        FView.ShowMessage(BoxIcon::Error, caltext::kWrongSensorCaption, caltext::kWrongSensorText);
        return false;
    }
    FPSensor = &FSettings.sensors[static_cast<std::size_t>(index)];
    FDefSpan = cfg.mSensor.mSpanGas;

    // The first unit of a sensor type brings its span gas value along; from
    // then on the value stored on this PC wins, whatever the next unit holds.
    const std::string& name = FPSensor->mName;
    if (!ReadSpanGas(FSettings.programDir, name))
        WriteSpanGas(FSettings.programDir, name, FDefSpan);
    FDefSpan = TenthsWord(ReadSpanGas(FSettings.programDir, name).value_or(FDefSpan));

    ClearLines();
    const double minimum = FPSensor->mMin;
    const double maximum = std::max(FPSensor->mMin, FPSensor->mMax);
    FView.SetSpanGas(minimum, maximum, std::clamp(FDefSpan / 10.0, minimum, maximum),
                     QString::fromStdString(FPSensor->mUnit));
    FView.SetCaption(QStringLiteral("Sensor Calibration (") + QString::fromStdString(name) + QLatin1Char(')'));
    return true;
}

bool TSensorCalWorkflow::PrepareCalibration(double spanValue)
{
    FOutcome = CalOutcome::NotStarted;
    if (!FPSensor) {
        FOutcomeStatus = kSensorDiffers;
        return false;
    }
    // No span gas is not a value to calibrate against, nor to remember.
    if (!std::isfinite(spanValue) || spanValue < 0.05) {
        FOutcomeStatus = kSensorDiffers;
        FView.ShowMessage(BoxIcon::Error, caltext::kStartCaption,
                          QStringLiteral("The span gas must be above 0, not %1.").arg(spanValue));
        return false;
    }
    // The spin keeps its value inside the sensor's range; so does this.
    const double minimum = FPSensor->mMin;
    const double maximum = std::max(FPSensor->mMin, FPSensor->mMax);
    const std::uint16_t tenths = TenthsWord(std::lround(std::clamp(spanValue, minimum, maximum) * 10.0));
    if (tenths != FDefSpan) {
        FDefSpan = tenths;
        WriteSpanGas(FSettings.programDir, FPSensor->mName, FDefSpan);
    }

    std::uint8_t status = kStatusOK;
    try {
        status = FLink.OpenUSB(ConnectSeconds());
    } catch (const ECommError& error) {
        FLink.ComClose();
        FOutcomeStatus = zelstatus::kChannelError;
        FView.ShowMessage(BoxIcon::Error, caltext::kReadCaption, QString::fromStdString(error.UserMessage()));
        return false;
    }
    if (status == kStatusOK)
        status = ReadAndWriteSpan();
    FLink.CloseUSB(status);

    if (status == kStatusOK && FZELCFG.mSensor.mSensorType != FSensorType)
        status = kSensorDiffers;
    FOutcomeStatus = status;
    if (status == zelstatus::kOK)
        return true;
    const QString text = status == 146             ? caltext::kNotVarnolite
                         : status == kSensorDiffers ? caltext::kDifferentSensor
                                                    : caltext::kCommError;
    FView.ShowMessage(BoxIcon::Error, caltext::kReadCaption, text);
    return false;
}

std::uint8_t TSensorCalWorkflow::ReadAndWriteSpan()
{
    const RDeviceCFG& cfg = FSettings.cfg;
    RZELIdenty identity{};
    std::uint8_t status = FLink.RequireIdenty(identity);
    if (status == kStatusOK)
        status = CheckProduct(identity.mPID, zel::kVarnoliteModel, FSettings.factoryMode);
    // Blocks land in the record only when they arrived whole: a block with
    // a bad CRC is never taken for the unit's configuration.
    RZELUnitCFG unit{};
    RZELSensorCFG sensor{};
    if (status == kStatusOK)
        status = WithAttempts([&] { return FLink.ReadUnitCFGData(unit, cfg.mUnitPacketSize, cfg.mUnitDataSize); });
    if (status == kStatusOK)
        status = WithAttempts(
            [&] { return FLink.ReadSensorCFGData(sensor, cfg.mUnitPacketSize, cfg.mUnitSensorDataSize); });
    if (status != kStatusOK)
        return status;
    FZELCFG.mUnit = unit;
    FZELCFG.mSensor = sensor;
    // A unit fitted with another sensor keeps its own span gas value; the
    // caller refuses it.
    if (sensor.mSensorType != FSensorType || sensor.mSpanGas == FDefSpan)
        return kStatusOK;

    FZELCFG.mSensor.mSpanGas = FDefSpan;
    const RComZELReadBuf image = PackConfigImage(FZELCFG);
    status = WithAttempts([&] { return FLink.WriteCFGData(image, kSpanGasAddress, kSpanGasSize); });
    if (status == kStatusOK)
        status = WithAttempts(
            [&] { return FLink.ReadSensorCFGData(sensor, cfg.mUnitPacketSize, cfg.mUnitSensorDataSize); });
    if (status != kStatusOK)
        return status;
    FZELCFG.mSensor = sensor;
    // Calibrating against a span gas value the unit did not take would
    // set its span wrong without anyone noticing.
    if (sensor.mSpanGas != FDefSpan)
        return zelstatus::kOtherStatus;
    return kStatusOK;
}

void TSensorCalWorkflow::CalBtnClick(double spanValue)
{
    if (!PrepareCalibration(spanValue)) {
        FRequests.TakeCancel();
        return;
    }
    FCalib = 1;
    bool running = true;
    FView.SetCalibrating(true);
    ClearLines();
    FView.SetProgressMax(CalTime());
    FView.SetProgress(0);
    FShownProgress = 0;
    const double started = FClock.Seconds();
    FStarted = started;
    FProgressSeen = false;

    if (FRequests.TakeCancel()) {
        // Cancelled before anything was sent (the command line's Ctrl-C
        // during the checks): the detector has nothing to stop.
        FView.SetCalLine(CalLine::Result, QStringLiteral("Calibration... User Stop"), colours::kRed);
        FOutcome = CalOutcome::UserStop;
        running = false;
    } else {
        StartCalibration(running);
    }

    FNextPoll = NextPollAfter(started);
    while (running) {
        if (FRequests.TakeCancel() && FCalib == 1)
            FCalib = 2;
        if (FClock.Seconds() - started > CalTime())
            FCalib = 3;
        if (FCalib == 1 && FClock.Seconds() >= FNextPoll)
            Poll(running);
        if (running && (FCalib == 2 || FCalib == 3))
            Stop(running);
        // Once the detector reported the end, the bar stays where that put it.
        if (!running)
            break;
        const long position = std::lround(FClock.Seconds() - started);
        if (position != FShownProgress) {
            FShownProgress = position;
            FView.SetProgress(static_cast<int>(position));
        }
        FClock.WaitUntil(NextDeadline(started), FRequests.Wakeup());
    }
    FView.SetCalibrating(false);
    FCalib = 0;
    FRequests.TakeCancel();
}

void TSensorCalWorkflow::StartCalibration(bool& running)
{
    std::uint8_t status = kStatusOK;
    try {
        status = FLink.OpenUSB(ConnectSeconds());
    } catch (const ECommError&) {
        FLink.ComClose();
        status = zelstatus::kChannelError;
    }
    if (status != kStatusOK) {
        FLink.CloseUSB(status);
        FView.ShowMessage(BoxIcon::Error, caltext::kConnectCaption, caltext::kConnectText);
        FOutcome = CalOutcome::ConnectFailed;
        FOutcomeStatus = status;
        running = false;
        return;
    }
    const std::uint8_t r = FLink.SensorCalibration(kZeroSpanCommand);
    FLink.CloseUSB(r);
    if (r == kStatusOK) {
        const QString name = QString::fromStdString(FPSensor->mName);
        FView.SetCalLine(CalLine::Status, QStringLiteral("Zero Calibration... OK"), colours::kBlue);
        FView.SetCalLine(CalLine::Apply,
                         QStringLiteral("Apply SPAN Gas (") + name + QStringLiteral(")... ") +
                             SpanGasText(FZELCFG.mSensor.mSpanGas) + QLatin1Char(' ') +
                             QString::fromStdString(FPSensor->mUnit),
                         colours::kBlue);
        FView.SetCalLine(CalLine::Result, QStringLiteral("SPAN Calibration..."), colours::kBlue);
        return;
    }
    running = false;
    FOutcomeStatus = r;
    if (r == zelstatus::kOtherStatus) {
        FView.SetCalLine(CalLine::Status, QStringLiteral("Zero Calibration... FAIL"), colours::kRed);
        FOutcome = CalOutcome::ZeroRefused;
        return;
    }
    FView.ShowMessage(BoxIcon::Error, caltext::kStartCaption, caltext::kStartText);
    FOutcome = CalOutcome::StartFailed;
}

void TSensorCalWorkflow::Poll(bool& running)
{
    std::uint8_t status = kStatusOK;
    try {
        status = FLink.OpenUSB(ConnectSeconds());
    } catch (const ECommError&) {
        FLink.ComClose();
        status = zelstatus::kChannelError;
    }
    RZELSensor gas{};
    if (status == kStatusOK)
        status = FLink.RequireSensor(gas, sensormode::kGas);
    if (status == kStatusOK && (gas.mHistory & historybit::kCalibrationProgress))
        FProgressSeen = true;
    const bool settled = status == kStatusOK && !(gas.mHistory & historybit::kCalibrationProgress);
    const bool waitingForStart = !FProgressSeen && !(gas.mHistory & historybit::kCalibrationFail);
    if (settled && waitingForStart) {
        // A unit that took the start but never calibrates would otherwise
        // read as a calibration that ended well.
        if (FClock.Seconds() - FStarted >= kCalProgressStartLimit) {
            status = FLink.SensorCalibration(kClearCalCommand);
            FView.SetCalLine(CalLine::Result, caltext::kNeverInProgress, colours::kRed);
            FOutcome = CalOutcome::NeverInProgress;
            running = false;
        }
    } else if (settled) {
        if (gas.mHistory & historybit::kCalibrationFail) {
            FView.SetCalLine(CalLine::Result, QStringLiteral("Calibration ... FAIL"), colours::kRed);
            FOutcome = CalOutcome::Failed;
        } else {
            FView.SetCalLine(CalLine::Result, QStringLiteral("Calibration ... OK"), colours::kBlue);
            FView.SetProgress(CalTime());
            FOutcome = CalOutcome::Ok;
        }
        running = false;
    }
    FLink.CloseUSB(status);
    const double now = FClock.Seconds();
    FNextPoll = status == kStatusOK ? NextPollAfter(now) : now + kRetryPoll;
}

double TSensorCalWorkflow::NextPollAfter(double now) const
{
    const double next = now + FSettings.cfg.mCalCheckTime;
    // Until the flag was seen, one poll falls at the limit for it.
    const double limit = FStarted + kCalProgressStartLimit;
    return !FProgressSeen && now < limit && limit < next ? limit : next;
}

void TSensorCalWorkflow::Stop(bool& running)
{
    const bool byUser = FCalib == 2;
    FView.SetCalLine(CalLine::Result,
                     byUser ? QStringLiteral("Calibration... User Stop") : QStringLiteral("Calibration... Time-out"),
                     colours::kRed);
    std::uint8_t status = kStatusOK;
    try {
        status = FLink.OpenUSB(ConnectSeconds());
    } catch (const ECommError&) {
        FLink.ComClose();
        status = zelstatus::kChannelError;
    }
    // What the stop command answers is not reported: the calibration is
    // over for this window either way.
    if (status == kStatusOK)
        status = FLink.SensorCalibration(kClearCalCommand);
    FLink.CloseUSB(status);
    FOutcome = byUser ? CalOutcome::UserStop : CalOutcome::TimeOut;
    running = false;
}

double TSensorCalWorkflow::NextDeadline(double started) const
{
    double deadline = std::min(FNextPoll, started + CalTime() + kJustAfter);
    // The progress bar moves on when the rounded time does.
    return std::min(deadline, started + static_cast<double>(FShownProgress) + 0.5 + kJustAfter);
}

const char* CalOutcomeText(CalOutcome outcome)
{
    switch (outcome) {
    case CalOutcome::Ok: return "passed";
    case CalOutcome::ZeroRefused: return "zero refused";
    case CalOutcome::Failed: return "failed";
    case CalOutcome::UserStop: return "stopped by the user";
    case CalOutcome::TimeOut: return "no answer";
    case CalOutcome::NeverInProgress: return "never in progress";
    case CalOutcome::ZeroOnly: return "zero only";
    case CalOutcome::NotWatched: return "started, end not watched";
    case CalOutcome::NotStarted:
    case CalOutcome::ConnectFailed:
    case CalOutcome::StartFailed:
    case CalOutcome::None: break;
    }
    return "not started";
}

std::uint8_t CalOutcomeStatusByte(CalOutcome outcome, std::uint8_t outcomeStatus)
{
    constexpr std::uint8_t kZeroCalibrationFailed = 194;
    constexpr std::uint8_t kUserStop = 134;
    switch (outcome) {
    case CalOutcome::Ok: return zelstatus::kOK;
    case CalOutcome::ZeroRefused: return kZeroCalibrationFailed;
    case CalOutcome::UserStop: return kUserStop;
    case CalOutcome::TimeOut: return zelstatus::kNoResponse;
    case CalOutcome::Failed:
    case CalOutcome::NeverInProgress: return zelstatus::kOtherStatus;
    case CalOutcome::ZeroOnly:
    case CalOutcome::NotWatched: return kCalNotCounted;
    case CalOutcome::NotStarted:
    case CalOutcome::ConnectFailed:
    case CalOutcome::StartFailed: return outcomeStatus;
    case CalOutcome::None: break;
    }
    return zelstatus::kOtherStatus;
}
