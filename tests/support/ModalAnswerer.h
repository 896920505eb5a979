#pragma once
// Answers each modal dialog of the window under test as it appears: message
// boxes with OK (questions with Yes when `confirm` is set), file dialogs with `savePath` (cancelled when it is empty),
// any other dialog through `onDialog`. Keeps what it saw, so a test can say
// which boxes and file dialogs the user met.
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>

#include "FileDialogAnswer.h"

class ModalAnswerer {
public:
    explicit ModalAnswerer(QString saveAs = {}) : savePath(std::move(saveAs))
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Answer(); });
        FTimer.start(20);
    }
    QString savePath;
    QStringList shown;    // "caption|text" of every message box
    QStringList dialogs;  // the title of every file dialog, once each
    std::function<void(QWidget*)> onDialog;
    bool confirm = false;
    QStringList confirmed;  // "caption|text" of the questions answered Yes

private:
    void Answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            const QString seen = box->windowTitle() + QLatin1Char('|') + box->text();
            if (confirm && box->button(QMessageBox::Yes)) {
                confirmed << seen;
                box->done(QMessageBox::Yes);
            } else {
                shown << seen;
                box->done(QMessageBox::Ok);
            }
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            if (dialog != FSeen)
                dialogs << dialog->windowTitle();
            FSeen = dialog;
            if (savePath.isEmpty())
                dialog->reject();
            else
                AnswerFileDialog(dialog, savePath);
        } else if (modal && onDialog) {
            onDialog(modal);
        }
    }

    QPointer<QWidget> FSeen;
    QTimer FTimer;
};
