#include "UnitTimeline.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFormLayout>
#include <QJsonDocument>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QValueAxis>
#include <QVBoxLayout>

#include <cstring>
#include <map>
#include <set>

#include "Certificate.h"
#include "ConfigDiff.h"
#include "ConfigFile.h"
#include "EventLogCsv.h"
#include "FileDialogs.h"
#include "FleetModel.h"
#include "HistoryDocuments.h"
#include "HistoryQueries.h"
#include "ReadingsChart.h"
#include "TimelineModels.h"

namespace {

constexpr int kChartMonths = 12;
template <class View>
void Setup(View* table, const QString& name)
{
    table->setAccessibleName(name);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setTabKeyNavigation(false);
    table->setWordWrap(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    // Widths from the first rows: measuring a hundred thousand would stall the window.
    table->horizontalHeader()->setResizeContentsPrecision(50);
}

QTableView* View(QAbstractItemModel* model, const QString& name, QWidget* parent)
{
    auto* view = new QTableView(parent);
    view->setModel(model);
    Setup(view, name);
    return view;
}

}  // namespace

TUnitTimeline::TUnitTimeline(const RFleetRow& unit, TFleetLoader* loader, QWidget* parent)
    : QWidget(parent, Qt::Window), FUnit(unit), FLoader(loader)
{
    setWindowTitle(QStringLiteral("Unit %1").arg(unit.serial));
    setAccessibleName(windowTitle());

    auto* identity = new QLabel(this);
    identity->setAccessibleName(QStringLiteral("Identity"));
    identity->setTextFormat(Qt::PlainText);
    identity->setText(QStringLiteral("%1   User ID %2   %3   sensor %4   firmware %5\n"
                                     "Calibration due %6 (last %7)   Bump test due %8 (last %9)   alarm events in 30 days: %10")
                          .arg(unit.serial, unit.userId.isEmpty() ? QStringLiteral("---") : unit.userId, unit.product,
                               unit.sensor, unit.firmware,
                               unit.calRequired ? TFleetModel::DateText(unit.calDueMs) : QStringLiteral("none"),
                               TFleetModel::DateText(unit.lastCalMs),
                               unit.bumpRequired ? TFleetModel::DateText(unit.bumpDueMs) : QStringLiteral("none"),
                               TFleetModel::DateText(unit.lastBumpMs))
                          .arg(unit.alarms30Days));
    QFont bold = identity->font();
    bold.setBold(true);
    identity->setFont(bold);

    // Operations and what changed.
    auto* kindLabel = new QLabel(QStringLiteral("&Show:"), this);
    FKind = new QComboBox(this);
    FKind->setAccessibleName(QStringLiteral("Kind of operation"));
    kindLabel->setBuddy(FKind);
    auto* save = new QPushButton(QStringLiteral("Save &Configuration File..."), this);
    save->setAccessibleName(QStringLiteral("Save Configuration File"));
    save->setAccessibleDescription(QStringLiteral("Saves the selected operation's last configuration image as a configuration file"));
    FCertificate = new QPushButton(QStringLiteral("Cer&tificate..."), this);
    FCertificate->setAccessibleName(QStringLiteral("Certificate"));
    FCertificate->setAccessibleDescription(QStringLiteral("Saves the certificate of the selected bump test or calibration as a PDF file"));
    FCertificate->setEnabled(false);
    FOperationRows = new TOperationsModel(this);
    FOperations = View(FOperationRows, QStringLiteral("Operations"), this);
    FOperations->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FChangesTitle = new QLabel(QStringLiteral("Select a write, a configuration read or two operations to see what changed"), this);
    FChangesTitle->setAccessibleName(QStringLiteral("Changes title"));
    FChanges = new QTableWidget(0, 3, this);
    FChanges->setHorizontalHeaderLabels({QStringLiteral("Field"), QStringLiteral("As found"), QStringLiteral("As left")});
    Setup(FChanges, QStringLiteral("Changes"));

    auto* opsPage = new QWidget(this);
    auto* opsBar = new QHBoxLayout;
    opsBar->addWidget(kindLabel);
    opsBar->addWidget(FKind, 1);
    opsBar->addWidget(save);
    opsBar->addWidget(FCertificate);
    auto* split = new QSplitter(Qt::Vertical, opsPage);
    split->addWidget(FOperations);
    auto* changesBox = new QWidget(split);
    auto* changesLayout = new QVBoxLayout(changesBox);
    changesLayout->setContentsMargins(0, 0, 0, 0);
    changesLayout->addWidget(FChangesTitle);
    changesLayout->addWidget(FChanges);
    // The readings of a bump test or calibration beside what changed.
    auto* lower = new QSplitter(Qt::Horizontal, split);
    lower->addWidget(changesBox);
    auto* readings = new QWidget(lower);
    readings->setAccessibleName(QStringLiteral("Readings of the test"));
    FReadingsBox = new QVBoxLayout(readings);
    FReadingsBox->setContentsMargins(0, 0, 0, 0);
    FReadingsTitle = new QLabel(QStringLiteral("Select a bump test or calibration to see its readings"), readings);
    FReadingsTitle->setAccessibleName(QStringLiteral("Readings title"));
    FReadingsTitle->setWordWrap(true);
    FReadingsBox->addWidget(FReadingsTitle);
    FReadingsBox->addStretch(1);
    lower->addWidget(readings);
    lower->setStretchFactor(0, 1);
    lower->setStretchFactor(1, 1);
    split->addWidget(lower);
    auto* opsLayout = new QVBoxLayout(opsPage);
    opsLayout->addLayout(opsBar);
    opsLayout->addWidget(split, 1);

    // Event log and alarms per month.
    auto* eventsPage = new QWidget(this);
    FEventRows = new TTextRowsModel(EventLogColumns(), this);
    FEvents = View(FEventRows, QStringLiteral("Event log"), eventsPage);
    auto* export_ = new QPushButton(QStringLiteral("&Export Event Log..."), eventsPage);
    export_->setAccessibleName(QStringLiteral("Export Event Log"));
    auto* chartHolder = new QWidget(eventsPage);
    chartHolder->setAccessibleName(QStringLiteral("Alarm events per month"));
    FChartBox = new QVBoxLayout(chartHolder);
    FChartBox->setContentsMargins(0, 0, 0, 0);
    chartHolder->setMinimumHeight(180);
    auto* eventsLayout = new QVBoxLayout(eventsPage);
    eventsLayout->addWidget(FEvents, 2);
    eventsLayout->addWidget(export_, 0, Qt::AlignLeft);
    eventsLayout->addWidget(chartHolder, 1);

    auto* tabs = new QTabWidget(this);
    tabs->setAccessibleName(QStringLiteral("Unit pages"));
    tabs->addTab(opsPage, QStringLiteral("&Operations"));
    tabs->addTab(eventsPage, QStringLiteral("E&vent Log"));
    FStatus = new QLabel(QStringLiteral("Reading the unit's history..."), this);
    FStatus->setAccessibleName(QStringLiteral("Status"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(identity);
    layout->addWidget(tabs, 1);
    layout->addWidget(FStatus);

    connect(FKind, &QComboBox::currentIndexChanged, this, [this](int index) {
        FOperationRows->SetKind(index > 0 ? FKind->currentText() : QString());
    });
    connect(FOperations->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TUnitTimeline::ShowChanges);
    connect(FOperations->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TUnitTimeline::AskRecord);
    connect(FCertificate, &QPushButton::clicked, this, &TUnitTimeline::SaveCertificate);
    connect(save, &QPushButton::clicked, this, &TUnitTimeline::SaveImage);
    connect(export_, &QPushButton::clicked, this, &TUnitTimeline::ExportEvents);
    // The loader answers every request of the window; only this unit's is ours.
    connect(loader, &TFleetLoader::UnitLoaded, this, [this](const std::shared_ptr<const RUnitTimeline>& timeline) {
        if (timeline->serial != FUnit.serial || FEventsShown)
            return;
        if (!FTimeline)
            Show(timeline);
        if (timeline->eventsRead)
            ShowEvents(timeline);
    });
    new QShortcut(QKeySequence(Qt::Key_Escape), this, [this] { close(); });
    loader->LoadUnit(unit.serial);
    resize(1100, 720);
}

void TUnitTimeline::Show(const std::shared_ptr<const RUnitTimeline>& timeline)
{
    FTimeline = timeline;
    std::set<QString> kinds;
    for (const ROperationView& op : timeline->operations)
        kinds.insert(op.workflow);
    FKind->blockSignals(true);
    FKind->addItem(QStringLiteral("All operations"));
    for (const QString& kind : kinds)
        FKind->addItem(kind);
    FKind->blockSignals(false);
    FOperationRows->SetTimeline(timeline);
    FOperations->resizeColumnsToContents();
    FStatus->setText(timeline->problem.isEmpty()
                         ? QStringLiteral("%1 operations; reading the event log...").arg(timeline->operations.size())
                         : timeline->problem);
}

void TUnitTimeline::ShowEvents(const std::shared_ptr<const RUnitTimeline>& timeline)
{
    FEventsShown = true;
    FEventsCsv = timeline->eventsCsv;
    if (timeline->eventRows)
        FEventRows->SetRows(timeline->eventRows);
    FEvents->resizeColumnsToContents();
    ShowChart(timeline->alarmsPerMonth);
    FStatus->setText(timeline->problem.isEmpty()
                         ? QStringLiteral("%1 operations, %2 events")
                               .arg(timeline->operations.size())
                               .arg(timeline->eventRows ? timeline->eventRows->size() : 0)
                         : timeline->problem);
}

std::pair<QByteArray, QByteArray> TUnitTimeline::SelectedImages() const
{
    std::vector<std::size_t> picked;  // indices into the operations, newest first
    for (const QModelIndex& index : FOperations->selectionModel()->selectedRows())
        picked.push_back(FOperationRows->OperationOf(index.row()));
    std::sort(picked.begin(), picked.end());
    const auto& ops = FTimeline->operations;
    if (picked.size() == 1) {
        const ROperationView& op = ops[picked[0]];
        if (op.images.size() >= 2)
            return {op.images.front().second, op.images.back().second};
        if (op.images.size() == 1)  // against the image the unit held before
            for (std::size_t j = picked[0] + 1; j < ops.size(); ++j)
                if (!ops[j].images.empty())
                    return {ops[j].images.back().second, op.images.back().second};
        return {};
    }
    if (picked.size() == 2 && !ops[picked[0]].images.empty() && !ops[picked[1]].images.empty())
        return {ops[picked[1]].images.back().second, ops[picked[0]].images.back().second};
    return {};
}

void TUnitTimeline::ShowChanges()
{
    const auto [before, after] = SelectedImages();
    const std::vector<RFieldChange> changes = DiffImages(before, after);
    FChanges->setRowCount(static_cast<int>(changes.size()));
    for (int r = 0; r < static_cast<int>(changes.size()); ++r) {
        const RFieldChange& change = changes[static_cast<std::size_t>(r)];
        FChanges->setItem(r, 0, new QTableWidgetItem(change.field));
        FChanges->setItem(r, 1, new QTableWidgetItem(change.before));
        FChanges->setItem(r, 2, new QTableWidgetItem(change.after));
    }
    FChanges->resizeColumnsToContents();
    for (int c = 1; c < 3; ++c)
        FChanges->setColumnWidth(c, std::max(FChanges->columnWidth(c), 10 * FChanges->fontMetrics().averageCharWidth() + 40));
    FChangesTitle->setText(before.isEmpty() ? QStringLiteral("No two configuration images to compare")
                           : changes.empty() ? QStringLiteral("No field changed")
                                             : QStringLiteral("%1 fields changed").arg(changes.size()));
}

void TUnitTimeline::ShowChart(const std::vector<std::pair<QDate, int>>& alarmsPerMonth)
{
    const std::map<QDate, int> perMonth(alarmsPerMonth.begin(), alarmsPerMonth.end());
    auto* set = new QBarSet(QStringLiteral("Alarm events"));
    set->setColor(QColor(0xd3, 0x2f, 0x2f));
    QStringList months;
    const QDate now = QDate::currentDate();
    const QDate first = QDate(now.year(), now.month(), 1).addMonths(-(kChartMonths - 1));
    int most = 0;
    for (int m = 0; m < kChartMonths; ++m) {
        const QDate month = first.addMonths(m);
        const auto found = perMonth.find(month);
        const int count = found == perMonth.end() ? 0 : found->second;
        *set << count;
        most = std::max(most, count);
        months << month.toString(QStringLiteral("MMM yy"));
    }
    auto* series = new QBarSeries;
    series->append(set);
    auto* chart = new QChart;
    chart->addSeries(series);
    chart->legend()->hide();
    chart->setTitle(QStringLiteral("Alarm events per month"));
    auto* x = new QBarCategoryAxis;
    x->append(months);
    auto* y = new QValueAxis;
    y->setRange(0, std::max(most, 1));
    y->setLabelFormat(QStringLiteral("%d"));
    y->setTickCount(std::min(std::max(most, 1), 4) + 1);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    auto* view = new QChartView(chart);
    view->setAccessibleName(QStringLiteral("Alarm events per month"));
    view->setFocusPolicy(Qt::NoFocus);
    FChartBox->addWidget(view);
}

void TUnitTimeline::SaveImage()
{
    const QModelIndex current = FOperations->currentIndex();
    if (!FTimeline || !current.isValid())
        return;
    const ROperationView& op = FTimeline->operations[FOperationRows->OperationOf(current.row())];
    if (op.images.empty() || op.images.back().second.size() != static_cast<qsizetype>(sizeof(RZELCFG))) {
        QMessageBox::information(this, windowTitle(), QStringLiteral("This operation holds no configuration image."));
        return;
    }
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save the configuration as a file"),
        QStringLiteral("%1_%2.cfg").arg(FUnit.serial, QDateTime::fromMSecsSinceEpoch(op.startMs).toString(QStringLiteral("yyMMdd"))),
        QStringLiteral("Configuration files (*.cfg)"));
    if (path.isEmpty())
        return;
    RZELCFG cfg{};
    std::memcpy(&cfg, op.images.back().second.constData(), sizeof cfg);
    if (!WriteConfigFile(path.toStdString(), cfg, false, QDateTime::currentDateTime()))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Failed to write %1").arg(path));
}

void TUnitTimeline::ExportEvents()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export the event log"),
                                                      FUnit.serial + QStringLiteral("_history_log.csv"),
                                                      QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(FEventsCsv) < 0 || !file.commit())
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Failed to write %1: %2").arg(path, file.errorString()));
}

QString TUnitTimeline::StatusLine() const
{
    return FStatus->text();
}

void TUnitTimeline::AskRecord()
{
    const QModelIndexList rows = FOperations->selectionModel()->selectedRows();
    const QString operation =
        FTimeline && rows.size() == 1 ? FTimeline->operations[FOperationRows->OperationOf(rows.first().row())].uuid : QString();
    if (operation == FRecordOperation)
        return;
    FRecordOperation = operation;
    FRecord = {};
    ShowCurve();
    if (operation.isEmpty())
        return;
    // Most operations keep no test record; the answer says so.
    auto found = std::make_shared<QByteArray>();
    FLoader->Run(
        [operation, found](THistoryStore* store, QString& error) {
            if (!store)
                return;
            if (const std::optional<RStoredTest> test = historyqueries::TestRecord(*store, operation, error))
                *found = test->json;
        },
        this, [this, operation, found](const QString& error) {
            if (!error.isEmpty())
                FStatus->setText(QStringLiteral("Failed to read the record of operation %1: %2").arg(operation, error));
            ShowRecord(operation, *found);
        });
}

void TUnitTimeline::ShowRecord(const QString& operation, const QByteArray& json)
{
    if (operation != FRecordOperation)
        return;  // the selection moved on meanwhile
    FRecord = QJsonDocument::fromJson(json).object();
    ShowCurve();
}

void TUnitTimeline::ShowCurve()
{
    while (FReadingsBox->count() > 1) {
        QLayoutItem* item = FReadingsBox->takeAt(1);
        delete item->widget();
        delete item;
    }
    FCurvePoints = RecordCurvePoints(FRecord);
    FCertificate->setEnabled(!FRecord.isEmpty());
    if (FRecord.isEmpty()) {
        FReadingsTitle->setText(FRecordOperation.isEmpty() ? QStringLiteral("Select a bump test or calibration to see its readings")
                                                           : QStringLiteral("This operation keeps no bump test or calibration record"));
        FReadingsBox->addStretch(1);
        return;
    }
    const QString kind = FRecord.value(QStringLiteral("kind")).toString();
    const QString title = QStringLiteral("%1 %2, %3").arg(kind.left(1).toUpper() + kind.mid(1),
                                                         FRecord.value(QStringLiteral("result")).toString(),
                                                         CertificateNumber(FRecordOperation));
    if (FCurvePoints == 0) {
        // A guided calibration keeps its as-found and as-left readings only.
        const auto reading = [this](const char* key) {
            const QJsonValue value = FRecord.value(QLatin1String(key));
            return value.isDouble() ? QString::number(value.toDouble()) : QStringLiteral("-");
        };
        FReadingsTitle->setText(title + QStringLiteral("\nThe record keeps no readings curve (as found %1, as left %2)")
                                            .arg(reading("asFound"), reading("asLeft")));
        FReadingsBox->addStretch(1);
        return;
    }
    FReadingsTitle->setText(title + QStringLiteral(": %1 readings, one a second").arg(FCurvePoints));
    FReadingsBox->addWidget(MakeReadingsChart(FRecord, this), 1);
}

void TUnitTimeline::SaveCertificate()
{
    if (FRecord.isEmpty())
        return;
    const QString operation = FRecordOperation;
    const std::optional<QString> path =
        AskSaveFileName(this, {QStringLiteral("Save the certificate"), QStringLiteral("PDF files|*.pdf"), QStringLiteral("pdf"),
                               QString(), CertificateNumber(operation) + QStringLiteral(".pdf")});
    if (!path)
        return;
    FCertificate->setEnabled(false);
    FStatus->setText(QStringLiteral("Writing the certificate to %1...").arg(*path));
    auto number = std::make_shared<QString>();
    FLoader->Run(
        [operation, path = *path, number](THistoryStore* store, QString& error) {
            if (store)
                CertificateFromHistory(*store, operation, path, *number, error);
        },
        this, [this, path = *path, number](const QString& error) {
            FCertificate->setEnabled(!FRecord.isEmpty());
            if (error.isEmpty()) {
                FStatus->setText(QStringLiteral("Certificate %1 written to %2").arg(*number, path));
                return;
            }
            FStatus->setText(QStringLiteral("Failed to write the certificate %1: %2").arg(path, error));
            QMessageBox::warning(this, windowTitle(), FStatus->text());
        });
}
