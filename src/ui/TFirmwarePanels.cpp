#include "TFirmwarePanels.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include <stdexcept>

#include "FirmwareUpgrade.h"

namespace {

template <typename T>
T* Control(QWidget* form, const QString& prefix, const char* name)
{
    auto* control = form->findChild<T*>(prefix + QLatin1String(name));
    if (!control)
        throw std::logic_error("firmware panel control missing: " + (prefix + QLatin1String(name)).toStdString());
    return control;
}

}  // namespace

TFirmwarePanels::TFirmwarePanels(QWidget* form) : QObject(form)
{
    const QString prefixes[2] = {QStringLiteral("UserFM"), QStringLiteral("UserOptFM")};
    for (std::size_t i = 0; i < FPanels.size(); ++i) {
        Panel& p = FPanels[i];
        p.description = Control<QLabel>(form, prefixes[i], "DescLabel");
        p.file = Control<QLabel>(form, prefixes[i], "FileLabel");
        p.open = Control<QPushButton>(form, prefixes[i], "OpenBtn");
        p.upgrade = Control<QPushButton>(form, prefixes[i], "UpgradeBtn");
        p.cancel = Control<QPushButton>(form, prefixes[i], "CancelBtn");
        p.progress = Control<QProgressBar>(form, prefixes[i], "ProgressBar");
        p.progress->setRange(0, 100);
        p.progress->setValue(0);
    }
    ApplyUpgradeState();
    SetCancelEnabled(false);
}

void TFirmwarePanels::Connect(TFirmwareUpgrade& upgrade, std::function<void(std::function<void()>)> run)
{
    TFirmwareUpgrade* u = &upgrade;
    for (const Panel& p : FPanels) {
        connect(p.open, &QPushButton::clicked, this, [run, u] { run([u] { u->UserFMOpenBtnClick(); }); });
        connect(p.upgrade, &QPushButton::clicked, this, [run, u] { run([u] { u->UserFMUpgradeBtnClick(); }); });
        connect(p.cancel, &QPushButton::clicked, this, [u] { u->UserFMCancelBtnClick(); });
    }
}

void TFirmwarePanels::SetLinkBusy(bool busy)
{
    FLinkBusy = busy;
    ApplyUpgradeState();
}

void TFirmwarePanels::ShowImage(const QString& fileLabel, const QString& description, bool upgradeEnabled)
{
    for (const Panel& p : FPanels) {
        p.file->setText(fileLabel);
        p.file->setToolTip(fileLabel);
        p.description->setText(description);
    }
    FDescription = description;
    SetUpgradeEnabled(upgradeEnabled);
}

void TFirmwarePanels::SetUpgradeEnabled(bool enabled)
{
    FUpgradeAllowed = enabled;
    ApplyUpgradeState();
}

void TFirmwarePanels::SetCancelEnabled(bool enabled)
{
    for (const Panel& p : FPanels)
        p.cancel->setEnabled(enabled);
}

void TFirmwarePanels::SetProgressMaximum(int maximum)
{
    for (const Panel& p : FPanels)
        p.progress->setMaximum(maximum);
}

void TFirmwarePanels::SetProgress(int value)
{
    for (const Panel& p : FPanels) {
        p.progress->setValue(value);
        if (value == 0)
            p.progress->resetFormat();
    }
}

void TFirmwarePanels::ShowProgressText(const QString& text)
{
    for (const Panel& p : FPanels) {
        p.progress->setTextVisible(true);
        p.progress->setFormat(text);
    }
}

void TFirmwarePanels::ShowUpgradeNote(const QString& text)
{
    // Under the image's own line: the versions, then any packet sent again.
    for (const Panel& p : FPanels)
        p.description->setText(FDescription + QLatin1Char('\n') + text);
}

void TFirmwarePanels::ApplyUpgradeState()
{
    for (const Panel& p : FPanels)
        p.upgrade->setEnabled(FUpgradeAllowed && !FLinkBusy);
}
