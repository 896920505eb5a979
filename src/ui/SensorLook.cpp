#include "SensorLook.h"

#include <QMessageBox>

namespace sensorlook {

QFont ArialPixels(int pixels, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QColor ToColor(RColour colour)
{
    return QColor(colour.r, colour.g, colour.b);
}

QString DialogFilter(const QString& filter)
{
    const qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return filter;
    return filter.left(bar) + QStringLiteral(" (") + filter.mid(bar + 1) + QLatin1Char(')');
}

void ShowBox(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text)
{
    QString lines = text;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::Information, caption, lines,
                    QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace sensorlook
