#pragma once
// What the factory and TEST commands show on the TEST page beyond the main
// window's status line and boxes: the EEPROM grid. The window's page, the
// command line and the tests all keep the grid in a TEepromGridModel; the
// workflows reach it through this interface, from the link thread through
// TGuiThreadTestPageView.
#include <QObject>

#include <cstdint>
#include <vector>

#include "EepromGrid.h"
#include "EepromGridModel.h"
#include "GuiCall.h"

class ITestPageView {
public:
    virtual ~ITestPageView() = default;
    // A finished EEPROM read from firstAddress on: the rows before endRow take the dump.
    virtual void ShowEepromDump(int firstAddress, int endRow, const std::vector<std::uint8_t>& dump) = 0;
    // The grid as it stands, typed text included.
    virtual EepromGridTexts EepromGrid() = 0;
};

// The page over a grid model in the caller's own thread.
class TModelTestPageView : public ITestPageView {
public:
    explicit TModelTestPageView(TEepromGridModel& model) : FModel(model) {}
    void ShowEepromDump(int firstAddress, int endRow, const std::vector<std::uint8_t>& dump) override
    {
        FModel.ShowDump(firstAddress, endRow, dump);
    }
    EepromGridTexts EepromGrid() override { return FModel.Texts(); }

private:
    TEepromGridModel& FModel;
};

// Hands the calls to a page living in another thread: the dump is queued (it
// only shows something), the grid's texts are waited for.
class TGuiThreadTestPageView : public ITestPageView {
public:
    // `context` is a QObject of the page's thread; `target` must outlive every call.
    TGuiThreadTestPageView(ITestPageView& target, QObject* context) : FTarget(target), FContext(context) {}
    void ShowEepromDump(int firstAddress, int endRow, const std::vector<std::uint8_t>& dump) override
    {
        ITestPageView* target = &FTarget;
        PostToGui(FContext, [target, firstAddress, endRow, dump] { target->ShowEepromDump(firstAddress, endRow, dump); });
    }
    EepromGridTexts EepromGrid() override
    {
        return CallOnGui(FContext, [this] { return FTarget.EepromGrid(); });
    }

private:
    ITestPageView& FTarget;
    QObject* FContext;
};
