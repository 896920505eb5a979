#pragma once
// The "Sensor Calibration" dialog: its widgets (TSensorCalDlg.ui) and the
// ISensorCalView the guided calibration talks to. The calibration runs as
// TSensorCalWorkflow on the main window's link thread; Cancel only puts its
// request where the calibration picks it up.
#include <QDialog>

#include <memory>

#include "DeviceSettings.h"
#include "LinkThread.h"
#include "SensorCalView.h"
#include "SensorCalibration.h"
#include "SensorClock.h"
#include "SensorToolGuiViews.h"

namespace Ui {
class TSensorCalDlg;
}

class QCloseEvent;
class TCalCheckPanel;

class TSensorCalDlg : public QDialog, public ISensorCalView {
    Q_OBJECT

public:
    // `link` and `settings` must outlive the dialog.
    TSensorCalDlg(TLinkThread& link, const LoadedSettings& settings, QWidget* parent = nullptr);
    ~TSensorCalDlg() override;

    // Prepares the dialog for the unit's configuration and shows it
    // modally; a sensor type the table does not know gets its box and no
    // dialog. Returns when the dialog was closed.
    void ShowDlg(const RZELCFG& cfg);
    // The part of ShowDlg before the showing; false: not to be shown.
    bool Prepare(const RZELCFG& cfg);
    bool Calibrating() const { return FCalibrating; }
    // The as found / as left and record panel below the calibration's own
    // controls.
    TCalCheckPanel& CheckPanel() const { return *FCheckPanel; }
    // The unit the calibration is for, as the history files it.
    void SetUnit(const RZELIdenty& identity) { FUnit = identity; }

    // ISensorCalView, on the GUI thread.
    void SetCaption(const QString& caption) override;
    void SetSpanGas(double minimum, double maximum, double value, const QString& unit) override;
    void SetCalLine(CalLine line, const QString& text, RColour colour) override;
    void SetCalibrating(bool running) override;
    void SetProgressMax(int maximum) override;
    void SetProgress(int position) override;
    void ShowMessage(BoxIcon icon, const QString& caption, const QString& text) override;

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ApplyLook();
    void CalBtnClick();
    void CloseBtnClick();
    void OperationEnded();
    bool FormCloseQuery() const;
    void SaveCertificate();

    std::unique_ptr<Ui::TSensorCalDlg> ui;
    TLinkThread& FLinkThread;
    const LoadedSettings& FSettings;
    TCalCheckPanel* FCheckPanel = nullptr;
    TSystemClock FClock;
    TSensorCalRequests FRequests;
    TSensorCalGuiView FProxy;
    TSensorCalWorkflow FWorkflow;
    bool FCalibrating = false;
    bool FOperationQueued = false;
    bool FGuided = false;  // a guided calibration holds the link
    RZELIdenty FUnit{};
};
