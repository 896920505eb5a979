#include "FleetReport.h"

#include <QBuffer>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>

#include "PdfPage.h"

namespace {

QString Duration(qint64 seconds)
{
    if (seconds <= 0)
        return QStringLiteral("-");
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

bool WriteFleetReport(const QString& path, RFleetReport report, QString& error)
{
    std::stable_sort(report.units.begin(), report.units.end(), [](const RFleetUnit& a, const RFleetUnit& b) {
        return a.rank != b.rank ? a.rank > b.rank : a.serial < b.serial;
    });
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        PrepareDocument(writer, QStringLiteral("Fleet report"));
        TPdfPage page(writer);
        page.Title(QStringLiteral("Fleet Report"), QStringLiteral("Calibration and bump test status of every unit"));
        page.Field(QStringLiteral("Station"), report.station);
        page.Field(QStringLiteral("Generated"), report.generated);
        page.Field(QStringLiteral("Alarm events of"), report.period);
        const auto overdue = std::count_if(report.units.begin(), report.units.end(),
                                           [](const RFleetUnit& u) { return u.status == QStringLiteral("overdue"); });
        page.Field(QStringLiteral("Units"), QStringLiteral("%1, of which %2 overdue").arg(report.units.size()).arg(overdue));
        page.Section(QStringLiteral("Units, overdue first"));
        const std::vector<double> widths{20, 12, 12, 18, 18, 18, 18, 20, 10, 14, 14};
        page.TableHeader({QStringLiteral("Serial"), QStringLiteral("User ID"), QStringLiteral("Sensor"),
                          QStringLiteral("Last cal."), QStringLiteral("Cal. due"), QStringLiteral("Last bump"),
                          QStringLiteral("Bump due"), QStringLiteral("Status"), QStringLiteral("Alarms"),
                          QStringLiteral("Highest"), QStringLiteral("In alarm")},
                         widths);
        for (const RFleetUnit& unit : report.units) {
            const QColor tint = unit.status == QStringLiteral("overdue") ? QColor(0xFB, 0xE4, 0xE4)
                                : unit.rank > 1                           ? QColor(0xFD, 0xF3, 0xDC)
                                                                          : QColor(Qt::transparent);
            page.TableRow({unit.serial, unit.userId, unit.sensor, unit.lastCalibration, unit.calibrationDue,
                           unit.lastBump, unit.bumpDue, unit.status, QString::number(unit.alarmCount),
                           unit.highestReading, Duration(unit.alarmSeconds)},
                          widths, tint);
        }
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size() || !file.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
