#include "ConfigPrinting.h"

#include <QJsonDocument>

#include <cstring>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "RecordFields.h"
#include "SensorTypes.h"
#include "TextHelpers.h"

namespace {

std::string Chars(const char* data, std::size_t len)
{
    return std::string(data, strnlen(data, len));
}

std::string TimeText(std::uint32_t seconds)
{
    return seconds > zel::kFullLife ? std::string("---") : std::to_string(seconds);
}

std::string LifeText(std::uint32_t seconds)
{
    if (seconds > zel::kFullLife)
        return "---";
    const LifeSplit life = SplitLife(seconds);
    return std::to_string(life.months) + " Months " + std::to_string(life.days) + " Days";
}

std::string Tenths(unsigned value)
{
    std::ostringstream out;
    out << value / 10 << '.' << value % 10;
    return out.str();
}

std::string DisplayChoice(std::uint8_t flags)
{
    if (!(flags & zel::kFlagShowSensor))
        return "Life Remaining";
    return (flags & zel::kFlagHideLife) ? "Sensor Reading" : "Sensor/Life Remaining";
}

}  // namespace

void PrintIdentity(std::ostream& out, const RZELIdenty& id)
{
    out << std::left;
    out << std::setw(24) << "Model" << ModelName(id.mPID) << " (" << int(id.mPID) << ")\n";
    out << std::setw(24) << "Serial" << Chars(id.mSerial, sizeof id.mSerial) << "\n";
    out << std::setw(24) << "Hardware version" << HWVersionText(id.mHW) << "\n";
    out << std::setw(24) << "Firmware version" << FWVersionText(id.mSW) << "\n";
    std::ostringstream sensor;
    sensor << "0x" << std::hex << std::uppercase << std::setw(2) << std::setfill('0') << int(id.mSensor);
    out << std::setw(24) << "Sensor present" << sensor.str() << "\n";
    out << std::setw(24) << "Life" << id.mLife << " sec\n";
}

void PrintConfig(std::ostream& out, const RZELCFG& cfg, const std::vector<RSensorType>& sensors)
{
    const RZELUnitCFG& u = cfg.mUnit;
    const RZELSensorCFG& s = cfg.mSensor;
    auto row = [&out](const char* label, const std::string& value) {
        out << std::left << std::setw(24) << label << value << "\n";
    };
    row("User ID", Chars(u.mUserID, sizeof u.mUserID));
    row("Serial", Chars(u.mSerial, sizeof u.mSerial));
    row("Hardware version", HWVersionText(u.mHWVersion));
    row("Firmware version", FWVersionText(u.mFWVersion));
    row("Life remaining", LifeText(u.mLifeRemaining));
    row("Display", DisplayChoice(u.mUnitFlag));
    row("Hide bump due LED", (u.mUnitFlag & zel::kFlagHideBumpLed) ? "yes" : "no");
    row("Self-test interval", std::to_string(u.mTestInterval) + " h");
    row("Hibernation", u.mAllowSuspend == zel::kSuspendAllowed ? "allowed" : "not allowed");
    row("Battery limits", std::to_string(u.mBatLimit[0]) + " / " + std::to_string(u.mBatLimit[1]) + ", startup " +
                              std::to_string(u.mBatLimitStartUp) + ", critical " + std::to_string(u.mBatLimitCritical));
    row("Alarm time (sec)", TimeText(u.mAlarmTime));
    row("Alarm count", std::to_string(u.mAlarmCount));
    row("Test time (sec)", TimeText(u.mTestTime));
    row("Test count", std::to_string(u.mTestCount));
    const int sensorAt = FindSensorType(sensors, s.mSensorType);
    const std::string unit = sensorAt >= 0 ? " " + sensors[static_cast<std::size_t>(sensorAt)].mUnit : "";
    row("Sensor type", (sensorAt >= 0 ? sensors[static_cast<std::size_t>(sensorAt)].mName + " " : std::string()) + "(" +
                           std::to_string(s.mSensorType) + ")");
    row("High alarm", Tenths(s.mAlarmHigh) + unit);
    row("Low alarm", Tenths(s.mAlarmLow) + unit);
    row("Calibration interval", std::to_string((s.mCalInterval + zel::kDaySeconds / 2) / zel::kDaySeconds) + " days");
    row("Bump interval", std::to_string(s.mBumpInterval) + " days");
    row("Dead zone", Tenths(s.mDeadZone) + unit);
    row("Span gas", Tenths(s.mSpanGas) + unit);
    row("Sensor max / base", Tenths(s.mSensorMax) + " / " + Tenths(s.mSensorBase));
    row("Last calibration (sec)", TimeText(s.mLastCal));
    row("Last bump (sec)", TimeText(s.mLastBump));
}


QJsonObject ConfigJson(const RZELCFG& cfg)
{
    return {{"unit", RecordToJson(&cfg.mUnit, UnitFields())}, {"sensor", RecordToJson(&cfg.mSensor, SensorFields())}};
}

void PrintJson(std::ostream& out, const QJsonObject& object)
{
    out << QJsonDocument(object).toJson(QJsonDocument::Indented).toStdString();
}
