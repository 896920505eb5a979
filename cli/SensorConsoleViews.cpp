#include "SensorConsoleViews.h"

#include <QDateTime>
#include <QStringList>

#include <ostream>

#include "SensorLogging.h"
#include "SensorReading.h"
#include "StatusTexts.h"

namespace {

// Flag names as the dialog's History and Alarm boxes show them.
struct RFlagName {
    bool history;
    std::uint8_t mask;
    const char* name;
};

constexpr RFlagName kFlags[] = {
    {true, historybit::kSelfTestFail, "Self Test Fail"},
    {true, historybit::kCalibrationFail, "Calibration Fail"},
    {true, historybit::kBumpTestFail, "Bump Test Fail"},
    {true, historybit::kCalibrationDue, "Calibration Due"},
    {true, historybit::kBumpDue, "Bump Due"},
    {true, historybit::kCalibrationProgress, "Calibration progress"},
    {false, alarmbit::kTWA, "TWA"},
    {false, alarmbit::kSTEL, "STEL"},
    {false, alarmbit::kLow, "LOW"},
    {false, alarmbit::kHigh, "HIGH"},
    {false, alarmbit::kMulti, "MULTI"},
};

QString OrDash(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString Supply(const QString& value, const QString& adc)
{
    if (value.isEmpty())
        return QStringLiteral("-");
    return value + QStringLiteral(" (") + adc + QLatin1Char(')');
}

void PrintBox(std::ostream& err, const QString& caption, const QString& text)
{
    err << caption.toStdString() << ":\n" << MessageLines(text.toStdString()) << "\n";
}

}  // namespace

QString ReadingLine(const RReadingDisplay& r)
{
    QStringList flags;
    for (const RFlagName& flag : kFlags)
        if (((flag.history ? r.history : r.alarm) & flag.mask) != 0)
            flags << QString::fromLatin1(flag.name);
    return r.time.toString(QStringLiteral("hh:mm:ss.zzz")) + QStringLiteral(" sensor ") + r.sensorValue +
           QStringLiteral(" peak ") + r.sensorPeak + QStringLiteral(" battery ") +
           Supply(r.batteryValue, r.batteryAdc) + QStringLiteral(" temperature ") +
           Supply(r.temperatureValue, r.temperatureAdc) + QStringLiteral(" flags ") + OrDash(flags.join(','));
}

void TConsoleLogView::SetCalLabel(const QString& text, RColour)
{
    if (!text.isEmpty())
        FErr << text.toStdString() << "\n";
}

void TConsoleLogView::ShowReading(const RReadingDisplay& reading)
{
    FOut << ReadingLine(reading).toStdString() << std::endl;
}

void TConsoleLogView::ShowChart(const RChartWindow& chart)
{
    if (!FLoopStarted && chart.points.isEmpty()) {
        FLoopStarted = true;
        if (onLoopStart)
            onLoopStart();
    }
}

void TConsoleLogView::ShowDataLogFailure(const QString& path, int lostRecords)
{
    // Once: a line per lost record would bury the readings.
    if (lostRecords <= 0 || FFailureShown)
        return;
    FFailureShown = true;
    FErr << MessageLines(logtext::DataLogFailure(path, lostRecords).toStdString()) << "\n";
}

void TConsoleLogView::ShowUnitAnswering(bool answering, std::uint8_t status)
{
    const std::string time = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz")).toStdString();
    if (answering) {
        FErr << time << " the unit answers again: readings go on\n";
        return;
    }
    std::string reason = StatusTextFor(status).message;
    reason = reason.substr(0, reason.find('\r'));
    FErr << time << " the unit does not answer (" << int{status} << " " << reason << "): readings stopped\n";
}

std::optional<QString> TConsoleLogView::AskSaveFile(const RFileRequest&)
{
    return FLogFile;
}

void TConsoleLogView::ShowMessage(BoxIcon icon, const QString& caption, const QString& text)
{
    FErrorShown = FErrorShown || icon == BoxIcon::Error;
    PrintBox(FErr, caption, text);
}

void TConsoleCalView::SetSpanGas(double minimum, double maximum, double value, const QString& unit)
{
    FMin = minimum;
    FMax = maximum;
    FValue = value;
    FUnit = unit;
}

void TConsoleCalView::EndProgressLine()
{
    if (FProgressOpen)
        FErr << "\n";
    FProgressOpen = false;
}

void TConsoleCalView::SetCalLine(CalLine, const QString& text, RColour)
{
    if (text.isEmpty())
        return;
    EndProgressLine();
    FErr << text.toStdString() << std::endl;
}

void TConsoleCalView::SetCalibrating(bool running)
{
    if (!running)
        EndProgressLine();
}

void TConsoleCalView::SetProgress(int position)
{
    const std::string line =
        "Calibration progress " + std::to_string(position) + "/" + std::to_string(FProgressMax) + " s";
    if (FInPlace) {
        FErr << "\r" << line << std::flush;
        FProgressOpen = true;
    } else if (position > 0 && position < FProgressMax && position % 10 == 0) {
        FErr << line << std::endl;
    }
}

void TConsoleCalView::ShowMessage(BoxIcon, const QString& caption, const QString& text)
{
    EndProgressLine();
    PrintBox(FErr, caption, text);
}
