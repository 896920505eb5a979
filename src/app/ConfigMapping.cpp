#include "ConfigMapping.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "SensorTypes.h"
#include "TextHelpers.h"

namespace {

constexpr double kTenths = 10.0;
constexpr double kThousandths = 1000.0;
// A calibration interval below this many seconds means "no interval".
constexpr std::uint32_t kShortestCalInterval = 10;

double Clamp(double value, RSpinRange range)
{
    return std::clamp(value, range.min, std::max(range.min, range.max));
}

int Clamp(int value, int low, int high)
{
    return std::clamp(value, low, high);
}

// Spin value in the gas unit to the record's tenths. Halves go to the even
// neighbour, as the detector's own tools always rounded.
std::uint16_t ToTenths(double value)
{
    const double tenths = std::nearbyint(value * kTenths);
    return static_cast<std::uint16_t>(std::clamp(tenths, 0.0, 65535.0));
}

double FromTenths(std::uint16_t value)
{
    return value / kTenths;
}

int DisplayItemOf(std::uint8_t flags)
{
    if (!(flags & zel::kFlagShowSensor))
        return static_cast<int>(DisplayItem::LifeOnly);
    if (flags & zel::kFlagHideLife)
        return static_cast<int>(DisplayItem::SensorOnly);
    return static_cast<int>(DisplayItem::SensorAndLife);
}

std::uint8_t DisplayFlagsOf(int item)
{
    switch (static_cast<DisplayItem>(item)) {
    case DisplayItem::SensorAndLife:
        return zel::kFlagShowSensor;
    case DisplayItem::SensorOnly:
        return zel::kFlagShowSensor | zel::kFlagHideLife;
    default:
        return 0;
    }
}

bool IsUpperAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}

// Entered text to a fixed-width record field: cut or padded to the width,
// and any character the detector cannot show replaced by a blank.
void StoreFixed(char* field, int width, char fill, const QString& text, bool allowDash)
{
    const std::string padded = PadText(PadSide::Right, static_cast<std::size_t>(width), fill,
                                       text.toLatin1().toStdString());
    for (int i = 0; i < width; ++i) {
        const char c = padded[static_cast<std::size_t>(i)];
        field[i] = (IsUpperAlnum(c) || (allowDash && c == '-')) ? c : ' ';
    }
}

RConfigControls ConfigControls(const RZELCFG& cfg, int sensorItem, const QString& sensorName,
                               RSpinRange alarmRange)
{
    const RZELUnitCFG& u = cfg.mUnit;
    const RZELSensorCFG& s = cfg.mSensor;
    const LifeSplit life = SplitLife(u.mLifeRemaining);

    RConfigControls c;
    c.hwVersion = QString::fromStdString(HWVersionText(u.mHWVersion));
    c.fwVersion = QString::fromStdString(FWVersionText(u.mFWVersion));
    c.serial = FixedText(u.mSerial, sizeof u.mSerial);
    c.lifeText = LifeLabelText(u.mLifeRemaining);
    c.lifeMonths = Clamp(static_cast<int>(life.months), 0, editlimits::kMonthsMax);
    c.lifeDays = Clamp(static_cast<int>(life.days), 0, editlimits::kDaysMax);
    c.sensorItem = sensorItem;
    c.sensorName = sensorName;
    c.alarmHigh = Clamp(FromTenths(s.mAlarmHigh), alarmRange);
    c.alarmLow = Clamp(FromTenths(s.mAlarmLow), alarmRange);
    c.calIntervalDays = std::clamp(std::nearbyint(static_cast<double>(s.mCalInterval) / zel::kDaySeconds), 0.0,
                                   static_cast<double>(editlimits::kIntervalDaysMax));
    c.bumpIntervalDays = Clamp(s.mBumpInterval, 0, editlimits::kIntervalDaysMax);
    c.userID = UserIDShownText(u.mUserID, sizeof u.mUserID);
    c.testIntervalHours = Clamp(u.mTestInterval, editlimits::kTestHoursMin, editlimits::kTestHoursMax);
    c.displayItem = DisplayItemOf(u.mUnitFlag);
    c.hideBumpLed = (u.mUnitFlag & zel::kFlagHideBumpLed) != 0;
    return c;
}

RFactoryControls FactoryControls(const RZELCFG& cfg, RSpinRange gasRange)
{
    const RZELUnitCFG& u = cfg.mUnit;
    const RZELSensorCFG& s = cfg.mSensor;
    RFactoryControls f;
    f.batteryCritical = Clamp(u.mBatLimitCritical, 0, editlimits::kBatteryMax);
    f.batteryStartup = Clamp(u.mBatLimitStartUp, 0, editlimits::kBatteryMax);
    f.batteryCold = Clamp(u.mBatLimit[0], 0, editlimits::kBatteryMax);
    f.batteryWarm = Clamp(u.mBatLimit[1], 0, editlimits::kBatteryMax);
    f.alarmTime = TimeFieldText(u.mAlarmTime);
    f.alarmCount = QString::number(u.mAlarmCount);
    f.testTime = TimeFieldText(u.mTestTime);
    f.testCount = QString::number(u.mTestCount);
    f.hibernateItem = u.mAllowSuspend == zel::kSuspendAllowed ? 1 : 0;
    f.spanGas = Clamp(FromTenths(s.mSpanGas), gasRange);
    f.sensorMax = Clamp(FromTenths(s.mSensorMax), gasRange);
    f.sensorBase = Clamp(FromTenths(s.mSensorBase), gasRange);
    f.deadZone = Clamp(FromTenths(s.mDeadZone), gasRange);
    for (std::size_t i = 0; i < f.tempComp.size(); ++i)
        f.tempComp[i] = s.mTempCompSpan[i];
    f.zero = QString::number(s.mZero);
    f.span = QString::number(s.mSpan / kThousandths, 'f', 3);
    f.minSpan = QString::number(s.mMinSpan / kThousandths, 'f', 3);
    f.tau = QString::number(static_cast<double>(s.mTau), 'f', 1);
    f.lastCal = TimeFieldText(s.mLastCal);
    f.peakTimer = TimeFieldText(s.mPeakTimer);
    f.lastBump = TimeFieldText(s.mLastBump);
    return f;
}

}  // namespace

RSpinRange AlarmRangeFor(const RSensorType& sensor)
{
    return {sensor.mMin > 0 ? static_cast<double>(sensor.mMin) : 1.0, static_cast<double>(sensor.mMax)};
}

RSpinRange GasRangeFor(const RSensorType& sensor)
{
    return {static_cast<double>(sensor.mMin), static_cast<double>(sensor.mMax)};
}

QString TimeFieldText(std::uint32_t seconds)
{
    return seconds > zel::kFullLife ? QStringLiteral("---") : QString::number(seconds);
}

QString LifeLabelText(std::uint32_t seconds)
{
    const LifeSplit life = SplitLife(seconds);
    if (life.months > 0)
        return QStringLiteral("%1 Months   %2 Days").arg(life.months).arg(life.days);
    return QStringLiteral("            %1 Days").arg(life.days);
}

QString FixedText(const char* bytes, int length)
{
    const auto end = std::find(bytes, bytes + length, '\0');
    return QString::fromLatin1(bytes, static_cast<qsizetype>(end - bytes));
}

QString UserIDShownText(const char* bytes, int length)
{
    QString text = FixedText(bytes, length);
    for (QChar& c : text) {
        const char l = c.toLatin1();
        const bool keep = l == '-' || (l >= '0' && l <= '9') || (l >= 'A' && l <= 'Z') || (l >= 'a' && l <= 'z');
        if (!keep)
            c = QLatin1Char(' ');
    }
    return text.trimmed();
}

bool AcceptUserIDKey(QChar key)
{
    const char16_t c = key.unicode();
    return c == u'\b' || c == u'\r' || c == u' ' || c == u'-' || (c >= u'0' && c <= u'9') ||
           (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

namespace {

QString KeepCapitalised(const QString& text, bool (*keep)(char16_t))
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const char16_t upper = (u >= u'a' && u <= u'z') ? static_cast<char16_t>(u - u'a' + u'A') : u;
        if (keep(upper))
            out += QChar(upper);
    }
    return out;
}

bool DigitOrCapital(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z');
}

bool UserIDCharacter(char16_t c)
{
    return DigitOrCapital(c) || c == u'-' || c == u' ';
}

}  // namespace

QString FilterUserIDText(const QString& text)
{
    return KeepCapitalised(text, UserIDCharacter);
}

QString FilterSerialText(const QString& text)
{
    return KeepCapitalised(text, DigitOrCapital);
}

bool SerialEntryComplete(int caretPosition)
{
    return caretPosition == editlimits::kSerialLength;
}

RFormValues ConfigToForm(const RZELCFG& cfg, const std::vector<RSensorType>& sensors,
                         RSpinRange currentAlarmRange, RSpinRange currentGasRange)
{
    RFormValues form;
    form.alarmRange = currentAlarmRange;
    form.gasRange = currentGasRange;
    const int item = FindSensorType(sensors, cfg.mSensor.mSensorType);
    QString name;
    if (item >= 0) {
        const RSensorType& sensor = sensors[static_cast<std::size_t>(item)];
        name = QString::fromStdString(sensor.mName);
        form.alarmRange = AlarmRangeFor(sensor);
        form.gasRange = GasRangeFor(sensor);
    }
    form.user = ConfigControls(cfg, item, name, form.alarmRange);
    form.opt = form.user;
    form.factory = FactoryControls(cfg, form.gasRange);
    return form;
}

RCollectedConfig FormToConfig(const RFormValues& form, const RZELCFG& current,
                              const std::vector<RSensorType>& sensors, const RCollectInput& input)
{
    RCollectedConfig out;
    RZELCFG& cfg = out.cfg;
    if (input.factoryMode) {
        cfg = current;
        std::memset(cfg.mUnit.mDummy1, 0, sizeof cfg.mUnit.mDummy1);
        std::memset(cfg.mUnit.mDummy2, 0, sizeof cfg.mUnit.mDummy2);
        std::memset(cfg.mSensor.mDummy1, 0, sizeof cfg.mSensor.mDummy1);
    } else {
        cfg = DefaultConfig();
    }
    if (!input.forDevice)
        cfg.mUnit.mFWVersion = input.readSW;

    RZELUnitCFG& u = cfg.mUnit;
    RZELSensorCFG& s = cfg.mSensor;
    const RConfigControls& c = input.factoryMode ? form.opt : form.user;

    u.mUnitFlag = static_cast<std::uint8_t>((c.hideBumpLed ? zel::kFlagHideBumpLed : 0) | DisplayFlagsOf(c.displayItem));
    StoreFixed(u.mUserID, sizeof u.mUserID, ' ', c.userID, true);
    u.mTestInterval = static_cast<std::uint8_t>(c.testIntervalHours);
    s.mAlarmHigh = ToTenths(c.alarmHigh);
    s.mAlarmLow = ToTenths(c.alarmLow);
    // The user layout's spin may carry a fraction of a day; the factory page
    // counts whole days only.
    const double calSeconds = input.factoryMode ? static_cast<double>(static_cast<int>(c.calIntervalDays)) * zel::kDaySeconds
                                                : std::nearbyint(c.calIntervalDays * zel::kDaySeconds);
    const auto calInterval = static_cast<std::uint32_t>(std::clamp(calSeconds, 0.0, 4294967295.0));
    s.mCalInterval = calInterval < kShortestCalInterval ? 0 : calInterval;
    s.mBumpInterval = static_cast<std::uint16_t>(c.bumpIntervalDays);
    const bool known = c.sensorItem >= 0 && static_cast<std::size_t>(c.sensorItem) < sensors.size();
    s.mSensorType = known ? sensors[static_cast<std::size_t>(c.sensorItem)].mIndex : 0;

    if (!input.factoryMode)
        return out;

    const RFactoryControls& f = form.factory;
    u.mAllowSuspend = f.hibernateItem == 1 ? zel::kSuspendAllowed : zel::kSuspendNotAllowed;
    StoreFixed(u.mSerial, sizeof u.mSerial, '0', c.serial, false);
    u.mBatLimit[0] = static_cast<std::uint16_t>(f.batteryCold);
    u.mBatLimit[1] = static_cast<std::uint16_t>(f.batteryWarm);
    u.mBatLimitStartUp = static_cast<std::uint16_t>(f.batteryStartup);
    u.mBatLimitCritical = static_cast<std::uint16_t>(f.batteryCritical);

    const auto hw = NormalizeNumber(NumberForm::Integer, c.hwVersion.toStdString());
    const auto hwByte = static_cast<std::uint8_t>(hw ? std::stoll(*hw) & 0xFF : 0);
    // Version 0 would read as "no hardware version" on the unit.
    u.mHWVersion = hwByte <= 1 ? 1 : hwByte;

    // The spins show whole months and days: rebuilding the count from them
    // would change a life nobody touched (an expired sensor's 0 s would come
    // back as a day). Unchanged spins keep the unit's own count.
    const RConfigControls shown = ConfigControls(current, c.sensorItem, c.sensorName, form.alarmRange);
    const bool lifeUntouched = c.lifeMonths == shown.lifeMonths && c.lifeDays == shown.lifeDays &&
                               current.mUnit.mLifeRemaining <= zel::kFullLife;
    const std::uint64_t life = static_cast<std::uint64_t>(std::max(c.lifeMonths, 0)) * zel::kMonthSeconds +
                               static_cast<std::uint64_t>(std::max(c.lifeDays, 0)) * zel::kDaySeconds;
    if (lifeUntouched) {
        u.mLifeRemaining = current.mUnit.mLifeRemaining;
    } else if (life > zel::kFullLife) {
        u.mLifeRemaining = zel::kFullLife;
        out.lifeClamped = true;
    } else {
        // One second less, so that the months-and-days display of the stored
        // value gives back what was entered (the display rounds up).
        u.mLifeRemaining = life == 0 ? 0 : static_cast<std::uint32_t>(life - 1);
    }

    s.mDeadZone = ToTenths(f.deadZone);
    s.mSpanGas = ToTenths(f.spanGas);
    s.mSensorMax = ToTenths(f.sensorMax);
    s.mSensorBase = ToTenths(f.sensorBase);
    for (std::size_t i = 0; i < f.tempComp.size(); ++i)
        s.mTempCompSpan[i] = f.tempComp[i];
    return out;
}
