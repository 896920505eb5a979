#include "FactoryTestWorkflows.h"

#include <QDateTime>
#include <QFileInfo>

#include <array>
#include <cstring>

#include "CommError.h"
#include "ConfigMapping.h"
#include "DeviceSettings.h"
#include "EepromCsv.h"
#include "SensorCalibration.h"
#include "TextHelpers.h"
#include "WaitSeconds.h"

namespace {

constexpr std::uint8_t kStatusOK = 0;
constexpr std::uint8_t kStatusPowerDownRefused = 193;
constexpr std::uint8_t kStatusZeroRefused = 194;

// One row per button of the two pages. A unit that was never calibrated
// refuses to power down, and one in gas refuses a zero calibration; both
// refusals come as a plain status reply and are reported with texts of
// their own.
constexpr std::array<RFactoryCommand, 11> kCommands{{
    {FactoryHandler::FatoryOptCal, 0, "FatoryOptCalBtn", "Calibration", true, FactoryStep::Sensor, 0x42,
     kStatusZeroRefused, true, false},
    {FactoryHandler::FatoryOptTurnOff, 0, "FatoryOptTurnOffBtn", "Power Down", true, FactoryStep::Command,
     zelcmd::kResetUnit, kStatusPowerDownRefused, true, true},
    {FactoryHandler::EtcFactoryReset, 0, "EtcFactoryResetBtn", "Fatory Reset", false, FactoryStep::Command,
     zelcmd::kFactoryReset, 0, false, false},
    {FactoryHandler::EtcIdentify, 0, "EtcIdentifyBtn", "Load Identify", false, FactoryStep::Identity,
     zelcmd::kIdentify, 0, false, false},
    {FactoryHandler::EtcBeepON, 1, "EtcBeepONBtn", nullptr, false, FactoryStep::Output, 0x30, 0, false, false},
    {FactoryHandler::EtcBeepON, 2, "EtcRLEDONBtn", nullptr, false, FactoryStep::Output, 0x31, 0, false, false},
    {FactoryHandler::EtcBeepON, 3, "EtcLLEDONBtn", nullptr, false, FactoryStep::Output, 0x32, 0, false, false},
    {FactoryHandler::EtcBeepON, 4, "EtcVibratorBtn", nullptr, false, FactoryStep::Output, 0x34, 0, false, false},
    {FactoryHandler::EtcClearPeak, 1, "EtcClearPeakBtn", "Clear Peak", false, FactoryStep::Sensor, 0x44, 0, false,
     false},
    {FactoryHandler::EtcClearPeak, 2, "EtcBumpFailBtn", "Send Bump Fail", false, FactoryStep::Sensor, 0x45, 0, false,
     false},
    {FactoryHandler::EtcClearPeak, 3, "EtcBumpPassBtn", "Send Bump Pass", false, FactoryStep::Sensor, 0x46, 0, false,
     false},
}};

const QString kDotsRunning = QStringLiteral("...");
const QString kReadEeprom = QStringLiteral("Read EEPROM data");
const QString kIdentifyCaption = QStringLiteral("Varnolite Identify");
const QString kSaveEepromTitle = QStringLiteral("Save EEPROM Data...");
const QString kSaveEepromCaption = QStringLiteral("Save EEPROM Data");
const QString kSaveEepromFailed = QStringLiteral("EEPROM data file did not save\rRetry SAVE FILE");
const QString kEepromFilter = QStringLiteral("Data file|*.csv");
const QString kEepromSuffix = QStringLiteral("csv");

}  // namespace

std::span<const RFactoryCommand> FactoryCommandTable()
{
    return kCommands;
}

const RFactoryCommand* FindFactoryCommand(FactoryHandler handler, int tag)
{
    for (const RFactoryCommand& command : kCommands) {
        if (command.handler == handler && command.tag == tag)
            return &command;
    }
    return nullptr;
}

QString IdentifyBoxText(const RZELIdenty& identity)
{
    const QStringList lines{
        QStringLiteral("Product ID = %1").arg(identity.mPID),
        QStringLiteral("Hardware Version = ") + QString::fromStdString(HWVersionText(identity.mHW)),
        QStringLiteral("Firmware Version = ") + QString::fromStdString(FWVersionText(identity.mSW)),
        QStringLiteral("Life Remaining = %1 sec").arg(identity.mLife),
        QStringLiteral("Sensor present = 0x") + EepromByteText(identity.mSensor),
        QStringLiteral("Serial Number = ") + FixedText(identity.mSerial, sizeof identity.mSerial),
    };
    return lines.join(QLatin1Char('\r'));
}

TFactoryTestWorkflows::TFactoryTestWorkflows(TMainWorkflows& main, ITestPageView& page)
    : FMain(main), FPage(page), FEepromSaveDir(main.Settings().cfg.mEEPROMSaveDir)
{
}

void TFactoryTestWorkflows::FatoryOptCalBtnClick() { Run(FactoryHandler::FatoryOptCal, 0); }
void TFactoryTestWorkflows::FatoryOptTurnOffBtnClick() { Run(FactoryHandler::FatoryOptTurnOff, 0); }
void TFactoryTestWorkflows::EtcFactoryResetBtnClick() { Run(FactoryHandler::EtcFactoryReset, 0); }
void TFactoryTestWorkflows::EtcIdentifyBtnClick() { Run(FactoryHandler::EtcIdentify, 0); }
void TFactoryTestWorkflows::EtcBeepONBtnClick(int tag) { Run(FactoryHandler::EtcBeepON, tag); }
void TFactoryTestWorkflows::EtcClearPeakBtnClick(int tag) { Run(FactoryHandler::EtcClearPeak, tag); }

void TFactoryTestWorkflows::Run(FactoryHandler handler, int tag)
{
    FLastStatus.reset();
    // A tag no button carries has no command: nothing is opened or sent.
    const RFactoryCommand* command = FindFactoryCommand(handler, tag);
    if (!command || !ConfirmDestructive(*command))
        return;
    if (command->clearsHibernate)
        FMain.ForgetHibernateAnswer();
    const TDeviceButtonsOff busy(FMain.View());
    if (command->step == FactoryStep::Output)
        RunOutput(*command);
    else
        RunReported(*command);
}

bool TFactoryTestWorkflows::ConfirmDestructive(const RFactoryCommand& command)
{
    QString question;
    if (command.handler == FactoryHandler::EtcFactoryReset)
        question = QStringLiteral("Reset %1 to its factory settings?");
    else if (command.handler == FactoryHandler::FatoryOptTurnOff)
        question = QStringLiteral("Turn off %1?");
    else
        return true;
    return FMain.View().AskYesNoDefaultNo(QString::fromLatin1(command.name), question.arg(FMain.ShownUnitName()));
}

void TFactoryTestWorkflows::RunReported(const RFactoryCommand& command)
{
    const QString name = QString::fromLatin1(command.name);
    FMain.ShowStatus(colours::kWhite, colours::kBlack, name + kDotsRunning);
    FMain.Recorder().BeginOperation(name);
    const std::optional<std::uint8_t> opened = FMain.OpenLink(name);
    if (!opened) {
        FMain.Recorder().EndOperation(zelstatus::kChannelError);
        FLastStatus = zelstatus::kChannelError;
        return;
    }
    std::uint8_t status = *opened;
    RZELIdenty identity{};
    if (status == kStatusOK && command.checksProduct)
        status = FMain.Identify(identity);
    if (status == kStatusOK)
        status = Exchange(command, identity);
    if (status == kStatusOK && command.portOnlyAfterSuccess)
        FMain.Link().ComClose();
    else
        FMain.Link().CloseUSB(status);
    if (status == zelstatus::kOtherStatus && command.otherStatusAs != 0)
        status = command.otherStatusAs;
    if (command.handler == FactoryHandler::FatoryOptCal)
        RecordOneShotCalibration(status, identity);
    FMain.Recorder().EndOperation(status);
    FMain.ShowResult(status, name, true);
    FLastStatus = status;
    if (status == kStatusOK && command.step == FactoryStep::Identity)
        FMain.View().ShowMessage(BoxIcon::Information, kIdentifyCaption, IdentifyBoxText(identity));
}

// The outputs stay on only while the connection lasts, so the link is held
// open for the configured time. The technician watches or listens to the
// unit; the window reports nothing, whatever happens.
void TFactoryTestWorkflows::RunOutput(const RFactoryCommand& command)
{
    FMain.Recorder().BeginOperation(QString::fromLatin1(command.name));
    std::uint8_t status = OpenQuietly();
    if (status == kStatusOK)
        status = FMain.Link().AVOn(command.commandByte);
    if (status == kStatusOK)
        WaitSeconds(static_cast<float>(FMain.Settings().cfg.mAVOperate) / 1000.0f);
    FMain.Link().CloseUSB(status);
    FMain.Recorder().EndOperation(status);
    FLastStatus = status;
}

// The one-shot calibration only starts the unit's zero and span: the unit
// finishes it alone, so a start it took is kept without counting as a
// calibration; the unit's own timer says later whether it passed.
void TFactoryTestWorkflows::RecordOneShotCalibration(std::uint8_t status, const RZELIdenty& identity)
{
    CalOutcome outcome = CalOutcome::NotWatched;
    if (status == kStatusZeroRefused)
        outcome = CalOutcome::ZeroRefused;
    else if (status != kStatusOK)
        outcome = CalOutcome::StartFailed;
    const RZELCFG& shown = FMain.CurrentConfig();
    const bool sameUnit = std::strncmp(shown.mUnit.mSerial, identity.mSerial, sizeof identity.mSerial) == 0;
    const int span = sameUnit ? shown.mSensor.mSpanGas : 0;
    FMain.Recorder().CalibrationDone(
        {span, QString::fromLatin1(CalOutcomeText(outcome)), CalOutcomeStatusByte(outcome, status)});
}

std::uint8_t TFactoryTestWorkflows::Exchange(const RFactoryCommand& command, RZELIdenty& identity)
{
    TComZEL& link = FMain.Link();
    switch (command.step) {
    case FactoryStep::Command:
        return command.commandByte == zelcmd::kResetUnit ? link.ResetUnit() : link.FactoryReset();
    case FactoryStep::Sensor:
        return link.SensorCalibration(command.commandByte);
    case FactoryStep::Identity:
        return link.RequireIdenty(identity);
    case FactoryStep::Output:
        return link.AVOn(command.commandByte);
    }
    return zelstatus::kOtherStatus;
}

std::uint8_t TFactoryTestWorkflows::OpenQuietly()
{
    try {
        return FMain.Link().OpenUSB(static_cast<float>(FMain.Settings().cfg.mConnectTime) / 1000.0f);
    } catch (const ECommError&) {
        FMain.Link().ComClose();
        return zelstatus::kChannelError;
    }
}

void TFactoryTestWorkflows::EtcEEPROMReadBtnClick()
{
    FLastStatus.reset();
    const TDeviceButtonsOff busy(FMain.View());
    const RDeviceCFG& cfg = FMain.Settings().cfg;
    const auto status = FMain.RunCycle(kReadEeprom, true, [&] {
        RZELMemoryDump dump;
        const std::uint8_t result =
            FMain.Link().ReadEEPROMData(dump, cfg.mEEPROMPacketSize, cfg.mEEPROMReadAddress, cfg.mEEPROMMaxAddress);
        if (result == kStatusOK)
            FPage.ShowEepromDump(cfg.mEEPROMReadAddress, cfg.mEEPROMMaxAddress / kEepromBytesPerRow,
                                 dump.mBuf);
        return result;
    });
    if (!status) {
        FLastStatus = zelstatus::kChannelError;
        return;
    }
    FMain.ShowResult(*status, kReadEeprom, true);
    FLastStatus = *status;
}

void TFactoryTestWorkflows::EtcEEPROMSaveBtnClick()
{
    FLastStatus.reset();
    const RFileRequest request{kSaveEepromTitle, kEepromFilter, kEepromSuffix, QString::fromStdString(FEepromSaveDir),
                               EepromCsvFileName(QDateTime::currentDateTime())};
    const std::optional<QString> path = FMain.View().AskSaveFile(request);
    if (!path)
        return;
    const bool written = WriteEepromCsvFile(*path, FPage.EepromGrid());
    // The folder is remembered even when the file failed: the technician
    // usually fixes the folder's permissions and saves there again.
    FEepromSaveDir = QFileInfo(*path).absolutePath().toStdString() + "/";
    WriteEepromSaveDir(FMain.Settings().programDir, FEepromSaveDir);
    if (!written)
        FMain.View().ShowMessage(BoxIcon::Error, kSaveEepromCaption, kSaveEepromFailed);
}
