#pragma once
// The firmware upgrade: pick and check an image file, check that the unit
// in front of the adapter may take it, then send it packet by packet with
// retries, progress and a Cancel button. Sequential code on the link thread
// on top of the main window's services; the panels are reached through
// IFirmwareView, questions and boxes through IMainView.
//
// Cancel may be pressed on any thread: it only clears a flag that the
// download looks at after every packet.
#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>

#include "FirmwareImage.h"
#include "FirmwareView.h"
#include "MainWorkflows.h"

namespace opname {
inline const QString kLoadingUpgradeFile = QStringLiteral("Loading Upgrade File");
inline const QString kCheckProgram = QStringLiteral("Check Program");
inline const QString kDownloadImage = QStringLiteral("Download Image");
}  // namespace opname

class TFirmwareUpgrade {
public:
    // `main` and `view` must outlive this object. The remembered image
    // (FLASH/ImageFile) goes through the process-wide settings, which `main`
    // is expected to show.
    TFirmwareUpgrade(TMainWorkflows& main, IFirmwareView& view);

    // Folder button: the file dialog, then LoadUpgradeFile.
    void UserFMOpenBtnClick();
    // Loads and checks an image; `silent` shows nothing but the panels (the
    // reload at start-up). Returns the load status (0, 128 to 131).
    std::uint8_t LoadUpgradeFile(const QString& path, bool silent);
    // The image used last time, reloaded silently. Does its work once; later
    // calls do nothing.
    void ReloadRememberedImage();

    // "Upgrade Firmware": CheckProgram, then up to the configured number of
    // DownloadImage attempts, with the result reported under "Download Image".
    void UserFMUpgradeBtnClick();
    // "Cancel": the download stops after the packet it is sending.
    void UserFMCancelBtnClick() { FUpgrade.store(false); }

    // The two steps of an upgrade. Nothing when the port could not be opened
    // at all (already shown to the user).
    std::optional<std::uint8_t> CheckProgram();
    std::optional<std::uint8_t> DownloadImage();

    // True from the start of "Upgrade Firmware" to its end, Cancel or not.
    bool Running() const { return FRunning.load(); }
    const TFirmwareImage& Image() const { return FImage; }
    // What the last LoadUpgradeFile found in the file.
    const RFirmwareCheck& LastCheck() const { return FLastCheck; }

private:
    // The question before an upgrade starts (default No), naming the unit.
    bool ConfirmStart();
    // After a successful upgrade: the unit read again.
    void ReadUpgradedUnit();
    std::uint8_t SendImage();
    std::uint8_t SendPacket(int row);
    void Memo(const QString& text);
    // The share sent and the time left, after `sent` packets.
    void ShowProgressText(int sent);
    // The box text of a download that ended with `status`.
    QString DownloadResultText(std::uint8_t status) const;

    TMainWorkflows& FMain;
    IFirmwareView& FView;
    TFirmwareImage FImage;
    RFirmwareCheck FLastCheck;
    std::atomic<bool> FUpgrade{false};
    std::atomic<bool> FRunning{false};
    bool FReloaded = false;
    bool FInUpgradeMode = false;  // the unit took the upgrade start
    QElapsedTimer FSending;       // since the first packet of the attempt
    int FAttempt = 0;  // of the download running, from 1
    int FResent = 0;   // packets sent again in it
};

// The box line after an upgrade that ended once the unit was in upgrade mode.
inline const QString kUpgradeModeText = QStringLiteral(
    "The unit is in upgrade mode and will not work until an upgrade completes. Run the upgrade again.");

// The description line of both panels.
QString FirmwareDescription(const TFirmwareImage& image);
