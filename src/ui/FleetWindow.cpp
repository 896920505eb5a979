#include "FleetWindow.h"

#include <QAbstractItemView>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "DueDates.h"
#include "FileDialogs.h"
#include "FleetModel.h"
#include "HistoryDocuments.h"
#include "UnitTimeline.h"

namespace {

constexpr int kRefreshMs = 60 * 1000;
constexpr int kSlowMs = 2000;

// Status colours: the whole row tinted lightly, the status cell strongly,
// so the list reads from across a desk.
QColor Tint(FleetStatus status, bool strong)
{
    switch (status) {
    case FleetStatus::Overdue: return strong ? QColor(0xd3, 0x2f, 0x2f) : QColor(0xfd, 0xe4, 0xe4);
    case FleetStatus::DueSoon: return strong ? QColor(0xf5, 0xa6, 0x23) : QColor(0xff, 0xf4, 0xdb);
    case FleetStatus::Never: return strong ? QColor(0x75, 0x75, 0x75) : QColor(0xee, 0xee, 0xee);
    case FleetStatus::Ok: break;
    }
    return strong ? QColor(0x38, 0x8e, 0x3c) : QColor();
}

class TFleetLook : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::BackgroundRole && role != Qt::ForegroundRole && role != Qt::FontRole)
            return QIdentityProxyModel::data(index, role);
        const auto* fleet = static_cast<const TFleetModel*>(sourceModel());
        const RFleetRow* row = fleet->RowAt(index.row());
        if (!row)
            return {};
        const int column = index.column();
        const bool statusCell = column == TFleetModel::ColStatus;
        const bool pastDue = (column == TFleetModel::ColCalDue && row->calRequired && row->calDueMs &&
                              *row->calDueMs <= FNowMs) ||
                             (column == TFleetModel::ColBumpDue && row->bumpRequired && row->bumpDueMs &&
                              *row->bumpDueMs <= FNowMs);
        if (role == Qt::BackgroundRole) {
            const QColor c = Tint(row->status, statusCell);
            return c.isValid() ? QVariant(c) : QVariant();
        }
        if (role == Qt::ForegroundRole) {
            if (statusCell)
                return QColor(row->status == FleetStatus::DueSoon ? Qt::black : Qt::white);
            if (pastDue)
                return QColor(0xb7, 0x1c, 0x1c);
            if (column == TFleetModel::ColAlarms && row->alarms30Days == 0)
                return QColor(0x9e, 0x9e, 0x9e);
            return {};
        }
        if (statusCell || column == TFleetModel::ColSerial || pastDue ||
            (column == TFleetModel::ColAlarms && row->alarms30Days > 0)) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    }
    // Past due is judged against the time of the last read, like the status.
    void SetNow(qint64 ms) { FNowMs = ms; }

private:
    qint64 FNowMs = 0;
};

}  // namespace

TFleetWindow::TFleetWindow(RHistoryLocation location, std::vector<RSensorType> sensors, QString spoolPath,
                           std::function<void()> beforeLoad, QWidget* parent)
    : QWidget(parent, Qt::Window), FSensors(sensors)
{
    setWindowTitle(QStringLiteral("Fleet - ") + location.Display());
    setObjectName(QStringLiteral("FleetWindow"));
    setAccessibleName(QStringLiteral("Fleet"));
    FLoader = new TFleetLoader(std::move(location), std::move(sensors), std::move(spoolPath), std::move(beforeLoad), this);
    FModel = new TFleetModel(this);
    FLook = new TFleetLook(this);
    auto* look = static_cast<TFleetLook*>(FLook);
    look->setSourceModel(FModel);

    auto* filterLabel = new QLabel(QStringLiteral("&Filter:"), this);
    FFilter = new QLineEdit(this);
    FFilter->setPlaceholderText(QStringLiteral("serial, user ID or sensor"));
    FFilter->setAccessibleName(QStringLiteral("Filter"));
    FFilter->setAccessibleDescription(QStringLiteral("Shows the units whose serial, user ID or sensor holds the text"));
    FFilter->setClearButtonEnabled(true);
    filterLabel->setBuddy(FFilter);
    auto* refresh = new QPushButton(QStringLiteral("&Refresh (F5)"), this);
    refresh->setAccessibleName(QStringLiteral("Refresh"));
    auto* open = new QPushButton(QStringLiteral("&Open Unit..."), this);
    open->setAccessibleName(QStringLiteral("Open Unit"));
    auto* csv = new QPushButton(QStringLiteral("Export &CSV..."), this);
    csv->setAccessibleName(QStringLiteral("Export CSV"));
    FReport = new QPushButton(QStringLiteral("Export &PDF Report..."), this);
    FReport->setAccessibleName(QStringLiteral("Export PDF Report"));
    FReport->setAccessibleDescription(QStringLiteral("Writes the fleet report: every unit, overdue first, with its alarm events of the last 30 days"));

    FTable = new QTableView(this);
    FTable->setObjectName(QStringLiteral("FleetTable"));
    FTable->setAccessibleName(QStringLiteral("Units"));
    FTable->setModel(look);
    FTable->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    FTable->setSortingEnabled(true);
    FTable->horizontalHeader()->setSortIndicatorShown(true);
    FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    FTable->setSelectionMode(QAbstractItemView::SingleSelection);
    FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTable->setAlternatingRowColors(false);
    FTable->setWordWrap(false);
    FTable->verticalHeader()->hide();
    FTable->horizontalHeader()->setStretchLastSection(false);
    FTable->horizontalHeader()->setHighlightSections(false);
    // Column widths from the first rows only: measuring ten thousand would stall the window.
    FTable->horizontalHeader()->setResizeContentsPrecision(50);
    FTable->setTabKeyNavigation(false);

    FCount = new QLabel(this);
    FCount->setAccessibleName(QStringLiteral("Count"));
    QFont countFont = FCount->font();
    countFont.setBold(true);
    FCount->setFont(countFont);
    FStatus = new QLabel(this);
    FStatus->setAccessibleName(QStringLiteral("Status"));
    FStatus->setWordWrap(true);

    auto* top = new QHBoxLayout;
    top->addWidget(filterLabel);
    top->addWidget(FFilter, 1);
    top->addWidget(refresh);
    top->addWidget(open);
    top->addWidget(csv);
    top->addWidget(FReport);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(FTable, 1);
    layout->addWidget(FCount);
    layout->addWidget(FStatus);
    setTabOrder(FFilter, FTable);

    connect(FFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        FModel->SetFilter(text);
        FCount->setText(FModel->CountLine());
    });
    connect(FFilter, &QLineEdit::returnPressed, FTable, qOverload<>(&QWidget::setFocus));
    connect(refresh, &QPushButton::clicked, this, &TFleetWindow::Refresh);
    connect(csv, &QPushButton::clicked, this, &TFleetWindow::ExportCsv);
    connect(FReport, &QPushButton::clicked, this, &TFleetWindow::ExportReport);
    connect(open, &QPushButton::clicked, this, [this] { OpenUnit(FTable->currentIndex().row()); });
    connect(FTable, &QAbstractItemView::activated, this, [this](const QModelIndex& index) { OpenUnit(index.row()); });
    new QShortcut(QKeySequence::Refresh, this, [this] { Refresh(); });
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this, [this] { FFilter->setFocus(); FFilter->selectAll(); });
    connect(FLoader, &TFleetLoader::FleetLoaded, this, &TFleetWindow::Loaded);

    FTimer = new QTimer(this);
    FTimer->setInterval(kRefreshMs);
    connect(FTimer, &QTimer::timeout, this, &TFleetWindow::Refresh);
    FStatus->setText(QStringLiteral("Reading the history..."));
    resize(1240, 720);
    Refresh();
}

TFleetWindow::~TFleetWindow() = default;

QString TFleetWindow::StatusLine() const
{
    return FStatus->text();
}

void TFleetWindow::showEvent(QShowEvent* event)
{
    FTimer->start();
    QWidget::showEvent(event);
}

void TFleetWindow::hideEvent(QHideEvent* event)
{
    FTimer->stop();
    QWidget::hideEvent(event);
}

void TFleetWindow::Refresh()
{
    // One read at a time; a request meanwhile reads once more after it.
    if (FLoading) {
        FAgain = true;
        return;
    }
    FLoading = true;
    FLoader->Load();
    // A server slow to answer shows as such; the list stays as last read.
    const int round = ++FRound;
    QTimer::singleShot(kSlowMs, this, [this, round] {
        if (FLoading && round == FRound)
            FStatus->setText(QStringLiteral("waiting for the history database %1 to answer: showing the list as read before")
                                 .arg(FLoader->Location().Display()));
    });
}

void TFleetWindow::Loaded(const std::shared_ptr<const RFleetSnapshot>& snapshot)
{
    FLoading = false;
    const QString current = FTable->currentIndex().isValid() && FModel->RowAt(FTable->currentIndex().row())
                                ? FModel->RowAt(FTable->currentIndex().row())->serial
                                : QString();
    static_cast<TFleetLook*>(FLook)->SetNow(QDateTime::currentMSecsSinceEpoch());
    FModel->SetSnapshot(snapshot->rows);
    if (!FSized)
        SizeColumns();
    for (int r = 0; !current.isEmpty() && r < FModel->rowCount(); ++r)
        if (FModel->RowAt(r)->serial == current)
            FTable->setCurrentIndex(FTable->model()->index(r, 0));
    FCount->setText(FModel->CountLine());
    FStatus->setText(snapshot->problem.isEmpty()
                         ? QStringLiteral("Read %1 from %2").arg(QTime::currentTime().toString(QStringLiteral("HH:mm")),
                                                                  FLoader->Location().Display())
                         : snapshot->problem);
    if (FAgain) {
        FAgain = false;
        Refresh();
    }
}

void TFleetWindow::SizeColumns()
{
    // Sized once to what the first rows hold, with some air; the user's own
    // widths stay across refreshes until the font changes.
    FTable->verticalHeader()->setDefaultSectionSize(FTable->fontMetrics().height() + 8);
    if (FModel->rowCount() == 0)
        return;
    // The header's own hint keeps room for a sort arrow in every column;
    // only the sorted one shows it.
    const QFontMetrics header(FTable->horizontalHeader()->font());
    for (int c = 0; c < TFleetModel::ColumnCount; ++c) {
        const QString title = FModel->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        FTable->setColumnWidth(c, std::max(static_cast<QAbstractItemView*>(FTable)->sizeHintForColumn(c), header.horizontalAdvance(title) + 12) + 8);
    }
    FSized = true;
}

void TFleetWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        QTimer::singleShot(0, this, &TFleetWindow::SizeColumns);
}

void TFleetWindow::ExportCsv()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export the fleet list"),
                                                      QStringLiteral("fleet.csv"), QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(FModel->Csv()) < 0 || !file.commit())
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Failed to write %1: %2").arg(path, file.errorString()));
}

void TFleetWindow::ExportReport()
{
    const std::optional<QString> path = AskSaveFileName(
        this, {QStringLiteral("Export the fleet report"), QStringLiteral("PDF files|*.pdf"), QStringLiteral("pdf"), QString(),
               QStringLiteral("fleet-report-%1.pdf").arg(QDate::currentDate().toString(Qt::ISODate))});
    if (!path)
        return;
    // Read and printed on the loader's thread: ten thousand units take a
    // while, and the list stays usable meanwhile.
    FReport->setEnabled(false);
    FStatus->setText(QStringLiteral("Writing the fleet report to %1...").arg(*path));
    FLoader->Run(
        [path = *path, sensors = FSensors](THistoryStore* store, QString& error) {
            if (!store)
                return;
            std::optional<RFleetReport> report = FleetReportFromHistory(
                *store, sensors, duedates::kDefaultDueWithinDays, kReportPeriodDays, QDateTime::currentDateTime(), error);
            if (report)
                WriteFleetReport(path, std::move(*report), error);
        },
        this, [this, path = *path](const QString& error) { ReportWritten(path, error); });
}

void TFleetWindow::ReportWritten(const QString& path, const QString& error)
{
    FReport->setEnabled(true);
    if (error.isEmpty()) {
        FStatus->setText(QStringLiteral("Fleet report written to %1").arg(path));
        return;
    }
    FStatus->setText(QStringLiteral("Failed to write the fleet report %1: %2").arg(path, error));
    QMessageBox::warning(this, windowTitle(), QStringLiteral("Failed to write the fleet report %1: %2").arg(path, error));
}

QWidget* TFleetWindow::OpenUnit(int row)
{
    const RFleetRow* unit = FModel->RowAt(row);
    if (!unit)
        return nullptr;
    auto* timeline = new TUnitTimeline(*unit, FLoader, this);
    timeline->setAttribute(Qt::WA_DeleteOnClose);
    timeline->show();
    return timeline;
}
