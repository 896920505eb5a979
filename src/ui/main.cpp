// The Beamdock service tool: one window, one copy at a time.
#include <QApplication>
#include <QMessageBox>
#include <QShortcut>

#include "DeviceSettings.h"
#include "HistoryDbDialog.h"
#include "HistoryRecorder.h"
#include "ProductionWindow.h"
#include "StartUp.h"
#include "TVarnoIRMainForm.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(startup::kApplicationTitle);

    TInstanceGuard guard;
    if (!guard.Acquire()) {
        QMessageBox::information(nullptr, startup::kApplicationTitle, startup::kAlreadyRunning);
        return 0;
    }

    const QString port = LoadStartUpSettings(QApplication::arguments());
    // Every operation of the window goes into the history. A record that
    // cannot be kept is told once, in a box of its own: the operation itself
    // has ended as it would have.
    const auto notice = [](const QString& text) {
        QMetaObject::invokeMethod(
            qApp, [text] { QMessageBox::warning(QApplication::activeWindow(), startup::kApplicationTitle, text); },
            Qt::QueuedConnection);
    };
    const TProcessRecording recording(QString(), notice);
    TVarnoIRMainForm form(CurrentSettings(), port);
    // Ctrl+Shift+H: "History database" (where the history is kept, records
    // waiting for the site server).
    const QShortcut historyDb(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H), &form, [&] {
        THistoryDbDialog dialog(recording.Recorder(), &form);
        dialog.exec();
    });
    // Ctrl+Shift+P: "Production", the template written to unit after unit on
    // every adapter; each adapter keeps its own history recorder.
    std::unique_ptr<TProductionWindow> production;
    const QShortcut productionLine(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P), &form, [&] {
        if (!production) {
            QString error;
            production = std::make_unique<TProductionWindow>(
                CurrentSettings(), HistoryRecorders(QString(), notice, error));
        }
        production->show();
        production->raise();
        production->activateWindow();
    });
    form.show();
    return app.exec();
}
