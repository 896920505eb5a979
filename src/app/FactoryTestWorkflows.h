#pragma once
// The commands of the "Factory Options" and "TEST" pages: calibration and
// power-down of the unit, factory reset, identify, the test outputs, clear
// peak and bump results, and the EEPROM dump with its file. Every command is
// one short exchange in the main window's operation cycle, described by a row
// of FactoryCommandTable() and run by the same small code; the EEPROM read
// and save have handlers of their own.
#include <QString>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "MainWorkflows.h"
#include "TestPageView.h"
#include "ZelRecords.h"

// The click handlers that share the table; the tag tells apart the buttons
// that share a handler.
enum class FactoryHandler : std::uint8_t {
    FatoryOptCal,
    FatoryOptTurnOff,
    EtcFactoryReset,
    EtcIdentify,
    EtcBeepON,    // tags 1..4: buzzer, right LED, left LED, vibrator
    EtcClearPeak, // tags 1..3: clear peak, bump fail, bump pass
};

enum class FactoryStep : std::uint8_t {
    Command,  // one command byte, answered by a status reply
    Sensor,   // 0x50, then the sensor command byte
    Output,   // a test output switched on and held for the AVOperate time
    Identity, // the identity record, shown in a box
};

struct RFactoryCommand {
    FactoryHandler handler;
    int tag;                    // 0 for handlers of one button
    const char* button;         // the control's objectName
    const char* name;           // status line and result name; nullptr: reports nothing
    bool checksProduct;         // identify and check the model first
    FactoryStep step;
    std::uint8_t commandByte;
    std::uint8_t otherStatusAs; // a reply status other than ACK/NAK (177) is reported as this; 0: as it is
    bool clearsHibernate;       // the next "Hibernate" asks again
    bool portOnlyAfterSuccess;  // a unit switching off gets no end-of-connection command
};

std::span<const RFactoryCommand> FactoryCommandTable();
const RFactoryCommand* FindFactoryCommand(FactoryHandler handler, int tag);

// The "Varnolite Identify" box: six lines separated by "\r".
QString IdentifyBoxText(const RZELIdenty& identity);

class TFactoryTestWorkflows {
public:
    // `main` gives the shared services (view, link, settings, cycle); it and
    // `page` must outlive this object.
    TFactoryTestWorkflows(TMainWorkflows& main, ITestPageView& page);

    void FatoryOptCalBtnClick();
    void FatoryOptTurnOffBtnClick();
    void EtcFactoryResetBtnClick();
    void EtcIdentifyBtnClick();
    void EtcBeepONBtnClick(int tag);
    void EtcClearPeakBtnClick(int tag);
    void EtcEEPROMReadBtnClick();
    void EtcEEPROMSaveBtnClick();
    // The handler of the table row for (handler, tag), as the button does it.
    void Run(FactoryHandler handler, int tag);

    // The status byte the last command ended with, as reported (after the
    // remap), also for the silent test outputs; nothing when no command ran
    // (an unknown tag, a cancelled save).
    std::optional<std::uint8_t> LastStatus() const { return FLastStatus; }
    // The folder the next "Save File" dialog opens in.
    const std::string& EepromSaveDir() const { return FEepromSaveDir; }

private:
    // Factory Reset and Turn Off ask first, naming the unit; true to go on.
    bool ConfirmDestructive(const RFactoryCommand& command);
    void RunReported(const RFactoryCommand& command);
    void RunOutput(const RFactoryCommand& command);
    void RecordOneShotCalibration(std::uint8_t status, const RZELIdenty& identity);
    std::uint8_t Exchange(const RFactoryCommand& command, RZELIdenty& identity);
    std::uint8_t OpenQuietly();

    TMainWorkflows& FMain;
    ITestPageView& FPage;
    std::optional<std::uint8_t> FLastStatus;
    std::string FEepromSaveDir;
};
