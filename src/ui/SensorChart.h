#pragma once
// The logging dialog's chart: one red line of gas readings over a bottom
// axis of elapsed seconds that the logging run moves on by itself, and a
// left axis that fits the readings shown. The user may drag it up and down
// (a double click fits it again); there is no zoom. QtCharts stays behind
// this class: the dialog only hands it the window to draw.
#include <QList>
#include <QPointF>
#include <QWidget>

QT_BEGIN_NAMESPACE
class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE

class TSensorChart : public QWidget {
    Q_OBJECT

public:
    explicit TSensorChart(QWidget* parent = nullptr);

    // The bottom axis and the points inside it, oldest first; the series
    // gets them with a single replace().
    void ShowWindow(double min, double max, double increment, const QList<QPointF>& points);
    // The left axis's title: the gas and its unit.
    void SetValueTitle(const QString& title);

    // What is drawn, for tests and screenshots.
    qsizetype PointCount() const;
    double BottomMin() const;
    double BottomMax() const;
    double LeftMin() const;
    double LeftMax() const;
    QString BottomTitle() const;
    QString LeftTitle() const;
    // Moves the left axis by `offset` value units (a drag does this).
    void Pan(double offset);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitLeftAxis();

    QChart* FChart;
    QChartView* FView;
    QLineSeries* SensorSeries;
    QValueAxis* FBottom;
    QValueAxis* FLeft;
    QList<QPointF> FPoints;
    double FPanOffset = 0;
    bool FDragging = false;
    double FDragY = 0;
};
