// The window and the two sensor dialogs as a screen reader and a keyboard
// user meet them: the accessible name of every named control, a few names
// and descriptions exactly, the status line speaking each result, Enter and
// Escape, mnemonics that do not clash, the tab order, and a whole user-mode
// session against the simulated detector without the mouse.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QApplication>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "DeviceSettings.h"
#include "EventLoopWait.h"
#include "LinkThread.h"
#include "SimProcess.h"
#include "TSensorCalDlg.h"
#include "TSensorLogDlg.h"
#include "TVarnoIRMainForm.h"

namespace {

const QByteArray kUserIni;
const QByteArray kFactoryIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n";
constexpr int kUserLayout = -1;  // "page" of the user layout

// A program directory with its settings, and the window over them.
class Window {
public:
    explicit Window(const QByteArray& ini, const QString& port = QStringLiteral("/nonexistent/ttyBEAMDOCK"))
    {
        if (!ini.isEmpty()) {
            QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
            if (file.open(QIODevice::WriteOnly))
                file.write(ini);
        }
        settings = LoadSettings(dir.path().toStdString() + "/");
        form = std::make_unique<TVarnoIRMainForm>(settings, port);
    }
    ~Window()
    {
        if (form)
            form->close();
    }

    // Shown, active (keys and mnemonics reach it) and on `page` of the
    // factory layout.
    void Show(int page = kUserLayout)
    {
        form->show();
        QApplication::setActiveWindow(form.get());
        if (page != kUserLayout)
            Find<QTabWidget>("PageControl")->setCurrentIndex(page);
        QApplication::processEvents();
    }

    template <typename T>
    T* Find(const char* name) const
    {
        return form->findChild<T*>(QString::fromLatin1(name));
    }

    bool WaitForIdle(int ms = 15000)
    {
        return WaitFor([this] { return !form->OperationRunning(); }, ms);
    }

    QTemporaryDir dir;
    LoadedSettings settings;
    std::unique_ptr<TVarnoIRMainForm> form;
};

// The sensor dialogs over a link that reaches no adapter.
class DialogBench {
public:
    DialogBench()
    {
        QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
        if (file.open(QIODevice::WriteOnly))
            file.write(kFactoryIni);
        file.close();
        settings = LoadSettings(dir.path().toStdString() + "/");
        link.Link().SetDefPort("/nonexistent/ttyBEAMDOCK");
    }
    QTemporaryDir dir;
    LoadedSettings settings;
    TLinkThread link;
};

QString AccessibleText(QObject* object, QAccessible::Text text)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    return iface ? iface->text(text) : QStringLiteral("<no accessible interface>");
}

// The controls the forms name; Qt's own parts ("qt_spinbox_lineedit") are
// spoken through their owners.
QList<QWidget*> NamedControls(QWidget* form)
{
    QList<QWidget*> named;
    for (QWidget* w : form->findChildren<QWidget*>()) {
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
            named << w;
    }
    return named;
}

// The control a focused widget belongs to, by the form's own names.
QString ControlName(QWidget* w)
{
    while (w && (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_"))))
        w = w->parentWidget();
    return w ? w->objectName() : QStringLiteral("<none>");
}

QWidget* KeyTarget()
{
    if (QWidget* focus = QApplication::focusWidget())
        return focus;
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {},
           QWidget* target = nullptr)
{
    QWidget* to = target ? target : KeyTarget();
    ASSERT_NE(to, nullptr) << "nothing takes keys";
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(to, &press);
    if (QPointer<QWidget> still = to; still)
        QApplication::sendEvent(to, &release);
}

void Type(const QString& text, QWidget* target = nullptr)
{
    for (const QChar c : text) {
        const int key = c.isLetter() ? Qt::Key_A + (c.toUpper().unicode() - 'A') : c.unicode();
        Press(key, Qt::NoModifier, QString(c), target);
    }
}

// Alt and the underlined letter of a caption.
void PressMnemonic(char letter)
{
    Press(Qt::Key_A + (letter - 'A'), Qt::AltModifier);
}

void Tab(int times = 1)
{
    for (int i = 0; i < times; ++i)
        Press(Qt::Key_Tab);
}

// Warnings of the forms about table rows that name no control.
QStringList gWarnings;
void KeepWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        gWarnings << message;
}

class WarningCatcher {
public:
    WarningCatcher()
    {
        gWarnings.clear();
        FPrevious = qInstallMessageHandler(KeepWarnings);
    }
    ~WarningCatcher() { qInstallMessageHandler(FPrevious); }
    QStringList Naming() const { return gWarnings.filter(QStringLiteral("screen readers")); }

private:
    QtMessageHandler FPrevious;
};

void ExpectEveryNamedControlNamed(QWidget* form, const char* where, int* visibleCount)
{
    const QList<QWidget*> controls = NamedControls(form);
    EXPECT_GT(controls.size(), 5) << where;
    *visibleCount = 0;
    for (QWidget* w : controls) {
        const QString name = AccessibleText(w, QAccessible::Name);
        EXPECT_FALSE(name.trimmed().isEmpty())
            << where << ": " << w->objectName().toStdString() << " (" << w->metaObject()->className()
            << ") has no accessible name";
        EXPECT_FALSE(name.contains(QLatin1Char('&'))) << w->objectName().toStdString() << ": " << name.toStdString();
        if (w->isVisible())
            ++*visibleCount;
    }
}

TEST(Accessibility, EveryNamedControlHasAName)
{
    struct Case {
        const char* where;
        QByteArray ini;
        int page;
        const char* shown;  // a control the page shows
    };
    const Case cases[] = {
        {"user layout", kUserIni, kUserLayout, "UserHighAlarmSpin"},
        {"User Options", kFactoryIni, 0, "UserOptHighAlarmSpin"},
        {"Factory Options", kFactoryIni, 1, "FatoryOptSpanGasSpin"},
        {"TEST", kFactoryIni, 2, "EtcEEPROMGrid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        WarningCatcher warnings;
        Window window(c.ini);
        window.Show(c.page);
        EXPECT_TRUE(window.Find<QWidget>(c.shown)->isVisible());
        int visible = 0;
        ExpectEveryNamedControlNamed(window.form.get(), c.where, &visible);
        EXPECT_GT(visible, 10);
        EXPECT_EQ(AccessibleText(window.form.get(), QAccessible::Name), QStringLiteral("Corvath Beamdock [ver 1.3.0.10]"));
        EXPECT_EQ(warnings.Naming(), QStringList());
    }

    DialogBench bench;
    WarningCatcher warnings;
    TSensorLogDlg log(bench.link, bench.settings);
    TSensorCalDlg cal(bench.link, bench.settings);
    for (QDialog* dialog : {static_cast<QDialog*>(&log), static_cast<QDialog*>(&cal)}) {
        dialog->show();
        int visible = 0;
        ExpectEveryNamedControlNamed(dialog, dialog->metaObject()->className(), &visible);
        EXPECT_GT(visible, 8);
        EXPECT_EQ(AccessibleText(dialog, QAccessible::Name), dialog->windowTitle());
        dialog->hide();
    }
    EXPECT_EQ(warnings.Naming(), QStringList());
}

struct Expected {
    const char* control;
    const char* name;
    const char* description;  // nullptr: not checked
    const char* shortcut;     // nullptr: not checked
};

// The captions of the controls that label `w`, as Qt reports the relation.
QStringList LabelledBy(QWidget* w)
{
    QStringList captions;
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
    if (!iface)
        return captions;
    for (const auto& [other, relation] : iface->relations(QAccessible::Label))
        captions << other->text(QAccessible::Name);
    return captions;
}

void ExpectTexts(QWidget* form, const std::vector<Expected>& rows)
{
    for (const Expected& row : rows) {
        SCOPED_TRACE(row.control);
        QWidget* w = form->findChild<QWidget*>(QString::fromLatin1(row.control));
        ASSERT_NE(w, nullptr);
        if (qobject_cast<QComboBox*>(w)) {
            // On Linux Qt speaks a combo box by the item it shows and its
            // caption through the labelled-by relation; the name is what
            // the other platforms speak.
            EXPECT_EQ(w->accessibleName(), QString::fromUtf8(row.name));
            const QString shown = qobject_cast<QComboBox*>(w)->currentText();
            EXPECT_EQ(AccessibleText(w, QAccessible::Name), shown.isEmpty() ? w->accessibleName() : shown);
            EXPECT_TRUE(LabelledBy(w).contains(QString::fromUtf8(row.name))) << LabelledBy(w).join(", ").toStdString();
        } else {
            EXPECT_EQ(AccessibleText(w, QAccessible::Name), QString::fromUtf8(row.name));
        }
        if (row.description) {
            EXPECT_EQ(AccessibleText(w, QAccessible::Description), QString::fromUtf8(row.description));
        }
        if (row.shortcut) {
            // The mnemonic letter is not case-sensitive: "Fi&le" is Alt+L.
            EXPECT_EQ(AccessibleText(w, QAccessible::Accelerator).toUpper(), QString::fromUtf8(row.shortcut).toUpper());
        }
    }
}

TEST(Accessibility, NamesAndDescriptionsOfTheWindow)
{
    Window window(kFactoryIni);
    ExpectTexts(window.form.get(), {
        // Edits and value displays: the caption of the label beside them.
        {"UserHighAlarmSpin", "High Alarm", nullptr, nullptr},
        {"UserOptHighAlarmSpin", "High Alarm", nullptr, nullptr},
        {"UserCalIntervalSpin", "Calibration Interval (days)", nullptr, nullptr},
        {"UserIDEdit", "User ID", nullptr, nullptr},
        {"UserDispCombo", "Display", nullptr, nullptr},
        {"UserHWVersionLabel", "Hardware Version", nullptr, nullptr},
        {"UserLifeLabel", "Life Remaining", nullptr, nullptr},
        {"UserOptIDLabel", "Model", nullptr, nullptr},
        {"UserOptSerialEdit", "Serial Number", nullptr, nullptr},
        {"UserOptMonthLifeSpin", "Life Remaining Months", nullptr, nullptr},
        {"UserOptDayLifeSpin", "Life Remaining Days", nullptr, nullptr},
        {"FatoryOptBatteryLimitSpin", "Critical", nullptr, nullptr},
        {"FatoryOptBatteryLimit2Spin", "- 10\u2103~", "Battery limit for temperatures from -10 \u2103", nullptr},
        {"FatoryOptLastBumpTimerLabel", "Last Bump Timer (sec)", nullptr, nullptr},
        {"FactoryOptHibernateCombo", "Hibernate", nullptr, nullptr},
        {"EtcEEPROMGrid", "EEPROM", "The unit's memory in hexadecimal, one row per address", nullptr},
        // Buttons, check boxes, groups and pages: their captions, without
        // the mnemonic marker, which is the shortcut instead.
        {"UserReadDeviceBtn", "Read Device", nullptr, "Alt+R"},
        {"UserWriteFileBtn", "Write File", nullptr, "Alt+L"},
        {"UserCalBtn", "Sensor Calibration", nullptr, "Alt+N"},
        {"UserOptFMCancelBtn", "Cancel", nullptr, "Alt+C"},
        {"EtcBumpFailBtn", "Bump Fail", nullptr, "Alt+A"},
        {"UserFMOpenBtn", "...", "Select Firmware Upgrade File", nullptr},
        {"UserHideBumpLEDCheck", "Hide bump due LED flashing", nullptr, nullptr},
        {"UserInfoGB", "Unit Information", nullptr, nullptr},
        {"UserTS", "User Options", nullptr, nullptr},
        {"FactoryTS", "Factory Options", nullptr, nullptr},
        {"ETCTS", "TEST", nullptr, nullptr},
        // What needs more than a caption.
        {"UserFMProgressBar", "Firmware Upgrade progress", "How much of the image the unit has received", nullptr},
        {"UserOptFMProgressBar", "Firmware Upgrade progress", "How much of the image the unit has received", nullptr},
        {"StatusLabel", "Status", "Outcome of the last operation", nullptr},
        {"Memo", "Communication trace", nullptr, nullptr},
        {"CustomerUrlLabel", "support@example.com", "A click opens a mail to support", nullptr},
    });

    // A caption names what it shows, and what it shows is its value.
    window.Find<QLabel>("UserSerialLabel")->setText(QStringLiteral("SH10000123"));
    EXPECT_EQ(AccessibleText(window.Find<QLabel>("UserSerialLabel"), QAccessible::Value), QStringLiteral("SH10000123"));
    EXPECT_EQ(AccessibleText(window.Find<QLabel>("UserCapSerial"), QAccessible::Value), QString());
    QAccessibleInterface* caption = QAccessible::queryAccessibleInterface(window.Find<QLabel>("UserCapSerial"));
    const auto labelled = caption->relations(QAccessible::Labelled);
    ASSERT_EQ(labelled.size(), 1);
    EXPECT_EQ(labelled.first().first->object(), window.Find<QLabel>("UserSerialLabel"));
}

TEST(Accessibility, NamesAndDescriptionsOfTheDialogs)
{
    DialogBench bench;
    TSensorLogDlg log(bench.link, bench.settings);
    ExpectTexts(&log, {
        {"StartBtn", "Start Logging", nullptr, "Alt+S"},
        {"CalBtn", "Calibration", "Zero and span calibration", "Alt+C"},
        {"SpanBtn", "Span", nullptr, "Alt+N"},
        {"SensorCheck2", "Battery", "Read the battery with every reading", nullptr},
        {"SensorValueLabel1", "Sensor", "The gas reading of the unit's sensor", nullptr},
        {"SensorPeakLabel1", "Sensor Peak", nullptr, nullptr},
        {"SensorPeakLabel3", "Temperature ADC", "The temperature's converter count", nullptr},
        {"SensorHistoryCheck6", "Calibration progress", nullptr, nullptr},
        {"SensorChart", "Sensor chart", nullptr, nullptr},
        {"CalProgressBar", "Calibration progress", nullptr, nullptr},
    });
    EXPECT_EQ(AccessibleText(log.findChild<QLabel*>(QStringLiteral("SensorValueLabel1")), QAccessible::Value),
              QStringLiteral("0000"));

    TSensorCalDlg cal(bench.link, bench.settings);
    ExpectTexts(&cal, {
        {"CalGroupBox", "Sensor Calibration", nullptr, nullptr},
        {"CalBtn", "Calibration", nullptr, "Alt+C"},
        {"CalAbortBtn", "Cancel", "Stops the calibration", "Alt+A"},
        {"CloseBtn", "Close", nullptr, "Alt+O"},
        {"SpanGasSpin", "Span Gas", nullptr, nullptr},
        {"CalLabel2", "Calibration result", nullptr, nullptr},
    });
}

// The events a screen reader would have been sent.
std::vector<std::pair<QObject*, QAccessible::Event>> gEvents;
void KeepEvent(QAccessibleEvent* event)
{
    gEvents.emplace_back(event->object(), event->type());
}

int NameChanges(QObject* object)
{
    int count = 0;
    for (const auto& [from, type] : gEvents)
        count += from == object && type == QAccessible::NameChanged;
    return count;
}

TEST(Accessibility, StatusLineSpeaksEveryResult)
{
    QAccessible::installUpdateHandler(KeepEvent);
    // Qt hands out accessibility events only while the platform's bridge is
    // active, which a screen reader does on a desktop; offscreen there is
    // none to do it, so switch on Qt's basic platform accessibility here.
    QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
    ASSERT_NE(platform, nullptr);
    platform->setActive(true);
    ASSERT_TRUE(QAccessible::isActive());
    Window window(kUserIni);
    auto* status = window.Find<QLabel>("StatusLabel");
    EXPECT_EQ(AccessibleText(status, QAccessible::Name), QStringLiteral("Status"));

    const RColour white{255, 255, 255};
    const RColour black{0, 0, 0};
    const char* const texts[] = {
        "Read Varnolite Information...", "Read Varnolite Information... OK",
        "Read Varnolite Information... OK",  // the same result again is spoken again
        "Write Varnolite Information... Beamdock isnot found",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        gEvents.clear();
        window.form->PaintStatus(white, black, QString::fromLatin1(text));
        EXPECT_EQ(status->text(), QString::fromLatin1(text));
        EXPECT_EQ(AccessibleText(status, QAccessible::Name), QString::fromLatin1(text));
        EXPECT_EQ(NameChanges(status), 1) << "one announcement per text";
    }

    // Through a real operation: the adapter is not there.
    gEvents.clear();
    window.Show();
    auto* read = window.Find<QPushButton>("UserReadDeviceBtn");
    QMessageBox* seen = nullptr;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = box;
            box->done(QMessageBox::Ok);
        }
    });
    closer.start(20);
    read->click();
    ASSERT_TRUE(WaitFor([&] { return !window.form->OperationRunning() && seen; }));
    EXPECT_TRUE(status->text().startsWith(QLatin1String("Read Varnolite Information... "))) << status->text().toStdString();
    EXPECT_EQ(AccessibleText(status, QAccessible::Name), status->text());
    EXPECT_EQ(NameChanges(status), 2) << "the operation's name, then its result";
    QAccessible::installUpdateHandler(nullptr);
    platform->setActive(false);
}

// Answers modal windows as they come: file dialogs cancelled, boxes with OK.
class ModalCloser {
public:
    ModalCloser()
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                shown << box->windowTitle();
                box->done(QMessageBox::Ok);
            } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
                shown << QStringLiteral("file|") + files->windowTitle();
                files->reject();
            }
        });
        FTimer.start(20);
    }
    QStringList shown;

private:
    QTimer FTimer;
};

TEST(Keyboard, EnterPressesTheFocusedButtonAndNothingElse)
{
    struct Case {
        QByteArray ini;
        int page;
        const char* focus;
        int key;
        Qt::KeyboardModifiers modifiers;
        const char* seen;  // the file dialog the button's work asks, nullptr: no button pressed
    };
    const Case cases[] = {
        {kUserIni, kUserLayout, "UserReadFileBtn", Qt::Key_Return, Qt::NoModifier, "file|Open Configuration File"},
        {kUserIni, kUserLayout, "UserWriteFileBtn", Qt::Key_Enter, Qt::KeypadModifier, "file|Save Configuration File"},
        {kFactoryIni, 0, "UserOptReadFileBtn", Qt::Key_Enter, Qt::KeypadModifier, "file|Open Configuration File"},
        {kFactoryIni, 2, "EtcEEPROMSaveBtn", Qt::Key_Return, Qt::NoModifier, "file|Save EEPROM Data..."},
        // Enter in an edit, a spin box or a combo box presses no button.
        {kUserIni, kUserLayout, "UserIDEdit", Qt::Key_Return, Qt::NoModifier, nullptr},
        {kUserIni, kUserLayout, "UserHighAlarmSpin", Qt::Key_Enter, Qt::KeypadModifier, nullptr},
        {kFactoryIni, 0, "UserOptDispCombo", Qt::Key_Return, Qt::NoModifier, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.focus);
        Window window(c.ini);
        window.Show(c.page);
        ModalCloser closer;
        std::map<QString, int> clicks;
        for (QAbstractButton* button : window.form->findChildren<QAbstractButton*>())
            QObject::connect(button, &QAbstractButton::clicked, [&clicks, button] { ++clicks[button->objectName()]; });
        QWidget* focus = window.Find<QWidget>(c.focus);
        focus->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), focus);
        Press(c.key, c.modifiers);
        if (c.seen) {
            ASSERT_TRUE(WaitFor([&] { return !closer.shown.isEmpty() && !window.form->OperationRunning(); }));
            EXPECT_EQ(closer.shown, QStringList{QString::fromLatin1(c.seen)});
            EXPECT_EQ(clicks, (std::map<QString, int>{{QString::fromLatin1(c.focus), 1}}));
        } else {
            QApplication::processEvents();
            EXPECT_TRUE(clicks.empty());
            EXPECT_FALSE(window.form->OperationRunning());
        }
    }
}

TEST(Keyboard, EnterAndEscapeInTheDialogs)
{
    DialogBench bench;
    {
        TSensorCalDlg cal(bench.link, bench.settings);
        cal.show();
        QApplication::setActiveWindow(&cal);
        auto* close = cal.findChild<QPushButton*>(QStringLiteral("CloseBtn"));
        close->setFocus(Qt::TabFocusReason);
        Press(Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_FALSE(cal.isVisible()) << "keypad Enter on Close";
        EXPECT_EQ(cal.result(), QDialog::Accepted);
    }

    struct Case {
        const char* what;
        bool busy;
    };
    const Case cases[] = {{"idle", false}, {"working", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TSensorLogDlg log(bench.link, bench.settings);
        TSensorCalDlg cal(bench.link, bench.settings);
        log.SetRunning(c.busy);
        cal.SetCalibrating(c.busy);
        for (QDialog* dialog : {static_cast<QDialog*>(&log), static_cast<QDialog*>(&cal)}) {
            dialog->show();
            QApplication::setActiveWindow(dialog);
            Press(Qt::Key_Escape, Qt::NoModifier, {}, dialog->focusWidget() ? dialog->focusWidget() : dialog);
            EXPECT_EQ(dialog->isVisible(), c.busy) << dialog->metaObject()->className();
        }
        log.SetRunning(false);
        cal.SetCalibrating(false);
    }
}

// Where a page or dialog is on screen: the captions whose underlined letter
// works there, with the buttons that are meant to have one.
void ExpectMnemonicsApart(QWidget* form, const char* where)
{
    std::map<QString, QStringList> byKey;
    const auto add = [&](const QString& caption, const QString& owner) {
        const QKeySequence key = QKeySequence::mnemonic(caption);
        if (!key.isEmpty())
            byKey[key.toString()] << owner;
    };
    for (QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
        if (!button->isVisible())
            continue;
        add(button->text(), button->objectName());
        if (qobject_cast<QPushButton*>(button) && button->text().contains(QRegularExpression(QStringLiteral("[A-Za-z]")))) {
            EXPECT_FALSE(QKeySequence::mnemonic(button->text()).isEmpty())
                << where << ": " << button->objectName().toStdString() << " has no mnemonic";
        }
    }
    for (QLabel* label : form->findChildren<QLabel*>()) {
        if (label->isVisible() && label->buddy())
            add(label->text(), label->objectName());
    }
    for (QTabBar* tabs : form->findChildren<QTabBar*>()) {
        if (tabs->isVisible()) {
            for (int i = 0; i < tabs->count(); ++i)
                add(tabs->tabText(i), QStringLiteral("tab ") + tabs->tabText(i));
        }
    }
    EXPECT_GE(byKey.size(), 3u) << where;
    for (const auto& [key, owners] : byKey)
        EXPECT_EQ(owners.size(), 1) << where << ": " << key.toStdString() << " is " << owners.join(", ").toStdString();
}

TEST(Keyboard, MnemonicsDoNotClash)
{
    struct Case {
        const char* where;
        QByteArray ini;
        int page;
    };
    const Case cases[] = {
        {"user layout", kUserIni, kUserLayout},
        {"User Options", kFactoryIni, 0},
        {"Factory Options", kFactoryIni, 1},
        {"TEST", kFactoryIni, 2},
    };
    for (const Case& c : cases) {
        Window window(c.ini);
        window.Show(c.page);
        ExpectMnemonicsApart(window.form.get(), c.where);
    }
    DialogBench bench;
    TSensorLogDlg log(bench.link, bench.settings);
    log.show();
    ExpectMnemonicsApart(&log, "logging dialog");
    log.hide();
    TSensorCalDlg cal(bench.link, bench.settings);
    cal.show();
    ExpectMnemonicsApart(&cal, "calibration dialog");
    cal.hide();
}

// Tab from the first control visits `order` and comes back to it; Shift+Tab
// goes the same way back.
void ExpectTabOrder(QWidget* form, const QStringList& order)
{
    QWidget* first = form->findChild<QWidget*>(order.first());
    ASSERT_NE(first, nullptr);
    first->setFocus(Qt::TabFocusReason);
    QStringList visited{ControlName(QApplication::focusWidget())};
    for (qsizetype i = 0; i < order.size(); ++i) {
        Tab();
        visited << ControlName(QApplication::focusWidget());
    }
    EXPECT_EQ(visited, order + QStringList{order.first()});
    QStringList back;
    for (qsizetype i = 0; i < order.size(); ++i) {
        Press(Qt::Key_Backtab, Qt::ShiftModifier);
        back.prepend(ControlName(QApplication::focusWidget()));
    }
    EXPECT_EQ(back, order);
}

QStringList Names(std::initializer_list<const char*> names)
{
    QStringList list;
    for (const char* n : names)
        list << QString::fromLatin1(n);
    return list;
}

TEST(Keyboard, TabOrderFollowsTheReadingOrder)
{
    const QStringList buttons = Names({"ReadFileBtn", "ReadDeviceBtn", "HibernateBtn", "WriteFileBtn", "WriteDeviceBtn",
                                       "LogSaveBtn"});
    const auto prefixed = [](const char* prefix, const QStringList& names) {
        QStringList out;
        for (const QString& n : names)
            out << QString::fromLatin1(prefix) + n;
        return out;
    };
    const QStringList settings = Names({"HighAlarmSpin", "LowAlarmSpin", "CalIntervalSpin", "BumpIntervalSpin",
                                        "TestIntervalSpin", "IDEdit", "DispCombo", "HideBumpLEDCheck"});
    struct Case {
        const char* where;
        QByteArray ini;
        int page;
        QStringList order;
    };
    const Case cases[] = {
        {"user layout", kUserIni, kUserLayout,
         prefixed("User", settings) + prefixed("User", buttons) + Names({"UserCalBtn", "UserFMOpenBtn"})},
        {"User Options", kFactoryIni, 0,
         Names({"PageControl", "UserOptHWVersionEdit", "UserOptSerialEdit", "UserOptMonthLifeSpin",
                "UserOptDayLifeSpin", "UserOptSensorTypeCombo"}) +
             prefixed("UserOpt", settings) + prefixed("UserOpt", buttons) + Names({"UserOptFMOpenBtn"})},
        {"Factory Options", kFactoryIni, 1,
         Names({"PageControl", "FatoryOptBatteryLimitSpin", "FatoryOptBatteryLimitStartupSpin",
                "FatoryOptBatteryLimit1Spin", "FatoryOptBatteryLimit2Spin", "FactoryOptHibernateCombo",
                "FatoryOptSpanGasSpin", "FatoryOptSensorMaxSpin", "FatoryOptSensorBaseSpin", "FatoryOptDeadZoneSpin",
                "FatoryOptTempComp1Spin", "FatoryOptTempComp2Spin", "FatoryOptTempComp3Spin", "FatoryOptCalBtn",
                "FatoryOptTurnOffBtn", "FatoryOptLogResetBtn", "FatoryOptLogSensorBtn"})},
        {"TEST", kFactoryIni, 2,
         Names({"PageControl", "EtcFactoryResetBtn", "EtcIdentifyBtn", "EtcBeepONBtn", "EtcRLEDONBtn", "EtcLLEDONBtn",
                "EtcVibratorBtn", "EtcClearPeakBtn", "EtcBumpFailBtn", "EtcBumpPassBtn", "EtcEEPROMReadBtn",
                "EtcEEPROMSaveBtn", "EtcEEPROMGrid"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        Window window(c.ini);
        window.Show(c.page);
        if (c.page == kUserLayout) {
            EXPECT_EQ(ControlName(QApplication::focusWidget()), QStringLiteral("UserHighAlarmSpin"))
                << "the window opens on the first setting";
        }
        ExpectTabOrder(window.form.get(), c.order);
    }

    DialogBench bench;
    TSensorLogDlg log(bench.link, bench.settings);
    log.show();
    QApplication::setActiveWindow(&log);
    ExpectTabOrder(&log, Names({"StartBtn", "SensorCheck2", "SensorCheck3"}));
    log.hide();
    TSensorCalDlg cal(bench.link, bench.settings);
    cal.show();
    QApplication::setActiveWindow(&cal);
    ExpectTabOrder(&cal, Names({"CalBtn", "CloseBtn", "SpanGasSpin", "CalAsFoundCheck", "CalAsLeftCheck",
                                "CalToleranceSpin", "CalLotEdit", "CalExpiryEdit", "CalTechnicianEdit"}));
    cal.hide();
}

// A user at the keyboard: answers file dialogs by typing the next name of
// `files` (an empty name takes the proposed one) and Enter, boxes by Enter
// (the default button) or, for a text in `confirm`, by Alt+Y.
class KeyboardUser {
public:
    KeyboardUser()
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Answer(); });
        FTimer.start(30);
    }
    QStringList files;  // names typed into the file dialogs, in their folders
    QStringList seen;
    QStringList confirm;  // questions answered Yes

private:
    void Answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            AnswerFileDialog(dialog);
            return;
        }
        if (!modal || modal == FAnswered)
            return;
        FAnswered = modal;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << box->windowTitle() + QLatin1Char('|') + box->text();
            QWidget* to = modal->focusWidget() ? modal->focusWidget() : modal;
            if (confirm.contains(box->text()))
                Press(Qt::Key_Y, Qt::AltModifier, {}, to);
            else
                Press(Qt::Key_Return, Qt::NoModifier, {}, to);
        }
    }

    // Types the name and accepts once the dialog shows it as its selection.
    // Qt's dialog reads its folder in the background and then puts its
    // proposed name in the name field: a user who types before that sees the
    // name replaced and types it again, and one who takes the proposed name
    // waits until it is there. Accepting an empty name field would only
    // open the folder.
    void AnswerFileDialog(QFileDialog* dialog)
    {
        if (dialog == FAnswered)
            return;
        if (dialog != FDialog) {
            FDialog = dialog;
            seen << QStringLiteral("file|") + dialog->windowTitle();
            FName = files.isEmpty() ? QString() : files.takeFirst();
        }
        auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!nameEdit)
            return;
        const QString selected = QFileInfo(dialog->selectedFiles().value(0)).fileName();
        if (FName.isEmpty() ? nameEdit->text().isEmpty() : selected != FName) {
            if (!FName.isEmpty()) {
                Press(Qt::Key_A, Qt::ControlModifier, {}, nameEdit);
                Type(FName, nameEdit);
            }
            return;
        }
        FAnswered = dialog;
        // Return would go to the file name completer's list when it has
        // popped up; the dialog's own accept takes what was typed.
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    }

    QTimer FTimer;
    QPointer<QWidget> FAnswered;
    QPointer<QFileDialog> FDialog;
    QString FName;
};

// Tabs round to `control`, at least once, so that arriving by Tab selects
// its text as it does for a user (the focus may already be there).
bool TabTo(QWidget* control)
{
    int presses = 0;
    do {
        Tab();
    } while (QApplication::focusWidget() != control && ++presses < 80);
    return QApplication::focusWidget() == control;
}

std::uint16_t StoredAlarmHigh(const QByteArray& image)
{
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(image.at(64)) |
                                      (static_cast<std::uint8_t>(image.at(65)) << 8));
}

// The user-mode session a technician runs, keys only: read, edit, write,
// save and load a configuration file, save the event log.
TEST(KeyboardOnly, UserModeSessionAgainstTheSimulator)
{
    SimProcess sim({QStringLiteral("--events"), QStringLiteral("4")});
    ASSERT_TRUE(sim.start());
    Window window(kUserIni, sim.portPath());
    window.Show();
    KeyboardUser user;
    auto* status = window.Find<QLabel>("StatusLabel");
    auto* high = window.Find<QDoubleSpinBox>("UserHighAlarmSpin");
    const auto statusIs = [&](const char* text) {
        return WaitFor([&] { return status->text() == QString::fromLatin1(text) && !window.form->OperationRunning(); });
    };
    // What the screen shows, for a step that did not end as expected.
    const auto screen = [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* nameEdit = modal ? modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
        return QStringLiteral("status \"%1\", high %2, running %3, dialogs seen {%4}, modal %5 \"%6\" name \"%7\", focus %8")
            .arg(status->text())
            .arg(high->value())
            .arg(window.form->OperationRunning())
            .arg(user.seen.join(QLatin1Char(',')))
            .arg(modal ? QString::fromLatin1(modal->metaObject()->className()) : QStringLiteral("none"))
            .arg(modal ? modal->windowTitle() : QString())
            .arg(nameEdit ? nameEdit->text() : QString())
            .arg(ControlName(QApplication::focusWidget()))
            .toStdString();
    };

    // Read: Alt+R.
    PressMnemonic('R');
    ASSERT_TRUE(statusIs("Read Varnolite Information... OK")) << status->text().toStdString();
    EXPECT_EQ(AccessibleText(status, QAccessible::Name), QStringLiteral("Read Varnolite Information... OK"));
    auto* serial = window.Find<QLabel>("UserSerialLabel");
    EXPECT_EQ(AccessibleText(serial, QAccessible::Name), QStringLiteral("Serial Number"));
    EXPECT_EQ(AccessibleText(serial, QAccessible::Value), QStringLiteral("SH10000123"));
    const double before = high->value();
    const std::uint16_t storedBefore = StoredAlarmHigh(sim.stateImage());
    ASSERT_EQ(storedBefore, std::lround(before * 10));

    // Edit: Tab to the high alarm (which selects its text) and type.
    const double typed = before + 1.5 <= high->maximum() ? before + 1.5 : before - 1.5;
    ASSERT_TRUE(TabTo(high));
    Type(QString::number(typed, 'f', 1));
    Tab();
    EXPECT_DOUBLE_EQ(high->value(), typed);
    EXPECT_EQ(AccessibleText(high, QAccessible::Value), high->text());

    // Write: Alt+W; the unit's memory holds the typed value.
    PressMnemonic('W');
    ASSERT_TRUE(statusIs("Write Varnolite Information... OK")) << status->text().toStdString();
    EXPECT_EQ(StoredAlarmHigh(sim.stateImage()), std::lround(typed * 10));

    // Save a configuration file (Alt+L), change the value, load it (Alt+F).
    const QString cfg = window.dir.filePath(QStringLiteral("Configure/keys.cfg"));
    user.files << QStringLiteral("keys.cfg") << QStringLiteral("keys.cfg");
    PressMnemonic('L');
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(cfg) && !window.form->OperationRunning(); })) << screen();
    // A window manager gives the window back its activation when the file
    // dialog closes; offscreen there is none.
    QApplication::setActiveWindow(window.form.get());
    ASSERT_TRUE(TabTo(high));
    Type(QStringLiteral("2"));
    Tab();
    ASSERT_NE(high->value(), typed);
    // Loading replaces the edit: the question first (its default is No).
    user.confirm << QStringLiteral("Discard the edits to 1 fields?");
    PressMnemonic('F');
    ASSERT_TRUE(WaitFor([&] { return high->value() == typed && !window.form->OperationRunning(); })) << screen();
    QApplication::setActiveWindow(window.form.get());

    // Save the event log (Alt+S) under the proposed name.
    PressMnemonic('S');
    ASSERT_TRUE(statusIs("Load Event Log... OK")) << screen();
    const QStringList logs = QDir(window.dir.filePath(QStringLiteral("EVENT")))
                                 .entryList({QStringLiteral("*_LOG_*.CSV")}, QDir::Files);
    EXPECT_EQ(logs.size(), 1) << logs.join(QLatin1Char(',')).toStdString();

    EXPECT_EQ(user.seen, (QStringList{QStringLiteral("file|Save Configuration File"),
                                      QStringLiteral("Open Configuration File|Discard the edits to 1 fields?"),
                                      QStringLiteral("file|Open Configuration File"),
                                      QStringLiteral("file|Save Logging Data...")}));
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
