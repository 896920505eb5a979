#include "ConsoleView.h"

#include <QDir>

#include <istream>
#include <ostream>
#include <string>

#include "StatusTexts.h"

TConsoleView::TConsoleView(std::ostream& err, std::istream& in) : FErr(err), FIn(in) {}

void TConsoleView::PaintStatus(RColour background, RColour, const QString& text)
{
    // The white "name..." line only says an operation started; scripts want
    // the outcome.
    if (background == colours::kWhite)
        return;
    FLastStatus = text;
    BeforeOutput();
    FErr << text.toStdString() << "\n";
}

void TConsoleView::ShowMessage(BoxIcon icon, const QString& caption, const QString& text)
{
    if (icon == BoxIcon::Error)
        FErrorShown = true;
    BeforeOutput();
    // A box that follows its operation's red status line needs no caption;
    // any other box names what it is about.
    if (!FLastStatus.startsWith(caption))
        FErr << caption.toStdString() << ":\n";
    FErr << MessageLines(text.toStdString()) << "\n";
}

bool TConsoleView::AskYesNo(const QString& caption, const QString& text)
{
    if (FAnswerYes)
        return true;
    BeforeOutput();
    FErr << caption.toStdString() << ": " << MessageLines(text.toStdString()) << " [y/N] " << std::flush;
    std::string answer;
    const bool yes = std::getline(FIn, answer) && (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes");
    FDeclined = FDeclined || !yes;
    return yes;
}

std::optional<QString> TConsoleView::AskOpenFile(const RFileRequest&)
{
    return FFileAnswer;
}

std::optional<QString> TConsoleView::AskSaveFile(const RFileRequest& request)
{
    if (!FFileAnswer && FTakeProposedName && !request.fileName.isEmpty())
        return QDir(request.folder).filePath(request.fileName);
    return FFileAnswer;
}

void TConsoleView::SetLifeSpins(int months, int days)
{
    FForm.opt.lifeMonths = months;
    FForm.opt.lifeDays = days;
}

void TConsoleView::AppendTrace(const QString& line)
{
    if (FKeptTrace)
        FKeptTrace->append(line);
    if (FTraceVisible) {
        BeforeOutput();
        FErr << line.toStdString() << "\n";
    }
}
