#pragma once
// When a unit's next calibration and bump test fall due. The unit counts
// the seconds since its last calibration and bump test; the history may know
// of a later one than the unit's timers show (a calibration recorded after
// the read), and then the history wins.
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <cstdint>
#include <optional>

namespace duedates {

// Above this a timer shows "---": the unit does not know.
inline constexpr std::uint32_t kUnknownTimer = 63072000;
inline constexpr int kDefaultDueWithinDays = 7;

// In rising order of concern: the worse of two decides.
enum class DueStatus { Ok, Unknown, DueSoon, Overdue };

struct RUnitTimers {
    qint64 readMs = 0;              // when the image was read (UTC ms)
    std::uint32_t lastCal = 0;      // seconds since the last calibration
    std::uint32_t calInterval = 0;  // seconds; 0 = none
    std::uint32_t lastBump = 0;     // seconds since the last bump test
    std::uint32_t bumpInterval = 0; // days; 0 = none
};

struct RDueDates {
    std::optional<qint64> lastCalMs, calDueMs, lastBumpMs, bumpDueMs;
    bool calRequired = false, bumpRequired = false;
    DueStatus status = DueStatus::Ok;
};

// `historyCalMs`/`historyBumpMs`: the latest successful ones the history
// holds. "Due within N days" counts calendar days of `zone`, so a
// daylight-saving change in between does not move the boundary by an hour.
RDueDates Compute(const RUnitTimers& timers, std::optional<qint64> historyCalMs, std::optional<qint64> historyBumpMs,
                  qint64 nowMs, int dueWithinDays, const QTimeZone& zone);

// "ok", "due within 7 days", "overdue", "unknown".
QString StatusText(DueStatus status, int dueWithinDays);

}  // namespace duedates
