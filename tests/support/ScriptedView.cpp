#include "ScriptedView.h"

#include <stdexcept>

void ScriptedView::ClearRecord()
{
    statuses.clear();
    messages.clear();
    questions.clear();
    confirmations.clear();
    unitLines.clear();
    fileRequests.clear();
    buttonStates.clear();
    refilledSerials.clear();
    modelNames.clear();
    formsShown = 0;
    trace.clear();
    sensorLogDialogs = 0;
    sensorCalDialogs.clear();
}

const ShownStatus& ScriptedView::LastStatus() const
{
    if (statuses.empty())
        throw std::logic_error("no status line was shown");
    return statuses.back();
}

void ScriptedView::PaintStatus(RColour background, RColour font, const QString& text)
{
    statuses.push_back({background, font, text});
}

void ScriptedView::ShowMessage(BoxIcon icon, const QString& caption, const QString& text)
{
    messages.push_back({icon, caption, text, {}});
}

void ScriptedView::ShowDetailedMessage(BoxIcon icon, const QString& caption, const QString& text,
                                       const QString& details)
{
    messages.push_back({icon, caption, text, details});
}

bool ScriptedView::AskYesNo(const QString& caption, const QString& text)
{
    questions.push_back({caption, text});
    if (whileAsking)
        whileAsking();
    if (yesNoAnswers.empty())
        return false;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

bool ScriptedView::AskYesNoDefaultNo(const QString& caption, const QString& text)
{
    confirmations.push_back({caption, text});
    if (whileAsking)
        whileAsking();
    if (confirmAnswers.empty())
        return confirmUnscripted;
    const bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
}

std::optional<QString> ScriptedView::AskOpenFile(const RFileRequest& request)
{
    fileRequests.push_back(request);
    if (openFileAnswers.empty())
        return std::nullopt;
    auto answer = openFileAnswers.front();
    openFileAnswers.pop_front();
    return answer;
}

std::optional<QString> ScriptedView::AskSaveFile(const RFileRequest& request)
{
    fileRequests.push_back(request);
    if (saveFileAnswers.empty())
        return std::nullopt;
    auto answer = saveFileAnswers.front();
    saveFileAnswers.pop_front();
    return answer;
}

void ScriptedView::SetFormValues(const RFormValues& values)
{
    form = values;
    ++formsShown;
}

RFormValues ScriptedView::FormValues()
{
    return form;
}

void ScriptedView::SetLifeSpins(int months, int days)
{
    form.opt.lifeMonths = months;
    form.opt.lifeDays = days;
}

void ScriptedView::SetModelName(const QString& name)
{
    modelNames << name;
}

void ScriptedView::RefillSerialEdit(const QString& serial)
{
    form.opt.serial = serial;
    refilledSerials.push_back(serial);
}

void ScriptedView::SetDeviceButtonsEnabled(bool enabled)
{
    buttonStates.push_back(enabled);
}

void ScriptedView::AppendTrace(const QString& line)
{
    trace << line;
}

QStringList ScriptedView::TraceLines()
{
    return trace;
}

void ScriptedView::SetTraceVisible(bool visible)
{
    traceVisible = visible;
}

void ScriptedView::SetSensorNames(const QStringList& names)
{
    sensorNames = names;
}

void ScriptedView::PrepareEepromGrid(const QStringList& rowAddresses)
{
    eepromRows = rowAddresses;
}

void ScriptedView::ApplyLayout(bool factoryMode)
{
    layoutFactory = factoryMode;
}

void ScriptedView::SetWindowGeometry(const WindowGeometry& geometry)
{
    appliedGeometry = geometry;
    currentGeometry = geometry;
}

WindowGeometry ScriptedView::CurrentWindowGeometry()
{
    return currentGeometry;
}

void ScriptedView::StartClock()
{
    clockStarted = true;
}
