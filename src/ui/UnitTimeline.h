#pragma once
// One unit's history: identity and due dates, every operation newest first,
// what changed between two configuration images, the merged event log with
// a chart of alarms per month. Nothing here writes to a unit: an image can
// only be saved as a configuration file, to be loaded and written from the
// main window with its usual checks.
#include <QWidget>

#include <memory>

#include "FleetLoader.h"

class QComboBox;
class QLabel;
class QTableWidget;
class QTabWidget;
class QVBoxLayout;

class TUnitTimeline : public QWidget {
    Q_OBJECT

public:
    TUnitTimeline(const RFleetRow& unit, TFleetLoader* loader, QWidget* parent = nullptr);

    QTableWidget* Operations() const { return FOperations; }
    QTableWidget* Changes() const { return FChanges; }
    QTableWidget* Events() const { return FEvents; }
    bool Loaded() const { return FTimeline != nullptr; }

private:
    void Show(const std::shared_ptr<const RUnitTimeline>& timeline);
    void FillOperations();
    void ShowChanges();
    void FillEvents();
    void SaveImage();
    void ExportEvents();
    // The images of the selected operations: as found and as left.
    std::pair<QByteArray, QByteArray> SelectedImages() const;

    RFleetRow FUnit;
    std::shared_ptr<const RUnitTimeline> FTimeline;
    QComboBox* FKind = nullptr;
    QTableWidget* FOperations = nullptr;
    QTableWidget* FChanges = nullptr;
    QLabel* FChangesTitle = nullptr;
    QTableWidget* FEvents = nullptr;
    QVBoxLayout* FChartBox = nullptr;
    QLabel* FStatus = nullptr;
    QByteArray FEventsCsv;
};
