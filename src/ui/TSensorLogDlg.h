#pragma once
// The "Sensor Reading Data Logging" dialog: its widgets (TSensorLogDlg.ui)
// and the ISensorLogView the logging run talks to. The run itself is
// TSensorLogWorkflow on the main window's link thread; the buttons only put
// their requests where the run picks them up.
#include <QDialog>

#include <memory>

#include "DeviceSettings.h"
#include "LinkThread.h"
#include "SensorClock.h"
#include "SensorLogRequests.h"
#include "SensorLogView.h"
#include "SensorLogging.h"
#include "SensorToolGuiViews.h"

namespace Ui {
class TSensorLogDlg;
}

class QCloseEvent;
class TSensorChart;

class TSensorLogDlg : public QDialog, public ISensorLogView {
    Q_OBJECT

public:
    // `link` and `settings` must outlive the dialog.
    TSensorLogDlg(TLinkThread& link, const LoadedSettings& settings, QWidget* parent = nullptr);
    ~TSensorLogDlg() override;

    // Shows the dialog modally; returns when it was closed.
    void ShowDlg();
    // True while a run holds the link (the window refuses to close).
    bool Running() const { return !FCloseEnable; }
    TSensorChart* Chart() const;

    // ISensorLogView, on the GUI thread.
    void SetRunning(bool running) override;
    void SetCalButtons(bool commands, bool abort) override;
    void SetCalProgressMax(int maximum) override;
    void SetCalProgress(int position) override;
    void SetCalLabel(const QString& text, RColour colour) override;
    void SetCalProgLabel(const QString& text) override;
    void ShowReading(const RReadingDisplay& reading) override;
    void ShowChart(const RChartWindow& chart) override;
    void ShowDataLogFailure(const QString& path, int lostRecords) override;
    std::optional<QString> AskSaveFile(const RFileRequest& request) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override;

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ApplyLook();
    void ConnectControls();
    void StartBtnClick();
    void StopBtnClick();
    bool FormCloseQuery() const;

    std::unique_ptr<Ui::TSensorLogDlg> ui;
    TLinkThread& FLinkThread;
    TSystemClock FClock;
    TSensorLogRequests FRequests;
    TSensorLogGuiView FProxy;
    TSensorLogWorkflow FWorkflow;
    bool FCloseEnable = true;
};
