#pragma once
// Answers the window's file dialogs in widget tests the way a user does: the
// name goes into the dialog's name field, and the dialog is accepted only
// once its own selection shows that file. Qt's dialog reads its folder in the
// background and fills in the proposed name when it has, which can undo a
// name set before that moment; accepting then would save under the proposed
// name, or, with an empty name field, only open the folder and stay up.
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMetaObject>

// One step of answering `dialog` with `path` (absolute); call it again on the
// next timer tick until it returns true, which it does once the accept is on
// its way.
inline bool AnswerFileDialog(QFileDialog* dialog, const QString& path)
{
    if (dialog->selectedFiles().value(0) == path) {
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        return true;
    }
    const QFileInfo target(path);
    if (QFileInfo(dialog->directory().absolutePath()) != QFileInfo(target.absolutePath()))
        dialog->setDirectory(target.absolutePath());
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->setText(target.fileName());
    return false;
}
