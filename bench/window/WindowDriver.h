#pragma once
// Driving the real window as a user would, and watching its event loop:
// the stall probe, the user who answers boxes and file dialogs, the phases
// each operation is timed in.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

#include "BenchSim.h"
#include "DeviceSettings.h"
#include "TVarnoIRMainForm.h"

namespace windowbench {

constexpr double kStallTargetMs = 50;
constexpr int kProbeIntervalMs = 10;

// Runs the event loop until `done` holds or `ms` pass; whether it holds.
bool RunUntil(const std::function<bool()>& done, int ms);

// A 10 ms timer on the GUI thread; how late each tick comes is how long the
// event loop was kept busy.
class TStallProbe {
public:
    TStallProbe()
    {
        FTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            const double late = static_cast<double>(FSince.nsecsElapsed()) / 1e6 - kProbeIntervalMs;
            FWorstMs = std::max(FWorstMs, late);
            ++FTicks;
            FSince.restart();
        });
    }
    void Start()
    {
        FSince.start();
        FTimer.start(kProbeIntervalMs);
    }
    void Reset()
    {
        FWorstMs = 0;
        FTicks = 0;
    }
    double WorstMs() const { return FWorstMs; }
    long Ticks() const { return FTicks; }

private:
    QTimer FTimer;
    QElapsedTimer FSince;
    double FWorstMs = 0;
    long FTicks = 0;
};

struct RPhase {
    QString name;
    double wallMs = 0;
    double worstStallMs = 0;
    long ticks = 0;
    double cpuShare = 0;
    bool ok = false;
    bool Met() const { return ok && worstStallMs <= kStallTargetMs; }
};

// Answers the boxes and file dialogs as a user would, and drives the
// logging dialog; everything from a 20 ms timer on the GUI thread, so that
// it works inside the modal loops the window runs.
class TUser {
public:
    TUser()
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Tick(); });
        FTimer.start(20);
    }
    QString saveAs;                      // the name typed into file dialogs
    QStringList boxes;                   // "caption|text" of each box answered
    std::function<void(QWidget*)> onModal;  // any other modal widget

private:
    void Tick()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes << box->windowTitle() + QLatin1Char('|') + box->text().simplified();
            if (QAbstractButton* yes = box->button(QMessageBox::Yes))
                yes->click();
            else
                box->done(QMessageBox::Ok);
        } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            if (files->selectedFiles().value(0) == saveAs) {
                QMetaObject::invokeMethod(files, "accept");
            } else {
                // Typed into the name field, as a user does: the dialog fills
                // in its proposed name once it has read the folder.
                files->setDirectory(QFileInfo(saveAs).absolutePath());
                if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    name->setText(QFileInfo(saveAs).fileName());
            }
        } else if (modal && onModal) {
            onModal(modal);
        }
    }

    QTimer FTimer;
};

class TWindowBench {
public:
    explicit TWindowBench(const QString& port) : FForm(CurrentSettings(), port) {}

    TVarnoIRMainForm& Form() { return FForm; }
    TStallProbe& Probe() { return FProbe; }
    TUser& User() { return FUser; }

    QString Status() const { return FForm.findChild<QLabel*>(QStringLiteral("StatusLabel"))->text(); }
    void Click(const char* button)
    {
        FForm.findChild<QPushButton*>(QString::fromLatin1(button))->click();
    }

    // Clicks `button` and waits for its operation; `ok` judges the outcome.
    RPhase Operation(const QString& name, const char* button, const std::function<bool()>& ok, int timeoutMs)
    {
        return Phase(name, [&] {
            bool finished = false;
            const auto connection = QObject::connect(&FForm, &TVarnoIRMainForm::OperationFinished,
                                                     [&finished] { finished = true; });
            Click(button);
            RunUntil([&] { return finished; }, timeoutMs);
            QObject::disconnect(connection);
            return finished && ok();
        });
    }

    // Times `work` with the probe reset at its start.
    RPhase Phase(const QString& name, const std::function<bool()>& work)
    {
        RPhase phase;
        phase.name = name;
        FProbe.Reset();
        const double cpu0 = ProcessCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        phase.ok = work();
        phase.wallMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
        phase.cpuShare = (ProcessCpuSeconds() - cpu0) * 1000.0 / phase.wallMs;
        phase.worstStallMs = FProbe.WorstMs();
        phase.ticks = FProbe.Ticks();
        return phase;
    }

private:
    TVarnoIRMainForm FForm;
    TStallProbe FProbe;
    TUser FUser;
};

// The logging dialog from its factory page button: Start, the data log's
// file dialog, `seconds` of logging at the 1 s interval, Stop, close. Two
// phases: opening and starting (dialog, unit read, file dialog), and the
// logging itself.
std::vector<RPhase> LoggingPhases(TWindowBench& bench, const QString& dataLog, int seconds);

}  // namespace windowbench
