#include "EventLogCsv.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "TextHelpers.h"

namespace eventlog {
namespace {

const char* const kLineEnd = "\r\n";
const char* const kColumns = "Event Date,Event Time,BumpTest,Duration(seconds),Sensor Reading,Alarm";
// What the tool shows for a time it does not know.
const char* const kUnknownTime = "---";

constexpr std::int64_t kMsPerSecond = 1000;

// A text field of the unit block: up to the first zero byte. Control
// characters become blanks so that a damaged field cannot break a line of
// the file in two.
std::string FieldText(const char* bytes, std::size_t length)
{
    const char* end = std::find(bytes, bytes + length, '\0');
    std::string text(bytes, end);
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = ' ';
    }
    return text;
}

// Decimal digits of a value that is not negative, at least `width` of them
// with leading zeros. Appended in place: a log can hold a thousand lines, and
// each used to cost some thirty small strings.
void AppendNumber(std::string& out, std::int64_t value, int width = 1)
{
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
    (void)error;  // 24 characters hold any 64-bit value
    for (auto length = end - digits; length < width; ++length)
        out += '0';
    out.append(digits, end);
}

void AppendSeconds(std::string& out, std::int32_t seconds)
{
    const std::int32_t s = seconds > 0 ? seconds : 0;
    AppendNumber(out, s / 3600);
    out += ':';
    AppendNumber(out, (s % 3600) / 60, 2);
    out += ':';
    AppendNumber(out, s % 60, 2);
}

void AppendReading(std::string& out, std::int16_t tenths)
{
    if (tenths == kOverLimit) {
        out += "O.L.";
        return;
    }
    const int value = tenths;
    const int magnitude = std::abs(value);
    if (value < 0)
        out += '-';
    AppendNumber(out, magnitude / 10);
    out += '.';
    AppendNumber(out, magnitude % 10);
}

// "yyyy-MM-dd,HH:mm:ss" of the moment on its own clock. Years outside four
// digits cannot come from a unit's 32-bit stamps against the computer's
// clock; Qt writes them if they ever do.
void AppendDateAndTime(std::string& out, const QDateTime& when)
{
    const QDate date = when.date();
    const QTime time = when.time();
    if (date.year() < 0 || date.year() > 9999) {
        out += when.toString(QStringLiteral("yyyy-MM-dd,HH:mm:ss")).toStdString();
        return;
    }
    AppendNumber(out, date.year(), 4);
    out += '-';
    AppendNumber(out, date.month(), 2);
    out += '-';
    AppendNumber(out, date.day(), 2);
    out += ',';
    AppendNumber(out, time.hour(), 2);
    out += ':';
    AppendNumber(out, time.minute(), 2);
    out += ':';
    AppendNumber(out, time.second(), 2);
}

void AppendEventLine(std::string& out, const RZELEvent& event, std::uint32_t lifeRemaining, const QDateTime& reference)
{
    if (const std::optional<QDateTime> when = EventTime(event, lifeRemaining, reference)) {
        AppendDateAndTime(out, *when);
    } else {
        out += kUnknownTime;
        out += ',';
        out += kUnknownTime;
    }
    out += (event.mDurationEvent & kBumpTestBit) ? ",YES," : ",NO,";
    AppendSeconds(out, event.mDurationEvent & kDurationMask);
    out += ',';
    AppendReading(out, event.mSensorReading);
    out += ',';
    if (event.mAlarmStatusFlag & kLowAlarmFlag)
        out += "LOW Alarm ";
    if (event.mAlarmStatusFlag & kHighAlarmFlag)
        out += "HIGH Alarm ";
}

void AddLine(QByteArray& out, const std::string& line)
{
    out.append(line.data(), static_cast<qsizetype>(line.size()));
    out.append(kLineEnd);
}

}  // namespace

std::vector<RZELEvent> CollectEvents(const RComZELReadBuf& buf, int stride)
{
    std::vector<RZELEvent> events;
    if (stride <= 0 || buf.mData <= 0)
        return events;
    const int announced = buf.mData / stride;
    for (int i = 0; i < announced; ++i) {
        const long at = static_cast<long>(i) * stride;
        if (at + static_cast<long>(sizeof(RZELEvent)) > RComZELReadBuf::kCapacity)
            break;
        RZELEvent event{};
        std::memcpy(&event, buf.mBuf + at, sizeof event);
        if (event.mStartEvent == kErasedStart)
            break;
        events.push_back(event);
    }
    return events;
}

void SortOldestFirst(std::vector<RZELEvent>& events)
{
    std::stable_sort(events.begin(), events.end(),
                     [](const RZELEvent& a, const RZELEvent& b) { return a.mStartEvent > b.mStartEvent; });
}

std::string FormatSeconds(std::int32_t seconds)
{
    std::string text;
    AppendSeconds(text, seconds);
    return text;
}

std::string ReadingText(std::int16_t tenths)
{
    std::string text;
    AppendReading(text, tenths);
    return text;
}

std::string LifeRemainingText(std::uint32_t seconds)
{
    const LifeSplit life = SplitLife(seconds);
    if (life.months > 0)
        return std::to_string(life.months) + "months " + std::to_string(life.days) + " days";
    return std::to_string(life.days) + " days";
}

std::optional<QDateTime> EventTime(const RZELEvent& event, std::uint32_t lifeRemaining, const QDateTime& reference)
{
    // A stamp below the life remaining would lie in the future of a counter
    // that only counts down: the unit was given a new, longer life after the
    // event (a factory write), so its age is no longer known.
    if (event.mStartEvent < lifeRemaining)
        return std::nullopt;
    const std::int64_t ageMs = static_cast<std::int64_t>(event.mStartEvent - lifeRemaining) * kMsPerSecond;
    // Same clock as the reference (local time, or the zone it names), moved
    // on the absolute time line.
    QDateTime when = reference;
    when.setMSecsSinceEpoch(reference.toMSecsSinceEpoch() - ageMs);
    return when;
}

std::string EventLine(const RZELEvent& event, std::uint32_t lifeRemaining, const QDateTime& reference)
{
    std::string line;
    AppendEventLine(line, event, lifeRemaining, reference);
    return line;
}

std::string SerialText(const RZELUnitCFG& unit)
{
    return FieldText(unit.mSerial, sizeof unit.mSerial);
}

QByteArray EventLogCsv(const std::vector<RZELEvent>& sorted, const RZELUnitCFG& unit, const QDateTime& reference)
{
    QByteArray out;
    AddLine(out, "Product Name,Corvath Beamdock");
    AddLine(out, "Log Type,Event Log");
    AddLine(out, "Serial Number," + SerialText(unit));
    AddLine(out, "Firmware Version," + FWVersionText(unit.mFWVersion));
    AddLine(out, "ID," + FieldText(unit.mUserID, sizeof unit.mUserID));
    AddLine(out, "Life Remaining," + LifeRemainingText(unit.mLifeRemaining));
    AddLine(out, "Total Number of Events," + std::to_string(unit.mAlarmCount));
    AddLine(out, "Duration of events," + FormatSeconds(static_cast<std::int32_t>(unit.mAlarmTime)));
    AddLine(out, "Number of self-tests," + std::to_string(unit.mTestCount));
    AddLine(out, "");
    AddLine(out, kColumns);
    std::string line;
    for (const RZELEvent& event : sorted) {
        line.clear();
        AppendEventLine(line, event, unit.mLifeRemaining, reference);
        AddLine(out, line);
    }
    return out;
}

QByteArray EventLogCsv(const RComZELReadBuf& buf, int stride, const RZELUnitCFG& unit, const QDateTime& reference)
{
    std::vector<RZELEvent> events = CollectEvents(buf, stride);
    SortOldestFirst(events);
    return EventLogCsv(events, unit, reference);
}

QString ProposedFileName(const RZELUnitCFG& unit, const QDateTime& reference)
{
    QString serial = QString::fromLatin1(SerialText(unit));
    for (QChar& c : serial) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            c = QLatin1Char('_');
    }
    return serial + QStringLiteral("_LOG_") + reference.toString(QStringLiteral("yyMMddHHmmss")) +
           QStringLiteral(".CSV");
}

}  // namespace eventlog
