#pragma once
#include <QJsonObject>

#include <iosfwd>
#include <vector>

#include "DeviceSettings.h"
#include "ZelRecords.h"

// Readable tables of a unit's identity and configuration, with the display
// forms of the window (versions, months and days, tenths of the gas unit).
void PrintIdentity(std::ostream& out, const RZELIdenty& id);
void PrintConfig(std::ostream& out, const RZELCFG& cfg, const std::vector<RSensorType>& sensors);

// {"unit": {...}, "sensor": {...}} with the record field names as keys.
QJsonObject ConfigJson(const RZELCFG& cfg);
void PrintJson(std::ostream& out, const QJsonObject& object);
