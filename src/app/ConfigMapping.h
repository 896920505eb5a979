#pragma once
// The two directions between the configuration record and the window's
// controls. Kept free of any widget so that the window, the command line
// tool and the tests all share the exact same rules.
#include <QChar>
#include <QString>

#include <cstdint>
#include <vector>

#include "DeviceSettings.h"
#include "FormValues.h"
#include "ZelRecords.h"

// Limits of the alarm spins for a sensor: at least 1, because an alarm set
// point of zero would keep the unit in alarm.
RSpinRange AlarmRangeFor(const RSensorType& sensor);
// Limits of the span gas, maximum, base and dead zone spins.
RSpinRange GasRangeFor(const RSensorType& sensor);

// ShowConfig's mapping: the record as both control sets and the factory page
// would show it. A sensor type found in the table sets the spin limits; an
// unknown one leaves `current`'s limits in force. Every value is held inside
// its spin's limits, as the spin edit itself would hold it.
RFormValues ConfigToForm(const RZELCFG& cfg, const std::vector<RSensorType>& sensors,
                         RSpinRange currentAlarmRange, RSpinRange currentGasRange);

struct RCollectInput {
    bool factoryMode = false;
    bool forDevice = true;      // false when the record goes into a file
    std::uint8_t readSW = 0;    // firmware version of the unit last read
};

struct RCollectedConfig {
    RZELCFG cfg{};
    // The entered life was above 24 months and was cut to 24 months.
    bool lifeClamped = false;
};

// CollectConfig's mapping: a record from the user set (user mode) or the
// "User Options" and "Factory Options" pages (factory mode). Factory mode
// starts from `current` with its reserved bytes cleared, user mode from the
// default configuration.
RCollectedConfig FormToConfig(const RFormValues& form, const RZELCFG& current,
                              const std::vector<RSensorType>& sensors, const RCollectInput& input);

// Display texts.
QString TimeFieldText(std::uint32_t seconds);          // "---" when not set
QString LifeLabelText(std::uint32_t seconds);          // "24 Months   0 Days"
QString FixedText(const char* bytes, int length);      // up to the first zero byte
QString UserIDShownText(const char* bytes, int length);

// Characters the detector's user ID may hold, as typed: letters of either
// case (the edit turns them into capitals), digits, "-" and the blank, plus
// Backspace and Enter, which edit rather than add.
bool AcceptUserIDKey(QChar key);
// What the user ID and serial number edits may hold, whatever way text
// reaches them (typed, pasted, dropped, from an input method): small letters
// become capitals and every other character the field cannot store is
// dropped, so that what the technician sees is what the unit gets. The user
// ID keeps "-" and the blank; the serial number only 0-9 and A-Z.
QString FilterUserIDText(const QString& text);
QString FilterSerialText(const QString& text);
// The serial number edit is complete when the caret stands after the last
// character a serial number can have.
bool SerialEntryComplete(int caretPosition);
