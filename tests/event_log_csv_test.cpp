// The event log CSV as a pure function of the downloaded bytes, the unit
// block and the reference time: which records count, their order, every
// field's text, the header lines, and the file as a whole, byte for byte.
#include <gtest/gtest.h>

#include <QLocale>
#include <QTimeZone>

#include <climits>
#include <cstring>
#include <optional>

#include "EventLogCsv.h"

namespace {

using eventlog::CollectEvents;

RZELEvent Event(std::uint32_t start, std::uint16_t duration = 0, std::uint8_t flags = 0, std::int16_t reading = 0)
{
    return RZELEvent{start, duration, flags, reading};
}

// A log buffer as LoadLog leaves it: `events` at `stride`, erased bytes
// after them, `mData` as announced.
RComZELReadBuf Log(const std::vector<RZELEvent>& events, int stride = 9, std::optional<int> announced = {})
{
    RComZELReadBuf buf;
    std::memset(buf.mBuf, 0xFF, sizeof buf.mBuf);
    for (std::size_t i = 0; i < events.size(); ++i)
        std::memcpy(buf.mBuf + i * static_cast<std::size_t>(stride), &events[i], sizeof(RZELEvent));
    buf.mData = announced ? *announced : static_cast<int>(events.size()) * stride;
    return buf;
}

RComZELReadBuf FullOfEvents()
{
    RComZELReadBuf buf;
    for (int at = 0; at + 9 <= RComZELReadBuf::kCapacity; at += 9) {
        const RZELEvent e = Event(100000u + static_cast<std::uint32_t>(at));
        std::memcpy(buf.mBuf + at, &e, sizeof e);
    }
    // The tail that no whole record fits in.
    std::memset(buf.mBuf + 1017, 0x11, 7);
    buf.mData = RComZELReadBuf::kCapacity;
    return buf;
}

RZELUnitCFG Unit()
{
    RZELUnitCFG unit = DefaultConfig().mUnit;
    std::memcpy(unit.mSerial, "SH10000123", 10);
    std::memcpy(unit.mUserID, "QA-7\0\0", 6);
    unit.mFWVersion = 13;
    unit.mLifeRemaining = 50000000;
    unit.mAlarmCount = 3;
    unit.mAlarmTime = 3725;
    unit.mTestCount = 12;
    return unit;
}

const QDateTime kT(QDate(2024, 3, 15), QTime(10, 20, 30), Qt::UTC);

TEST(EventLogRecords, WhichRecordsCount)
{
    struct Case {
        const char* name;
        RComZELReadBuf buf;
        int stride;
        std::size_t count;
    };
    const Case cases[] = {
        {"first record erased", Log({Event(0xFFFFFFFF, 10), Event(500)}), 9, 0},
        {"nothing announced", Log({Event(500)}, 9, 0), 9, 0},
        {"negative count", Log({Event(500)}, 9, -9), 9, 0},
        {"records after the terminator", Log({Event(5), Event(6), Event(0xFFFFFFFF), Event(7), Event(8)}), 9, 2},
        {"27 bytes at stride 9", Log({Event(1), Event(2), Event(3), Event(4)}, 9, 27), 9, 3},
        {"26 bytes hold two whole records", Log({Event(1), Event(2), Event(3)}, 9, 26), 9, 2},
        {"stride 16", Log({Event(1), Event(2), Event(3)}, 16, 48), 16, 3},
        {"stride 0 from a broken setting", Log({Event(1)}), 0, 0},
        {"a full buffer", FullOfEvents(), 9, 113},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CollectEvents(c.buf, c.stride).size(), c.count);
    }

    // A count announced beyond the buffer never reads past it.
    RComZELReadBuf huge = FullOfEvents();
    huge.mData = 1 << 30;
    EXPECT_EQ(CollectEvents(huge, 9).size(), 113u);
    EXPECT_EQ(CollectEvents(huge, 128).size(), 8u);
    // Ten records announced at a stride of 113: the tenth would start at
    // byte 1017 and end past the buffer.
    huge.mData = 1130;
    EXPECT_EQ(CollectEvents(huge, 113).size(), 9u) << "only records that lie wholly inside the 1024 bytes";

    const std::vector<RZELEvent> kept = CollectEvents(Log({Event(5, 1), Event(6, 2)}, 16), 16);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(+kept[1].mStartEvent, 6u);
    EXPECT_EQ(+kept[1].mDurationEvent, 2);
}

TEST(EventLogRecords, OldestFirst)
{
    std::vector<RZELEvent> events{Event(5000, 1), Event(9000, 2), Event(7000, 3), Event(9000, 4), Event(0x80000000, 5)};
    eventlog::SortOldestFirst(events);
    std::vector<std::uint16_t> order;
    for (const RZELEvent& e : events)
        order.push_back(+e.mDurationEvent);
    EXPECT_EQ(order, (std::vector<std::uint16_t>{5, 2, 4, 3, 1})) << "unsigned, largest first, equal keys in log order";
}

TEST(EventLogFields, Texts)
{
    struct Seconds {
        std::int32_t in;
        const char* out;
    };
    for (const Seconds& c : {Seconds{3725, "1:02:05"}, {0, "0:00:00"}, {59, "0:00:59"}, {3600, "1:00:00"},
                             {360000, "100:00:00"}, {INT32_MAX, "596523:14:07"}, {-1, "0:00:00"},
                             {INT32_MIN, "0:00:00"}}) {
        EXPECT_EQ(eventlog::FormatSeconds(c.in), c.out) << c.in;
    }

    struct Reading {
        std::int16_t in;
        const char* out;
    };
    for (const Reading& c : {Reading{0, "0.0"}, {-5, "-0.5"}, {251, "25.1"}, {-10, "-1.0"}, {9, "0.9"},
                             {0x7FFF, "O.L."}, {0x7FFE, "3276.6"}, {INT16_MIN, "-3276.8"}}) {
        EXPECT_EQ(eventlog::ReadingText(c.in), c.out) << c.in;
    }

    struct Life {
        std::uint32_t in;
        const char* out;
    };
    for (const Life& c : {Life{63072000, "24months 0 days"}, {86400, "1 days"}, {100000, "2 days"}, {0, "1 days"},
                          {2628001, "1months 1 days"}, {0xFFFFFFFF, "24months 30 days"}}) {
        EXPECT_EQ(eventlog::LifeRemainingText(c.in), c.out) << c.in;
    }
}

TEST(EventLogFields, EventLines)
{
    const std::uint32_t life = 50000000;
    struct Case {
        RZELEvent event;
        const char* line;
    };
    const Case cases[] = {
        {Event(life), "2024-03-15,10:20:30,NO,0:00:00,0.0,"},
        {Event(life + 86400), "2024-03-14,10:20:30,NO,0:00:00,0.0,"},
        {Event(life + 3725, 0x8000 + 65), "2024-03-15,09:18:25,YES,0:01:05,0.0,"},
        {Event(life, 0x7FFF), "2024-03-15,10:20:30,NO,9:06:07,0.0,"},
        {Event(life, 0, 0, 0x7FFF), "2024-03-15,10:20:30,NO,0:00:00,O.L.,"},
        {Event(life, 0, 0, -5), "2024-03-15,10:20:30,NO,0:00:00,-0.5,"},
        {Event(life, 0, 0x04), "2024-03-15,10:20:30,NO,0:00:00,0.0,LOW Alarm "},
        {Event(life, 0, 0x08), "2024-03-15,10:20:30,NO,0:00:00,0.0,HIGH Alarm "},
        {Event(life, 0, 0x0C), "2024-03-15,10:20:30,NO,0:00:00,0.0,LOW Alarm HIGH Alarm "},
        {Event(life, 0, 0xF3), "2024-03-15,10:20:30,NO,0:00:00,0.0,"},
        // Stamped before a new, longer life was written: no date can be
        // given, the rest of the row stays.
        {Event(life - 1, 0x8000 + 30, 0x04, 17), "---,---,YES,0:00:30,1.7,LOW Alarm "},
        {Event(0, 5), "---,---,NO,0:00:05,0.0,"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(eventlog::EventLine(c.event, life, kT), c.line) << c.event.mStartEvent;
    }
}

// The date and time are written with Qt's "yyyy-MM-dd" and "HH:mm:ss" in
// every year: four digits with leading zeros, and Qt's own text for a year
// that four digits cannot hold.
TEST(EventLogFields, DateAndTimeInEveryYear)
{
    const std::uint32_t life = 1000;
    struct Case {
        QDateTime reference;
        const char* when;  // nullptr: only Qt's text is known
    };
    const QTimeZone utc = QTimeZone::utc();
    const Case cases[] = {
        {QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), utc), "2024-01-02,03:04:05"},
        {QDateTime(QDate(999, 7, 4), QTime(5, 6, 7), utc), "0999-07-04,05:06:07"},
        {QDateTime(QDate(5, 12, 31), QTime(23, 59, 59), utc), "0005-12-31,23:59:59"},
        {QDateTime(QDate(9999, 12, 31), QTime(0, 0), utc), "9999-12-31,00:00:00"},
        {QDateTime(QDate(10000, 1, 1), QTime(0, 0), utc), nullptr},
        {QDateTime(QDate(-44, 3, 15), QTime(12, 0), utc), nullptr},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.reference.isValid());
        const std::string line = eventlog::EventLine(Event(life), life, c.reference);
        const std::string qt = (c.reference.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(',') +
                                c.reference.toString(QStringLiteral("HH:mm:ss")))
                                   .toStdString();
        EXPECT_EQ(line, qt + ",NO,0:00:00,0.0,") << qt;
        if (c.when) {
            EXPECT_EQ(qt, c.when);
        }
    }
}
// The age of an event is real time: a clock change in between must not
// move the event by an hour.
TEST(EventLogFields, DaylightSavingChangeBetweenEventAndExport)
{
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    const std::uint32_t life = 1000;
    struct Case {
        QDateTime reference;
        std::uint32_t age;
        const char* when;
    };
    const Case cases[] = {
        // Summer time began on 31 March 2024 at 02:00.
        {QDateTime(QDate(2024, 4, 1), QTime(12, 0), berlin), 2 * 86400, "2024-03-30,11:00:00"},
        {QDateTime(QDate(2024, 4, 1), QTime(12, 0), berlin), 86400, "2024-03-31,12:00:00"},
        // And ended on 27 October 2024 at 03:00.
        {QDateTime(QDate(2024, 10, 28), QTime(12, 0), berlin), 2 * 86400, "2024-10-26,13:00:00"},
        {QDateTime(QDate(2024, 10, 27), QTime(2, 30), berlin).addSecs(3600), 3600, "2024-10-27,02:30:00"},
    };
    for (const Case& c : cases) {
        const std::string line = eventlog::EventLine(Event(life + c.age), life, c.reference);
        EXPECT_EQ(line.substr(0, 19), c.when) << c.reference.toString(Qt::ISODate).toStdString();
    }
}

TEST(EventLogFile, KnownLogByteForByte)
{
    // A comma as the decimal point must not reach a comma-separated file.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const RZELUnitCFG unit = Unit();
    const std::uint32_t life = unit.mLifeRemaining;
    const RComZELReadBuf log = Log({
        Event(life, 95, 0x04, -5),
        Event(life + 86400, 0x8000 + 65, 0x00, 251),
        Event(life - 100, 0, 0x08, 0),
        Event(life + 3725, 310, 0x0C, 0x7FFF),
        Event(0xFFFFFFFF, 1, 1, 1),
        Event(life + 999999, 1, 1, 1),
    });
    const QByteArray expected =
        "Product Name,Corvath Beamdock\r\n"
        "Log Type,Event Log\r\n"
        "Serial Number,SH10000123\r\n"
        "Firmware Version,1.3\r\n"
        "ID,QA-7\r\n"
        "Life Remaining,19months 1 days\r\n"
        "Total Number of Events,3\r\n"
        "Duration of events,1:02:05\r\n"
        "Number of self-tests,12\r\n"
        "\r\n"
        "Event Date,Event Time,BumpTest,Duration(seconds),Sensor Reading,Alarm\r\n"
        "2024-03-14,10:20:30,YES,0:01:05,25.1,\r\n"
        "2024-03-15,09:18:25,NO,0:05:10,O.L.,LOW Alarm HIGH Alarm \r\n"
        "2024-03-15,10:20:30,NO,0:01:35,-0.5,LOW Alarm \r\n"
        "---,---,NO,0:00:00,0.0,HIGH Alarm \r\n";
    EXPECT_EQ(eventlog::EventLogCsv(log, 9, unit, kT), expected);
    QLocale::setDefault(QLocale::c());
}

TEST(EventLogFile, HeaderFieldsAsTheUnitHoldsThem)
{
    RZELUnitCFG unit = Unit();
    std::memcpy(unit.mSerial, "AB\r\nC\0XYZW", 10);
    std::memcpy(unit.mUserID, "ID\xE9" "45Z", 6);
    unit.mAlarmTime = 0x80000000;
    unit.mLifeRemaining = 63072000;
    unit.mFWVersion = 255;
    const QByteArray csv = eventlog::EventLogCsv(std::vector<RZELEvent>{}, unit, kT);
    const QList<QByteArray> lines = csv.split('\n');
    ASSERT_EQ(lines.size(), 12) << "a serial number with a line break in it still gives one line";
    EXPECT_EQ(lines[2], "Serial Number,AB  C\r");
    EXPECT_EQ(lines[3], "Firmware Version,25.5\r");
    EXPECT_EQ(lines[4], "ID,ID\xE9" "45Z\r") << "8-bit text, one byte a character";
    EXPECT_EQ(lines[5], "Life Remaining,24months 0 days\r");
    EXPECT_EQ(lines[7], "Duration of events,0:00:00\r");
    EXPECT_TRUE(lines[11].isEmpty());
}

TEST(EventLogFile, ProposedFileName)
{
    struct Case {
        const char* serial;  // 10 bytes
        QDateTime reference;
        QString name;
    };
    const Case cases[] = {
        {"SH10000123", QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9)), "SH10000123_LOG_240305070809.CSV"},
        {"SH1\0\0\0\0\0\0\0", QDateTime(QDate(2031, 12, 31), QTime(23, 59, 58)), "SH1_LOG_311231235958.CSV"},
        {"../../etc\0", kT, ".._.._etc_LOG_240315102030.CSV"},
        {"A\\B\0\0\0\0\0\0\0", kT, "A_B_LOG_240315102030.CSV"},
        {"\0\0\0\0\0\0\0\0\0\0", kT, "_LOG_240315102030.CSV"},
    };
    for (const Case& c : cases) {
        RZELUnitCFG unit = Unit();
        std::memcpy(unit.mSerial, c.serial, 10);
        EXPECT_EQ(eventlog::ProposedFileName(unit, c.reference), c.name);
    }
}

}  // namespace
