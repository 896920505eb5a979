#pragma once
// The rule every configuration meets before it goes to a unit, whether it
// comes from the window, the command line or a configuration file: the high
// alarm lies above the low alarm (a toxic gas sensor alarms on a rising
// reading; an oxygen sensor alarms low on depletion and high on enrichment,
// so there too the high set point is the larger value), and both lie within
// the range of the sensor fitted.
#include <QString>

#include <optional>
#include <vector>

#include "DeviceSettings.h"
#include "ZelRecords.h"

// Why the set points of `sensor` cannot be written, naming both values;
// nothing when they can. An unknown sensor type is checked for the order
// only.
std::optional<QString> AlarmSetPointFault(const RZELSensorCFG& sensor, const std::vector<RSensorType>& sensors);
