#pragma once
// "Fleet": every unit of the history at a glance, overdue first, in a window
// of its own beside the main window. Reads on the loader's thread only.
#include <QWidget>

#include <memory>

#include "FleetLoader.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class TFleetModel;

class TFleetWindow : public QWidget {
    Q_OBJECT

public:
    // `beforeLoad` runs on the loader's thread before each read (waits for
    // this station's recorder); may be empty.
    TFleetWindow(RHistoryLocation location, std::vector<RSensorType> sensors, QString spoolPath = QString(),
                 std::function<void()> beforeLoad = {}, QWidget* parent = nullptr);
    ~TFleetWindow() override;

    void Refresh();
    TFleetModel* Model() const { return FModel; }
    TFleetLoader* Loader() const { return FLoader; }
    QTableView* Table() const { return FTable; }
    QString StatusLine() const;
    // Opens the timeline of the unit in the list's `row`.
    QWidget* OpenUnit(int row);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Loaded(const std::shared_ptr<const RFleetSnapshot>& snapshot);
    void ExportCsv();
    void ExportReport();
    void ReportWritten(const QString& path, const QString& error);
    void SizeColumns();

    TFleetLoader* FLoader = nullptr;
    TFleetModel* FModel = nullptr;
    QObject* FLook = nullptr;  // the colours over the model
    std::vector<RSensorType> FSensors;
    QTableView* FTable = nullptr;
    QLineEdit* FFilter = nullptr;
    QLabel* FCount = nullptr;
    QLabel* FStatus = nullptr;
    QPushButton* FReport = nullptr;
    QTimer* FTimer = nullptr;
    bool FLoading = false;
    bool FAgain = false;
    bool FSized = false;
    int FRound = 0;  // reads asked for, to tell a slow one
};
