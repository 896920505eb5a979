// The TEST page in the real window: its controls and tags, the cell drawing
// of the EEPROM grid checked on a grabbed image, the test-output hold seen
// from the window, and the window's width with the trace beside it.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

#include "DeviceSettings.h"
#include "FactoryTestWorkflows.h"
#include "FileDialogAnswer.h"
#include "SimProcess.h"
#include "TVarnoIRMainForm.h"

namespace {

const QByteArray kFactoryIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\n";

class Window {
public:
    explicit Window(const QByteArray& ini, const QString& port = {})
    {
        QFile file(dir.filePath(QStringLiteral("LUMBRA.INI")));
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
        file.close();
        settings = LoadSettings(dir.path().toStdString() + "/");
        form = std::make_unique<TVarnoIRMainForm>(settings, port);
    }
    template <typename T>
    T* Find(const char* name) const
    {
        return form->findChild<T*>(QString::fromLatin1(name));
    }
    void ShowTestPage()
    {
        form->show();
        Find<QTabWidget>("PageControl")->setCurrentIndex(2);
        QApplication::processEvents();
    }
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

TEST(TestPage, ButtonsGridAndTags)
{
    Window window(kFactoryIni);
    // Every command row names a button of the form, with the caption the
    // technician knows and the tag its handler tells it by.
    const char* captions[] = {"&Calibration", "&Turn Off", "&Factory Reset", "&Identify", "&Beep ON", "&R LED ON",
                              "&L LED ON", "&Vibrator", "&Clear Peak", "Bump F&ail", "Bump &Pass"};
    ASSERT_EQ(FactoryCommandTable().size(), std::size(captions));
    for (std::size_t i = 0; i < std::size(captions); ++i) {
        const RFactoryCommand& row = FactoryCommandTable()[i];
        auto* button = window.Find<QPushButton>(row.button);
        ASSERT_NE(button, nullptr) << row.button;
        EXPECT_EQ(button->text(), QString::fromLatin1(captions[i]));
        EXPECT_EQ(button->property("tag").toInt(), row.tag) << row.button;
    }
    auto* group = window.Find<QGroupBox>("EtcEEPROMGB");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->findChild<QPushButton*>(QStringLiteral("EtcEEPROMReadBtn"))->text(), QStringLiteral("R&ead"));
    EXPECT_EQ(group->findChild<QPushButton*>(QStringLiteral("EtcEEPROMSaveBtn"))->text(), QStringLiteral("&Save File"));
    auto* grid = group->findChild<QTableView*>(QStringLiteral("EtcEEPROMGrid"));
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->columnWidth(0), 44);
    for (int column = 1; column < 17; ++column)
        EXPECT_EQ(grid->columnWidth(column), 22) << column;
    EXPECT_EQ(grid->rowHeight(40), 17);
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::ContiguousSelection);
    EXPECT_EQ(grid->font().pixelSize(), 12);
}

bool Dark(QColor c) { return c.red() < 90 && c.green() < 90 && c.blue() < 90; }
bool Light(QColor c) { return c.red() > 170 && c.green() > 170 && c.blue() > 170; }

struct CellPixels {
    QColor edge;        // fill, just inside the cell's left edge
    int textPixels = 0; // pixels of the text colour
    int leftGap = -1;   // text's distance from the left and right edges
    int rightGap = -1;
};

CellPixels Sample(const QImage& image, QRect cell, bool (*isText)(QColor))
{
    CellPixels pixels;
    pixels.edge = image.pixelColor(cell.left() + 2, cell.center().y());
    int left = cell.right();
    int right = cell.left();
    for (int y = cell.top() + 1; y < cell.bottom(); ++y) {
        for (int x = cell.left() + 1; x < cell.right(); ++x) {
            if (!isText(image.pixelColor(x, y)))
                continue;
            ++pixels.textPixels;
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    if (pixels.textPixels > 0) {
        pixels.leftGap = left - cell.left();
        pixels.rightGap = cell.right() - right;
    }
    return pixels;
}

// The three kinds of cell on a grabbed image: fill colour, text colour and
// the text centred.
TEST(TestPage, GridCellsAreDrawnByKind)
{
    Window window(kFactoryIni);
    window.ShowTestPage();
    auto* grid = window.Find<QTableView>("EtcEEPROMGrid");
    QAbstractItemModel* model = grid->model();
    grid->selectionModel()->select(QItemSelection(model->index(1, 3), model->index(2, 4)),
                                   QItemSelectionModel::ClearAndSelect);
    QApplication::processEvents();
    const QImage image = grid->viewport()->grab().toImage();
    ASSERT_FALSE(image.isNull());
    const qreal scale = image.devicePixelRatio();
    ASSERT_EQ(scale, 1.0);

    struct Case {
        const char* kind;
        QModelIndex index;
        QColor fill;
        bool (*isText)(QColor);
    };
    const Case cases[] = {
        {"fixed", model->index(1, 0), QApplication::palette().color(QPalette::Button), Dark},
        {"selected", model->index(2, 4), QColor(0, 0, 255), Light},
        {"normal", model->index(2, 5), QColor(255, 255, 255), Dark},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        const CellPixels pixels = Sample(image, grid->visualRect(c.index), c.isText);
        EXPECT_EQ(pixels.edge, c.fill);
        EXPECT_GT(pixels.textPixels, 5) << "the text is drawn in its own colour";
        EXPECT_LE(std::abs(pixels.leftGap - pixels.rightGap), 2) << pixels.leftGap << " " << pixels.rightGap;
    }
    const QString shots = QStringLiteral(BEAMDOCK_BUILD_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(shots));
    EXPECT_TRUE(grid->grab().save(shots + QStringLiteral("/eeprom-grid-cells.png")));
}

// With the trace shown the window opens wide enough for the panel and the
// trace side by side; a saved width still wins over the default.
TEST(TestPage, WindowMakesRoomForTheTrace)
{
    struct Case {
        QByteArray ini;
        int width;
        int minimumWidth;
    };
    const Case cases[] = {
        {"[ETC]\r\nLogEnable=1\r\n", 780, 780},  // no saved geometry: room for both
        {"[ETC]\r\nLogEnable=1\r\n[WINDOW]\r\nWIDTH=900\r\n", 900, 780},
        {"[ETC]\r\nLogEnable=1\r\n[WINDOW]\r\nWIDTH=600\r\n", 780, 780},  // never narrower than both
        {"[WINDOW]\r\nWIDTH=600\r\n", 600, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini.constData());
        Window window(kFactoryIni + c.ini);
        window.form->show();
        QApplication::processEvents();
        EXPECT_EQ(window.form->width(), c.width);
        EXPECT_EQ(window.form->minimumWidth(), c.minimumWidth);
        EXPECT_GE(window.Find<QWidget>("MainArea")->width(), 500);
        auto* pages = window.Find<QTabWidget>("PageControl");
        EXPECT_LE(pages->tabBar()->sizeHint().width(), pages->width()) << "every tab shows";
        window.form->close();
    }
}

// A test output holds the link on the link thread: the window keeps
// running, reports nothing, and no other command can start meanwhile.
TEST(TestPage, OutputHoldKeepsTheWindowLiveAndTheOtherButtonsOff)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    Window window(kFactoryIni + "AVOperate=1000\r\n", sim.portPath());
    window.ShowTestPage();
    auto* beep = window.Find<QPushButton>("EtcVibratorBtn");
    auto* identify = window.Find<QPushButton>("EtcIdentifyBtn");
    int ticks = 0;
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&ticks] { ++ticks; });
    clock.start(20);

    beep->click();
    EXPECT_FALSE(identify->isEnabled());
    EXPECT_FALSE(window.Find<QPushButton>("EtcEEPROMReadBtn")->isEnabled());
    EXPECT_FALSE(window.Find<QPushButton>("UserOptReadDeviceBtn")->isEnabled());
    QEventLoop wait;
    QTimer::singleShot(600, &wait, &QEventLoop::quit);
    wait.exec();
    EXPECT_TRUE(window.form->OperationRunning()) << "still holding";
    EXPECT_GE(ticks, 15) << "the window handles its events during the hold";
    identify->click();  // off: nothing happens
    ASSERT_TRUE(window.WaitForOperation());
    EXPECT_TRUE(identify->isEnabled());
    EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), QString());
    QStringList commands;
    for (const QString& line : sim.recordedLines()) {
        if (line.startsWith(QStringLiteral("RX ")) && !line.startsWith(QStringLiteral("RX B2")))
            commands << line.mid(3, 2);
    }
    EXPECT_EQ(commands, (QStringList{"34", "B3"}));
    window.form->close();
}

// Every button of both factory pages, clicked in the window: each reaches
// the simulated unit with its own command byte (the tags pick the right
// row), and every box it opens is the one its command shows.
TEST(TestPage, EveryButtonReachesTheUnitWithItsCommand)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    Window window(kFactoryIni + "AVOperate=100\r\n", sim.portPath());
    window.ShowTestPage();
    QStringList boxes;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&boxes] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxes << box->windowTitle();
            // The questions before Factory Reset and Turn Off are confirmed.
            box->done(box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok);
        }
    });
    closer.start(20);
    for (const RFactoryCommand& row : FactoryCommandTable()) {
        SCOPED_TRACE(row.button);
        const qsizetype from = sim.recordedLines().size();
        boxes.clear();
        window.Find<QPushButton>(row.button)->click();
        ASSERT_TRUE(window.WaitForOperation());
        QApplication::processEvents();
        QStringList commands;
        const QStringList lines = sim.recordedLines();
        for (qsizetype i = from; i < lines.size(); ++i) {
            if (lines[i].startsWith(QStringLiteral("RX ")) && !lines[i].startsWith(QStringLiteral("RX B2")))
                commands << lines[i].mid(3, 2);
        }
        const QString byte = QString::number(row.commandByte, 16).toUpper();
        EXPECT_TRUE(commands.contains(byte)) << commands.join(' ').toStdString();
        // The unit has not been calibrated: power-down is refused with a box.
        QStringList expected;
        if (row.handler == FactoryHandler::EtcIdentify)
            expected << QStringLiteral("Varnolite Identify");
        if (row.handler == FactoryHandler::FatoryOptTurnOff)
            expected << QStringLiteral("Power Down") << QStringLiteral("Power Down");  // the question, the refusal
        if (row.handler == FactoryHandler::EtcFactoryReset)
            expected << QStringLiteral("Fatory Reset");
        EXPECT_EQ(boxes, expected);
    }
    window.form->close();
}

// Read, type into a cell, save through the window's own file dialog: the
// file holds the grid as the user sees it.
TEST(TestPage, ReadEditAndSaveThroughTheWindow)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start());
    Window window(kFactoryIni + "[EEPROM]\r\nReadStartAddress=128\r\n", sim.portPath());
    window.ShowTestPage();
    window.Find<QPushButton>("EtcEEPROMReadBtn")->click();
    ASSERT_TRUE(window.WaitForOperation());
    EXPECT_EQ(window.Find<QLabel>("StatusLabel")->text(), QStringLiteral("Read EEPROM data... OK"));
    QApplication::processEvents();
    auto* grid = window.Find<QTableView>("EtcEEPROMGrid");
    QAbstractItemModel* model = grid->model();
    EXPECT_EQ(model->index(7, 16).data().toString(), QStringLiteral("FF")) << "before the start address";
    EXPECT_EQ(model->index(8, 1).data().toString(), QStringLiteral("02")) << "the identity's model byte";
    const QString shots = QStringLiteral(BEAMDOCK_BUILD_DIR "/screenshots");
    ASSERT_TRUE(QDir().mkpath(shots));
    EXPECT_TRUE(window.form->grab().save(shots + QStringLiteral("/factory-test-after-read.png")));

    grid->setCurrentIndex(model->index(0, 3));
    grid->edit(model->index(0, 3));
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("5a"));
    grid->setCurrentIndex(model->index(1, 3));  // commits the edit

    const QString path = window.dir.filePath(QStringLiteral("EEPROM/by-window.csv"));
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Save EEPROM Data..."));
            AnswerFileDialog(dialog, path);
        }
    });
    answer.start(20);
    window.Find<QPushButton>("EtcEEPROMSaveBtn")->click();
    ASSERT_TRUE(window.WaitForOperation());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 65);  // 64 lines, each ending in CR LF
    EXPECT_EQ(lines[0], "0x0000,FF,FF,5a,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,FF,\r");
    EXPECT_TRUE(lines[8].startsWith("0x0080,02,")) << lines[8].constData();
    window.form->close();
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
