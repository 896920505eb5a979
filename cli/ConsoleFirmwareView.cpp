#include "ConsoleFirmwareView.h"

#include <QString>

#include <ostream>
#include <string>

#include "FirmwareUpgrade.h"

namespace {

constexpr int kBarWidth = 40;
constexpr int kTenths = 10;

}  // namespace

TConsoleFirmwareView::TConsoleFirmwareView(std::ostream& err, bool terminal) : FErr(err), FTerminal(terminal) {}

void TConsoleFirmwareView::ShowImage(const QString& fileLabel, const QString& description, bool)
{
    EndLine();
    if (!fileLabel.isEmpty())
        FErr << fileLabel.toStdString() << "\n";
    FErr << description.toStdString() << "\n";
}

void TConsoleFirmwareView::SetProgressMaximum(int maximum)
{
    FMaximum = maximum;
}

void TConsoleFirmwareView::SetProgress(int value)
{
    FValue = value;
    if (value == 0) {
        // A new attempt starts from the first packet.
        EndLine();
        FLastTenth = 0;
        FText.clear();
    }
}

void TConsoleFirmwareView::ShowProgressText(const QString& text)
{
    FText = text.toStdString();
    Report();
}

void TConsoleFirmwareView::ShowUpgradeNote(const QString& text)
{
    EndLine();
    FErr << text.toStdString() << "\n";
}

void TConsoleFirmwareView::Report()
{
    if (FMaximum <= 0)
        return;
    if (FTerminal) {
        DrawBar(FValue);
        if (FValue >= FMaximum)
            EndLine();
        return;
    }
    const int tenth = FValue * kTenths / FMaximum;
    if (tenth <= FLastTenth)
        return;
    FLastTenth = tenth;
    // The tenth reached, as a script reading these lines expects, then the
    // time left the workflow worked out ("37%, 0:42 left").
    const std::size_t comma = FText.find(", ");
    FErr << opname::kDownloadImage.toStdString() << " " << tenth * kTenths << "% (" << FValue << "/" << FMaximum << ")"
         << (comma == std::string::npos ? std::string() : FText.substr(comma)) << "\n";
}

void TConsoleFirmwareView::DrawBar(int value)
{
    const int filled = value * kBarWidth / FMaximum;
    FErr << "\r" << opname::kDownloadImage.toStdString() << " [" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << value << "/" << FMaximum << " "
         << FText << "   " << std::flush;
    FLineOpen = true;
}

void TConsoleFirmwareView::EndLine()
{
    if (!FLineOpen)
        return;
    FErr << "\n";
    FLineOpen = false;
}
