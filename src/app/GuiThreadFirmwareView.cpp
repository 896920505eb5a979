#include "GuiThreadFirmwareView.h"

#include "GuiCall.h"

void TGuiThreadFirmwareView::ShowImage(const QString& fileLabel, const QString& description, bool upgradeEnabled)
{
    IFirmwareView* target = &FTarget;
    PostToGui(FContext, [target, fileLabel, description, upgradeEnabled] {
        target->ShowImage(fileLabel, description, upgradeEnabled);
    });
}

void TGuiThreadFirmwareView::SetUpgradeEnabled(bool enabled)
{
    IFirmwareView* target = &FTarget;
    PostToGui(FContext, [target, enabled] { target->SetUpgradeEnabled(enabled); });
}

void TGuiThreadFirmwareView::SetCancelEnabled(bool enabled)
{
    IFirmwareView* target = &FTarget;
    PostToGui(FContext, [target, enabled] { target->SetCancelEnabled(enabled); });
}

void TGuiThreadFirmwareView::SetProgressMaximum(int maximum)
{
    IFirmwareView* target = &FTarget;
    PostToGui(FContext, [target, maximum] { target->SetProgressMaximum(maximum); });
}

void TGuiThreadFirmwareView::SetProgress(int value)
{
    IFirmwareView* target = &FTarget;
    PostToGui(FContext, [target, value] { target->SetProgress(value); });
}

void TGuiThreadFirmwareView::ShowProgressText(const QString& text)
{
    IFirmwareView* target = &FTarget;
    PostToGui(FContext, [target, text] { target->ShowProgressText(text); });
}

void TGuiThreadFirmwareView::ShowUpgradeNote(const QString& text)
{
    IFirmwareView* target = &FTarget;
    PostToGui(FContext, [target, text] { target->ShowUpgradeNote(text); });
}
