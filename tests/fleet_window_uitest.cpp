// The fleet window over a generated station file (with screenshots of the
// list and of a unit's timeline) and over a site server that goes away and
// comes back, the window live throughout.
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QKeyEvent>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "EventLoopWait.h"
#include "FileDialogAnswer.h"
#include "FleetModel.h"
#include "FleetSamples.h"
#include "FleetWindow.h"
#include "HistorySamples.h"
#include "HistorySink.h"
#include "PgCluster.h"
#include "SensorTypes.h"
#include "UnitTimeline.h"

namespace {

const QString kShots = QStringLiteral(BEAMDOCK_BUILD_DIR "/screenshots");

void Key(QWidget* to, int key, const QString& text = QString())
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(to, &press);
    QApplication::sendEvent(to, &release);
}

// Presses `button` and answers the save dialog it opens with `path`.
void SaveThrough(QPushButton* button, const QString& path)
{
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); dialog && AnswerFileDialog(dialog, path))
            answer.stop();
    });
    answer.start(20);
    button->click();
}

QString PdfText(const QString& pdf)
{
    QProcess tool;
    tool.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    return tool.waitForFinished(30000) && tool.exitCode() == 0 ? QString::fromUtf8(tool.readAllStandardOutput()) : QString();
}

QPushButton* Button(QWidget* window, const QString& name)
{
    for (auto* button : window->findChildren<QPushButton*>())
        if (button->accessibleName() == name)
            return button;
    return nullptr;
}

// Every control that takes the focus has a name a screen reader speaks.
void ExpectNamed(QWidget* window)
{
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->focusPolicy() == Qt::NoFocus || w->focusProxy())
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr);
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << w->metaObject()->className() << " " << w->objectName().toStdString();
    }
}

TEST(FleetWindow, GeneratedFleetOverdueFirstWithScreenshotsOfTheListAndATimeline)
{
    ASSERT_TRUE(QDir().mkpath(kShots));
    QTemporaryDir dir;
    RHistoryLocation location;
    location.sqlitePath = dir.filePath(QStringLiteral("history.sqlite"));
    QString bumpOperation;
    {
        THistoryStore store;
        QString error;
        ASSERT_TRUE(store.Open(location, error)) << error.toStdString();
        // The first unit's bump test two days ago, with the readings it took.
        std::vector<double> curve;
        for (int s = 0; s <= 40; ++s)
            curve.push_back(s < 3 ? 0.0 : std::min(24.0, (s - 3) * 2.5) - (s > 30 ? (s - 30) * 2.0 : 0.0));
        bumpOperation = RecordBumpTest(store, FleetConfig(QStringLiteral("SN00240000"), 0, 180, "PUMP-A"),
                                       QDateTime::currentMSecsSinceEpoch() - 2 * 86'400'000LL, curve);
        ASSERT_FALSE(bumpOperation.isEmpty());
        ASSERT_TRUE(GenerateFleet(store, 200, QDateTime::currentMSecsSinceEpoch()));
    }
    TFleetWindow window(location, BuiltInSensorTypes(), dir.filePath(QStringLiteral("spool.sqlite")));
    window.resize(1280, 800);
    window.show();
    ASSERT_TRUE(WaitFor([&] { return window.Model()->rowCount() == 200; }));
    QAbstractItemModel* shown = window.Table()->model();
    EXPECT_EQ(shown->data(shown->index(0, TFleetModel::ColStatus)).toString(), QStringLiteral("overdue"));
    EXPECT_EQ(shown->data(shown->index(0, TFleetModel::ColStatus), Qt::BackgroundRole).value<QColor>(), QColor(0xd3, 0x2f, 0x2f));
    EXPECT_EQ(shown->data(shown->index(199, TFleetModel::ColStatus)).toString(), QStringLiteral("ok"));
    EXPECT_TRUE(window.findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly) != nullptr);
    EXPECT_TRUE(window.grab().save(kShots + QStringLiteral("/fleet-list.png")));
    ExpectNamed(&window);

    // From the keyboard: the filter, Enter into the list, Enter opens the unit.
    auto* filter = window.findChild<QLineEdit*>();
    filter->setFocus();
    for (const QChar c : QStringLiteral("sn00240000"))
        Key(filter, c.isDigit() ? Qt::Key_0 + c.digitValue() : Qt::Key_A + (c.toUpper().unicode() - 'A'), QString(c));
    EXPECT_EQ(window.Model()->rowCount(), 1);
    Key(filter, Qt::Key_Return);
    EXPECT_TRUE(window.Table()->hasFocus());
    window.Table()->setCurrentIndex(shown->index(0, 1));
    Key(window.Table(), Qt::Key_Return);
    TUnitTimeline* unit = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        unit = window.findChild<TUnitTimeline*>();
        return unit && unit->EventsLoaded();
    }));
    ASSERT_EQ(unit->Operations()->model()->rowCount(), 3);
    EXPECT_EQ(unit->Operations()->model()->index(0, 0).data().toString(), QStringLiteral("Write Varnolite Configuration"));
    unit->Operations()->setCurrentIndex(unit->Operations()->model()->index(1, 0));
    Key(unit->Operations(), Qt::Key_Up);  // the write selected from the keyboard
    QStringList changed;
    for (int r = 0; r < unit->Changes()->rowCount(); ++r)
        changed << unit->Changes()->item(r, 0)->text() + QLatin1Char('=') + unit->Changes()->item(r, 1)->text() +
                       QStringLiteral("->") + unit->Changes()->item(r, 2)->text();
    EXPECT_EQ(changed.join(QStringLiteral("; ")).toStdString(),
              "User ID=PUMP-A->PUMP-B; High Alarm=15.0->25.0; Low Alarm=10.0->12.0; Calibration Interval (days)=180->90");
    ASSERT_EQ(unit->Events()->model()->rowCount(), 1);
    EXPECT_EQ(unit->Events()->model()->index(0, 5).data().toString(), QStringLiteral("HIGH Alarm"));
    unit->resize(1280, 800);
    EXPECT_TRUE(unit->grab().save(kShots + QStringLiteral("/fleet-unit-timeline.png")));
    ExpectNamed(unit);

    // The bump test: its readings curve, and the certificate the command
    // line makes of it.
    Key(unit->Operations(), Qt::Key_Down);
    Key(unit->Operations(), Qt::Key_Down);
    ASSERT_TRUE(WaitFor([&] { return !unit->Record().isEmpty(); })) << unit->StatusLine().toStdString();
    EXPECT_EQ(unit->CurvePoints(), 41);
    EXPECT_TRUE(unit->CertificateButton()->isEnabled());
    EXPECT_TRUE(unit->grab().save(kShots + QStringLiteral("/fleet-unit-bump.png")));
    ExpectNamed(unit);
    const QString certificate = dir.filePath(QStringLiteral("window.pdf"));
    SaveThrough(unit->CertificateButton(), certificate);
    ASSERT_TRUE(WaitFor([&] { return unit->StatusLine().startsWith(QStringLiteral("Certificate BD-")); }, 30000))
        << unit->StatusLine().toStdString();
    const QString cli = dir.filePath(QStringLiteral("cli.pdf"));
    EXPECT_EQ(QProcess::execute(QStringLiteral(BEAMDOCK_CLI_PATH),
                                {QStringLiteral("--db"), location.sqlitePath, QStringLiteral("history"),
                                 QStringLiteral("certificate"), bumpOperation, QStringLiteral("--out"), cli}),
              0);
    const QString text = PdfText(certificate);
    EXPECT_TRUE(text.contains(QStringLiteral("Dana Safety"))) << text.toStdString();
    EXPECT_EQ(text, PdfText(cli));
    unit->findChild<QTabWidget*>()->setCurrentIndex(1);
    EXPECT_TRUE(unit->grab().save(kShots + QStringLiteral("/fleet-unit-events.png")));
    unit->close();

    // The fleet report: every unit, the overdue ones first, written off the
    // window's thread.
    filter->clear();
    const QString report = dir.filePath(QStringLiteral("fleet.pdf"));
    SaveThrough(Button(&window, QStringLiteral("Export PDF Report")), report);
    ASSERT_TRUE(WaitFor([&] { return window.StatusLine().startsWith(QStringLiteral("Fleet report written")); }, 30000))
        << window.StatusLine().toStdString();
    std::map<QString, bool> overdue;
    for (int r = 0; r < window.Model()->rowCount(); ++r)
        overdue[window.Model()->RowAt(r)->serial] = window.Model()->RowAt(r)->status == FleetStatus::Overdue;
    QStringList printed;
    for (const QRegularExpressionMatch& m : QRegularExpression(QStringLiteral("SN\\d{8}")).globalMatch(PdfText(report)))
        printed << m.captured();
    printed.removeDuplicates();
    EXPECT_EQ(printed.size(), 200);
    const auto firstOk = std::find_if(printed.begin(), printed.end(), [&](const QString& s) { return !overdue[s]; });
    EXPECT_TRUE(firstOk != printed.begin() && std::none_of(firstOk, printed.end(), [&](const QString& s) { return overdue[s]; }))
        << printed.join(QLatin1Char(' ')).toStdString();

    // A larger font: the layout holds at 1280 x 800.
    QFont big = QApplication::font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    QApplication::setFont(big);
    filter->clear();
    window.resize(1280, 800);
    WaitFor([] { return false; }, 50);  // the columns follow the font
    EXPECT_LE(window.minimumSizeHint().width(), 1280);
    EXPECT_LE(window.minimumSizeHint().height(), 800);
    EXPECT_TRUE(window.grab().save(kShots + QStringLiteral("/fleet-list-large-font.png")));
    QApplication::setFont(QFont());
}

TEST(FleetWindow, SiteDatabaseThatGoesAwayAndComesBack)
{
    if (TPgCluster::BinDir().isEmpty())
        GTEST_SKIP() << "PostgreSQL server binaries not found under /usr/lib/postgresql/*/bin";
    TPgCluster cluster;
    QString error;
    ASSERT_TRUE(cluster.Start(error)) << error.toStdString();
    ASSERT_TRUE(cluster.CreateDatabase(QStringLiteral("fleet"), error)) << error.toStdString();
    const std::optional<RHistoryLocation> site = ParseHistoryUrl(cluster.Url(QStringLiteral("fleet")), error);
    ASSERT_TRUE(site) << error.toStdString();
    {
        THistoryStore store;
        ASSERT_TRUE(store.Open(*site, error)) << error.toStdString();
        ASSERT_TRUE(GenerateFleet(store, 20, QDateTime::currentMSecsSinceEpoch()));
    }
    QTemporaryDir dir;
    const QString spool = dir.filePath(QStringLiteral("station.sqlite"));
    {
        // Recorded in the station file before the site was chosen: one unit
        // known only here, one that is spooled again below.
        THistoryStore station;
        RHistoryLocation file;
        file.sqlitePath = spool;
        ASSERT_TRUE(station.Open(file, error)) << error.toStdString();
        const qint64 before = QDateTime::currentMSecsSinceEpoch() - 86'400'000;
        for (const QString& serial : {QStringLiteral("STATION001"), QStringLiteral("LOCAL00001")}) {
            const ROperationStart earlier = SampleStart(QStringLiteral("Read Varnolite Information"), before);
            ASSERT_EQ(station.AppendStart(earlier, error), AppendResult::Stored) << error.toStdString();
            ASSERT_EQ(station.AppendEnd(SampleEnd(earlier, serial), error), AppendResult::Stored) << error.toStdString();
        }
    }
    TFleetWindow window(*site, BuiltInSensorTypes(), spool);
    window.show();
    ASSERT_TRUE(WaitFor([&] { return window.Model()->rowCount() == 20; }));
    EXPECT_TRUE(window.StatusLine().startsWith(QStringLiteral("Read "))) << window.StatusLine().toStdString();

    // The server stops; this station records one operation into its spool.
    cluster.Stop();
    THistorySink sink(*site, spool);
    const ROperationStart start = SampleStart(QStringLiteral("Read Varnolite Information"), QDateTime::currentMSecsSinceEpoch());
    ASSERT_TRUE(sink.Put(start).spooled);
    ASSERT_TRUE(sink.Put(SampleEnd(start, QStringLiteral("LOCAL00001"))).spooled);
    // The window stays live while it finds out: a 10 ms timer keeps ticking.
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    clock.start();
    tick.start(10);
    window.Refresh();
    const QString away = QStringLiteral("site database not reachable: showing the local records; 2 records waiting to be sent");
    ASSERT_TRUE(WaitFor([&] { return window.StatusLine() == away; })) << window.StatusLine().toStdString();
    EXPECT_LT(longest, 200) << "event loop stalled";
    ASSERT_EQ(window.Model()->rowCount(), 2);
    std::vector<QString> serials = {window.Model()->RowAt(0)->serial, window.Model()->RowAt(1)->serial};
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(serials, (std::vector<QString>{QStringLiteral("LOCAL00001"), QStringLiteral("STATION001")}));

    // Back: the spool is sent, the site's list shows again.
    ASSERT_TRUE(cluster.Start(error)) << error.toStdString();
    EXPECT_EQ(sink.Sync().waiting, 0);
    window.Refresh();
    ASSERT_TRUE(WaitFor([&] { return window.Model()->rowCount() == 21; })) << window.StatusLine().toStdString();
    EXPECT_TRUE(window.StatusLine().startsWith(QStringLiteral("Read "))) << window.StatusLine().toStdString();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
