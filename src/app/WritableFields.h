#pragma once
// What `write --set` may change: the fields the window edits, by the names
// the window shows them under ("high-alarm=20.0", in display units) and by
// their record names ("mAlarmHigh=200", raw as stored). Both write the same
// bytes. A value outside the editor's range, a field the mode does not
// write, or a field that does not exist is refused with a text naming the
// field, the value and what is allowed; nothing is ever clamped.
#include <QString>

#include <optional>

#include "ZelRecords.h"

// Applies `field`=`value` to `cfg`, or says why not (and leaves `cfg` as it
// was). Ranges here are the editors' fixed ones; the alarm set points are
// checked against the fitted sensor once it is known.
std::optional<QString> ApplyFieldAssignment(RZELCFG& cfg, const QString& field, const QString& value,
                                            bool factoryMode);

// The fields of the mode, each with its record name, unit and range, one a
// line, for `write --help`.
QString WritableFieldsHelp(bool factoryMode);
