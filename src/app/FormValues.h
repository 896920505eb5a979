#pragma once
// The configuration as the window's controls hold it: plain values, no
// widgets. ShowConfig turns a record into these, CollectConfig turns them
// back into a record, and the window (or a test's scripted view) only copies
// them into and out of its controls.
#include <QString>

#include <array>
#include <cstdint>

// Items of the "Display" combo, in list order.
enum class DisplayItem : int {
    SensorAndLife = 0,  // "Sensor/Life Remaining"
    SensorOnly = 1,     // "Sensor Reading"
    LifeOnly = 2,       // "Life Remaining"
};

// Limits of a spin edit; the edit keeps its value inside them.
struct RSpinRange {
    double min = 0;
    double max = 0;
    bool operator==(const RSpinRange&) const = default;
};

// Fixed limits of the editors. The alarm and gas spins take theirs from the
// sensor type table instead.
namespace editlimits {
constexpr int kMonthsMax = 24;
constexpr int kDaysMax = 31;
constexpr int kIntervalDaysMax = 365;
constexpr int kTestHoursMin = 6;
constexpr int kTestHoursMax = 24;
constexpr int kBatteryMax = 1024;
constexpr int kUserIDLength = 6;
constexpr int kSerialLength = 10;
// Before any sensor entry has set them: the whole range a 16-bit tenths
// value can hold.
constexpr RSpinRange kGasRangeUnset{0, 6553.5};
}  // namespace editlimits

// One set of configuration controls. The user layout shows the versions,
// serial number and life as labels; the "User Options" page edits the
// hardware version, serial number and life (months and days spins).
struct RConfigControls {
    QString hwVersion;        // UserHWVersionLabel / UserOptHWVersionEdit
    QString fwVersion;        // UserSWVersionLabel / UserOptSWVersionLabel
    QString serial;           // UserSerialLabel / UserOptSerialEdit
    QString lifeText;         // UserLifeLabel (user layout only)
    int lifeMonths = 0;       // UserOptMonthLifeSpin
    int lifeDays = 0;         // UserOptDayLifeSpin
    int sensorItem = -1;      // position in the sensor combos, -1 = none selected
    QString sensorName;       // UserSensorTypeLabel
    double alarmHigh = 0;     // gas unit, one decimal
    double alarmLow = 0;
    double calIntervalDays = 0;
    int bumpIntervalDays = 0;
    QString userID;
    int testIntervalHours = editlimits::kTestHoursMin;
    int displayItem = static_cast<int>(DisplayItem::SensorAndLife);
    bool hideBumpLed = false;

    bool operator==(const RConfigControls&) const = default;
};

// The "Factory Options" page.
struct RFactoryControls {
    int batteryCritical = 0;  // FatoryOptBatteryLimitSpin ("Critical")
    int batteryStartup = 0;   // FatoryOptBatteryLimitStartupSpin
    int batteryCold = 0;      // FatoryOptBatteryLimit1Spin ("~-10℃")
    int batteryWarm = 0;      // FatoryOptBatteryLimit2Spin ("- 10℃~ ")
    QString alarmTime;
    QString alarmCount;
    QString testTime;
    QString testCount;
    int hibernateItem = 0;    // 0 = "", 1 = "Allow suspend"
    double spanGas = 0;       // gas unit, one decimal
    double sensorMax = 0;
    double sensorBase = 0;
    double deadZone = 0;
    std::array<std::int32_t, 3> tempComp{};
    QString zero;
    QString span;
    QString minSpan;
    QString tau;
    QString lastCal;
    QString peakTimer;
    QString lastBump;

    bool operator==(const RFactoryControls&) const = default;
};

struct RFormValues {
    RConfigControls user;      // user layout (UserScrollBox)
    RConfigControls opt;       // "User Options" page
    RFactoryControls factory;  // "Factory Options" page
    // Limits of the four alarm spins and of the four gas spins of the factory
    // page, from the sensor type entry last applied.
    RSpinRange alarmRange = editlimits::kGasRangeUnset;
    RSpinRange gasRange = editlimits::kGasRangeUnset;

    bool operator==(const RFormValues&) const = default;
};
