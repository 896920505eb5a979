// The Beamdock service tool: one window, one copy at a time.
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QShortcut>

#include "BumpTestDialog.h"
#include "DeviceSettings.h"
#include "FleetWindow.h"
#include "HistoryDbDialog.h"
#include "HistoryRecorder.h"
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
    QPointer<TVarnoIRMainForm> shown;
    const TProcessRecording recording(
        QString(),
        [](const QString& text) {
            QMetaObject::invokeMethod(
                qApp, [text] { QMessageBox::warning(QApplication::activeWindow(), startup::kApplicationTitle, text); },
                Qt::QueuedConnection);
        },
        [&shown](const RRecordedState& state) {
            QMetaObject::invokeMethod(
                qApp,
                [&shown, state] {
                    if (shown)
                        shown->ShowRecorded(state);
                },
                Qt::QueuedConnection);
        });
    TVarnoIRMainForm form(CurrentSettings(), port);
    shown = &form;
    // Ctrl+Shift+H: "History database" (where the history is kept, records
    // waiting for the site server).
    const QShortcut historyDb(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H), &form, [&] {
        THistoryDbDialog dialog(recording.Recorder(), &form);
        dialog.exec();
    });
    // Ctrl+Shift+B: "Bump Test", in either mode, beside the specified layouts.
    const QShortcut bumpTest(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B), &form, [&] {
        if (form.OperationRunning())
            return;
        TBumpTestDlg dialog(CurrentSettings(), port, &form);
        dialog.exec();
    });
    // Ctrl+Shift+F: "Fleet", every unit of the history, kept beside the form
    // and read again whenever an operation of this station has ended.
    // Also "Fleet..." in the form's context menu, which leaves its layout as it is.
    QPointer<TFleetWindow> fleet;
    QAction fleetList(QStringLiteral("&Fleet..."), &form);
    fleetList.setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    form.addAction(&fleetList);
    form.setContextMenuPolicy(Qt::ActionsContextMenu);
    QObject::connect(&fleetList, &QAction::triggered, &form, [&] {
        if (!fleet) {
            QString error;
            const std::optional<RHistoryLocation> location = ChooseHistoryLocation(QString(), error);
            if (!location)
                return void(QMessageBox::warning(&form, startup::kApplicationTitle, error));
            THistoryRecorder* recorder = recording.Recorder();
            // Owned by the form, so it goes (and its reads stop) before the
            // recorder it waits for; closing it only hides it.
            fleet = new TFleetWindow(*location, CurrentSettings().sensors, QString(),
                                     [recorder] { if (recorder) recorder->WaitIdle(); }, &form);
            QObject::connect(&form, &TVarnoIRMainForm::OperationFinished, fleet, &TFleetWindow::Refresh);
        }
        fleet->show();
        fleet->raise();
        fleet->activateWindow();
    });
    form.show();
    return app.exec();
}
