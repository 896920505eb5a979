#pragma once
// What the firmware upgrade shows: the two firmware panels (user layout and
// "User Options" page), which always mirror each other. Everything here only
// shows something, so the window may carry these calls over to its thread
// without the link ever waiting for them.
#include <QString>

class IFirmwareView {
public:
    virtual ~IFirmwareView() = default;

    // File label, description and whether "Upgrade Firmware" may be pressed.
    virtual void ShowImage(const QString& fileLabel, const QString& description, bool upgradeEnabled) = 0;
    virtual void SetUpgradeEnabled(bool enabled) = 0;
    virtual void SetCancelEnabled(bool enabled) = 0;
    // Both progress bars.
    virtual void SetProgressMaximum(int maximum) = 0;
    virtual void SetProgress(int value) = 0;
    // The progress in words: the share sent and the time left.
    virtual void ShowProgressText(const QString& text) { (void)text; }
    // A line about the upgrade under way: the versions before the first
    // packet, a packet sent again.
    virtual void ShowUpgradeNote(const QString& text) { (void)text; }
};
