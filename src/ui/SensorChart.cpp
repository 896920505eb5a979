#include "SensorChart.h"

#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace {

// Head room above and below the readings, as a share of their spread.
constexpr double kMargin = 0.05;
// A flat line (clean air) still gets an axis of this height.
constexpr double kFlatSpan = 1.0;

}  // namespace

TSensorChart::TSensorChart(QWidget* parent)
    : QWidget(parent),
      FChart(new QChart),
      FView(new QChartView(FChart, this)),
      SensorSeries(new QLineSeries(FChart)),
      FBottom(new QValueAxis(FChart)),
      FLeft(new QValueAxis(FChart))
{
    SensorSeries->setObjectName(QStringLiteral("SensorSeries"));
    SensorSeries->setColor(Qt::red);
    SensorSeries->setPointsVisible(false);
    SensorSeries->setPointLabelsVisible(false);
    FChart->addSeries(SensorSeries);
    FChart->legend()->hide();
    FChart->setTitle(QString());
    FChart->setMargins(QMargins(2, 2, 2, 2));
    FChart->setBackgroundRoundness(0);

    FBottom->setTickType(QValueAxis::TicksDynamic);
    FBottom->setLabelFormat(QStringLiteral("%g"));
    FLeft->setLabelFormat(QStringLiteral("%g"));
    // Eleven labels share the bottom axis: a small plain font keeps "1080"
    // readable in the dialog's width.
    QFont labels;
    labels.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    labels.setPixelSize(10);
    FBottom->setLabelsFont(labels);
    FLeft->setLabelsFont(labels);
    QFont titles = labels;
    titles.setPixelSize(11);
    FBottom->setTitleFont(titles);
    FLeft->setTitleFont(titles);
    FBottom->setTitleText(QStringLiteral("Time (s)"));
    FLeft->setTitleText(QStringLiteral("Gas"));
    FChart->addAxis(FBottom, Qt::AlignBottom);
    FChart->addAxis(FLeft, Qt::AlignLeft);
    SensorSeries->attachAxis(FBottom);
    SensorSeries->attachAxis(FLeft);
    ShowWindow(0, 100, 10, {});

    FView->setRubberBand(QChartView::NoRubberBand);
    FView->setRenderHint(QPainter::Antialiasing, false);
    FView->viewport()->installEventFilter(this);
    // Only a picture to the keyboard: Tab passes it by (the dialog names it
    // for screen readers), the mouse still drags it.
    FView->setFocusPolicy(Qt::NoFocus);
    FView->setAccessibleName(QStringLiteral("Sensor reading chart"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FView);
}

void TSensorChart::ShowWindow(double min, double max, double increment, const QList<QPointF>& points)
{
    FBottom->setRange(min, max);
    FBottom->setTickAnchor(min);
    FBottom->setTickInterval(increment > 0 ? increment : (max - min) / 10);
    FPoints = points;
    SensorSeries->replace(FPoints);
    FitLeftAxis();
}

void TSensorChart::SetValueTitle(const QString& title)
{
    if (!title.isEmpty() && title != FLeft->titleText())
        FLeft->setTitleText(title);
}

QString TSensorChart::BottomTitle() const
{
    return FBottom->titleText();
}

QString TSensorChart::LeftTitle() const
{
    return FLeft->titleText();
}

void TSensorChart::FitLeftAxis()
{
    double low = 0;
    double high = kFlatSpan;
    if (!FPoints.isEmpty()) {
        const auto [minIt, maxIt] = std::minmax_element(FPoints.cbegin(), FPoints.cend(),
                                                        [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
        low = minIt->y();
        high = maxIt->y();
    }
    double spread = high - low;
    if (spread < kFlatSpan) {
        const double middle = (low + high) / 2;
        low = middle - kFlatSpan / 2;
        high = middle + kFlatSpan / 2;
        spread = kFlatSpan;
    }
    FLeft->setRange(low - spread * kMargin + FPanOffset, high + spread * kMargin + FPanOffset);
    FLeft->applyNiceNumbers();
}

void TSensorChart::Pan(double offset)
{
    FPanOffset += offset;
    FitLeftAxis();
}

qsizetype TSensorChart::PointCount() const
{
    return SensorSeries->count();
}

double TSensorChart::BottomMin() const
{
    return FBottom->min();
}

double TSensorChart::BottomMax() const
{
    return FBottom->max();
}

double TSensorChart::LeftMin() const
{
    return FLeft->min();
}

double TSensorChart::LeftMax() const
{
    return FLeft->max();
}

bool TSensorChart::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != FView->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            FDragging = true;
            FDragY = mouse->position().y();
            return true;
        }
        break;
    }
    case QEvent::MouseMove:
        if (FDragging) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            const double plotHeight = FChart->plotArea().height();
            if (plotHeight > 0) {
                // Dragging down shows lower values: the axis follows the hand.
                const double pixels = mouse->position().y() - FDragY;
                Pan(pixels / plotHeight * (FLeft->max() - FLeft->min()));
            }
            FDragY = mouse->position().y();
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        FDragging = false;
        break;
    case QEvent::MouseButtonDblClick:
        FPanOffset = 0;
        FitLeftAxis();
        return true;
    case QEvent::Wheel:
        return true;  // no zoom
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
