#include "ReadingsChart.h"

#include <QChart>
#include <QChartView>
#include <QJsonArray>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>

#include <algorithm>

namespace {

const QString kCurve = QStringLiteral("curve");

QLineSeries* Level(const QString& name, double value, int seconds, const QColor& colour)
{
    auto* line = new QLineSeries;
    line->setName(name);
    line->append(0, value);
    line->append(seconds, value);
    QPen pen(colour);
    pen.setStyle(Qt::DashLine);
    pen.setWidthF(1.5);
    line->setPen(pen);
    return line;
}

}  // namespace

int RecordCurvePoints(const QJsonObject& record)
{
    return static_cast<int>(record.value(kCurve).toArray().size());
}

QWidget* MakeReadingsChart(const QJsonObject& record, QWidget* parent)
{
    const QJsonArray curve = record.value(kCurve).toArray();
    const QJsonObject unit = record.value(QStringLiteral("unit")).toObject();
    const QString gasUnit = unit.value(QStringLiteral("gasUnit")).toString();
    const int seconds = std::max(1, static_cast<int>(curve.size()) - 1);
    auto* chart = new QChart;
    auto* readings = new QLineSeries;
    readings->setName(QStringLiteral("Reading"));
    double low = 0, high = 0;
    for (qsizetype i = 0; i < curve.size(); ++i) {
        const double value = curve[i].toDouble();
        readings->append(static_cast<double>(i), value);  // one reading a second
        low = std::min(low, value);
        high = std::max(high, value);
    }
    QPen pen(QColor(0x15, 0x65, 0xc0));
    pen.setWidthF(2);
    readings->setPen(pen);
    chart->addSeries(readings);
    const double gas = record.value(QStringLiteral("gas")).toObject().value(QStringLiteral("concentration")).toDouble();
    const QJsonValue setPoint = unit.value(QStringLiteral("lowSetPoint"));
    if (gas > 0) {
        chart->addSeries(Level(QStringLiteral("Applied gas"), gas, seconds, QColor(0x75, 0x75, 0x75)));
        high = std::max(high, gas);
    }
    if (setPoint.isDouble()) {
        chart->addSeries(Level(QStringLiteral("Low alarm"), setPoint.toDouble(), seconds, QColor(0xd3, 0x2f, 0x2f)));
        high = std::max(high, setPoint.toDouble());
    }
    auto* x = new QValueAxis;
    x->setRange(0, seconds);
    x->setLabelFormat(QStringLiteral("%d"));
    x->setTitleText(QStringLiteral("s after \"Apply gas now\""));
    auto* y = new QValueAxis;
    y->setRange(low, high > low ? high * 1.1 : low + 1);
    y->applyNiceNumbers();
    y->setTitleText(gasUnit);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* series : chart->series()) {
        series->attachAxis(x);
        series->attachAxis(y);
    }
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(2, 2, 2, 2));
    auto* view = new QChartView(chart, parent);
    view->setRenderHint(QPainter::Antialiasing);
    view->setAccessibleName(QStringLiteral("Readings"));
    view->setAccessibleDescription(QStringLiteral("%1 readings, one a second").arg(curve.size()));
    view->setFocusPolicy(Qt::NoFocus);
    view->setMinimumSize(320, 220);
    return view;
}
