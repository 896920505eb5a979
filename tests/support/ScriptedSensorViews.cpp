#include "ScriptedSensorViews.h"

void ScriptedSensorLogView::SetCalLabel(const QString& text, RColour colour)
{
    calLabels.push_back({FClock ? FClock->Seconds() : 0.0, text, colour});
}

void ScriptedSensorLogView::ShowReading(const RReadingDisplay& reading)
{
    readings.push_back(reading);
    if (onReading)
        onReading(reading);
}

std::optional<QString> ScriptedSensorLogView::AskSaveFile(const RFileRequest& request)
{
    fileRequests.push_back(request);
    if (saveFileAnswers.empty())
        return std::nullopt;
    std::optional<QString> answer = saveFileAnswers.front();
    saveFileAnswers.pop_front();
    return answer;
}

QStringList ScriptedSensorLogView::CalTexts() const
{
    QStringList texts;
    for (const ShownLabel& label : calLabels)
        if (!label.text.isEmpty())
            texts << label.text;
    return texts;
}

const ShownLabel* ScriptedSensorLogView::FindLabel(const QString& text) const
{
    for (const ShownLabel& label : calLabels)
        if (label.text == text)
            return &label;
    return nullptr;
}

void ScriptedSensorCalView::SetCalLine(CalLine line, const QString& text, RColour colour)
{
    lines.push_back({FClock ? FClock->Seconds() : 0.0, line, text, colour});
}

QStringList ScriptedSensorCalView::Texts(CalLine line) const
{
    QStringList texts;
    for (const ShownCalLine& shown : lines)
        if (shown.line == line && !shown.text.isEmpty())
            texts << shown.text;
    return texts;
}

const ShownCalLine* ScriptedSensorCalView::Find(const QString& text) const
{
    for (const ShownCalLine& shown : lines)
        if (shown.text == text)
            return &shown;
    return nullptr;
}
