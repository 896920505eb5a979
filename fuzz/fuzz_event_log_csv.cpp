// An event-log buffer of arbitrary bytes, count and stride, with an arbitrary
// unit block and reference time, to CSV: only records wholly inside the
// buffer are read, the file is the header's eleven lines plus one line per
// event with five commas each, all ended by CR LF, one byte a character.
#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "EventLogCsv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < sizeof(RZELUnitCFG) + 12)
        return 0;
    RZELUnitCFG unit{};
    std::memcpy(&unit, data, sizeof unit);
    data += sizeof unit;
    size -= sizeof unit;
    std::int32_t count = 0;
    std::memcpy(&count, data, sizeof count);
    const std::uint8_t strideByte = data[4];
    const int stride = 1 + strideByte % 32;
    std::int64_t seconds = 0;
    std::memcpy(&seconds, data + 5, 7);
    data += 12;
    size -= 12;

    RComZELReadBuf buf;
    std::memset(buf.mBuf, 0xFF, sizeof buf.mBuf);
    std::memcpy(buf.mBuf, data, std::min(size, sizeof buf.mBuf));
    buf.mData = count;
    // Any moment from the year 1970 to about 2106, in a zone with
    // daylight-saving changes or in UTC, as the stride byte's top bit says.
    static const QTimeZone zone("Europe/Berlin");
    const QDateTime reference = (strideByte & 0x80) ? QDateTime::fromSecsSinceEpoch(seconds & 0xFFFFFFFFLL, zone)
                                                 : QDateTime::fromSecsSinceEpoch(seconds & 0xFFFFFFFFLL, QTimeZone::utc());

    const std::vector<RZELEvent> events = eventlog::CollectEvents(buf, stride);
    const std::size_t inside = static_cast<std::size_t>(RComZELReadBuf::kCapacity / stride);
    if (events.size() > inside)
        __builtin_trap();
    const QByteArray csv = eventlog::EventLogCsv(buf, stride, unit, reference);
    // The header repeats the unit's serial number and user ID as they are,
    // so only the event lines at the end have a fixed shape.
    const QList<QByteArray> lines = csv.split('\n');
    const qsizetype eventLines = static_cast<qsizetype>(events.size());
    if (!csv.endsWith("\r\n") || lines.size() < 11 + eventLines + 1)
        __builtin_trap();
    for (qsizetype i = lines.size() - 1 - eventLines; i < lines.size() - 1; ++i)
        if (lines[i].count(',') != 5 || !lines[i].endsWith('\r'))
            __builtin_trap();
    (void)eventlog::ProposedFileName(unit, reference);
    return 0;
}
