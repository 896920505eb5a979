#include "ConsoleFirmwareView.h"

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
    if (FMaximum <= 0)
        return;
    if (value == 0) {
        // A new attempt starts from the first packet.
        EndLine();
        FLastTenth = 0;
    }
    if (FTerminal) {
        DrawBar(value);
        if (value >= FMaximum)
            EndLine();
        return;
    }
    const int tenth = value * kTenths / FMaximum;
    if (tenth <= FLastTenth)
        return;
    FLastTenth = tenth;
    FErr << opname::kDownloadImage.toStdString() << " " << tenth * kTenths << "% (" << value << "/" << FMaximum
         << ")\n";
}

void TConsoleFirmwareView::DrawBar(int value)
{
    const int filled = value * kBarWidth / FMaximum;
    FErr << "\r" << opname::kDownloadImage.toStdString() << " [" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << value << "/" << FMaximum
         << std::flush;
    FLineOpen = true;
}

void TConsoleFirmwareView::EndLine()
{
    if (!FLineOpen)
        return;
    FErr << "\n";
    FLineOpen = false;
}
