#pragma once
// The widget side of the "TEST" page and of the factory commands: the EEPROM
// grid (its model, cell drawing, sizes) and the buttons, wired to the
// factory and TEST workflows. The main window creates it after its form is
// set up and only hands it the buttons' runner.
#include <QFont>
#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

#include "EepromGridDelegate.h"
#include "EepromGridModel.h"
#include "FactoryTestWorkflows.h"
#include "TestPageView.h"

namespace Ui {
class TVarnoIRMainForm;
}

class QPushButton;

class TTestPage {
public:
    // `context` is a QObject of the GUI thread (the window); `ui` and `main`
    // must outlive the page.
    TTestPage(Ui::TVarnoIRMainForm& ui, TMainWorkflows& main, QObject* context);

    // Sizes, font and drawing of the grid.
    void SetUpGrid(const QFont& font);
    // `bind` connects a button to work that runs as one operation.
    using Binder = std::function<void(QPushButton*, std::function<void()>)>;
    void ConnectButtons(const Binder& bind);
    // The page's buttons that start an operation (off while one runs).
    QList<QPushButton*> Buttons() const;

    void PrepareEepromGrid(const QStringList& rowAddresses) { FModel.Prepare(rowAddresses); }
    TFactoryTestWorkflows& Workflows() { return FWorkflows; }
    TEepromGridModel& GridModel() { return FModel; }

private:
    Ui::TVarnoIRMainForm& ui;
    TEepromGridModel FModel;
    TEepromGridDelegate FDelegate;
    TModelTestPageView FPageView;
    TGuiThreadTestPageView FPageProxy;
    TFactoryTestWorkflows FWorkflows;
};
