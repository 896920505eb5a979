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
    QPointer<TVarnoIRMainForm> shown;
    const auto notice = [](const QString& text) {
        QMetaObject::invokeMethod(
            qApp, [text] { QMessageBox::warning(QApplication::activeWindow(), startup::kApplicationTitle, text); },
            Qt::QueuedConnection);
    };
    const TProcessRecording recording(QString(), notice, [&shown](const RRecordedState& state) {
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

    // The windows beyond the specified layouts are reached by their
    // shortcuts and from the form's context menu, which leaves its layout as
    // it is.
    form.setContextMenuPolicy(Qt::ActionsContextMenu);
    const auto addWindowAction = [&form](QAction& action, Qt::Key key) {
        action.setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | key));
        action.setShortcutContext(Qt::WindowShortcut);
        form.addAction(&action);
    };

    // "Bump Test", in either mode.
    QAction bumpTest(QStringLiteral("&Bump Test..."), &form);
    addWindowAction(bumpTest, Qt::Key_B);
    QObject::connect(&bumpTest, &QAction::triggered, &form, [&] {
        if (form.OperationRunning())
            return;
        TBumpTestDlg dialog(CurrentSettings(), port, &form);
        dialog.exec();
    });

    // "Fleet", every unit of the history, kept beside the form and read again
    // whenever an operation of this station has ended.
    QPointer<TFleetWindow> fleet;
    QAction fleetList(QStringLiteral("&Fleet..."), &form);
    addWindowAction(fleetList, Qt::Key_F);
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

    // "Production", the template written to unit after unit on every
    // adapter; each adapter keeps its own history recorder.
    std::unique_ptr<TProductionWindow> production;
    QAction productionLine(QStringLiteral("&Production..."), &form);
    addWindowAction(productionLine, Qt::Key_P);
    QObject::connect(&productionLine, &QAction::triggered, &form, [&] {
        if (!production) {
            QString error;
            production = std::make_unique<TProductionWindow>(
                CurrentSettings(), HistoryRecorders(QString(), notice, error));
        }
        production->show();
        production->raise();
        production->activateWindow();
    });

    // "History database": where the history is kept, records waiting for the
    // site server.
    QAction historyDb(QStringLiteral("&History database..."), &form);
    addWindowAction(historyDb, Qt::Key_H);
    QObject::connect(&historyDb, &QAction::triggered, &form, [&] {
        THistoryDbDialog dialog(recording.Recorder(), &form);
        dialog.exec();
    });

    form.show();
    return app.exec();
}
