#pragma once
// One unit's history: identity and due dates, every operation newest first,
// what changed between two configuration images, the merged event log with
// a chart of alarms per month. Nothing here writes to a unit: an image can
// only be saved as a configuration file, to be loaded and written from the
// main window with its usual checks.
#include <QWidget>

#include <memory>

#include "FleetLoader.h"

#include <QJsonObject>

class QComboBox;
class QPushButton;
class QLabel;
class QTableView;
class QTableWidget;
class QVBoxLayout;
class TOperationsModel;
class TTextRowsModel;

class TUnitTimeline : public QWidget {
    Q_OBJECT

public:
    TUnitTimeline(const RFleetRow& unit, TFleetLoader* loader, QWidget* parent = nullptr);

    QTableView* Operations() const { return FOperations; }
    QTableWidget* Changes() const { return FChanges; }
    QTableView* Events() const { return FEvents; }
    // The operations shown, and the event log.
    bool Loaded() const { return FTimeline != nullptr; }
    bool EventsLoaded() const { return FEventsShown; }
    // The bump test's or calibration's record of the selected operation,
    // empty while none is shown; and the readings its chart shows.
    const QJsonObject& Record() const { return FRecord; }
    int CurvePoints() const { return FCurvePoints; }
    QPushButton* CertificateButton() const { return FCertificate; }
    QString StatusLine() const;
    int OperationCount() const { return FTimeline ? static_cast<int>(FTimeline->operations.size()) : 0; }

private:
    void Show(const std::shared_ptr<const RUnitTimeline>& timeline);
    void ShowChanges();
    void ShowEvents(const std::shared_ptr<const RUnitTimeline>& timeline);
    void ShowChart(const std::vector<std::pair<QDate, int>>& alarmsPerMonth);
    void SaveImage();
    // The selected operation's test record, read on the loader's thread.
    void AskRecord();
    void ShowRecord(const QString& operation, const QByteArray& json);
    void ShowCurve();
    void SaveCertificate();
    void ExportEvents();
    // The images of the selected operations: as found and as left.
    std::pair<QByteArray, QByteArray> SelectedImages() const;

    RFleetRow FUnit;
    std::shared_ptr<const RUnitTimeline> FTimeline;
    QComboBox* FKind = nullptr;
    TOperationsModel* FOperationRows = nullptr;
    TTextRowsModel* FEventRows = nullptr;
    QTableView* FOperations = nullptr;
    QTableWidget* FChanges = nullptr;
    QLabel* FChangesTitle = nullptr;
    QTableView* FEvents = nullptr;
    QVBoxLayout* FChartBox = nullptr;
    QLabel* FStatus = nullptr;
    QByteArray FEventsCsv;
    TFleetLoader* FLoader = nullptr;
    QPushButton* FCertificate = nullptr;
    QVBoxLayout* FReadingsBox = nullptr;
    QLabel* FReadingsTitle = nullptr;
    QString FRecordOperation;  // asked for or shown
    QJsonObject FRecord;
    int FCurvePoints = 0;
    bool FEventsShown = false;
};
