#pragma once
// The sensor type table: which gas sensors the tool knows, their units and the
// range the editors allow. The table comes from the SENSOR section of the
// settings file, or is the built-in three entries when that section is empty.
#include <cstdint>
#include <string>
#include <vector>

#include "DeviceSettings.h"

struct SensorRange {
    float min = 0;
    float max = 100;
};

// H2S (1), CO (2) and O2 (4), the sensors the detector has shipped with.
std::vector<RSensorType> BuiltInSensorTypes();

// The editor range a sensor gets when its own entry gives no usable one.
SensorRange DefaultSensorRange(std::uint8_t code);

// One table entry from a "name=code,unit,letter,calTime,min,max" line. Missing
// fields are empty; numbers that do not convert count as 0, except min and
// max, which then give the code's default range, as do a max that does not
// exceed min by more than 0.1, as written or once stored in single precision.
RSensorType ParseSensorEntry(const std::string& line);

// The table for the SENSOR section's "key=value" lines, in order; the built-in
// table when there are none.
std::vector<RSensorType> BuildSensorTypes(const std::vector<std::string>& lines);

// Index of the last entry of this code: the last one wins so that a line
// added at the end of the section overrides an earlier one. -1 when none.
int FindSensorType(const std::vector<RSensorType>& table, std::uint8_t code);
