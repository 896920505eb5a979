#include "TestPage.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTableView>

#include "ui_TVarnoIRMainForm.h"

namespace {

constexpr int kGridAddressWidth = 44;
constexpr int kGridByteWidth = 22;
constexpr int kGridRowHeight = 17;
// The shared handlers tell their buttons apart by this property, set in the form.
constexpr const char* kTagProperty = "tag";

int TagOf(const QPushButton* button)
{
    return button->property(kTagProperty).toInt();
}

}  // namespace

TTestPage::TTestPage(Ui::TVarnoIRMainForm& form, TMainWorkflows& main, QObject* context)
    : ui(form), FPageView(FModel), FPageProxy(FPageView, context), FWorkflows(main, FPageProxy)
{
}

void TTestPage::SetUpGrid(const QFont& font)
{
    QTableView* grid = ui.EtcEEPROMGrid;
    grid->setModel(&FModel);
    grid->setItemDelegate(&FDelegate);
    grid->setFont(font);
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setDefaultSectionSize(kGridByteWidth);
    grid->setColumnWidth(0, kGridAddressWidth);
    grid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    // The arrow keys move between the cells; Tab leaves the grid, so a
    // keyboard user is not held in its 256 cells on the way round the page.
    grid->setTabKeyNavigation(false);
    grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
}

void TTestPage::ConnectButtons(const Binder& bind)
{
    TFactoryTestWorkflows* w = &FWorkflows;
    bind(ui.EtcFactoryResetBtn, [w] { w->EtcFactoryResetBtnClick(); });
    bind(ui.EtcIdentifyBtn, [w] { w->EtcIdentifyBtnClick(); });
    for (QPushButton* b : {ui.EtcBeepONBtn, ui.EtcRLEDONBtn, ui.EtcLLEDONBtn, ui.EtcVibratorBtn}) {
        const int tag = TagOf(b);
        bind(b, [w, tag] { w->EtcBeepONBtnClick(tag); });
    }
    for (QPushButton* b : {ui.EtcClearPeakBtn, ui.EtcBumpFailBtn, ui.EtcBumpPassBtn}) {
        const int tag = TagOf(b);
        bind(b, [w, tag] { w->EtcClearPeakBtnClick(tag); });
    }
    bind(ui.EtcEEPROMReadBtn, [w] { w->EtcEEPROMReadBtnClick(); });
    bind(ui.EtcEEPROMSaveBtn, [w] { w->EtcEEPROMSaveBtnClick(); });
}

QList<QPushButton*> TTestPage::Buttons() const
{
    return {ui.EtcFactoryResetBtn, ui.EtcIdentifyBtn,  ui.EtcBeepONBtn,    ui.EtcRLEDONBtn,
            ui.EtcLLEDONBtn,       ui.EtcVibratorBtn,  ui.EtcClearPeakBtn, ui.EtcBumpFailBtn,
            ui.EtcBumpPassBtn,     ui.EtcEEPROMReadBtn, ui.EtcEEPROMSaveBtn};
}
