#pragma once
// The event log as the detector hands it over, and the CSV file made of it.
// Everything here is a pure function of the downloaded bytes, the unit block
// and the reference time T (the moment of the export): the same log always
// gives the same file, byte for byte.
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ZelRecords.h"

namespace eventlog {

// Start value of an erased slot: the log ends at the first one.
inline constexpr std::uint32_t kErasedStart = 0xFFFFFFFF;
inline constexpr std::uint16_t kBumpTestBit = 0x8000;
inline constexpr std::uint16_t kDurationMask = 0x7FFF;
inline constexpr std::uint8_t kLowAlarmFlag = 0x04;
inline constexpr std::uint8_t kHighAlarmFlag = 0x08;
inline constexpr std::int16_t kOverLimit = 0x7FFF;

// Records at `stride` bytes from the start of the buffer, as many as
// `buf.mData` announces but only those lying wholly inside the buffer, up to
// the first erased one. In log order.
std::vector<RZELEvent> CollectEvents(const RComZELReadBuf& buf, int stride);

// Oldest first: the detector stamps an event with its life remaining, which
// counts down, so the largest start value is the earliest event. Events with
// equal stamps keep their log order.
void SortOldestFirst(std::vector<RZELEvent>& events);

// "h:mm:ss"; zero and negative values (a count of 2^31 or more read as a
// signed value) give "0:00:00".
std::string FormatSeconds(std::int32_t seconds);

// The reading column: tenths of the gas unit with "." as the decimal point,
// whatever the user's locale, because the column separator is a comma.
// Over limit is "O.L.".
std::string ReadingText(std::int16_t tenths);

// "24months 0 days" or "5 days", as the header's life line shows it.
std::string LifeRemainingText(std::uint32_t seconds);

// When the event started, on the reference time's clock; nothing when the
// stamp is below the life remaining now. The age is taken off the absolute
// time, so a daylight-saving change between the event and T does not move it.
std::optional<QDateTime> EventTime(const RZELEvent& event, std::uint32_t lifeRemaining, const QDateTime& reference);

// One event line, without its line end.
std::string EventLine(const RZELEvent& event, std::uint32_t lifeRemaining, const QDateTime& reference);

// The whole file: header lines about the unit, then the events of `sorted`
// in the order given, each line ended by CR LF, one byte a character.
QByteArray EventLogCsv(const std::vector<RZELEvent>& sorted, const RZELUnitCFG& unit, const QDateTime& reference);
// The same straight from the downloaded buffer: collected, sorted, written.
QByteArray EventLogCsv(const RComZELReadBuf& buf, int stride, const RZELUnitCFG& unit, const QDateTime& reference);

// The serial number as the unit stores it, up to the first zero byte.
std::string SerialText(const RZELUnitCFG& unit);

// Serial number + "_LOG_" + "YYMMDDHHNNSS" of the reference time + ".CSV".
// Characters a file name cannot hold become "_", so that whatever the unit
// has in its serial number the file lands in the chosen folder.
QString ProposedFileName(const RZELUnitCFG& unit, const QDateTime& reference);

}  // namespace eventlog
