#pragma once
// The open and save dialogs of the window and its sensor dialogs: Qt's own
// file dialog, filters written "description|*.ext" as the workflows give
// them, the proposed name filled in for a save.
#include <QString>

#include <optional>

#include "ViewTypes.h"

class QWidget;

// "description|*.ext" to Qt's "description (*.ext)".
QString DialogFilter(const QString& filter);
// The file chosen, or nothing when the user cancels.
std::optional<QString> AskOpenFileName(QWidget* parent, const RFileRequest& request);
std::optional<QString> AskSaveFileName(QWidget* parent, const RFileRequest& request);
