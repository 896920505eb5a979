// The "Production" window against three simulated units at once: the rows
// and totals it shows, a window that stays live while the units are written,
// the accessible names, and a screenshot of it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cstring>

#include "ConfigFile.h"
#include "EventLoopWait.h"
#include "ProductionWindow.h"
#include "SimProcess.h"
#include "SimUnits.h"

namespace {

TEST(ProductionWindow, WritesThreeUnitsAtOnceAndShowsEachResult)
{
    QTemporaryDir dir;
    QFile ini(dir.filePath("LUMBRA.INI"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Environment]\r\nModeEntry=ZTR_ENG__\r\n");
    ini.close();
    const LoadedSettings settings = LoadSettings(dir.path().toStdString() + "/");
    ASSERT_TRUE(settings.factoryMode);
    RZELCFG cfg = DefaultConfig();
    std::memcpy(cfg.mUnit.mUserID, "LINE01", 6);
    cfg.mSensor.mSensorType = 1;
    const QString templatePath = dir.filePath("line.cfg");
    ASSERT_TRUE(WriteConfigFile(templatePath.toStdString(), cfg, true, QDateTime::currentDateTime()));

    SimUnits sim(3, {"--refuse-writes", "3", "--events", "12"});
    QStringList ports;
    for (const std::string& port : sim.Ports())
        ports << QString::fromStdString(port);

    TProductionWindow window(settings, nullptr);
    window.show();
    window.findChild<QLineEdit*>("TemplateEdit")->setText(templatePath);
    window.findChild<QLineEdit*>("PortsEdit")->setText(ports.join(' '));
    window.findChild<QCheckBox*>("SaveLogCheck")->setChecked(true);
    window.findChild<QLineEdit*>("LogDirEdit")->setText(dir.path());
    window.findChild<QCheckBox*>("OnceCheck")->setChecked(true);
    window.findChild<QCheckBox*>("ClearLogCheck")->setChecked(true);
    auto* start = window.findChild<QPushButton*>("StartBtn");
    QElapsedTimer click;
    click.start();
    start->click();
    EXPECT_LT(click.elapsed(), 200) << "Start returns before any unit is written";
    EXPECT_TRUE(window.Running());
    EXPECT_FALSE(start->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return !window.Running(); }));

    auto* table = window.findChild<QTableWidget*>("StationTable");
    ASSERT_EQ(table->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(table->item(row, 0)->text(), ports[row]);
        EXPECT_EQ(table->item(row, 1)->text(), QStringLiteral("SH1000012%1").arg(3 + row));
        EXPECT_TRUE(table->item(row, 5)->text().endsWith(QStringLiteral(" s")));
        EXPECT_EQ(table->item(row, 2)->text(), row < 2 ? prodstep::kDone : prodstep::kWrite);
    }
    EXPECT_EQ(table->item(0, 4)->text(), QStringLiteral("Passed"));
    EXPECT_EQ(table->item(1, 4)->text(), QStringLiteral("Passed"));
    EXPECT_TRUE(table->item(2, 4)->text().startsWith(QStringLiteral("Failed, status 176: ")))
        << table->item(2, 4)->text().toStdString();
    EXPECT_TRUE(window.findChild<QLabel*>("TotalsLabel")->text().startsWith(QStringLiteral("Units done 2   Failed 1")));
    EXPECT_GE(QDir(dir.path()).entryList({"*.CSV"}).size(), 3) << "each unit's event log, saved first";
    // Cleared after a write that passed; the unit that refused keeps its log.
    const QByteArray erased(4, '\xFF');
    for (int unit = 1; unit <= 3; ++unit)
        EXPECT_EQ(sim.Memory(unit).mid(SimProcess::kLogAt, 4) == erased, unit != 3) << "unit " << unit;
    EXPECT_TRUE(start->isEnabled());

    // The window's own controls (Qt's inner parts of the table excepted).
    for (QWidget* control : window.findChildren<QWidget*>())
        if (!control->objectName().isEmpty() && !control->objectName().startsWith(QLatin1String("qt_")))
            EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();

    const QString shots = QStringLiteral(BEAMDOCK_BUILD_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(shots));
    EXPECT_TRUE(window.grab().save(shots + QStringLiteral("/production-window.png")));
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
