#pragma once
// Which unit the values in the window come from, and what the technician has
// changed since: the line under the configuration ("Unit SH10000123, read
// 14:02:11 — 2 fields edited"), the count the discard question names, and
// the old → new list the write question shows. Plain values, no widgets:
// the workflows keep the authoritative copy and hand it to the view, which
// recounts the edits as the controls change.
#include <QString>
#include <QStringList>
#include <QTime>

#include <vector>

#include "DeviceSettings.h"
#include "FormValues.h"
#include "ZelRecords.h"

// One editable field as the window shows it.
struct RShownField {
    QString label;  // the caption next to the control
    QString value;  // in display units, with the unit
};

// The fields the technician edits in the layout of the mode (user layout,
// or the "User Options" and "Factory Options" pages), in reading order.
std::vector<RShownField> EditableFields(const RFormValues& form, bool factoryMode, const QString& gasUnit);

// "High Alarm: 22.0 ppm → 15.0 ppm" for every field that differs.
QStringList ChangedFields(const RFormValues& before, const RFormValues& after, bool factoryMode,
                          const QString& gasUnit);

class TUnitLine {
public:
    enum class Source {
        Defaults,    // nothing read since start-up
        ReadFailed,  // the last read failed: the values are the earlier ones
        Unit,        // read from (or written to) a unit
        File,        // loaded from a configuration file
    };

    TUnitLine() = default;
    TUnitLine(bool factoryMode, const QString& gasUnit) : FFactoryMode(factoryMode), FGasUnit(gasUnit) {}

    // The values now in the controls become what edits are counted against.
    void ShowDefaults(const RFormValues& shown);
    void UnitRead(const QString& serial, const QTime& at, const RFormValues& shown, const QString& gasUnit);
    void FileLoaded(const QString& fileName, const RFormValues& shown, const QString& gasUnit);
    // Keeps the values and what they are compared with.
    void ReadFailed() { FSource = Source::ReadFailed; }

    Source From() const { return FSource; }
    // Placeholders or stale values: the view greys them.
    bool ValuesGreyed() const { return FSource == Source::Defaults || FSource == Source::ReadFailed; }
    int EditedFields(const RFormValues& now) const;
    // What a read would lose: the edits, and after a file was loaded also
    // the file's values that the unit (or the start-up defaults) did not
    // hold.
    int UnwrittenFields(const RFormValues& now) const;
    QString Text(const RFormValues& now) const;
    const QString& GasUnit() const { return FGasUnit; }
    bool FactoryMode() const { return FFactoryMode; }

private:
    bool FFactoryMode = false;
    QString FGasUnit;
    Source FSource = Source::Defaults;
    QString FSerial;
    QTime FReadAt;
    QString FFileName;
    RFormValues FBaseline;  // what was read or loaded
    RFormValues FKnown;     // what was read from or written to a unit, or the defaults
};

// The gas unit ("ppm", "%VOL") of the sensor type code; empty when unknown.
QString GasUnitOf(const std::vector<RSensorType>& sensors, std::uint8_t sensorType);
