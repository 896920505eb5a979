#include "UnitLine.h"

#include "SensorTypes.h"

namespace {

const QString kDash = QStringLiteral(" \u2014 ");
const QString kArrow = QStringLiteral(" \u2192 ");

QString Tenths(double value, const QString& unit)
{
    const QString number = QString::number(value, 'f', 1);
    return unit.isEmpty() ? number : number + QLatin1Char(' ') + unit;
}

QString Whole(double value, const char* unit)
{
    return QString::number(static_cast<long long>(value)) + QLatin1Char(' ') + QLatin1String(unit);
}

QString DisplayItemText(int item)
{
    switch (static_cast<DisplayItem>(item)) {
    case DisplayItem::SensorAndLife: return QStringLiteral("Sensor/Life Remaining");
    case DisplayItem::SensorOnly: return QStringLiteral("Sensor Reading");
    case DisplayItem::LifeOnly: return QStringLiteral("Life Remaining");
    }
    return QString::number(item);
}

QString YesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

}  // namespace

std::vector<RShownField> EditableFields(const RFormValues& form, bool factoryMode, const QString& gasUnit)
{
    const RConfigControls& c = factoryMode ? form.opt : form.user;
    std::vector<RShownField> fields;
    if (factoryMode) {
        fields.push_back({QStringLiteral("Hardware Version"), c.hwVersion});
        fields.push_back({QStringLiteral("Serial Number"), c.serial});
        fields.push_back({QStringLiteral("Life Remaining"),
                          QStringLiteral("%1 Months %2 Days").arg(c.lifeMonths).arg(c.lifeDays)});
        fields.push_back({QStringLiteral("Sensor Type"), c.sensorName});
    }
    fields.push_back({QStringLiteral("High Alarm"), Tenths(c.alarmHigh, gasUnit)});
    fields.push_back({QStringLiteral("Low Alarm"), Tenths(c.alarmLow, gasUnit)});
    fields.push_back({QStringLiteral("Calibration Interval"), Whole(c.calIntervalDays, "days")});
    fields.push_back({QStringLiteral("Bump Interval"), Whole(c.bumpIntervalDays, "days")});
    fields.push_back({QStringLiteral("Test Interval"), Whole(c.testIntervalHours, "hours")});
    fields.push_back({QStringLiteral("User ID"), c.userID});
    fields.push_back({QStringLiteral("Display"), DisplayItemText(c.displayItem)});
    fields.push_back({QStringLiteral("Hide bump due LED flashing"), YesNo(c.hideBumpLed)});
    if (!factoryMode)
        return fields;
    const RFactoryControls& f = form.factory;
    fields.push_back({QStringLiteral("Battery Limit Critical"), QString::number(f.batteryCritical)});
    fields.push_back({QStringLiteral("Battery Limit Startup"), QString::number(f.batteryStartup)});
    fields.push_back({QStringLiteral("Battery Limit ~-10\u2103"), QString::number(f.batteryCold)});
    fields.push_back({QStringLiteral("Battery Limit -10\u2103~"), QString::number(f.batteryWarm)});
    fields.push_back({QStringLiteral("Hibernate"), f.hibernateItem == 1 ? QStringLiteral("Allow suspend") : QString()});
    fields.push_back({QStringLiteral("Span Gas"), Tenths(f.spanGas, gasUnit)});
    fields.push_back({QStringLiteral("Max"), Tenths(f.sensorMax, gasUnit)});
    fields.push_back({QStringLiteral("Base"), Tenths(f.sensorBase, gasUnit)});
    fields.push_back({QStringLiteral("Dead Zone"), Tenths(f.deadZone, gasUnit)});
    for (std::size_t i = 0; i < f.tempComp.size(); ++i)
        fields.push_back({QStringLiteral("Temp. Comp. #%1").arg(i + 1), QString::number(f.tempComp[i])});
    return fields;
}

QStringList ChangedFields(const RFormValues& before, const RFormValues& after, bool factoryMode,
                          const QString& gasUnit)
{
    const std::vector<RShownField> old = EditableFields(before, factoryMode, gasUnit);
    const std::vector<RShownField> now = EditableFields(after, factoryMode, gasUnit);
    QStringList lines;
    for (std::size_t i = 0; i < old.size() && i < now.size(); ++i) {
        if (old[i].value != now[i].value)
            lines << old[i].label + QStringLiteral(": ") + old[i].value + kArrow + now[i].value;
    }
    return lines;
}

void TUnitLine::ShowDefaults(const RFormValues& shown)
{
    FSource = Source::Defaults;
    FBaseline = shown;
    FKnown = shown;
}

void TUnitLine::UnitRead(const QString& serial, const QTime& at, const RFormValues& shown, const QString& gasUnit)
{
    FSource = Source::Unit;
    FSerial = serial;
    FReadAt = at;
    FBaseline = shown;
    FKnown = shown;
    FGasUnit = gasUnit;
}

void TUnitLine::FileLoaded(const QString& fileName, const RFormValues& shown, const QString& gasUnit)
{
    FSource = Source::File;
    FFileName = fileName;
    FBaseline = shown;
    FGasUnit = gasUnit;
}

int TUnitLine::EditedFields(const RFormValues& now) const
{
    return static_cast<int>(ChangedFields(FBaseline, now, FFactoryMode, FGasUnit).size());
}

int TUnitLine::UnwrittenFields(const RFormValues& now) const
{
    if (FSource != Source::File)
        return EditedFields(now);
    return static_cast<int>(ChangedFields(FKnown, now, FFactoryMode, FGasUnit).size());
}

QString TUnitLine::Text(const RFormValues& now) const
{
    QString text;
    switch (FSource) {
    case Source::Defaults:
        return QStringLiteral("No unit read: the values shown are defaults");
    case Source::ReadFailed:
        return QStringLiteral("No unit read");
    case Source::Unit:
        text = QStringLiteral("Unit %1, read %2").arg(FSerial, FReadAt.toString(QStringLiteral("hh:mm:ss")));
        break;
    case Source::File:
        text = QStringLiteral("Loaded from %1").arg(FFileName) + kDash + QStringLiteral("not yet written");
        break;
    }
    const int edited = EditedFields(now);
    if (edited == 1)
        text += kDash + QStringLiteral("1 field edited");
    else if (edited > 1)
        text += kDash + QStringLiteral("%1 fields edited").arg(edited);
    return text;
}

QString GasUnitOf(const std::vector<RSensorType>& sensors, std::uint8_t sensorType)
{
    const int index = FindSensorType(sensors, sensorType);
    return index < 0 ? QString() : QString::fromStdString(sensors[static_cast<std::size_t>(index)].mUnit);
}
