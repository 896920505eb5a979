// The "Bump Test" dialog against the simulator: Start runs the test on a
// link thread while the window keeps painting; the reading, the alarm flags
// and the verdict arrive; every control has an accessible name.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "BumpTestDialog.h"
#include "SimProcess.h"

namespace {

template <typename Widget>
Widget* ByName(QWidget& parent, const QString& name)
{
    for (Widget* widget : parent.findChildren<Widget*>())
        if (widget->accessibleName() == name)
            return widget;
    return nullptr;
}

}  // namespace

TEST(BumpDialog, RunsOffTheGuiThreadToItsVerdict)
{
    QTemporaryDir dir;
    const QString control = dir.filePath("gas");
    for (const auto& [name, text] : {std::pair{QStringLiteral("gas"), QByteArray("25")},
                                     std::pair{QStringLiteral("LUMBRA.INI"),
                                               QByteArray("[Environment]\r\nConnectTime=500\r\n[BumpTest]\r\nClearLimit=0\r\n"
                                                          "Expiry=2031-03-31\r\n")}}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    SimProcess sim({"--noise", "0", "--gas-t90", "2", "--gas-control", control});
    ASSERT_TRUE(sim.start());
    const LoadedSettings settings = LoadSettings(dir.path().toStdString() + "/");
    TBumpTestDlg dialog(settings, sim.portPath());
    dialog.show();

    // Every control (a spin box's own editor speaks through the spin box).
    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) || widget->inherits("QAbstractSpinBox") ||
                             (widget->inherits("QLineEdit") && !widget->parentWidget()->inherits("QAbstractSpinBox"));
        if (control) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->metaObject()->className();
        }
    }

    QLabel* result = ByName<QLabel>(dialog, QStringLiteral("Result"));
    QPushButton* start = ByName<QPushButton>(dialog, QStringLiteral("Start the bump test"));
    ASSERT_TRUE(result && start);
    start->click();
    // The GUI thread's timer keeps firing while the test waits on the link.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longestGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(20);
    while (result->text().isEmpty() && clock.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_TRUE(result->text().startsWith(QStringLiteral("Bump test PASSED"))) << result->text().toStdString();
    EXPECT_LT(longestGap, 500) << "the window stopped painting";
    EXPECT_NE(ByName<QLabel>(dialog, QStringLiteral("Reading"))->text(), QStringLiteral("-"));
    EXPECT_TRUE(ByName<QPushButton>(dialog, QStringLiteral("Save the certificate"))->isEnabled());
    EXPECT_EQ(sim.recordedLines().filter(QRegularExpression("^RX 46")).size(), 1);
    if (qEnvironmentVariableIsSet("BEAMDOCK_SCREENSHOT"))
        dialog.grab().save(qEnvironmentVariable("BEAMDOCK_SCREENSHOT"));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
