#include "MainWorkflows.h"


#include <array>
#include <cstring>

#include "CommError.h"
#include "ConnectionDoctor.h"
#include "ConfigFile.h"
#include "ConfigMapping.h"
#include "Crc16.h"
#include "ProfileFile.h"
#include "ProgramDirectory.h"
#include "SensorTypes.h"
#include "StartUp.h"
#include "StatusTexts.h"
#include "WholeFile.h"

namespace {

// Configuration block reads and writes get this many attempts: the infrared
// link loses a packet now and then, and a block is all or nothing.
constexpr int kBlockAttempts = 3;

constexpr std::uint8_t kStatusOK = 0;
constexpr std::uint8_t kStatusSensorDiffers = 148;
constexpr std::uint8_t kStatusHibernateRefused = 195;

const QString kDotsRunning = QStringLiteral("...");
const QString kTraceFileName = QStringLiteral("Comm.TXT");
const QString kConfigFilter = QStringLiteral("configuration file|*.cfg");
const QString kConfigSuffix = QStringLiteral("cfg");

template <typename Step>
std::uint8_t WithAttempts(Step step)
{
    std::uint8_t status = kStatusOK;
    for (int attempt = 0; attempt < kBlockAttempts; ++attempt) {
        status = step();
        if (status == kStatusOK)
            break;
    }
    return status;
}


}  // namespace

QString TraceLine(const QDateTime& now, const QString& log)
{
    return now.toString(QStringLiteral("hh:mm:ss:zzz")) + QLatin1Char(' ') + log;
}

QString ClockText(const QDateTime& now)
{
    return now.toString(QStringLiteral("yy-MM-dd hh:mm:ss"));
}

bool WriteTraceFile(const std::string& path, const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += line.toLatin1();
        bytes += "\r\n";
    }
    return WriteFileWhole(QString::fromStdString(path), bytes);
}

TMainWorkflows::TMainWorkflows(IMainView& view, TComZEL& link, const LoadedSettings& settings)
    : FView(view), FLink(link), FSettings(settings), FZELCFG(DefaultConfig()), FUnitLine(settings.factoryMode, {})
{
}

void TMainWorkflows::FormCreate()
{
    QStringList names;
    for (const RSensorType& sensor : FSettings.sensors)
        names << QString::fromStdString(sensor.mName);
    FView.SetSensorNames(names);

    QStringList rows;
    for (const std::string& text : EepromGridStartTexts(FSettings.cfg))
        rows << QString::fromStdString(text);
    FView.PrepareEepromGrid(rows);

    ShowConfig();
    FUnitLine.ShowDefaults(FView.FormValues());
    PublishUnitLine();
    FView.SetTraceVisible(FSettings.cfg.mLogEnable);
    if (FSettings.cfg.mLogEnable)
        FLink.SetOnZELEvent([this](TComZEL*, const QDateTime& now, const QString& log) { CommTrace(now, log); });
    else
        FLink.SetOnZELEvent(nullptr);
}

void TMainWorkflows::FormActivate()
{
    if (!FFirst)
        return;
    FView.ApplyLayout(FSettings.factoryMode);
    FView.SetWindowGeometry(ReadWindowGeometry(FSettings.programDir));
    FView.StartClock();
    FFirst = false;
    TellSettingsFileNotice();
}

// A settings file that is read-only, cut or not a file is never written; the
// technician hears so once, at start-up, not at every setting left unsaved.
void TMainWorkflows::TellSettingsFileNotice()
{
    if (const auto notice = ProfileFileNotice(SettingsFilePath(FSettings.programDir)))
        FView.ShowMessage(BoxIcon::Information, QString::fromLatin1(folders::kSettingsFile),
                          QString::fromStdString(*notice));
}

void TMainWorkflows::FormCloseQuery()
{
    if (FSettings.cfg.mLogEnable)
        WriteTraceFile(FSettings.programDir + kTraceFileName.toStdString(), FView.TraceLines());
    WriteWindowGeometry(FSettings.programDir, FView.CurrentWindowGeometry());
}

void TMainWorkflows::ShowStatus(RColour background, RColour font, const QString& text)
{
    FView.PaintStatus(background, font, text);
}

namespace {

// Statuses that point at the adapter or its port rather than at the detector:
// the bridge library's codes, a port that failed, discovery's own codes.
bool PointsAtTheAdapter(std::uint8_t status)
{
    return (status >= 1 && status <= 9) || status == zelstatus::kChannelError || status >= 252;
}

}  // namespace

QString TMainWorkflows::DoctorFindings() const
{
    return QString::fromStdString(doctor::FormatFindings(doctor::Examine(FLink.DefPort())));
}

void TMainWorkflows::ShowResult(std::uint8_t status, const QString& operation, bool showBox, const QString& message)
{
    FLastResult = status;
    const StatusText& text = StatusTextFor(status);
    if (status == kStatusOK) {
        ShowStatus(colours::kGreen, colours::kBlack, operation + QString::fromStdString(text.suffix));
        return;
    }
    ShowStatus(colours::kRed, colours::kWhite, operation + QString::fromStdString(text.suffix));
    if (!text.alwaysShowBox && !showBox)
        return;
    const QString boxText = message.isEmpty() ? QString::fromStdString(text.message) : message;
    if (PointsAtTheAdapter(status))
        FView.ShowDetailedMessage(BoxIcon::Error, operation, boxText, DoctorFindings());
    else
        FView.ShowMessage(BoxIcon::Error, operation, boxText);
}

void TMainWorkflows::CommTrace(const QDateTime& now, const QString& log)
{
    FView.AppendTrace(TraceLine(now, log));
}

std::optional<std::uint8_t> TMainWorkflows::OpenLink(const QString& name)
{
    try {
        return FLink.OpenUSB(static_cast<float>(FSettings.cfg.mConnectTime) / 1000.0f);
    } catch (const ECommError& error) {
        // The port itself could not be opened (missing device, no access, in
        // use): nothing reached the detector, so no result code applies. The
        // status line stops showing the operation as running, and the box
        // carries the system's own reason.
        FLink.ComClose();
        const StatusText& channel = StatusTextFor(zelstatus::kChannelError);
        ShowStatus(colours::kRed, colours::kWhite, name + QString::fromStdString(channel.suffix));
        FView.ShowDetailedMessage(BoxIcon::Error, startup::kApplicationTitle,
                                  QString::fromStdString(error.UserMessage()), DoctorFindings());
        FLastResult = zelstatus::kChannelError;  // what the status line shows
        return std::nullopt;
    }
}

std::optional<std::uint8_t> TMainWorkflows::RunCycle(const QString& name, bool showStart,
                                                     const std::function<std::uint8_t()>& work)
{
    if (showStart)
        ShowStatus(colours::kWhite, colours::kBlack, name + kDotsRunning);
    Recorder().BeginOperation(name);
    Recorder().StepReached(QStringLiteral("OpenUSB"));
    const std::optional<std::uint8_t> opened = OpenLink(name);
    if (!opened) {
        Recorder().EndOperation(zelstatus::kChannelError);
        return std::nullopt;
    }
    std::uint8_t status = *opened;
    if (status == kStatusOK)
        status = work();
    FLink.CloseUSB(status);
    Recorder().EndOperation(status);
    return status;
}

std::uint8_t TMainWorkflows::Identify(RZELIdenty& identity)
{
    Recorder().StepReached(QStringLiteral("RequireIdenty"));
    std::uint8_t status = FLink.RequireIdenty(identity);
    if (status == kStatusOK) {
        Recorder().UnitIdentified(identity);
        FLastIdentity = identity;
        status = CheckProduct(identity.mPID, zel::kVarnoliteModel, FSettings.factoryMode);
    }
    return status;
}

std::uint8_t TMainWorkflows::ReadDevice()
{
    FView.SetModelName(QString());
    RZELIdenty identity{};
    std::uint8_t status = Identify(identity);
    if (status == kStatusOK)
        FView.SetModelName(QString::fromStdString(ModelName(identity.mPID)));

    const RDeviceCFG& cfg = FSettings.cfg;
    RZELUnitCFG unit{};
    RZELSensorCFG sensor{};
    FDamagedBlock.clear();
    Recorder().StepReached(QStringLiteral("ReadCFGData"));
    if (status == kStatusOK)
        status = WithAttempts([&] { return FLink.ReadUnitCFGData(unit, cfg.mUnitPacketSize, cfg.mUnitDataSize); });
    if (status == zelstatus::kBlockCrc)
        FDamagedBlock = QStringLiteral("unit");
    if (status == kStatusOK)
        status = WithAttempts(
            [&] { return FLink.ReadSensorCFGData(sensor, cfg.mUnitPacketSize, cfg.mUnitSensorDataSize); });
    if (status == zelstatus::kBlockCrc && FDamagedBlock.isEmpty())
        FDamagedBlock = QStringLiteral("sensor");
    if (status == kStatusOK) {
        FZELCFG.mUnit = unit;
        FZELCFG.mSensor = sensor;
        FReadSW = unit.mFWVersion;
        Recorder().ConfigImageTaken(recordrole::kRead, FZELCFG);
        FLastRead = FZELCFG;
        ShowConfig();
    }
    NoteRead(status);
    return status;
}

std::uint8_t TMainWorkflows::WriteDevice()
{
    RZELIdenty identity{};
    std::uint8_t status = Identify(identity);
    // Alarm set points only make sense for the gas they were chosen for, so a
    // user may not put one sensor's configuration into a unit fitted with
    // another. The factory bench fits and configures sensors and may.
    if (status == kStatusOK && !FSettings.factoryMode && FZELCFG.mSensor.mSensorType != identity.mSensor)
        status = kStatusSensorDiffers;
    if (status == kStatusOK)
        status = CheckWriteTarget(identity);

    const RComZELReadBuf image = PackConfigImage(FZELCFG);
    const RDeviceCFG& cfg = FSettings.cfg;
    struct Range {
        std::uint16_t start;  // 1-based address in the 128-byte record
        std::uint16_t size;
        const char* key;      // the settings keys, without "Start"/"Size"
    };
    const std::array<Range, 4> ranges{{
        {cfg.mUnitWriteFactoryStart, cfg.mUnitWriteFactorySize, "UnitWriteFactory"},
        {cfg.mUnitWriteUserStart, cfg.mUnitWriteUserSize, "UnitWriteUser"},
        {cfg.mSensorWriteFactoryStart, cfg.mSensorWriteFactorySize, "SensorWriteFactory"},
        {cfg.mSensorWriteUserStart, cfg.mSensorWriteUserSize, "SensorWriteUser"},
    }};
    // The settings allow ranges that end past the 128-byte image; bytes from
    // beyond it are not configuration. Every range is checked before the first
    // one is written, so a bad setting never leaves the unit half written.
    FWriteRefusal.clear();
    for (const Range& range : ranges) {
        if (status != kStatusOK || range.size == 0 || range.start - 1 + range.size <= static_cast<int>(sizeof(RZELCFG)))
            continue;
        FWriteRefusal = QStringLiteral("The write range %1Start=%2, %1Size=%3 (section UNIT of LUMBRA.INI) ends past "
                                       "the %4 bytes of the configuration.\rNothing was written: correct the setting "
                                       "and start the program again.")
                            .arg(QLatin1String(range.key))
                            .arg(range.start)
                            .arg(range.size)
                            .arg(sizeof(RZELCFG));
        status = zelstatus::kSizeRefused;
    }
    FWritten.clear();
    FAsLeft.reset();
    Recorder().StepReached(QStringLiteral("WriteCFGData"));
    for (const Range& range : ranges) {
        if (status != kStatusOK)
            break;
        if (range.size == 0)
            continue;
        if (StopRequested())
            return StopWrite();
        const auto address = static_cast<std::uint16_t>(range.start - 1);
        status = WithAttempts([&] { return FLink.WriteCFGData(image, address, range.size); });
        if (status == kStatusOK)
            FWritten.push_back({address, range.size, range.key});
    }
    // The life count has its own command: the unit keeps counting it down
    // and takes a new value only as a whole.
    if (status == kStatusOK && FSettings.factoryMode) {
        if (StopRequested())
            return StopWrite();
        const std::uint32_t life = FZELCFG.mUnit.mLifeRemaining;
        status = WithAttempts([&] { return FLink.WriteCFGTimeData(life); });
    }
    if (status == kStatusOK) {
        RecordSentImage(identity, image, [&](auto overlay) {
            for (const Range& range : ranges)
                overlay(range.start - 1, range.size);
        });
        Recorder().StepReached(QStringLiteral("ReadBack"));
        status = VerifyWrittenRanges(image);
        // What the unit holds now, read back in the same connection: the
        // image a later visit compares against.
        if (FAsLeft)
            Recorder().ConfigImageTaken(recordrole::kAfter, *FAsLeft);
    }
    return status;
}

template <typename Ranges>
void TMainWorkflows::RecordSentImage(const RZELIdenty& identity, const RComZELReadBuf& image, Ranges&& ranges)
{
    // Only the write ranges reach the unit: what it holds now is the image
    // last read from it with those bytes replaced. Without a read of this
    // unit there is nothing true to record.
    if (!FLastRead || std::memcmp(FLastRead->mUnit.mSerial, identity.mSerial, sizeof identity.mSerial) != 0)
        return;
    RZELCFG sent = *FLastRead;
    auto* bytes = reinterpret_cast<std::uint8_t*>(&sent);
    ranges([&](int start, int size) {
        if (size > 0 && start >= 0 && start + size <= static_cast<int>(sizeof sent))
            std::memcpy(bytes + start, image.mBuf + start, static_cast<std::size_t>(size));
    });
    if (FSettings.factoryMode)
        sent.mUnit.mLifeRemaining = FZELCFG.mUnit.mLifeRemaining;
    // The unit keeps each block's CRC over the block as it now stands.
    sent.mUnit.mCRC = crc16::Compute(bytes, sizeof sent.mUnit - sizeof sent.mUnit.mCRC);
    sent.mSensor.mCRC = crc16::Compute(bytes + sizeof sent.mUnit, sizeof sent.mSensor - sizeof sent.mSensor.mCRC);
    Recorder().ConfigImageTaken(recordrole::kBefore, *FLastRead);
    Recorder().ConfigImageTaken(recordrole::kSent, sent);
}

void TMainWorkflows::ShowConfig()
{
    // The spin limits are the controls' own state: an unknown sensor type
    // leaves whatever limits they have.
    const RFormValues current = FView.FormValues();
    FView.SetFormValues(ConfigToForm(FZELCFG, FSettings.sensors, current.alarmRange, current.gasRange));
}

RZELCFG TMainWorkflows::CollectConfig(bool forDevice)
{
    const RFormValues form = FView.FormValues();
    const RCollectedConfig collected =
        FormToConfig(form, FZELCFG, FSettings.sensors, {FSettings.factoryMode, forDevice, FReadSW});
    if (collected.lifeClamped && forDevice) {
        FView.SetLifeSpins(editlimits::kMonthsMax, 0);
        FView.ShowMessage(BoxIcon::Information, QStringLiteral("Check Life Remaining"),
                          QStringLiteral("Life Remaining Value over than define value\r"
                                         "Make default value... check Life Remaining Value"));
    }
    return collected.cfg;
}

const RSensorType* TMainWorkflows::SensorOfCurrentConfig() const
{
    const int index = FindSensorType(FSettings.sensors, FZELCFG.mSensor.mSensorType);
    return index < 0 ? nullptr : &FSettings.sensors[static_cast<std::size_t>(index)];
}

// The form has no entry for a sensor code the table does not list, so such
// a unit reads as having no sensor: that is the table's gap, not a missing
// read, and the text says so.
QString TMainWorkflows::NoSensorText(std::uint8_t readCode) const
{
    if (readCode != 0 && FindSensorType(FSettings.sensors, readCode) < 0)
        return QStringLiteral("The unit's sensor type code %1 is not in the sensor table ([SENSOR] in %2, %3 types).\r"
                              "Add the sensor type there%4")
            .arg(readCode)
            .arg(QString::fromStdString(SettingsFilePath(FSettings.programDir)))
            .arg(FSettings.sensors.size())
            .arg(FSettings.factoryMode ? QStringLiteral(" or select a sensor type") : QString());
    return FSettings.factoryMode ? QStringLiteral("No sensor information.\rFirst READ DEVICE or select sensor type")
                                 : QStringLiteral("No sensor information.\rFirst READ DEVICE");
}

void TMainWorkflows::UserReadDeviceBtnClick()
{
    FHibernateBtn = false;
    if (!ConfirmDiscardEdits(opname::kReadDevice))
        return;
    const TDeviceButtonsOff busy(FView);
    if (const auto status = RunCycle(opname::kReadDevice, true, [this] { return ReadDevice(); }))
        ShowResult(*status, opname::kReadDevice, true);
    else
        NoteRead(zelstatus::kChannelError);  // the port would not open: no unit was read either
}

void TMainWorkflows::UserWriteDeviceBtnClick()
{
    FHibernateBtn = false;
    const std::uint8_t shownSensorCode = FZELCFG.mSensor.mSensorType;
    FZELCFG = CollectConfig(true);
    if (FZELCFG.mSensor.mSensorType == 0) {
        FView.ShowMessage(BoxIcon::Error, QStringLiteral("No sensor information"), NoSensorText(shownSensorCode));
        return;
    }
    if (RefuseAlarmSetPoints(FZELCFG, opname::kWriteDevice, QStringLiteral("Nothing was written.")))
        return;
    FWriteStopped = false;
    const TDeviceButtonsOff busy(FView);
    if (!BeginWrite())
        return;
    const auto status = RunCycle(opname::kWriteDevice, true, [this] { return WriteDevice(); });
    if (!status)
        return;
    if (FWriteStopped) {
        ShowStatus(colours::kWhite, colours::kBlack, opname::kWriteDevice + QStringLiteral("... nothing written"));
        return;
    }
    if (*status == kStatusOK)
        NoteWritten();
    ShowResult(*status, opname::kWriteDevice, true, WriteFailureText(*status));
    // The bench writes one unit after another: the serial number just written
    // stays in the edit, selected for the next one.
    if (*status == kStatusOK && FSettings.factoryMode)
        FView.RefillSerialEdit(FixedText(FZELCFG.mUnit.mSerial, sizeof FZELCFG.mUnit.mSerial));
}

void TMainWorkflows::UserOptHibernateBtnClick()
{
    if (!ConfirmDiscardEdits(opname::kHibernate))
        return;
    const TDeviceButtonsOff busy(FView);
    // A fresh read first: whether the unit may hibernate is part of its
    // configuration, not of what the window happens to show.
    const auto read = RunCycle(opname::kReadDevice, true, [this] { return ReadDevice(); });
    if (!read)
        return;
    if (*read != kStatusOK) {
        ShowResult(*read, opname::kReadDevice, true);
        return;
    }
    if (FZELCFG.mUnit.mAllowSuspend != zel::kSuspendAllowed) {
        FView.ShowMessage(BoxIcon::Error, QStringLiteral("Check Unit"),
                          QStringLiteral("This feature is only supported on the Varnolite+ instrument\r"
                                         "Please contact Corvath more details"));
        return;
    }
    if (!FHibernateBtn &&
        !FView.AskYesNo(opname::kHibernate, QStringLiteral("Hibernation will clear the event log.\r"
                                                           "Are you sure you want to proceed.")))
        return;
    FHibernateBtn = true;

    ShowStatus(colours::kWhite, colours::kBlack, opname::kHibernate + kDotsRunning);
    Recorder().BeginOperation(opname::kHibernate);
    // The unit is the one the read before has just identified.
    Recorder().UnitIdentified(FLastIdentity);
    const std::optional<std::uint8_t> opened = OpenLink(opname::kHibernate);
    if (!opened) {
        Recorder().EndOperation(zelstatus::kChannelError);
        return;
    }
    std::uint8_t status = *opened;
    if (status == kStatusOK)
        status = FLink.SendHibernate();
    // A hibernating unit no longer listens: the end-of-connection command is
    // left out by closing as if the unit had refused.
    FLink.CloseUSB(status == kStatusOK ? kStatusHibernateRefused : status);
    Recorder().EndOperation(status);
    // Units without the feature answer the command with a plain refusal.
    ShowResult(status == zelstatus::kOtherStatus ? kStatusHibernateRefused : status, opname::kHibernate, true);
}

void TMainWorkflows::UserCalBtnClick()
{
    FHibernateBtn = false;
    if (!ConfirmDiscardEdits(opname::kReadSensor))
        return;
    const TDeviceButtonsOff busy(FView);
    const auto status = RunCycle(opname::kReadSensor, false, [this] { return ReadDevice(); });
    if (!status)
        return;
    if (*status != kStatusOK) {
        ShowResult(*status, opname::kReadSensor, true);
        return;
    }
    if (!SensorOfCurrentConfig()) {
        FView.ShowMessage(BoxIcon::Error, QStringLiteral("Wrong Sensor"),
                          QStringLiteral("Sensor type is wrong\rDid not sensor calibration"));
        return;
    }
    // The dialog runs its own operations: it opens once this one has ended.
    FView.OpenSensorCalDialog(FZELCFG);
}

void TMainWorkflows::FatoryOptLogSensorBtnClick()
{
    FHibernateBtn = false;
    FView.OpenSensorLogDialog();
}

void TMainWorkflows::UserReadFileBtnClick()
{
    FHibernateBtn = false;
    if (!ConfirmDiscardEdits(QStringLiteral("Open Configuration File")))
        return;
    const RFileRequest request{QStringLiteral("Open Configuration File"), kConfigFilter, kConfigSuffix,
                               QString::fromStdString(FSettings.programDir + folders::kConfigure), QString()};
    const std::optional<QString> path = FView.AskOpenFile(request);
    if (!path)
        return;
    RZELCFG loaded{};
    std::vector<std::string> notHeld;
    const ConfigFileResult result = ReadConfigFile(path->toStdString(), FZELCFG, loaded, &notHeld);
    if (result != ConfigFileResult::Ok) {
        const ConfigFileMessage message = ReadConfigFileMessage(result);
        FView.ShowMessage(BoxIcon::Error, QString::fromUtf8(message.caption), QString::fromUtf8(message.text));
        return;
    }
    if (RefuseAlarmSetPoints(loaded, QStringLiteral("Open Configuration File"),
                             QStringLiteral("The file was not loaded.")))
        return;
    FZELCFG = loaded;
    ShowConfig();
    NoteLoadedFile(*path);
    TellFieldsNotInFile(notHeld);
}

// A file of an older release lacks some fields; they now hold what that
// release implied, and the technician should know before they reach a unit.
void TMainWorkflows::TellFieldsNotInFile(const std::vector<std::string>& notHeld)
{
    if (notHeld.empty())
        return;
    QStringList names;
    for (const std::string& name : notHeld)
        names << QString::fromStdString(name);
    FView.ShowMessage(BoxIcon::Information, QStringLiteral("Read Configuration File"),
                      QStringLiteral("This file does not hold: %1.\rThese fields now have the values of older "
                                     "releases; check them before Write Device.")
                          .arg(names.join(QStringLiteral(", "))));
}

void TMainWorkflows::UserWriteFileBtnClick()
{
    FHibernateBtn = false;
    // The record is taken from the controls before the dialog, and kept even
    // when the dialog is cancelled.
    FZELCFG = CollectConfig(false);
    const RFileRequest request{QStringLiteral("Save Configuration File"), kConfigFilter, kConfigSuffix,
                               QString::fromStdString(FSettings.programDir + folders::kConfigure), QString()};
    const std::optional<QString> path = FView.AskSaveFile(request);
    if (!path)
        return;
    if (!WriteConfigFile(path->toStdString(), FZELCFG, FSettings.factoryMode, QDateTime::currentDateTime())) {
        const ConfigFileMessage message = WriteConfigFileFailedMessage();
        FView.ShowMessage(BoxIcon::Error, QString::fromUtf8(message.caption), QString::fromUtf8(message.text));
    }
}

