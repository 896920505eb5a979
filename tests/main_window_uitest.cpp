// The Qt window: both layouts with every named control, the mapping between
// the record and the real widgets, the input filters, the link thread seen
// from the window, and screenshots of each layout after reading the
// simulated detector.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QWheelEvent>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <QScrollBar>

#include <cstring>
#include <functional>
#include <memory>

#include "ConfigFile.h"
#include "DeviceSettings.h"
#include "EventLoopWait.h"
#include "FileDialogAnswer.h"
#include "MainWorkflows.h"
#include "SimProcess.h"
#include "TVarnoIRMainForm.h"

namespace {

const QByteArray kFactoryIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\n";

// A program directory with its settings, and the window over them.
class Window {
public:
    explicit Window(const QByteArray& ini = {}, const QString& port = {})
    {
        if (!ini.isEmpty()) {
            QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
            if (file.open(QIODevice::WriteOnly))
                file.write(ini);
        }
        settings = LoadSettings(dir.path().toStdString() + "/");
        form = std::make_unique<TVarnoIRMainForm>(settings, port);
    }

    template <typename T>
    T* Find(const char* name) const
    {
        return form->findChild<T*>(QString::fromLatin1(name));
    }

    // Runs the event loop until the operation started by a click has ended.
    bool WaitForOperation(int ms = 15000)
    {
        if (!form->OperationRunning())
            return true;
        QEventLoop loop;
        QObject::connect(form.get(), &TVarnoIRMainForm::OperationFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        return !form->OperationRunning();
    }

    QTemporaryDir dir;
    LoadedSettings settings;
    std::unique_ptr<TVarnoIRMainForm> form;
};

// Closes each modal box as it appears and keeps its caption and text.
class BoxCloser {
public:
    BoxCloser()
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown << box->windowTitle() + QLatin1Char('|') + box->text();
                // A question before a destructive step is confirmed.
                box->done(box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok);
            }
        });
        FTimer.start(20);
    }
    QStringList shown;

private:
    QTimer FTimer;
};

void TypeKeys(QWidget* target, const QString& keys)
{
    for (const QChar c : keys) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
        QApplication::sendEvent(target, &release);
    }
}

TEST(MainWindow, BothLayoutsHoldEveryNamedControl)
{
    struct Control {
        const char* name;
        const char* type;
        const char* caption;  // button text, group title or nullptr
    };
    const Control controls[] = {
        {"StatusPanel", "QFrame", nullptr}, {"StatusLabel", "QLabel", nullptr}, {"StatusTimeLabel", "QLabel", nullptr},
        {"CustomerPanel", "QFrame", nullptr}, {"CustomerImage", "QLabel", nullptr},
        {"CustomerLabel", "QLabel", nullptr}, {"CustomerUrlLabel", "QLabel", nullptr},
        {"Memo", "QPlainTextEdit", nullptr}, {"UserScrollBox", "QScrollArea", nullptr},
        {"DevScrollBox", "QScrollArea", nullptr}, {"PageControl", "QTabWidget", nullptr},
        {"UserTS", "QWidget", nullptr}, {"FactoryTS", "QWidget", nullptr}, {"ETCTS", "QWidget", nullptr},
        {"UserHWVersionLabel", "QLabel", nullptr}, {"UserSWVersionLabel", "QLabel", nullptr},
        {"UserSerialLabel", "QLabel", nullptr}, {"UserLifeLabel", "QLabel", nullptr},
        {"UserSensorTypeLabel", "QLabel", nullptr}, {"UserSensorTypeCombo", "QComboBox", nullptr},
        {"UserHighAlarmSpin", "QDoubleSpinBox", nullptr}, {"UserLowAlarmSpin", "QDoubleSpinBox", nullptr},
        {"UserCalIntervalSpin", "QSpinBox", nullptr}, {"UserBumpIntervalSpin", "QSpinBox", nullptr},
        {"UserIDEdit", "QLineEdit", nullptr}, {"UserTestIntervalSpin", "QSpinBox", nullptr},
        {"UserDispCombo", "QComboBox", nullptr}, {"UserHideBumpLEDCheck", "QCheckBox", "Hide bump due LED flashing"},
        {"UserReadFileBtn", "QPushButton", "Read &File"}, {"UserReadDeviceBtn", "QPushButton", "&Read Device"},
        {"UserWriteFileBtn", "QPushButton", "Write Fi&le"}, {"UserWriteDeviceBtn", "QPushButton", "&Write Device"},
        {"UserHibernateBtn", "QPushButton", "&Hibernate"}, {"UserLogSaveBtn", "QPushButton", "&Save Event Log"},
        {"UserCalBtn", "QPushButton", "Se&nsor Calibration"}, {"UserFMPanel", "QGroupBox", nullptr},
        {"UserFMFileLabel", "QLabel", nullptr}, {"UserFMDescLabel", "QLabel", "Varnolite Firmware Upgrade ... Select File"},
        {"UserFMOpenBtn", "QPushButton", nullptr}, {"UserFMUpgradeBtn", "QPushButton", "&Upgrade Firmware"},
        {"UserFMCancelBtn", "QPushButton", "&Cancel"}, {"UserFMProgressBar", "QProgressBar", nullptr},
        {"UserOptIDLabel", "QLabel", nullptr}, {"UserOptHWVersionEdit", "QLineEdit", nullptr},
        {"UserOptSWVersionLabel", "QLabel", nullptr}, {"UserOptSerialEdit", "QLineEdit", nullptr},
        {"UserOptMonthLifeSpin", "QSpinBox", nullptr}, {"UserOptDayLifeSpin", "QSpinBox", nullptr},
        {"UserOptSensorTypeCombo", "QComboBox", nullptr}, {"UserOptHighAlarmSpin", "QDoubleSpinBox", nullptr},
        {"UserOptLowAlarmSpin", "QDoubleSpinBox", nullptr}, {"UserOptCalIntervalSpin", "QSpinBox", nullptr},
        {"UserOptBumpIntervalSpin", "QSpinBox", nullptr}, {"UserOptIDEdit", "QLineEdit", nullptr},
        {"UserOptTestIntervalSpin", "QSpinBox", nullptr}, {"UserOptDispCombo", "QComboBox", nullptr},
        {"UserOptHideBumpLEDCheck", "QCheckBox", "Hide bump due LED flashing"},
        {"UserOptReadFileBtn", "QPushButton", "Read &File"}, {"UserOptReadDeviceBtn", "QPushButton", "&Read Device"},
        {"UserOptWriteFileBtn", "QPushButton", "Write Fi&le"}, {"UserOptWriteDeviceBtn", "QPushButton", "&Write Device"},
        {"UserOptHibernateBtn", "QPushButton", "&Hibernate"}, {"UserOptLogSaveBtn", "QPushButton", "&Save Event Log"},
        {"UserOptFMPanel", "QGroupBox", nullptr}, {"UserOptFMUpgradeBtn", "QPushButton", "&Upgrade Firmware"},
        {"UserOptFMCancelBtn", "QPushButton", "&Cancel"}, {"UserOptFMOpenBtn", "QPushButton", nullptr},
        {"UserOptFMFileLabel", "QLabel", nullptr}, {"UserOptFMDescLabel", "QLabel", nullptr},
        {"UserOptFMProgressBar", "QProgressBar", nullptr},
        {"FatoryOptBatteryLimitSpin", "QSpinBox", nullptr}, {"FatoryOptBatteryLimitStartupSpin", "QSpinBox", nullptr},
        {"FatoryOptBatteryLimit1Spin", "QSpinBox", nullptr}, {"FatoryOptBatteryLimit2Spin", "QSpinBox", nullptr},
        {"FatoryOptBatteryLimitCap", "QLabel", "Critical"}, {"FatoryOptBatteryLimitStartupCap", "QLabel", "Startup"},
        {"FatoryOptBatteryLimit1Cap", "QLabel", "~-10\u2103"}, {"FatoryOptBatteryLimit2Cap", "QLabel", "- 10\u2103~ "},
        {"FatoryOptAlarmTimeLabel", "QLabel", nullptr}, {"FatoryOptAlarmCountLabel", "QLabel", nullptr},
        {"FatoryOptTestTimeLabel", "QLabel", nullptr}, {"FatoryOptTestCountLabel", "QLabel", nullptr},
        {"FactoryOptHibernateCombo", "QComboBox", nullptr}, {"FatoryOptSpanGasSpin", "QDoubleSpinBox", nullptr},
        {"FatoryOptSensorMaxSpin", "QDoubleSpinBox", nullptr}, {"FatoryOptSensorBaseSpin", "QDoubleSpinBox", nullptr},
        {"FatoryOptDeadZoneSpin", "QDoubleSpinBox", nullptr}, {"FatoryOptTempComp1Spin", "QSpinBox", nullptr},
        {"FatoryOptTempComp2Spin", "QSpinBox", nullptr}, {"FatoryOptTempComp3Spin", "QSpinBox", nullptr},
        {"FatoryOptZeroLabel", "QLabel", nullptr}, {"FatoryOptSpanLabel", "QLabel", nullptr},
        {"FatoryOptMinSpanLabel", "QLabel", nullptr}, {"FatoryOptTauLabel", "QLabel", nullptr},
        {"FatoryOptLastCalLabel", "QLabel", nullptr}, {"FatoryOptPeakTimerLabel", "QLabel", nullptr},
        {"FatoryOptLastBumpTimerLabel", "QLabel", nullptr}, {"FatoryOptCalBtn", "QPushButton", "&Calibration"},
        {"FatoryOptTurnOffBtn", "QPushButton", "&Turn Off"}, {"FatoryOptLogResetBtn", "QPushButton", "Log &Reset"},
        {"FatoryOptLogSensorBtn", "QPushButton", "&Log Readings"}, {"EtcEEPROMGB", "QGroupBox", "EEPROM"},
        {"EtcEEPROMGrid", "QTableView", nullptr},
    };
    Window window;
    for (const Control& c : controls) {
        QWidget* widget = window.Find<QWidget>(c.name);
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_TRUE(widget->inherits(c.type)) << c.name << " is a " << widget->metaObject()->className();
        if (!c.caption)
            continue;
        const QString expected = QString::fromUtf8(c.caption);
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_EQ(button->text(), expected) << c.name;
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), expected) << c.name;
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            EXPECT_EQ(group->title(), expected) << c.name;
        }
    }

    TVarnoIRMainForm& form = *window.form;
    EXPECT_EQ(form.objectName(), QStringLiteral("TVarnoIRMainForm"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Corvath Beamdock [ver 1.3.0.10]"));
    EXPECT_EQ(form.minimumSize(), QSize(500, 580));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);

    struct Range {
        const char* name;
        int min;
        int max;
    };
    for (const Range& r : {Range{"UserCalIntervalSpin", 0, 365}, Range{"UserOptBumpIntervalSpin", 0, 365},
                           Range{"UserTestIntervalSpin", 6, 24}, Range{"UserOptTestIntervalSpin", 6, 24},
                           Range{"UserOptMonthLifeSpin", 0, 24}, Range{"UserOptDayLifeSpin", 0, 31},
                           Range{"FatoryOptBatteryLimitSpin", 0, 1024}, Range{"FatoryOptBatteryLimit2Spin", 0, 1024},
                           Range{"FatoryOptTempComp1Spin", INT_MIN, INT_MAX}}) {
        auto* spin = window.Find<QSpinBox>(r.name);
        ASSERT_NE(spin, nullptr) << r.name;
        EXPECT_EQ(spin->minimum(), r.min) << r.name;
        EXPECT_EQ(spin->maximum(), r.max) << r.name;
    }
    for (const char* name : {"UserDispCombo", "UserOptDispCombo"}) {
        auto* combo = window.Find<QComboBox>(name);
        ASSERT_EQ(combo->count(), 3) << name;
        EXPECT_EQ(combo->itemText(0), QStringLiteral("Sensor/Life Remaining"));
        EXPECT_EQ(combo->itemText(1), QStringLiteral("Sensor Reading"));
        EXPECT_EQ(combo->itemText(2), QStringLiteral("Life Remaining"));
    }
    auto* hibernate = window.Find<QComboBox>("FactoryOptHibernateCombo");
    ASSERT_EQ(hibernate->count(), 2);
    EXPECT_EQ(hibernate->itemText(0), QString());
    EXPECT_EQ(hibernate->itemText(1), QStringLiteral("Allow suspend"));
    auto* pages = window.Find<QTabWidget>("PageControl");
    EXPECT_EQ(pages->tabText(0), QStringLiteral("User Options"));
    EXPECT_EQ(pages->tabText(1), QStringLiteral("Factory Options"));
    EXPECT_EQ(pages->tabText(2), QStringLiteral("TEST"));
    EXPECT_FALSE(window.Find<QPushButton>("UserFMUpgradeBtn")->isEnabled());
    EXPECT_FALSE(window.Find<QPushButton>("UserOptFMCancelBtn")->isEnabled());
    auto* hidden = window.Find<QComboBox>("UserSensorTypeCombo");
    EXPECT_TRUE(hidden->isHidden());
    EXPECT_FALSE(hidden->isEnabled());
    EXPECT_EQ(window.Find<QLineEdit>("UserIDEdit")->maxLength(), 6);
    EXPECT_EQ(window.Find<QLineEdit>("UserOptSerialEdit")->maxLength(), 10);
    EXPECT_EQ(window.Find<QDoubleSpinBox>("UserHighAlarmSpin")->decimals(), 1);
    EXPECT_EQ(window.Find<QDoubleSpinBox>("FatoryOptDeadZoneSpin")->decimals(), 1);
    const QAbstractItemModel* grid = window.Find<QTableView>("EtcEEPROMGrid")->model();
    ASSERT_NE(grid, nullptr);
    ASSERT_EQ(grid->rowCount(), 64);
    EXPECT_EQ(grid->columnCount(), 17);
    EXPECT_EQ(grid->index(2, 0).data().toString(), QStringLiteral("0020"));
    EXPECT_EQ(grid->index(2, 16).data().toString(), QStringLiteral("FF"));
}

TEST(MainWindow, FirstActivationShowsTheLayoutOfTheMode)
{
    struct Case {
        QByteArray ini;
        bool factory;
        bool memo;
        int width;  // the trace comes beside the 500-pixel panel
    };
    const Case cases[] = {
        {{}, false, false, 500},
        {"[Environment]\r\nModeEntry=ZTR_ENG__\r\n[ETC]\r\nLogEnable=1\r\n", true, true, 780},
        {"[Environment]\r\nModeEntry=ztr_eng__\r\n", false, false, 500},
    };
    for (const Case& c : cases) {
        Window window(c.ini);
        EXPECT_TRUE(window.Find<QWidget>("UserScrollBox")->isHidden()) << "no layout before the first activation";
        EXPECT_TRUE(window.Find<QWidget>("DevScrollBox")->isHidden());
        window.Find<QTabWidget>("PageControl")->setCurrentIndex(2);
        window.form->show();
        EXPECT_EQ(window.Find<QWidget>("UserScrollBox")->isVisible(), !c.factory);
        EXPECT_EQ(window.Find<QWidget>("DevScrollBox")->isVisible(), c.factory);
        if (c.factory) {
            EXPECT_EQ(window.Find<QTabWidget>("PageControl")->currentIndex(), 0);
        }
        EXPECT_EQ(window.Find<QWidget>("Memo")->isVisible(), c.memo);
        EXPECT_EQ(window.form->size(), QSize(c.width, 750));
        EXPECT_FALSE(window.Find<QLabel>("StatusTimeLabel")->text().isEmpty()) << "the clock runs";
        window.form->close();
    }
}

// ShowConfig then CollectConfig through the real widgets of the factory pages.
TEST(MainWindow, RecordThroughTheFactoryControls)
{
    Window window(kFactoryIni);
    TComZEL unusedLink;
    TMainWorkflows logic(*window.form, unusedLink, window.settings);
    auto* months = window.Find<QSpinBox>("UserOptMonthLifeSpin");
    auto* days = window.Find<QSpinBox>("UserOptDayLifeSpin");

    struct Case {
        const char* name;
        std::function<void(RZELCFG&)> stored;      // changes to the record shown
        std::function<void(Window&)> entered;      // what the user then does
        std::function<void(const RZELCFG&)> check; // the record collected
        bool forDevice = false;
    };
    const Case cases[] = {
        {"24 months 0 days left alone stays the unit's own count",
         [](RZELCFG& c) { c.mUnit.mLifeRemaining = 63072000; }, [](Window&) {},
         [&](const RZELCFG& c) {
             EXPECT_EQ(+c.mUnit.mLifeRemaining, 63072000u);
             EXPECT_EQ(months->value(), 24);
             EXPECT_EQ(days->value(), 0);
         }},
        {"2628001 seconds is one month and one day, and stays 2628001",
         [](RZELCFG& c) { c.mUnit.mLifeRemaining = 2628001; }, [](Window&) {},
         [&](const RZELCFG& c) {
             EXPECT_EQ(months->value(), 1);
             EXPECT_EQ(days->value(), 1);
             EXPECT_EQ(+c.mUnit.mLifeRemaining, 2628001u);
         }},
        {"zero months and days stay zero", [](RZELCFG&) {},
         [&](Window&) {
             months->setValue(0);
             days->setValue(0);
         },
         [](const RZELCFG& c) { EXPECT_EQ(+c.mUnit.mLifeRemaining, 0u); }},
        {"hardware version 0 is stored as 1", [](RZELCFG&) {},
         [](Window& w) { w.Find<QLineEdit>("UserOptHWVersionEdit")->setText(QStringLiteral("0")); },
         [](const RZELCFG& c) { EXPECT_EQ(+c.mUnit.mHWVersion, 1); }},
        {"hardware version 7 shows as 007 and comes back", [](RZELCFG& c) { c.mUnit.mHWVersion = 7; }, [](Window&) {},
         [&](const RZELCFG& c) {
             EXPECT_EQ(window.Find<QLineEdit>("UserOptHWVersionEdit")->text(), QStringLiteral("007"));
             EXPECT_EQ(+c.mUnit.mHWVersion, 7);
         }},
        {"serial number padded with zeros", [](RZELCFG&) {},
         [](Window& w) { w.Find<QLineEdit>("UserOptSerialEdit")->setText(QStringLiteral("SH12")); },
         [](const RZELCFG& c) { EXPECT_EQ(std::string(c.mUnit.mSerial, 10), "SH12000000"); }},
        {"sensor reading with hidden bump LED gives 0x07", [](RZELCFG&) {},
         [](Window& w) {
             w.Find<QComboBox>("UserOptDispCombo")->setCurrentIndex(1);
             w.Find<QCheckBox>("UserOptHideBumpLEDCheck")->setChecked(true);
         },
         [](const RZELCFG& c) { EXPECT_EQ(+c.mUnit.mUnitFlag, 0x07); }},
        {"life remaining unchecked gives 0x00", [](RZELCFG& c) { c.mUnit.mUnitFlag = 0x06; },
         [](Window& w) {
             EXPECT_EQ(w.Find<QComboBox>("UserOptDispCombo")->currentIndex(), 2) << "bit 0 clear";
             EXPECT_TRUE(w.Find<QCheckBox>("UserOptHideBumpLEDCheck")->isChecked());
             w.Find<QCheckBox>("UserOptHideBumpLEDCheck")->setChecked(false);
         },
         [](const RZELCFG& c) { EXPECT_EQ(+c.mUnit.mUnitFlag, 0x00); }},
        {"stored user ID a b # 1 2 shows in capitals with a blank, and is written as shown",
         [](RZELCFG& c) { std::memcpy(c.mUnit.mUserID, "ab#12\0", 6); },
         [](Window& w) { EXPECT_EQ(w.Find<QLineEdit>("UserOptIDEdit")->text(), QStringLiteral("AB 12")); },
         [](const RZELCFG& c) { EXPECT_EQ(std::string(c.mUnit.mUserID, 6), "AB 12 "); }},
        {"time fields above 24 months show ---",
         [](RZELCFG& c) {
             c.mSensor.mLastCal = 63072001;
             c.mUnit.mAlarmTime = 63072000;
             c.mSensor.mSpan = 5561;
             c.mSensor.mTau = 5;
         },
         [](Window& w) {
             EXPECT_EQ(w.Find<QLabel>("FatoryOptLastCalLabel")->text(), QStringLiteral("---"));
             EXPECT_EQ(w.Find<QLabel>("FatoryOptAlarmTimeLabel")->text(), QStringLiteral("63072000"));
             EXPECT_EQ(w.Find<QLabel>("FatoryOptSpanLabel")->text(), QStringLiteral("5.561"));
             EXPECT_EQ(w.Find<QLabel>("FatoryOptTauLabel")->text(), QStringLiteral("5.0"));
         },
         [](const RZELCFG& c) { EXPECT_EQ(+c.mSensor.mLastCal, 63072001u) << "not an editable field"; }},
        {"alarm below the sensor's minimum is held at 1.0, gas values in tenths",
         [](RZELCFG& c) {
             c.mSensor.mAlarmLow = 0;
             c.mSensor.mSpanGas = 505;
             c.mSensor.mTempCompSpan[1] = -554;
         },
         [](Window& w) { EXPECT_DOUBLE_EQ(w.Find<QDoubleSpinBox>("UserOptLowAlarmSpin")->value(), 1.0); },
         [](const RZELCFG& c) {
             EXPECT_EQ(+c.mSensor.mAlarmLow, 10);
             EXPECT_EQ(+c.mSensor.mSpanGas, 505);
             EXPECT_EQ(+c.mSensor.mTempCompSpan[1], -554);
         }},
        {"calibration interval in days", [](RZELCFG& c) { c.mSensor.mCalInterval = 86400 * 30 + 40000; },
         [](Window& w) {
             EXPECT_EQ(w.Find<QSpinBox>("UserOptCalIntervalSpin")->value(), 30);
             w.Find<QSpinBox>("UserOptCalIntervalSpin")->setValue(1);
         },
         [](const RZELCFG& c) { EXPECT_EQ(+c.mSensor.mCalInterval, 86400u); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RZELCFG cfg = DefaultConfig();
        c.stored(cfg);
        logic.SetCurrentConfig(cfg);
        logic.ShowConfig();
        c.entered(window);
        c.check(logic.CollectConfig(c.forDevice));
    }

    // Beyond 24 months (24 months and 5 days): cut to 24 months, with a box.
    logic.SetCurrentConfig(DefaultConfig());
    logic.ShowConfig();
    months->setValue(24);
    days->setValue(5);
    BoxCloser boxes;
    const RZELCFG clamped = logic.CollectConfig(true);
    EXPECT_EQ(+clamped.mUnit.mLifeRemaining, 63072000u);
    EXPECT_EQ(months->value(), 24);
    EXPECT_EQ(days->value(), 0);
    EXPECT_EQ(boxes.shown, QStringList{QStringLiteral(
                               "Check Life Remaining|Life Remaining Value over than define value\n"
                               "Make default value... check Life Remaining Value")});
}

TEST(MainWindow, UserModeCollectsUserFieldsOnTopOfTheDefaults)
{
    Window window;
    TComZEL unusedLink;
    TMainWorkflows logic(*window.form, unusedLink, window.settings);
    RZELCFG cfg = DefaultConfig();
    std::memcpy(cfg.mUnit.mSerial, "ZZ99999999", 10);
    cfg.mSensor.mSensorType = 2;  // CO: 0..300
    cfg.mSensor.mAlarmHigh = 2505;
    logic.SetCurrentConfig(cfg);
    logic.ShowConfig();
    EXPECT_EQ(window.Find<QLabel>("UserSerialLabel")->text(), QStringLiteral("ZZ99999999"));
    EXPECT_EQ(window.Find<QLabel>("UserSensorTypeLabel")->text(), QStringLiteral("CO"));
    EXPECT_EQ(window.Find<QLabel>("UserLifeLabel")->text(), QStringLiteral("24 Months   0 Days"));
    EXPECT_DOUBLE_EQ(window.Find<QDoubleSpinBox>("UserHighAlarmSpin")->maximum(), 300.0);
    TypeKeys(window.Find<QLineEdit>("UserIDEdit"), QStringLiteral("ab-12"));

    const RZELCFG collected = logic.CollectConfig(true);
    EXPECT_EQ(std::string(collected.mUnit.mSerial, 10), "SH10000000") << "the user layout does not edit the serial";
    EXPECT_EQ(+collected.mSensor.mSensorType, 2);
    EXPECT_EQ(+collected.mSensor.mAlarmHigh, 2505);
    EXPECT_EQ(std::string(collected.mUnit.mUserID, 6), "AB-12 ");

    cfg.mUnit.mLifeRemaining = 86400;
    logic.SetCurrentConfig(cfg);
    logic.ShowConfig();
    EXPECT_EQ(window.Find<QLabel>("UserLifeLabel")->text(), QStringLiteral("            1 Days"));
}

TEST(MainWindow, InputFiltersAndSpinFocusColours)
{
    Window window(kFactoryIni);
    BoxCloser boxes;  // the close asks before the edits go
    window.form->show();
    QApplication::setActiveWindow(window.form.get());

    auto* id = window.Find<QLineEdit>("UserOptIDEdit");
    id->clear();
    TypeKeys(id, QStringLiteral("a#b.-1 2x9"));
    EXPECT_EQ(id->text(), QStringLiteral("AB-1 2")) << "dropped: # and .; capitals; at most 6";

    auto* serial = window.Find<QLineEdit>("UserOptSerialEdit");
    auto* write = window.Find<QPushButton>("UserOptWriteDeviceBtn");
    serial->clear();
    serial->setFocus();
    TypeKeys(serial, QStringLiteral("sH1234567"));
    EXPECT_EQ(serial->text(), QStringLiteral("SH1234567")) << "small letters are typed as capitals";
    EXPECT_EQ(QApplication::focusWidget(), serial) << "nine characters: the edit keeps the focus";
    TypeKeys(serial, QStringLiteral("8"));
    EXPECT_EQ(QApplication::focusWidget(), write) << "the tenth moves on to Write Device";

    auto* spin = window.Find<QDoubleSpinBox>("UserOptHighAlarmSpin");
    const QColor normal = QApplication::palette(spin).color(QPalette::Base);
    spin->setFocus();
    EXPECT_EQ(spin->palette().color(QPalette::Base), QColor(0, 255, 0));
    window.Find<QSpinBox>("UserOptTestIntervalSpin")->setFocus();
    EXPECT_EQ(spin->palette().color(QPalette::Base), normal);
    EXPECT_EQ(window.Find<QSpinBox>("UserOptTestIntervalSpin")->palette().color(QPalette::Base), QColor(0, 255, 0));

    auto* combo = window.Find<QComboBox>("UserOptSensorTypeCombo");
    ASSERT_EQ(combo->count(), 3);
    combo->setCurrentIndex(2);
    emit combo->activated(2);  // O2: 0..30
    EXPECT_DOUBLE_EQ(window.Find<QDoubleSpinBox>("UserOptHighAlarmSpin")->minimum(), 1.0);
    EXPECT_DOUBLE_EQ(window.Find<QDoubleSpinBox>("UserOptHighAlarmSpin")->maximum(), 30.0);
    EXPECT_DOUBLE_EQ(window.Find<QDoubleSpinBox>("FatoryOptSpanGasSpin")->minimum(), 0.0);
    EXPECT_DOUBLE_EQ(window.Find<QDoubleSpinBox>("FatoryOptDeadZoneSpin")->maximum(), 30.0);
    window.form->close();
}

// Text that reaches the user ID and serial number edits by any road is shown
// as the unit will store it, and "Write Device" stores exactly that.
TEST(MainWindow, PastedAndComposedTextIsShownAndWrittenAsStored)
{
    struct Case {
        const char* name;
        QByteArray ini;
        const char* edit;
        const char* button;
        bool inputMethod;  // committed by an input method instead of pasted
        QString text;
        QString shown;
        int offset;        // in the configuration image
        QByteArray stored;
    };
    const QByteArray factoryWritesSerial = kFactoryIni + "[UNIT]\r\nUnitWriteFactoryStart=17\r\nUnitWriteFactorySize=10\r\n";
    const std::vector<Case> cases = {
        {"user ID pasted", {}, "UserIDEdit", "UserWriteDeviceBtn", false, "ab-1#2", "AB-12", 1, "AB-12 "},
        {"user ID composed", {}, "UserIDEdit", "UserWriteDeviceBtn", true, "x y#z", "X YZ", 1, "X YZ  "},
        {"serial pasted", factoryWritesSerial, "UserOptSerialEdit", "UserOptWriteDeviceBtn", false, "sh12", "SH12", 16,
         "SH12000000"},
        {"serial composed", factoryWritesSerial, "UserOptSerialEdit", "UserOptWriteDeviceBtn", true, "s-h 9", "SH9", 16,
         "SH90000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim;
        ASSERT_TRUE(sim.start());
        Window window(c.ini, sim.portPath());
        BoxCloser boxes;  // the read asks before the pasted text goes
        window.form->show();
        QApplication::setActiveWindow(window.form.get());
        auto* edit = window.Find<QLineEdit>(c.edit);
        edit->clear();
        edit->setFocus();
        if (c.inputMethod) {
            QInputMethodEvent commit;
            commit.setCommitString(c.text);
            QApplication::sendEvent(edit, &commit);
        } else {
            QGuiApplication::clipboard()->setText(c.text);
            edit->paste();
        }
        EXPECT_EQ(edit->text(), c.shown);
        // A read first: the unit's own sensor type makes the write acceptable.
        const QString read = QString::fromLatin1(c.button).replace(QStringLiteral("Write"), QStringLiteral("Read"));
        window.Find<QPushButton>(read.toLatin1().constData())->click();
        ASSERT_TRUE(window.WaitForOperation());
        edit->clear();
        QGuiApplication::clipboard()->setText(c.text);
        if (c.inputMethod) {
            QInputMethodEvent commit;
            commit.setCommitString(c.text);
            QApplication::sendEvent(edit, &commit);
        } else {
            edit->paste();
        }
        window.Find<QPushButton>(c.button)->click();
        ASSERT_TRUE(window.WaitForOperation());
        EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), QStringLiteral("Write Varnolite Information... OK"));
        EXPECT_EQ(sim.stateImage().mid(c.offset, c.stored.size()), c.stored);
        window.form->close();
    }
}

// Boxes asked for on the link thread appear on the window, and the buttons
// come back once the operation has ended.
TEST(MainWindow, BoxesFromTheLinkThread)
{
    QTemporaryDir nowhere;
    Window window(kFactoryIni, nowhere.filePath(QStringLiteral("ttyMISSING")));
    window.form->show();
    BoxCloser boxes;
    struct Case {
        const char* button;
        QString box;  // caption|text as the user saw it
        QString status;
        QString question;  // asked first, confirmed
    };
    const Case cases[] = {
        {"FatoryOptLogResetBtn", QStringLiteral("Corvath Beamdock|Error accessing specified device"),
         QStringLiteral("Event Log Reset... Beamdock Connection ERROR"),
         QStringLiteral("Event Log Reset|Save and then clear the event log of the unit in front of the adapter?")},
        {"FatoryOptTurnOffBtn", QStringLiteral("Corvath Beamdock|Error accessing specified device"),
         QStringLiteral("Power Down... Beamdock Connection ERROR"),
         QStringLiteral("Power Down|Turn off the unit in front of the adapter?")},
        {"EtcBeepONBtn", QString(), QString(), QString()},  // reports nothing, whatever happens
        {"UserOptReadDeviceBtn", QStringLiteral("Corvath Beamdock|Error accessing specified device"),
         QStringLiteral("Read Varnolite Information... Beamdock Connection ERROR"), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        boxes.shown.clear();
        const QString statusBefore = window.Find<QLabel>("StatusLabel")->text();
        auto* button = window.Find<QPushButton>(c.button);
        button->click();
        ASSERT_TRUE(window.WaitForOperation());
        EXPECT_TRUE(button->isEnabled());
        if (c.box.isEmpty()) {
            EXPECT_TRUE(boxes.shown.isEmpty());
            EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), statusBefore);
            continue;
        }
        ASSERT_EQ(boxes.shown.size(), c.question.isEmpty() ? 1 : 2);
        EXPECT_EQ(boxes.shown.front(), c.question.isEmpty() ? boxes.shown.front() : c.question);
        EXPECT_TRUE(boxes.shown.back().startsWith(c.box)) << boxes.shown.back().toStdString();
        if (!c.status.isEmpty()) {
            EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), c.status);
            EXPECT_EQ(window.Find<QLabel>("StatusLabel")->palette().color(QPalette::Window), QColor(255, 0, 0));
        }
    }
    window.form->close();
}

// Turning the buttons off must not hand the focus down the chain: the
// scroll box would jump to whatever control took it, under the user's mouse.
TEST(MainWindow, BusyButtonsKeepTheScrollPositionAndTheFocus)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    Window window({}, sim.portPath());
    window.form->show();
    QApplication::setActiveWindow(window.form.get());
    auto* read = window.Find<QPushButton>("UserReadDeviceBtn");
    auto* scroll = window.Find<QScrollArea>("UserScrollBox");
    ASSERT_NE(scroll, nullptr);
    read->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(read->hasFocus());
    const int position = scroll->verticalScrollBar()->value();
    read->click();
    QApplication::processEvents();
    EXPECT_EQ(scroll->verticalScrollBar()->value(), position);
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
    ASSERT_TRUE(window.WaitForOperation());
    QApplication::processEvents();
    EXPECT_TRUE(read->hasFocus());
    EXPECT_EQ(scroll->verticalScrollBar()->value(), position);
}

// The link thread is free a moment before the window has its buttons back
// (the end of an operation reaches the window through its event queue).
// Until then the window still counts the operation as running, so that
// whoever waits for it (a script, a test, a keyboard user) does not press a
// button that is still grey. "Save File" shows it: its workflow makes no
// further call to the window once it has the file name.
TEST(MainWindow, IdleOnlyOnceTheButtonsAreBack)
{
    Window window;
    window.form->show();
    auto* save = window.Find<QPushButton>("UserWriteFileBtn");
    int judged = 0;
    for (int attempt = 0; attempt < 5 && judged == 0; ++attempt) {
        const QString path = window.dir.filePath(QStringLiteral("Configure/idle%1.cfg").arg(attempt));
        bool done = false;
        bool runningSeen = false;
        // Runs on the window's thread just after the link thread got the
        // name; the window then takes no events while the link thread
        // writes the file and ends, so the end waits in the window's queue.
        const auto holdTheWindowAndLook = [&] {
            done = true;
            if (save->isEnabled())
                return;  // the end got through first: nothing to judge this time
            for (int i = 0; i < 500 && !QFile::exists(path); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            runningSeen = window.form->OperationRunning();
            ++judged;
        };
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog && AnswerFileDialog(dialog, path)) {
                answer.stop();
                // The dialog goes with the call that hands its answer over.
                QObject::connect(dialog, &QObject::destroyed, [&] { QTimer::singleShot(0, holdTheWindowAndLook); });
            }
        });
        answer.start(20);
        save->click();
        ASSERT_TRUE(WaitFor([&] { return done && !window.form->OperationRunning(); }));
        EXPECT_TRUE(QFile::exists(path));
        EXPECT_TRUE(save->isEnabled());
        if (judged > 0) {
            EXPECT_TRUE(runningSeen) << "idle while its buttons were still grey";
        }
    }
    EXPECT_EQ(judged, 1) << "the window's end of the operation always got through first";
}

// Three starts of a window with a frame: the place saved at the close is
// the place restored at the start, not moved by the frame each time (it
// crept by the title bar under a decorating window manager).
TEST(MainWindow, SavedPlaceStaysPutFromStartToStart)
{
    Window window("[WINDOW]\r\nWIDTH=640\r\nHEIGHT=700\r\nLEFT=150\r\nTOP=120\r\n");
    for (int start = 0; start < 3; ++start) {
        SCOPED_TRACE(start);
        TVarnoIRMainForm form(window.settings, QString());
        form.show();
        QApplication::processEvents();
        EXPECT_LT(form.frameGeometry().top(), form.geometry().top()) << "a frame above the window's own area";
        // The place is the window's own area whether or not the frame was
        // known when it was restored (a window manager tells it later).
        EXPECT_EQ(form.geometry(), QRect(150, 120, 640, 700));
        form.close();
        QApplication::processEvents();
        const WindowGeometry saved = ReadWindowGeometry(window.settings.programDir);
        EXPECT_EQ(saved.width, 640);
        EXPECT_EQ(saved.height, 700);
        EXPECT_EQ(saved.left, 150);
        EXPECT_EQ(saved.top, 120);
    }
}

TEST(MainWindow, ReadFromTheSimulatorKeepsTheWindowLiveAndSavesScreenshots)
{
    const QString shots = QStringLiteral(BEAMDOCK_BUILD_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(shots));

    SimProcess userSim;
    ASSERT_TRUE(userSim.start());
    {
        Window window({}, userSim.portPath());
        window.form->show();
        auto* read = window.Find<QPushButton>("UserReadDeviceBtn");
        read->click();
        EXPECT_FALSE(read->isEnabled()) << "off while the link is busy";
        EXPECT_FALSE(window.Find<QPushButton>("UserWriteFileBtn")->isEnabled());
        EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), QString()) << "the click returns before any work";
        ASSERT_TRUE(window.WaitForOperation());
        EXPECT_TRUE(read->isEnabled());
        EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), QStringLiteral("Read Varnolite Information... OK"));
        EXPECT_EQ(window.Find<QLabel>("StatusLabel")->palette().color(QPalette::Window), QColor(0, 255, 0));
        EXPECT_EQ(window.Find<QLabel>("UserSerialLabel")->text(), QStringLiteral("SH10000123"));
        EXPECT_EQ(window.Find<QLabel>("UserSWVersionLabel")->text(), QStringLiteral("1.3"));
        EXPECT_TRUE(window.form->grab().save(shots + QStringLiteral("/user-layout.png")));
    }

    SimProcess factorySim;
    ASSERT_TRUE(factorySim.start());
    Window window("[Environment]\r\nModeEntry=ZTR_ENG__\r\n[ETC]\r\nLogEnable=1\r\n[WINDOW]\r\nWIDTH=820\r\n",
                  factorySim.portPath());
    window.form->show();
    window.Find<QPushButton>("UserOptReadDeviceBtn")->click();
    // A close request while the link is busy waits for the operation.
    window.form->close();
    EXPECT_TRUE(window.form->isVisible());
    ASSERT_TRUE(window.WaitForOperation());
    QApplication::processEvents();
    EXPECT_FALSE(window.form->isVisible()) << "closed once the operation ended";
    const QStringList memo = window.Find<QPlainTextEdit>("Memo")->toPlainText().split(QLatin1Char('\n'));
    ASSERT_GE(memo.size(), 8);
    QFile trace(window.dir.filePath(QStringLiteral("Comm.TXT")));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    EXPECT_EQ(trace.readAll(), (memo.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1());
    EXPECT_EQ(ReadWindowGeometry(window.settings.programDir).width, 820);

    window.form->show();
    EXPECT_EQ(window.Find<QLabel>("UserOptIDLabel")->text(), QStringLiteral("Varnolite"));
    EXPECT_EQ(window.Find<QLineEdit>("UserOptSerialEdit")->text(), QStringLiteral("SH10000123"));
    EXPECT_EQ(window.Find<QSpinBox>("UserOptMonthLifeSpin")->value(), 20);
    auto* pages = window.Find<QTabWidget>("PageControl");
    const char* names[] = {"factory-user-options.png", "factory-factory-options.png", "factory-test.png"};
    for (int page = 0; page < 3; ++page) {
        pages->setCurrentIndex(page);
        EXPECT_TRUE(window.form->grab().save(shots + QLatin1Char('/') + QString::fromLatin1(names[page])));
    }
    window.form->close();
}

// The unit line in its four states (with screenshots), the values greyed
// until a unit has filled them, the wheel that leaves an unfocused spin box
// alone, and the question before a close would lose an edit.
TEST(MainWindow, UnitLineWheelAndCloseWithEdits)
{
    const QString shots = QStringLiteral(BEAMDOCK_BUILD_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(shots));
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    Window window({}, sim.portPath());
    const QString file = window.dir.filePath(QStringLiteral("Configure/unit.cfg"));
    ASSERT_TRUE(WriteConfigFile(file.toStdString(), DefaultConfig(), false, QDateTime::currentDateTime()));
    window.form->show();
    QApplication::setActiveWindow(window.form.get());
    auto* line = window.Find<QLabel>("UnitLineLabel");
    auto* high = window.Find<QDoubleSpinBox>("UserHighAlarmSpin");
    ASSERT_NE(line, nullptr);

    // Every box answered, its default button and text kept.
    QStringList boxes;
    bool answerYes = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            const bool defaultNo = box->defaultButton() == box->button(QMessageBox::No);
            boxes << box->text() + (defaultNo ? QStringLiteral(" [No]") : QString());
            box->done(answerYes ? QMessageBox::Yes : QMessageBox::No);
        } else if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            AnswerFileDialog(dialog, file);
        }
    });
    answer.start(20);

    struct Shot {
        const char* name;
        std::function<void()> step;
        QString text;  // a regular expression
        bool greyed;
    };
    const Shot states[] = {
        {"unit-line-defaults.png", [] {}, QStringLiteral("No unit read: the values shown are defaults"), true},
        {"unit-line-read.png", [&] { window.Find<QPushButton>("UserReadDeviceBtn")->click(); },
         QStringLiteral("Unit SH10000123, read \\d\\d:\\d\\d:\\d\\d"), false},
        {"unit-line-edited.png",
         [&] {
             high->setValue(high->value() + 1.0);
             window.Find<QSpinBox>("UserBumpIntervalSpin")->stepUp();
         },
         QStringLiteral("Unit SH10000123, read \\d\\d:\\d\\d:\\d\\d \u2014 2 fields edited"), false},
        {"unit-line-loaded.png",
         [&] {
             answerYes = true;
             window.Find<QPushButton>("UserReadFileBtn")->click();
         },
         QStringLiteral("Loaded from unit.cfg \u2014 not yet written"), false},
    };
    for (const Shot& state : states) {
        SCOPED_TRACE(state.name);
        state.step();
        ASSERT_TRUE(window.WaitForOperation());
        ASSERT_TRUE(WaitFor([&] { return QRegularExpression(QLatin1Char('^') + state.text + QLatin1Char('$'))
                                             .match(line->text())
                                             .hasMatch(); }))
            << line->text().toStdString();
        EXPECT_EQ(high->palette().color(QPalette::Text) == QColor(128, 128, 128), state.greyed);
        // The due dates beside it come from a unit's read, never from a file.
        const QString due = window.Find<QLabel>("DueLineLabel")->text();
        const bool fromUnit = QByteArray(state.name) == "unit-line-read.png" || QByteArray(state.name) == "unit-line-edited.png";
        EXPECT_EQ(QRegularExpression(QStringLiteral("^Calibration (due|overdue|not).* \u00B7 bump test (due|overdue|not)"))
                      .match(due)
                      .hasMatch(),
                  fromUnit)
            << due.toStdString();
        // The longer line is laid out again once the posted layout requests run.
        QApplication::processEvents();
        EXPECT_TRUE(window.form->grab().save(shots + QLatin1Char('/') + QLatin1String(state.name)));
        if (QByteArray(state.name) == "unit-line-edited.png") {
            // The wheel over a spin box without the focus scrolls the page;
            // with the focus it changes the value.
            const double before = high->value();
            const auto turn = [&] {
                QWheelEvent wheel(QPointF(5, 5), high->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
                QApplication::sendEvent(high, &wheel);
            };
            window.Find<QPushButton>("UserReadDeviceBtn")->setFocus();
            turn();
            EXPECT_EQ(high->value(), before);
            high->setFocus();
            turn();
            EXPECT_NE(high->value(), before);
            high->setValue(before);
            // Closing with the edits asks, and No keeps the window.
            window.form->close();
            EXPECT_TRUE(window.form->isVisible());
            EXPECT_EQ(boxes.value(0), QStringLiteral("Discard the edits to 2 fields? [No]"));
        }
    }
    EXPECT_EQ(boxes.size(), 2) << boxes.join(QLatin1Char('|')).toStdString();
    answer.stop();
}

// A page that opens never leaves the focus on a button that resets, clears
// or switches off the unit, whichever control had it before.
TEST(MainWindow, OpeningAPageLeavesNoDestructiveButtonFocused)
{
    Window window(kFactoryIni);
    window.form->show();
    QApplication::setActiveWindow(window.form.get());
    auto* pages = window.Find<QTabWidget>("PageControl");
    for (const char* name : {"FatoryOptLogResetBtn", "FatoryOptTurnOffBtn", "EtcFactoryResetBtn"}) {
        SCOPED_TRACE(name);
        auto* button = window.Find<QPushButton>(name);
        const int page = QByteArray(name).startsWith("Etc") ? 2 : 1;
        pages->setCurrentIndex(page);
        button->setFocus();
        ASSERT_TRUE(button->hasFocus());
        // Away and back: the page gives the focus back to the control that
        // had it there.
        pages->setCurrentIndex(0);
        pages->setCurrentIndex(page);
        EXPECT_TRUE(button->hasFocus()) << "Qt's own restore";
        ASSERT_TRUE(WaitFor([&] { return !button->hasFocus(); }));
        EXPECT_TRUE(pages->isAncestorOf(QApplication::focusWidget())) << "the focus stays on the pages";
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Off screen unless told otherwise: the build lists the tests by running
    // this program, with no display and without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
