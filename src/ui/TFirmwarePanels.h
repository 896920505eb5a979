#pragma once
// The two firmware upgrade panels of the window: UserFMPanel in the user
// layout and UserOptFMPanel on the "User Options" page. They always show the
// same: one view over both, found in the window by their object names.
#include <QObject>

#include <array>
#include <functional>

#include "FirmwareView.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;
class TFirmwareUpgrade;

class TFirmwarePanels : public QObject, public IFirmwareView {
    Q_OBJECT

public:
    // `form` holds the panels' controls; it must outlive this object.
    explicit TFirmwarePanels(QWidget* form);

    // Wires the buttons. The folder and upgrade buttons hand their work to
    // `run` (the link thread); Cancel calls straight through, since the link
    // is busy with the download it cancels.
    void Connect(TFirmwareUpgrade& upgrade, std::function<void(std::function<void()>)> run);

    // Another operation holds the link: "Upgrade Firmware" is off meanwhile,
    // whatever the image says.
    void SetLinkBusy(bool busy);

    void ShowImage(const QString& fileLabel, const QString& description, bool upgradeEnabled) override;
    void SetUpgradeEnabled(bool enabled) override;
    void SetCancelEnabled(bool enabled) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgress(int value) override;
    void ShowProgressText(const QString& text) override;
    void ShowUpgradeNote(const QString& text) override;

private:
    struct Panel {
        QLabel* description = nullptr;
        QLabel* file = nullptr;
        QPushButton* open = nullptr;
        QPushButton* upgrade = nullptr;
        QPushButton* cancel = nullptr;
        QProgressBar* progress = nullptr;
    };
    void ApplyUpgradeState();

    std::array<Panel, 2> FPanels;
    bool FUpgradeAllowed = false;
    bool FLinkBusy = false;
    QString FDescription;  // of the image loaded
};
