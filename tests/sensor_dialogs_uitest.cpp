// The two sensor dialogs as a user meets them: every named control with its
// caption and accessible name, a logging run and a calibration driven by
// clicks against a scripted detector on the window's link thread, a window
// that will not close while it works, the main window's buttons that open
// them, and screenshots of both.
#include <gtest/gtest.h>

#include <QAccessible>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstddef>
#include <functional>
#include <memory>

#include "DeviceSettings.h"
#include "EventLoopWait.h"
#include "LinkThread.h"
#include "ModalAnswerer.h"
#include "ScriptedDetector.h"
#include "SensorChart.h"
#include "SensorReading.h"
#include "SimProcess.h"
#include "TSensorCalDlg.h"
#include "TSensorLogDlg.h"
#include "TVarnoIRMainForm.h"
#include "ZelRecords.h"

namespace {

const QByteArray kFactory = "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n"
                            "[Logging]\r\nInterval=1\r\n[Calibration]\r\nCalibrationCheckTime=1\r\n";

const QString kShots = QStringLiteral(BEAMDOCK_BUILD_DIR "/screenshots");

class DialogBench {
public:
    explicit DialogBench(const QByteArray& ini = kFactory)
    {
        QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
        file.close();
        SetCurrentSettings(LoadSettings(dir.path().toStdString() + "/"));
        link.Link().SetDefPort(detector.Port());
    }
    QTemporaryDir dir;
    ScriptedDetector detector;
    TLinkThread link;
};

template <typename T>
T* Find(QWidget* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

struct Control {
    const char* name;
    const char* type;
    const char* caption;  // text, title, or nullptr
};

void ExpectControls(QWidget* dialog, const std::vector<Control>& controls)
{
    for (const Control& c : controls) {
        SCOPED_TRACE(c.name);
        QWidget* widget = dialog->findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(widget->inherits(c.type)) << widget->metaObject()->className();
        // A caption is spoken as its text, a value display by its caption.
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(spoken, nullptr);
        EXPECT_FALSE(spoken->text(QAccessible::Name).isEmpty());
        if (!c.caption)
            continue;
        QString caption;
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            caption = button->text();
        else if (auto* label = qobject_cast<QLabel*>(widget))
            caption = label->text();
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            caption = group->title();
        EXPECT_EQ(caption, QString::fromUtf8(c.caption));
    }
}

TEST(SensorLogDialog, EveryNamedControl)
{
    DialogBench setup;
    TSensorLogDlg dialog(setup.link, CurrentSettings());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Sensor Reading Data Logging"));
    std::vector<Control> controls = {
        {"StartBtn", "QPushButton", "&Start Logging"}, {"StopBtn", "QPushButton", "S&top Logging"},
        {"SensorChart", "TSensorChart", nullptr}, {"SensorViewGB", "QGroupBox", "Acquired Sensor Value"},
        {"SensorCaptionPanel1", "QLabel", "Sensor"}, {"SensorCheck2", "QCheckBox", "Battery"},
        {"SensorValueHeading", "QLabel", "Reading"}, {"SensorPeakHeading", "QLabel", "Peak / ADC"},
        {"SensorCheck3", "QCheckBox", "Temperature"},
        {"SensorValueLabel1", "QLabel", "0000"}, {"SensorPeakLabel1", "QLabel", "0000"},
        {"SensorValueLabel2", "QLabel", "0000"}, {"SensorPeakLabel2", "QLabel", "0000"},
        {"SensorValueLabel3", "QLabel", "0000"}, {"SensorPeakLabel3", "QLabel", "0000"},
        {"SensorHistoryGB", "QGroupBox", "History"}, {"SensorAlarmGB", "QGroupBox", "Alarm"},
        {"SensorHistoryCheck1", "QCheckBox", "Self Test Fail"}, {"SensorHistoryCheck2", "QCheckBox", "Calibration Fail"},
        {"SensorHistoryCheck3", "QCheckBox", "Bump Test Fail"}, {"SensorHistoryCheck4", "QCheckBox", "Calibration Due"},
        {"SensorHistoryCheck5", "QCheckBox", "Bump Due"},
        {"SensorHistoryCheck6", "QCheckBox", "Calibration progress"},
        {"SensorAlarmCheck1", "QCheckBox", "TWA"}, {"SensorAlarmCheck2", "QCheckBox", "STEL"},
        {"SensorAlarmCheck3", "QCheckBox", "LOW"}, {"SensorAlarmCheck4", "QCheckBox", "HIGH"},
        {"SensorAlarmCheck5", "QCheckBox", "MULTI"},
        {"CalGB", "QGroupBox", "Calibration"}, {"CalBtn", "QPushButton", "&Calibration"},
        {"ZeroBtn", "QPushButton", "&Zero"}, {"SpanBtn", "QPushButton", "Spa&n"},
        {"CalAbortBtn", "QPushButton", "Cal. &Abort"}, {"CalProgressBar", "QProgressBar", nullptr},
        {"CalLabel", "QLabel", ""}, {"CalProgLabel", "QLabel", "(0)"},
        {"ClearPeakBtn", "QPushButton", "Clear P&eak"}, {"BumpPassBtn", "QPushButton", "Bump &Pass"},
        {"BumpFailBtn", "QPushButton", "Bump &Fail"},
    };
    ExpectControls(&dialog, controls);
    EXPECT_TRUE(Find<QPushButton>(&dialog, "StartBtn")->isEnabled());
    for (const char* off : {"StopBtn", "CalBtn", "ZeroBtn", "SpanBtn", "CalAbortBtn", "ClearPeakBtn", "BumpPassBtn",
                            "BumpFailBtn"})
        EXPECT_FALSE(Find<QPushButton>(&dialog, off)->isEnabled()) << off;
    for (const char* flag : {"SensorHistoryCheck1", "SensorHistoryCheck6", "SensorAlarmCheck1", "SensorAlarmCheck5"})
        EXPECT_FALSE(Find<QCheckBox>(&dialog, flag)->isEnabled()) << flag << " only displays";
    EXPECT_TRUE(Find<QCheckBox>(&dialog, "SensorCheck2")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(&dialog, "SensorCheck3")->isChecked());
    EXPECT_EQ(dialog.width(), 692);
    EXPECT_EQ(dialog.minimumWidth(), 692);
    EXPECT_GE(dialog.minimumHeight(), 326);
    EXPECT_EQ(dialog.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)) << "may grow both ways";
    EXPECT_EQ(dialog.palette().color(QPalette::Window), QColor(227, 227, 227));
    EXPECT_EQ(Find<QLabel>(&dialog, "SensorPeakLabel1")->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(Find<QLabel>(&dialog, "SensorValueLabel1")->font().pixelSize(), 24);
}

TEST(SensorLogDialog, ARunFromStartToStop)
{
    DialogBench setup;
    setup.detector.SetReading(sensormode::kGas, RZELSensor{1234, 1500, 0x22, alarmbit::kLow});
    TSensorLogDlg dialog(setup.link, CurrentSettings());
    dialog.show();
    ModalAnswerer answers;
    const QString path = setup.dir.filePath(QStringLiteral("DAT/run.CSV"));
    answers.savePath = path;

    auto* start = Find<QPushButton>(&dialog, "StartBtn");
    auto* stop = Find<QPushButton>(&dialog, "StopBtn");
    start->click();
    EXPECT_FALSE(start->isEnabled()) << "off at once";
    ASSERT_TRUE(WaitFor([&] { return dialog.Chart()->PointCount() >= 3; }));
    EXPECT_EQ(answers.dialogs, QStringList{QStringLiteral("Save Logging Data...")});
    EXPECT_TRUE(answers.shown.isEmpty()) << answers.shown.join('|').toStdString();
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(&dialog, "ZeroBtn")->isEnabled());
    EXPECT_EQ(Find<QLabel>(&dialog, "SensorValueLabel1")->text(), QStringLiteral("12.34"));
    EXPECT_EQ(Find<QLabel>(&dialog, "SensorPeakLabel1")->text(), QStringLiteral("15.00"));
    EXPECT_EQ(Find<QLabel>(&dialog, "SensorValueLabel2")->text(), QStringLiteral("3.05"));
    EXPECT_EQ(Find<QLabel>(&dialog, "SensorPeakLabel3")->text(), QStringLiteral("512"));
    EXPECT_TRUE(Find<QCheckBox>(&dialog, "SensorHistoryCheck4")->isChecked()) << "Calibration Due";
    EXPECT_FALSE(Find<QCheckBox>(&dialog, "SensorHistoryCheck1")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(&dialog, "SensorAlarmCheck3")->isChecked()) << "LOW";
    EXPECT_DOUBLE_EQ(dialog.Chart()->BottomMin(), 0);
    EXPECT_DOUBLE_EQ(dialog.Chart()->BottomMax(), 120);
    EXPECT_LE(dialog.Chart()->LeftMin(), 12.34);
    EXPECT_GE(dialog.Chart()->LeftMax(), 12.34);
    EXPECT_EQ(dialog.Chart()->BottomTitle(), QStringLiteral("Time (s)"));
    EXPECT_EQ(dialog.Chart()->LeftTitle(), QStringLiteral("H2S (ppm)"));
    // What the window gains goes to the chart.
    const QSize chart = dialog.Chart()->size();
    dialog.resize(dialog.width() + 300, dialog.height() + 200);
    QApplication::processEvents();
    EXPECT_GE(dialog.Chart()->width(), chart.width() + 250);
    EXPECT_GE(dialog.Chart()->height(), chart.height() + 180);

    // The window stays while the run holds the link.
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());

    Find<QPushButton>(&dialog, "ClearPeakBtn")->click();
    auto* calLabel = Find<QLabel>(&dialog, "CalLabel");
    ASSERT_TRUE(WaitFor([&] { return calLabel->text() == QStringLiteral("Clear Peak ... OK"); }));
    EXPECT_EQ(calLabel->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    ASSERT_TRUE(QDir().mkpath(kShots));
    EXPECT_TRUE(dialog.grab().save(kShots + QStringLiteral("/sensor-logging.png")));

    stop->click();
    ASSERT_TRUE(WaitFor([&] { return !setup.link.Busy() && start->isEnabled(); }));
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(&dialog, "ClearPeakBtn")->isEnabled());
    EXPECT_EQ(calLabel->text(), QString());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray csv = file.readAll();
    EXPECT_TRUE(csv.startsWith("Product Name,Corvath Varnolite\r\n"));
    EXPECT_TRUE(csv.contains(",12.34,15.00,,,,YES,,,LOW,,3.05,700,23.5,512\r\n\r\n"));
    dialog.close();
    EXPECT_FALSE(dialog.isVisible());
}

TEST(SensorLogDialog, UnreadableUnitGivesItsBoxAndTheWindowBack)
{
    DialogBench setup;
    setup.detector.SetSilent(true);
    TSensorLogDlg dialog(setup.link, CurrentSettings());
    dialog.show();
    ModalAnswerer answers;
    Find<QPushButton>(&dialog, "StartBtn")->click();
    ASSERT_TRUE(WaitFor([&] { return !setup.link.Busy() && !answers.shown.isEmpty(); }));
    EXPECT_EQ(answers.shown, QStringList{QStringLiteral("Varnolite Unit Information Error|Do not read Varnolite "
                                                        "unit configuration data\nCheck Varnolite and Beamdock connection")});
    ASSERT_TRUE(WaitFor([&] { return Find<QPushButton>(&dialog, "StartBtn")->isEnabled(); }));
    EXPECT_FALSE(dialog.Running());
    dialog.close();
    EXPECT_FALSE(dialog.isVisible());
}

TEST(SensorCalDialog, EveryNamedControl)
{
    DialogBench setup;
    TSensorCalDlg dialog(setup.link, CurrentSettings());
    ASSERT_TRUE(dialog.Prepare(ScriptedDetector::DefaultUnitConfig()));
    QApplication::processEvents();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Sensor Calibration (H2S)"));
    ExpectControls(&dialog, {
                                {"CalBtn", "QPushButton", "&Calibration"},
                                {"CalAbortBtn", "QPushButton", "C&ancel"},
                                {"CloseBtn", "QPushButton", "Cl&ose"},
                                {"SpanGasLabel", "QLabel", "Span Gas"},
                                {"SpanGasSpin", "QDoubleSpinBox", nullptr},
                                {"CalUnitLabel", "QLabel", "ppm"},
                                {"CalProgressBar", "QProgressBar", nullptr},
                                {"CalLabel", "QLabel", ""},
                                {"CalLabel1", "QLabel", ""},
                                {"CalLabel2", "QLabel", ""},
                            });
    auto* spin = Find<QDoubleSpinBox>(&dialog, "SpanGasSpin");
    EXPECT_EQ(spin->decimals(), 1);
    EXPECT_DOUBLE_EQ(spin->minimum(), 0);
    EXPECT_DOUBLE_EQ(spin->maximum(), 100);
    EXPECT_DOUBLE_EQ(spin->value(), 25.0);
    spin->setValue(150);
    EXPECT_DOUBLE_EQ(spin->value(), 100.0) << "only values inside the sensor's range";
    EXPECT_FALSE(Find<QPushButton>(&dialog, "CalAbortBtn")->isEnabled());
    // The calibration's own controls keep their 470 x 216 form; the record
    // panel comes below it.
    dialog.layout()->activate();
    EXPECT_EQ(dialog.width(), 470);
    EXPECT_EQ(Find<QGroupBox>(&dialog, "CalGroupBox")->geometry(), QRect(6, 6, 458, 204));
    EXPECT_GE(Find<QGroupBox>(&dialog, "CalCheckPanel")->y(), 216);
    EXPECT_EQ(Find<QLabel>(&dialog, "SpanGasLabel")->palette().color(QPalette::Window), QColor(109, 182, 182));
    EXPECT_EQ(Find<QLabel>(&dialog, "CalLabel2")->font().pixelSize(), 16);
}

TEST(SensorCalDialog, CancelDuringTheSpanPhase)
{
    DialogBench setup;
    setup.detector.SetGasFlags(0x01 | historybit::kCalibrationProgress, 0);
    TSensorCalDlg dialog(setup.link, CurrentSettings());
    ASSERT_TRUE(dialog.Prepare(ScriptedDetector::DefaultUnitConfig()));
    dialog.show();
    ModalAnswerer answers;

    auto* cal = Find<QPushButton>(&dialog, "CalBtn");
    auto* cancel = Find<QPushButton>(&dialog, "CalAbortBtn");
    auto* close = Find<QPushButton>(&dialog, "CloseBtn");
    auto* apply = Find<QLabel>(&dialog, "CalLabel1");
    auto* result = Find<QLabel>(&dialog, "CalLabel2");
    cal->click();
    EXPECT_FALSE(cal->isEnabled());
    EXPECT_FALSE(close->isEnabled());
    // The three lines come as three queued calls; the result line is the last.
    ASSERT_TRUE(WaitFor([&] { return result->text() == QStringLiteral("SPAN Calibration..."); }));
    EXPECT_EQ(apply->text(), QStringLiteral("Apply SPAN Gas (H2S)... 25 ppm"));
    EXPECT_EQ(apply->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(Find<QLabel>(&dialog, "CalLabel")->text(), QStringLiteral("Zero Calibration... OK"));
    EXPECT_TRUE(cancel->isEnabled());
    EXPECT_EQ(Find<QProgressBar>(&dialog, "CalProgressBar")->maximum(), 180);
    dialog.close();
    EXPECT_TRUE(dialog.isVisible()) << "not while calibrating";
    ASSERT_TRUE(WaitFor([&] { return setup.detector.CountCommand(0x20) >= 1; }));
    ASSERT_TRUE(QDir().mkpath(kShots));
    EXPECT_TRUE(dialog.grab().save(kShots + QStringLiteral("/sensor-calibration.png")));

    cancel->click();
    ASSERT_TRUE(WaitFor([&] { return result->text() == QStringLiteral("Calibration... User Stop"); }));
    EXPECT_EQ(result->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    ASSERT_TRUE(WaitFor([&] { return !setup.link.Busy() && close->isEnabled(); }));
    EXPECT_TRUE(cal->isEnabled());
    EXPECT_FALSE(cancel->isEnabled());
    EXPECT_EQ(setup.detector.CountCommand(0x43), 1);
    EXPECT_TRUE(answers.shown.isEmpty());
    close->click();
    EXPECT_FALSE(dialog.isVisible());
}

TEST(SensorCalDialog, RefusedZeroAndUnknownSensor)
{
    DialogBench setup;
    setup.detector.SetSensorReply(0x42, 0x42);
    TSensorCalDlg dialog(setup.link, CurrentSettings());
    ASSERT_TRUE(dialog.Prepare(ScriptedDetector::DefaultUnitConfig()));
    dialog.show();
    Find<QPushButton>(&dialog, "CalBtn")->click();
    auto* status = Find<QLabel>(&dialog, "CalLabel");
    ASSERT_TRUE(WaitFor([&] { return status->text() == QStringLiteral("Zero Calibration... FAIL"); }));
    EXPECT_EQ(status->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    ASSERT_TRUE(WaitFor([&] { return !setup.link.Busy() && Find<QPushButton>(&dialog, "CloseBtn")->isEnabled(); }));
    dialog.close();

    ModalAnswerer answers;
    RZELCFG unknown = ScriptedDetector::DefaultUnitConfig();
    unknown.mSensor.mSensorType = 9;
    TSensorCalDlg other(setup.link, CurrentSettings());
    other.ShowDlg(unknown);  // returns at once: no window for it
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(answers.shown,
              QStringList{QStringLiteral("Wrong Sensor|Sensor type is wrong\nDid not sensor calibration")});
}

// The main window's buttons open the dialogs, each once its own read has
// left the link thread.
TEST(SensorToolsInTheWindow, ButtonsOpenTheDialogs)
{
    struct Case {
        QByteArray ini;
        const char* button;
        QString title;
    };
    const Case cases[] = {
        {"[Environment]\r\nModeEntry=ZTR_ENG__\r\n", "FatoryOptLogSensorBtn",
         QStringLiteral("Sensor Reading Data Logging")},
        {{}, "UserCalBtn", QStringLiteral("Sensor Calibration (H2S)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        QTemporaryDir dir;
        if (!c.ini.isEmpty()) {
            QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.ini);
        }
        SetCurrentSettings(LoadSettings(dir.path().toStdString() + "/"));
        ScriptedDetector detector;
        TVarnoIRMainForm form(CurrentSettings(), QString::fromStdString(detector.Port()));
        form.show();
        QStringList opened;
        ModalAnswerer answers;
        answers.onDialog = [&opened](QWidget* dialog) {
            if (qobject_cast<TSensorLogDlg*>(dialog) || qobject_cast<TSensorCalDlg*>(dialog)) {
                opened << dialog->windowTitle();
                dialog->close();
            }
        };
        form.findChild<QPushButton*>(QString::fromLatin1(c.button))->click();
        ASSERT_TRUE(WaitFor([&] { return !opened.isEmpty() && !form.OperationRunning(); }));
        EXPECT_EQ(opened, QStringList{c.title});
        EXPECT_TRUE(answers.shown.isEmpty()) << answers.shown.join('|').toStdString();
        form.close();
    }
}

// The technician's way to a calibration, against the simulated detector: the
// window's "Sensor Calibration" reads the unit and opens the dialog; its
// calibration runs zero then span on the unit and ends OK, and the unit's
// calibration fields have changed.
TEST(SensorToolsInTheWindow, CalibrationAgainstTheSimulator)
{
    // Long enough for the first poll (at 5 s) to find it in progress: one
    // that ended before would look like a start the unit never took.
    SimProcess sim({QStringLiteral("--cal-seconds"), QStringLiteral("7"), QStringLiteral("--noise"), QStringLiteral("0")});
    ASSERT_TRUE(sim.start());
    const QByteArray before = sim.stateImage();
    QTemporaryDir dir;
    SetCurrentSettings(LoadSettings(dir.path().toStdString() + "/"));
    TVarnoIRMainForm form(CurrentSettings(), sim.portPath());
    form.show();
    QStringList texts;
    bool clicked = false;
    bool closed = false;
    ModalAnswerer answers;
    answers.onDialog = [&](QWidget* dialog) {
        if (!qobject_cast<TSensorCalDlg*>(dialog))
            return;
        auto* cal = Find<QPushButton>(dialog, "CalBtn");
        auto* result = Find<QLabel>(dialog, "CalLabel2");
        if (!clicked) {
            clicked = true;
            cal->click();
        } else if (result->text().startsWith(QStringLiteral("Calibration ...")) &&
                   Find<QPushButton>(dialog, "CloseBtn")->isEnabled()) {
            texts << dialog->windowTitle() << Find<QLabel>(dialog, "CalLabel")->text()
                  << Find<QLabel>(dialog, "CalLabel1")->text() << result->text();
            closed = true;
            dialog->close();
        }
    };
    form.findChild<QPushButton*>(QStringLiteral("UserCalBtn"))->click();
    ASSERT_TRUE(WaitFor([&] { return closed && !form.OperationRunning(); }, 60000));
    EXPECT_EQ(texts, (QStringList{QStringLiteral("Sensor Calibration (H2S)"), QStringLiteral("Zero Calibration... OK"),
                                  QStringLiteral("Apply SPAN Gas (H2S)... 25 ppm"),
                                  QStringLiteral("Calibration ... OK")}));
    EXPECT_TRUE(answers.shown.isEmpty()) << answers.shown.join('|').toStdString();
    EXPECT_FALSE(form.findChild<QLabel*>(QStringLiteral("StatusLabel"))->text().contains(QStringLiteral("FAIL")));
    // The unit has recorded the calibration: the life count at its end.
    constexpr int kLastCalAt = sizeof(RZELUnitCFG) + offsetof(RZELSensorCFG, mLastCal);
    EXPECT_NE(sim.stateImage().mid(kLastCalAt, 4), before.mid(kLastCalAt, 4));
    form.close();
}

// A logging run from the factory page, against the simulated detector: the
// dialog shows the unit's readings and the data log holds one record a
// reading, each followed by an empty line.
TEST(SensorToolsInTheWindow, LoggingAgainstTheSimulator)
{
    SimProcess sim({QStringLiteral("--gas"), QStringLiteral("12.5"), QStringLiteral("--noise"), QStringLiteral("0")});
    ASSERT_TRUE(sim.start());
    QTemporaryDir dir;
    {
        QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kFactory);
    }
    SetCurrentSettings(LoadSettings(dir.path().toStdString() + "/"));
    TVarnoIRMainForm form(CurrentSettings(), sim.portPath());
    form.show();
    const QString path = dir.filePath(QStringLiteral("DAT/window.CSV"));
    ModalAnswerer answers(path);
    enum class Step { Start, Stop, Close, Done } step = Step::Start;
    QString shown;
    answers.onDialog = [&](QWidget* widget) {
        auto* dialog = qobject_cast<TSensorLogDlg*>(widget);
        if (!dialog)
            return;
        auto* start = Find<QPushButton>(dialog, "StartBtn");
        if (step == Step::Start) {
            start->click();
            step = Step::Stop;
        } else if (step == Step::Stop && dialog->Chart()->PointCount() >= 3) {
            shown = Find<QLabel>(dialog, "SensorValueLabel1")->text();
            Find<QPushButton>(dialog, "StopBtn")->click();
            step = Step::Close;
        } else if (step == Step::Close && start->isEnabled() && !dialog->Running()) {
            step = Step::Done;
            dialog->close();
        }
    };
    form.findChild<QPushButton*>(QStringLiteral("FatoryOptLogSensorBtn"))->click();
    ASSERT_TRUE(WaitFor([&] { return step == Step::Done && !form.OperationRunning(); }, 30000));
    EXPECT_EQ(shown, QStringLiteral("12.5"));
    EXPECT_EQ(answers.dialogs, QStringList{QStringLiteral("Save Logging Data...")});
    EXPECT_TRUE(answers.shown.isEmpty()) << answers.shown.join('|').toStdString();

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray log = file.readAll();
    EXPECT_TRUE(log.startsWith("Product Name,Corvath Varnolite\r\nLog Type,Data Log\r\nSerial Number,SH10000123\r\n"));
    const QList<QByteArray> records = log.mid(log.indexOf("\r\n\r\n") + 4).split('\n');
    int readings = 0;
    for (const QByteArray& line : records)
        if (line.contains(",12.5,12.5,"))
            ++readings;
    EXPECT_GE(readings, 3) << log.constData();
    EXPECT_TRUE(log.endsWith(",432\r\n\r\n")) << "each record followed by an empty line";
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
