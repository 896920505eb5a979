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

namespace {

QString DuePart(const QString& name, bool required, std::optional<qint64> dueMs, qint64 nowMs, const QTimeZone& zone)
{
    if (!required)
        return name + QStringLiteral(" not required");
    if (!dueMs)
        return name + QStringLiteral(" due unknown");
    const QDate dueDay = QDateTime::fromMSecsSinceEpoch(*dueMs, zone).date();
    const QString date = dueDay.toString(Qt::ISODate);
    if (*dueMs <= nowMs)
        return name + QStringLiteral(" overdue since ") + date;
    const qint64 days = QDateTime::fromMSecsSinceEpoch(nowMs, zone).date().daysTo(dueDay);
    const QString when = days == 0   ? QStringLiteral("today")
                         : days == 1 ? QStringLiteral("in 1 day")
                                     : QStringLiteral("in %1 days").arg(days);
    return name + QStringLiteral(" due ") + date + QStringLiteral(" (") + when + QLatin1Char(')');
}

}  // namespace

QString DueLine(const RDueDates& due, qint64 nowMs, int dueWithinDays, const QTimeZone& zone)
{
    const QString dot = QStringLiteral(" \u00B7 ");
    QString line = DuePart(QStringLiteral("Calibration"), due.calRequired, due.calDueMs, nowMs, zone) + dot +
                   DuePart(QStringLiteral("bump test"), due.bumpRequired, due.bumpDueMs, nowMs, zone);
    if (due.status == DueStatus::DueSoon)
        line += dot + StatusText(due.status, dueWithinDays);
    return line;
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
