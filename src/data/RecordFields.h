#pragma once
// Field tables of the detector records: the byte layout walked by small code
// to print a record as JSON, show it as text, or set a field by its name.
#include <QJsonObject>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ZelRecords.h"

enum class FieldKind { U8, U16, U32, I16, I32, Chars };

struct FieldInfo {
    const char* name;
    std::size_t offset;
    FieldKind kind;
    int count;       // array elements (1 for scalars, the length for Chars)
    bool reserved;   // left out of printed output
};

const std::vector<FieldInfo>& UnitFields();
const std::vector<FieldInfo>& SensorFields();
const std::vector<FieldInfo>& IdentityFields();

// Integers raw as stored, characters as strings, arrays as JSON arrays;
// reserved bytes and nothing else left out.
QJsonObject RecordToJson(const void* record, const std::vector<FieldInfo>& fields);

// Sets one named field of the whole configuration from text ("mAlarmHigh=150",
// "mBatLimit=640,650", "mSerial=SH12345678"). Returns an error text or nothing.
std::optional<std::string> SetConfigField(RZELCFG& cfg, const std::string& name, const std::string& value);
