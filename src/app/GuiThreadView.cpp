#include "GuiThreadView.h"

void TGuiThreadView::PaintStatus(RColour background, RColour font, const QString& text)
{
    OnGuiThread([&] { FTarget.PaintStatus(background, font, text); });
}

void TGuiThreadView::ShowMessage(BoxIcon icon, const QString& caption, const QString& text)
{
    OnGuiThread([&] { FTarget.ShowMessage(icon, caption, text); });
}

void TGuiThreadView::ShowDetailedMessage(BoxIcon icon, const QString& caption, const QString& text,
                                         const QString& details)
{
    OnGuiThread([&] { FTarget.ShowDetailedMessage(icon, caption, text, details); });
}

bool TGuiThreadView::AskYesNo(const QString& caption, const QString& text)
{
    return OnGuiThread([&] { return FTarget.AskYesNo(caption, text); });
}

bool TGuiThreadView::AskYesNoDefaultNo(const QString& caption, const QString& text)
{
    return OnGuiThread([&] { return FTarget.AskYesNoDefaultNo(caption, text); });
}

void TGuiThreadView::ShowUnitLine(const TUnitLine& line)
{
    OnGuiThread([&] { FTarget.ShowUnitLine(line); });
}

std::optional<QString> TGuiThreadView::AskOpenFile(const RFileRequest& request)
{
    return OnGuiThread([&] { return FTarget.AskOpenFile(request); });
}

std::optional<QString> TGuiThreadView::AskSaveFile(const RFileRequest& request)
{
    return OnGuiThread([&] { return FTarget.AskSaveFile(request); });
}

void TGuiThreadView::SetFormValues(const RFormValues& values)
{
    OnGuiThread([&] { FTarget.SetFormValues(values); });
}

RFormValues TGuiThreadView::FormValues()
{
    return OnGuiThread([&] { return FTarget.FormValues(); });
}

void TGuiThreadView::SetLifeSpins(int months, int days)
{
    OnGuiThread([&] { FTarget.SetLifeSpins(months, days); });
}

void TGuiThreadView::SetModelName(const QString& name)
{
    OnGuiThread([&] { FTarget.SetModelName(name); });
}

void TGuiThreadView::RefillSerialEdit(const QString& serial)
{
    OnGuiThread([&] { FTarget.RefillSerialEdit(serial); });
}

void TGuiThreadView::SetDeviceButtonsEnabled(bool enabled)
{
    OnGuiThread([&] { FTarget.SetDeviceButtonsEnabled(enabled); });
}

void TGuiThreadView::AppendTrace(const QString& line)
{
    // Trace lines come in the middle of an exchange; the link must not wait
    // for the memo to repaint. Queued calls keep their order, also relative
    // to the blocking ones that follow.
    IMainView* target = &FTarget;
    PostToGui(FContext, [target, line] { target->AppendTrace(line); });
}

QStringList TGuiThreadView::TraceLines()
{
    return OnGuiThread([&] { return FTarget.TraceLines(); });
}

void TGuiThreadView::SetTraceVisible(bool visible)
{
    OnGuiThread([&] { FTarget.SetTraceVisible(visible); });
}

void TGuiThreadView::SetSensorNames(const QStringList& names)
{
    OnGuiThread([&] { FTarget.SetSensorNames(names); });
}

void TGuiThreadView::PrepareEepromGrid(const QStringList& rowAddresses)
{
    OnGuiThread([&] { FTarget.PrepareEepromGrid(rowAddresses); });
}

void TGuiThreadView::ApplyLayout(bool factoryMode)
{
    OnGuiThread([&] { FTarget.ApplyLayout(factoryMode); });
}

void TGuiThreadView::SetWindowGeometry(const WindowGeometry& geometry)
{
    OnGuiThread([&] { FTarget.SetWindowGeometry(geometry); });
}

WindowGeometry TGuiThreadView::CurrentWindowGeometry()
{
    return OnGuiThread([&] { return FTarget.CurrentWindowGeometry(); });
}

void TGuiThreadView::StartClock()
{
    OnGuiThread([&] { FTarget.StartClock(); });
}

void TGuiThreadView::OpenSensorLogDialog()
{
    // The dialog runs its own operations on the link thread, which must be
    // free again by then: open it after this operation has ended.
    IMainView* target = &FTarget;
    PostToGui(FContext, [target] { target->OpenSensorLogDialog(); });
}

void TGuiThreadView::OpenSensorCalDialog(const RZELCFG& cfg)
{
    IMainView* target = &FTarget;
    PostToGui(FContext, [target, cfg] { target->OpenSensorCalDialog(cfg); });
}
