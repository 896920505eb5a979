#pragma once
// Everything the main-window workflows show to or ask of the user. The Qt
// window implements it with its widgets; tests implement it with scripted
// answers and keep a record of what was shown. The workflows never touch a
// widget directly, so they run the same way in the window, in the command
// line tool and under test.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "DeviceSettings.h"
#include "FormValues.h"
#include "UnitLine.h"
#include "ViewTypes.h"
#include "ZelRecords.h"

class IMainView {
public:
    virtual ~IMainView() = default;

    // Status line: colours and text ("\r" never occurs there).
    virtual void PaintStatus(RColour background, RColour font, const QString& text) = 0;
    // Modal message box with an OK button. "\r" in the text is a line break.
    virtual void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) = 0;
    // The same box with a details part that the user may open: what the
    // connection doctor found, for the statuses that point at the adapter or
    // its port. Views without such a part show the message alone.
    virtual void ShowDetailedMessage(BoxIcon icon, const QString& caption, const QString& text, const QString& details)
    {
        (void)details;
        ShowMessage(icon, caption, text);
    }
    // Modal question with Yes and No; true for Yes.
    virtual bool AskYesNo(const QString& caption, const QString& text) = 0;
    // The same question with No as the default button, for a step that
    // destroys or overwrites something on the unit or in the window: Enter
    // alone must never take it.
    virtual bool AskYesNoDefaultNo(const QString& caption, const QString& text) { return AskYesNo(caption, text); }
    // File dialogs; nothing when the user cancels.
    virtual std::optional<QString> AskOpenFile(const RFileRequest& request) = 0;
    virtual std::optional<QString> AskSaveFile(const RFileRequest& request) = 0;

    // Both control sets and the factory page, with the spin limits.
    virtual void SetFormValues(const RFormValues& values) = 0;
    virtual RFormValues FormValues() = 0;
    // The factory page's life spins alone (after an entry was clamped).
    virtual void SetLifeSpins(int months, int days) = 0;
    // Which unit or file the values come from, and the edits since; the
    // view shows the line and greys the values while ValuesGreyed().
    virtual void ShowUnitLine(const TUnitLine& line) { (void)line; }
    // UserOptIDLabel: the model name of the unit last identified.
    virtual void SetModelName(const QString& name) = 0;
    // Put a serial number into UserOptSerialEdit and give it the focus, ready
    // for the next unit.
    virtual void RefillSerialEdit(const QString& serial) = 0;

    // Every button that starts an operation, in both layouts; off while an
    // operation holds the link.
    virtual void SetDeviceButtonsEnabled(bool enabled) = 0;

    // Communication trace memo.
    virtual void AppendTrace(const QString& line) = 0;
    virtual QStringList TraceLines() = 0;
    virtual void SetTraceVisible(bool visible) = 0;

    // Start-up preparation of the window.
    virtual void SetSensorNames(const QStringList& names) = 0;
    virtual void PrepareEepromGrid(const QStringList& rowAddresses) = 0;
    // First activation: the layout of the mode, the saved geometry, the clock.
    virtual void ApplyLayout(bool factoryMode) = 0;
    virtual void SetWindowGeometry(const WindowGeometry& geometry) = 0;
    virtual WindowGeometry CurrentWindowGeometry() = 0;
    virtual void StartClock() = 0;

    // The two sensor tools. Each is a modal dialog of its own that starts its
    // own operations; the request only opens it, after the operation that
    // asked for it has ended. Views without windows (the command line, most
    // tests) have nothing to open.
    virtual void OpenSensorLogDialog() {}
    // `cfg`: the configuration just read from the unit.
    virtual void OpenSensorCalDialog(const RZELCFG& cfg) { (void)cfg; }
};
