#include "FirmwareUpgrade.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

#include "StatusTexts.h"
#include "TextHelpers.h"

namespace {

const QString kDotsRunning = QStringLiteral("...");
const QString kDownloadFailed = QStringLiteral("Download Image...Fail");
const QString kOpenTitle = QStringLiteral("Select Firmware Upgrade File");
const QString kOpenFilter = QStringLiteral("Image File|*.img|All files|*");
const QString kOpenSuffix = QStringLiteral("img");
const QString kNoImage = QStringLiteral("Varnolite Firmware Upgrade ... Select File");
const QString kImageVersion = QStringLiteral("Varnolite Firmware Upgrade ... Firmware Version ");
const QString kVersionCaption = QStringLiteral("File Version Check");
const QString kVersionQuestion = QStringLiteral("This file is not old version\rExecute upgrade?");
const QString kUpgradeCaption = QStringLiteral("Upgrade Firmware");
const QString kRetryLine = QStringLiteral("[SEND] Retry ");
const QString kOkLine = QStringLiteral("[SEND] OK ");

// UpgradeData's nPointer: the first sending of a packet, and each repeat.
constexpr std::uint8_t kFirstSending = 1;
constexpr std::uint8_t kRepeatSending = 3;

}  // namespace

QString FirmwareDescription(const TFirmwareImage& image)
{
    if (!image.Loaded())
        return kNoImage;
    return kImageVersion + QString::fromStdString(FWVersionText(image.Header().mFirmware));
}

TFirmwareUpgrade::TFirmwareUpgrade(TMainWorkflows& main, IFirmwareView& view) : FMain(main), FView(view) {}

void TFirmwareUpgrade::UserFMOpenBtnClick()
{
    const RFileRequest request{kOpenTitle, kOpenFilter, kOpenSuffix,
                               QString::fromStdString(FMain.Settings().cfg.mFLASHSaveDir), QString()};
    const std::optional<QString> path = FMain.View().AskOpenFile(request);
    if (path)
        LoadUpgradeFile(*path, false);
}

std::uint8_t TFirmwareUpgrade::LoadUpgradeFile(const QString& path, bool silent)
{
    if (!silent)
        FMain.ShowStatus(colours::kWhite, colours::kBlack, opname::kLoadingUpgradeFile + kDotsRunning);
    const LoadedSettings& settings = FMain.Settings();
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    FLastCheck = FImage.Load(fullPath.toStdString(), settings.cfg.mFLASHMaxAddress, settings.cfg.mFALSHPacketSize,
                             settings.factoryMode);
    const std::uint8_t status = FLastCheck.status;
    if (status == fwstatus::kOK) {
        SetFlashFile(fullPath.toStdString());
        FView.ShowImage(fullPath, FirmwareDescription(FImage), true);
    } else {
        FView.ShowImage(QString(), kNoImage, false);
    }
    if (!silent)
        FMain.ShowResult(status, opname::kLoadingUpgradeFile, true);
    return status;
}

void TFirmwareUpgrade::ReloadRememberedImage()
{
    if (FReloaded)
        return;
    FReloaded = true;
    const QString remembered = QString::fromStdString(FMain.Settings().cfg.mFLASHFile);
    if (!remembered.isEmpty() && QFileInfo::exists(remembered))
        LoadUpgradeFile(remembered, true);
}

void TFirmwareUpgrade::UserFMUpgradeBtnClick()
{
    // The button is off without an image; a script may still ask.
    if (!FImage.Loaded())
        return;
    if (!ConfirmStart())
        return;
    FMain.ForgetHibernateAnswer();
    const TDeviceButtonsOff busy(FMain.View());
    FView.SetUpgradeEnabled(false);
    FView.SetCancelEnabled(false);
    FRunning.store(true);
    FUpgrade.store(true);

    const std::optional<std::uint8_t> checked = CheckProgram();
    FInUpgradeMode = false;
    if (checked && *checked == fwstatus::kOK) {
        FView.ShowUpgradeNote(QStringLiteral("unit %1 \u2192 image %2")
                                  .arg(QString::fromStdString(FWVersionText(FMain.LastIdentity().mSW)),
                                       QString::fromStdString(FWVersionText(FImage.Header().mFirmware))));
        FView.SetCancelEnabled(true);
        FView.SetProgressMaximum(FImage.Rows());
        const int attempts = std::max<int>(1, FMain.Settings().cfg.mFLASHDownloadRetry);
        std::optional<std::uint8_t> status;
        for (int attempt = 0; attempt < attempts; ++attempt) {
            FView.SetProgress(0);
            FAttempt = attempt + 1;
            // A cancel that came before the first packet needs no exchange.
            status = FUpgrade.load() ? DownloadImage() : std::optional<std::uint8_t>(fwstatus::kUserStop);
            if (!status || *status == fwstatus::kOK || *status == fwstatus::kUserStop)
                break;
        }
        if (status)
            FMain.ShowResult(*status, opname::kDownloadImage, true, DownloadResultText(*status));
        if (status && *status == fwstatus::kOK)
            ReadUpgradedUnit();
    }

    FView.SetUpgradeEnabled(true);
    FView.SetCancelEnabled(false);
    FUpgrade.store(false);
    FRunning.store(false);
}

std::optional<std::uint8_t> TFirmwareUpgrade::CheckProgram()
{
    RZELIdenty identity{};
    std::optional<std::uint8_t> status =
        FMain.RunCycle(opname::kCheckProgram, true, [&] { return FMain.Identify(identity); });
    if (!status)
        return std::nullopt;
    if (*status == fwstatus::kOK) {
        const RFirmwareHeader header = FImage.Header();
        if (header.mMinFirmware > identity.mSW || header.mMinHardware > identity.mHW)
            status = fwstatus::kNotForThisUnit;
        else if ((header.mFirmware < identity.mSW || header.mHardware < identity.mHW) &&
                 !FMain.View().AskYesNoDefaultNo(kVersionCaption, kVersionQuestion))
            status = fwstatus::kOlderDeclined;
    }
    FMain.ShowResult(*status, opname::kCheckProgram, true);
    return status;
}

std::optional<std::uint8_t> TFirmwareUpgrade::DownloadImage()
{
    const std::optional<std::uint8_t> status = FMain.RunCycle(opname::kDownloadImage, true, [this] { return SendImage(); });
    if (status && *status != fwstatus::kOK && *status != fwstatus::kUserStop)
        FMain.ShowStatus(colours::kRed, colours::kWhite, kDownloadFailed);
    return status;
}

std::uint8_t TFirmwareUpgrade::SendImage()
{
    FResent = 0;
    std::uint8_t status = FMain.Link().UpgradeStart();
    // From here on the unit waits for an image and does nothing else.
    FInUpgradeMode = FInUpgradeMode || status == zelstatus::kOK;
    FSending.start();
    for (int row = 0; row < FImage.Rows() && status == zelstatus::kOK; ++row) {
        status = SendPacket(row);
        if (!FUpgrade.load())
            status = fwstatus::kUserStop;
        FView.SetProgress(row + 1);
        ShowProgressText(row + 1);
    }
    // The unit checks the whole image itself before it takes it; whatever
    // goes wrong there, the image did not make it.
    if (status == zelstatus::kOK && FMain.Link().UpgradeExecute() != zelstatus::kOK)
        status = fwstatus::kValidationFailed;
    // The unit is the one "Check Program" has just identified and checked.
    const std::uint8_t before = FMain.LastIdentity().mSW;
    FMain.Recorder().UnitIdentified(FMain.LastIdentity());
    FMain.Recorder().FirmwareSent({FImage.Header().mCRC, before,
                                   status == zelstatus::kOK ? FImage.Header().mFirmware : before, FResent, FAttempt});
    return status;
}

std::uint8_t TFirmwareUpgrade::SendPacket(int row)
{
    RComZELReadBuf packet;
    packet.mData = FImage.PacketSize();
    std::memcpy(packet.mBuf, FImage.Row(row), static_cast<std::size_t>(FImage.PacketSize()));
    std::uint8_t status = FMain.Link().UpgradeData(kFirstSending, packet);
    for (int retry = 0; status != zelstatus::kOK && retry < FMain.Settings().cfg.mFLASHRetry; ++retry) {
        Memo(kRetryLine + QString::number(row));
        FView.ShowUpgradeNote(QStringLiteral("retrying packet %1").arg(row + 1));
        ++FResent;
        status = FMain.Link().UpgradeData(kRepeatSending, packet);
    }
    if (status == zelstatus::kOK)
        Memo(kOkLine + QString::number(row));
    return status;
}

void TFirmwareUpgrade::ShowProgressText(int sent)
{
    const int rows = std::max(1, FImage.Rows());
    const qint64 elapsedMs = FSending.elapsed();
    const qint64 leftSeconds = (elapsedMs * (rows - sent) / std::max(1, sent) + 999) / 1000;
    FView.ShowProgressText(QStringLiteral("%1%, %2:%3 left")
                               .arg(sent * 100 / rows)
                               .arg(leftSeconds / 60)
                               .arg(leftSeconds % 60, 2, 10, QLatin1Char('0')));
}

QString TFirmwareUpgrade::DownloadResultText(std::uint8_t status) const
{
    if (status == fwstatus::kOK || !FInUpgradeMode)
        return QString();
    return QString::fromStdString(StatusTextFor(status).message) + QLatin1Char('\r') + kUpgradeModeText;
}

bool TFirmwareUpgrade::ConfirmStart()
{
    // The unit is read again once the upgrade is done, which replaces the
    // values shown.
    if (!FMain.ConfirmDiscardEdits(kUpgradeCaption))
        return false;
    return FMain.View().AskYesNoDefaultNo(kUpgradeCaption,
                                          QStringLiteral("Upgrade the firmware of %1?").arg(FMain.ShownUnitName()));
}

void TFirmwareUpgrade::ReadUpgradedUnit()
{
    // The window shows the unit as it now is, new firmware version included.
    // The download's result stays on the status line; a read that fails
    // leaves the unit line at "No unit read".
    const auto status = FMain.RunCycle(opname::kReadDevice, false, [this] { return FMain.ReadDevice(); });
    if (!status || *status != zelstatus::kOK)
        FMain.NoteRead(status.value_or(zelstatus::kChannelError));
}

void TFirmwareUpgrade::Memo(const QString& text)
{
    FMain.View().AppendTrace(TraceLine(QDateTime::currentDateTime(), text));
}
