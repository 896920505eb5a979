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

void ShowBox(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text)
{
    QString lines = text;
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::Information, caption, lines,
                    QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace sensorlook
