#include "SensorToolGuiViews.h"

#include "GuiCall.h"

void TSensorLogGuiView::SetRunning(bool running)
{
    ISensorLogView* target = &FTarget;
    PostToGui(FContext, [target, running] { target->SetRunning(running); });
}

void TSensorLogGuiView::SetCalButtons(bool commands, bool abort)
{
    ISensorLogView* target = &FTarget;
    PostToGui(FContext, [target, commands, abort] { target->SetCalButtons(commands, abort); });
}

void TSensorLogGuiView::SetCalProgressMax(int maximum)
{
    ISensorLogView* target = &FTarget;
    PostToGui(FContext, [target, maximum] { target->SetCalProgressMax(maximum); });
}

void TSensorLogGuiView::SetCalProgress(int position)
{
    ISensorLogView* target = &FTarget;
    PostToGui(FContext, [target, position] { target->SetCalProgress(position); });
}

void TSensorLogGuiView::SetCalLabel(const QString& text, RColour colour)
{
    ISensorLogView* target = &FTarget;
    PostToGui(FContext, [target, text, colour] { target->SetCalLabel(text, colour); });
}

void TSensorLogGuiView::SetCalProgLabel(const QString& text)
{
    ISensorLogView* target = &FTarget;
    PostToGui(FContext, [target, text] { target->SetCalProgLabel(text); });
}

void TSensorLogGuiView::ShowReading(const RReadingDisplay& reading)
{
    ISensorLogView* target = &FTarget;
    PostToGui(FContext, [target, reading] { target->ShowReading(reading); });
}

void TSensorLogGuiView::ShowChart(const RChartWindow& chart)
{
    {
        const std::lock_guard<std::mutex> hold(FChartLock);
        FPendingChart = chart;
        if (FChartQueued)
            return;
        FChartQueued = true;
    }
    PostToGui(FContext, [this] {
        RChartWindow latest;
        {
            const std::lock_guard<std::mutex> hold(FChartLock);
            latest = std::move(FPendingChart);
            FPendingChart = RChartWindow{};
            FChartQueued = false;
        }
        FTarget.ShowChart(latest);
    });
}

void TSensorLogGuiView::ShowDataLogFailure(const QString& path, int lostRecords)
{
    ISensorLogView* target = &FTarget;
    PostToGui(FContext, [target, path, lostRecords] { target->ShowDataLogFailure(path, lostRecords); });
}

std::optional<QString> TSensorLogGuiView::AskSaveFile(const RFileRequest& request)
{
    return CallOnGui(FContext, [&] { return FTarget.AskSaveFile(request); });
}

void TSensorLogGuiView::ShowMessage(BoxIcon icon, const QString& caption, const QString& text)
{
    CallOnGui(FContext, [&] { FTarget.ShowMessage(icon, caption, text); });
}

void TSensorCalGuiView::SetCaption(const QString& caption)
{
    ISensorCalView* target = &FTarget;
    PostToGui(FContext, [target, caption] { target->SetCaption(caption); });
}

void TSensorCalGuiView::SetSpanGas(double minimum, double maximum, double value, const QString& unit)
{
    ISensorCalView* target = &FTarget;
    PostToGui(FContext, [=] { target->SetSpanGas(minimum, maximum, value, unit); });
}

void TSensorCalGuiView::SetCalLine(CalLine line, const QString& text, RColour colour)
{
    ISensorCalView* target = &FTarget;
    PostToGui(FContext, [=] { target->SetCalLine(line, text, colour); });
}

void TSensorCalGuiView::SetCalibrating(bool running)
{
    ISensorCalView* target = &FTarget;
    PostToGui(FContext, [target, running] { target->SetCalibrating(running); });
}

void TSensorCalGuiView::SetProgressMax(int maximum)
{
    ISensorCalView* target = &FTarget;
    PostToGui(FContext, [target, maximum] { target->SetProgressMax(maximum); });
}

void TSensorCalGuiView::SetProgress(int position)
{
    ISensorCalView* target = &FTarget;
    PostToGui(FContext, [target, position] { target->SetProgress(position); });
}

void TSensorCalGuiView::ShowMessage(BoxIcon icon, const QString& caption, const QString& text)
{
    CallOnGui(FContext, [&] { FTarget.ShowMessage(icon, caption, text); });
}
