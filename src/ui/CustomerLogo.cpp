#include "CustomerLogo.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int kWidth = 205;
constexpr int kHeight = 61;
const QColor kNavy(18, 52, 104);
const QColor kBeam(255, 170, 20);
}  // namespace

QPixmap CustomerLogo()
{
    QPixmap logo(kWidth, kHeight);
    logo.fill(Qt::white);
    QPainter p(&logo);
    p.setRenderHint(QPainter::Antialiasing);

    // A detector's window with an infrared beam leaving it.
    const QRectF badge(4, 8, 44, 44);
    p.setPen(Qt::NoPen);
    p.setBrush(kNavy);
    p.drawRoundedRect(badge, 9, 9);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(20, 30), 7, 7);
    QLinearGradient beam(27, 30, 60, 30);
    beam.setColorAt(0, kBeam);
    beam.setColorAt(1, QColor(kBeam.red(), kBeam.green(), kBeam.blue(), 0));
    QPainterPath ray;
    ray.moveTo(25, 27);
    ray.lineTo(62, 18);
    ray.lineTo(62, 42);
    ray.lineTo(25, 33);
    ray.closeSubpath();
    p.setBrush(beam);
    p.drawPath(ray);

    QFont name;
    name.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    name.setPixelSize(25);
    name.setBold(true);
    name.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(name);
    p.setPen(kNavy);
    p.drawText(QRectF(62, 6, 140, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("CORVATH"));

    QFont line = name;
    line.setPixelSize(10);
    line.setBold(false);
    line.setLetterSpacing(QFont::AbsoluteSpacing, 2.2);
    p.setFont(line);
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRectF(63, 36, 140, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("GAS DETECTION"));
    return logo;
}
