#pragma once
// What the two sensor dialogs share of the window's look: the fonts, the
// colours of the views and the message boxes.
#include <QColor>
#include <QFont>
#include <QString>

#include "ViewTypes.h"

class QWidget;

namespace sensorlook {

// Arial at a pixel size; Liberation Sans has its metrics where Arial itself
// is not installed.
QFont ArialPixels(int pixels, bool bold = false);
QColor ToColor(RColour colour);
// Modal box with an OK button; "\r" in the text is a line break.
void ShowBox(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text);

}  // namespace sensorlook
