#include "DueDates.h"

#include <algorithm>

namespace duedates {
namespace {

constexpr qint64 kMsPerSecond = 1000;
constexpr qint64 kSecondsPerDay = 86400;

std::optional<qint64> LastFromUnit(qint64 readMs, std::uint32_t timer)
{
    if (timer > kUnknownTimer)
        return std::nullopt;
    return readMs - static_cast<qint64>(timer) * kMsPerSecond;
}

std::optional<qint64> Later(std::optional<qint64> a, std::optional<qint64> b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    return std::max(*a, *b);
}

DueStatus StatusOf(std::optional<qint64> dueMs, bool required, qint64 nowMs, int days, const QTimeZone& zone)
{
    if (!required)
        return DueStatus::Ok;
    if (!dueMs)
        return DueStatus::Unknown;
    if (*dueMs <= nowMs)
        return DueStatus::Overdue;
    const QDate today = QDateTime::fromMSecsSinceEpoch(nowMs, zone).date();
    const QDate dueDay = QDateTime::fromMSecsSinceEpoch(*dueMs, zone).date();
    return today.daysTo(dueDay) <= days ? DueStatus::DueSoon : DueStatus::Ok;
}

}  // namespace

RDueDates Compute(const RUnitTimers& t, std::optional<qint64> historyCalMs, std::optional<qint64> historyBumpMs,
                  qint64 nowMs, int dueWithinDays, const QTimeZone& zone)
{
    RDueDates d;
    d.lastCalMs = Later(LastFromUnit(t.readMs, t.lastCal), historyCalMs);
    d.lastBumpMs = Later(LastFromUnit(t.readMs, t.lastBump), historyBumpMs);
    d.calRequired = t.calInterval != 0;
    d.bumpRequired = t.bumpInterval != 0;
    if (d.calRequired && d.lastCalMs)
        d.calDueMs = *d.lastCalMs + static_cast<qint64>(t.calInterval) * kMsPerSecond;
    if (d.bumpRequired && d.lastBumpMs)
        d.bumpDueMs = *d.lastBumpMs + static_cast<qint64>(t.bumpInterval) * kSecondsPerDay * kMsPerSecond;
    // The worse of the two decides.
    d.status = std::max(StatusOf(d.calDueMs, d.calRequired, nowMs, dueWithinDays, zone),
                        StatusOf(d.bumpDueMs, d.bumpRequired, nowMs, dueWithinDays, zone));
    return d;
}

QString StatusText(DueStatus status, int dueWithinDays)
{
    switch (status) {
    case DueStatus::Ok:
        return QStringLiteral("ok");
    case DueStatus::DueSoon:
        return QStringLiteral("due within %1 days").arg(dueWithinDays);
    case DueStatus::Overdue:
        return QStringLiteral("overdue");
    case DueStatus::Unknown:
        return QStringLiteral("unknown");
    }
    return QString();
}

}  // namespace duedates
