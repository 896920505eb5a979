// An event-log buffer of arbitrary bytes, count and stride, with an arbitrary
// unit block and reference time, to CSV: the records announced and wholly
// inside the buffer are read, up to the first erased one, and no others; the
// file is the header's eleven lines plus one line per event with five commas
// each, all ended by CR LF, one byte a character.
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
    // Records start every `stride` bytes; one lies wholly inside the buffer
    // when it starts at least a record's size before the end. With a stride
    // of 13 that is 79 records, the last at byte 1014: more than the 78
    // whole strides in 1024 bytes.
    const std::size_t inside = (RComZELReadBuf::kCapacity - sizeof(RZELEvent)) / static_cast<std::size_t>(stride) + 1;
    const std::size_t announced = count > 0 ? static_cast<std::size_t>(count / stride) : 0;
    const std::size_t limit = std::min(inside, announced);
    if (events.size() > limit)
        __builtin_trap();
    // Each event is the record at its place, none of them erased, and the
    // log stops early only at an erased record.
    for (std::size_t i = 0; i < events.size(); ++i)
        if (std::memcmp(&events[i], buf.mBuf + i * static_cast<std::size_t>(stride), sizeof(RZELEvent)) != 0 ||
            events[i].mStartEvent == eventlog::kErasedStart)
            __builtin_trap();
    if (events.size() < limit) {
        std::uint32_t start = 0;
        std::memcpy(&start, buf.mBuf + events.size() * static_cast<std::size_t>(stride), sizeof start);
        if (start != eventlog::kErasedStart)
            __builtin_trap();
    }
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
