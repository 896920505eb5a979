#pragma once
// The firmware panels on a terminal: the image loaded, and the download's
// progress on standard error, as a bar redrawn in place when that is a
// terminal, or one line per tenth of the image when it goes to a file or a
// pipe (a log would otherwise fill with carriage returns).
#include <iosfwd>
#include <string>

#include "FirmwareView.h"

class TConsoleFirmwareView : public IFirmwareView {
public:
    TConsoleFirmwareView(std::ostream& err, bool terminal);

    void ShowImage(const QString& fileLabel, const QString& description, bool upgradeEnabled) override;
    void SetUpgradeEnabled(bool) override {}
    void SetCancelEnabled(bool) override {}
    void SetProgressMaximum(int maximum) override;
    void SetProgress(int value) override;
    void ShowProgressText(const QString& text) override;
    void ShowUpgradeNote(const QString& text) override;

    // Ends a bar line still open, so that other output starts on a line of
    // its own.
    void EndLine();

private:
    void DrawBar(int value);
    void Report();

    std::ostream& FErr;
    const bool FTerminal;
    int FMaximum = 0;
    int FValue = 0;
    std::string FText;   // share and time left, as the workflow put them
    int FLastTenth = 0;  // tenths of the image reported so far
    bool FLineOpen = false;
};
