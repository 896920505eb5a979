#pragma once
// What the guided calibration shows to the user. The dialog implements it
// (through a view that carries the calls to the GUI thread), the command line
// prints it, tests record it. Only ShowMessage waits for the user.
#include <QString>

#include <atomic>

#include "SensorClock.h"
#include "ViewTypes.h"

// The three status lines CalLabel, CalLabel1 and CalLabel2.
enum class CalLine { Status = 0, Apply = 1, Result = 2 };

class ISensorCalView {
public:
    virtual ~ISensorCalView() = default;

    virtual void SetCaption(const QString& caption) = 0;
    // SpanGasSpin's range and value, in the gas unit; CalUnitLabel.
    virtual void SetSpanGas(double minimum, double maximum, double value, const QString& unit) = 0;
    virtual void SetCalLine(CalLine line, const QString& text, RColour colour) = 0;
    // While a calibration runs Calibration and Close are off and Cancel is
    // on, and the window may not be closed.
    virtual void SetCalibrating(bool running) = 0;
    virtual void SetProgressMax(int maximum) = 0;
    virtual void SetProgress(int position) = 0;

    virtual void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) = 0;
};

// Cancel (CalAbortBtnClick): reaches the running calibration at its next
// pass. Safe from any thread.
class TSensorCalRequests {
public:
    void Cancel()
    {
        FCancel.store(true);
        FWakeup.Notify();
    }
    bool TakeCancel() { return FCancel.exchange(false); }
    TWakeup& Wakeup() { return FWakeup; }

private:
    std::atomic<bool> FCancel{false};
    TWakeup FWakeup;
};
