// The "Sensor Calibration" window's record panel against the simulator: the
// as found reading decides between a check and an adjustment while the
// technician turns the gas off and on, the record reaches the history, and
// the certificate is offered.
#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QProcess>
#include <QTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "CalibrationCheck.h"
#include "LinkThread.h"
#include "OperationRecorder.h"
#include "SimProcess.h"
#include "TSensorCalDlg.h"

namespace {

void WriteText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

class CollectingRecorder final : public IOperationRecorder {
public:
    void BeginOperation(const QString& workflow) override { workflows << workflow; }
    void StepReached(const QString&) override {}
    void UnitIdentified(const RZELIdenty&) override {}
    void ConfigImageTaken(const QString&, const RZELCFG&) override {}
    void EventsDownloaded(const std::vector<RZELEvent>&, std::uint32_t) override {}
    void FirmwareSent(const RFirmwareRecord&) override {}
    void CalibrationDone(const RCalibrationRecord& calibration) override { calibrations.push_back(calibration); }
    void EndOperation(std::uint8_t status) override { ends.push_back(status); }
    void TestRecorded(const RTestRecord& record) override { tests.push_back(record); }

    QStringList workflows;
    std::vector<RCalibrationRecord> calibrations;
    std::vector<RTestRecord> tests;
    std::vector<int> ends;
};

}  // namespace

TEST(CalibrationDialog, AsFoundDecidesBetweenACheckAndAnAdjustment)
{
    struct Case {
        QByteArray asFoundGas;
        QString result;
        int zeroSpanSent;
        double asFound;
        QJsonValue asLeft;
    };
    const Case cases[] = {
        {"32.5", QStringLiteral("CHECK PASSED"), 0, 32.5, QJsonValue()},  // +8.3 % of 30
        {"24", QStringLiteral("PASSED"), 1, 24.0, 30.0},                   // -20 %
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asFoundGas.toStdString());
        QTemporaryDir dir;
        const QString control = dir.filePath(QStringLiteral("gas"));
        WriteText(control, c.asFoundGas);
        WriteText(dir.filePath(QStringLiteral("LUMBRA.INI")),
                  "[Environment]\r\nModeEntry=ZTR_ENG__\r\nConnectTime=500\r\n[Calibration]\r\nCalibrationCheckTime=1\r\n"
                  "[BumpTest]\r\nExpiry=2031-03-31\r\n");
        SimProcess sim({"--noise", "0", "--cal-seconds", "3", "--gas-t90", "2", "--gas-control", control});
        ASSERT_TRUE(sim.start());
        const LoadedSettings settings = LoadSettings(dir.path().toStdString() + "/");
        RZELIdenty identity{};
        RZELCFG cfg{};
        {
            TComZEL reader;
            reader.SetDefPort(sim.portPath().toStdString());
            ASSERT_EQ(reader.OpenUSB(0.5f), 0);
            ASSERT_EQ(reader.RequireIdenty(identity), 0);
            ASSERT_EQ(reader.ReadUnitCFGData(cfg.mUnit, 32, 64), 0);
            ASSERT_EQ(reader.ReadSensorCFGData(cfg.mSensor, 32, 64), 0);
            reader.CloseUSB(0);
        }
        CollectingRecorder recorder;
        SetProcessRecorder(&recorder);
        TLinkThread link;
        link.Link().SetDefPort(sim.portPath().toStdString());
        {
            TSensorCalDlg dialog(link, settings);
            dialog.SetUnit(identity);
            ASSERT_TRUE(dialog.Prepare(cfg));
            dialog.show();
            dialog.findChild<QCheckBox*>(QStringLiteral("CalAsFoundCheck"))->setChecked(true);
            dialog.findChild<QCheckBox*>(QStringLiteral("CalAsLeftCheck"))->setChecked(true);
            dialog.findChild<QLineEdit*>(QStringLiteral("CalLotEdit"))->setText(QStringLiteral("LOT-9"));
            dialog.findChild<QDoubleSpinBox*>(QStringLiteral("SpanGasSpin"))->setValue(30);
            auto* step = dialog.findChild<QLabel*>(QStringLiteral("CalStepLabel"));
            auto* outcome = dialog.findChild<QLabel*>(QStringLiteral("CalRecordLabel"));
            auto* certificate = dialog.findChild<QPushButton*>(QStringLiteral("CalCertificateBtn"));
            dialog.findChild<QPushButton*>(QStringLiteral("CalBtn"))->click();

            // The technician takes the gas off for the zero and puts it back
            // for the as left reading.
            QElapsedTimer clock;
            clock.start();
            while (outcome->text().isEmpty() && clock.elapsed() < 90000) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
                if (step->text() == calchecktext::kRemove)
                    WriteText(control, "0");
                else if (step->text() == calchecktext::kAsLeft)
                    WriteText(control, "30");
            }
            EXPECT_TRUE(outcome->text().startsWith(QStringLiteral("Calibration ") + c.result))
                << outcome->text().toStdString();
            EXPECT_TRUE(certificate->isEnabled());
            if (qEnvironmentVariableIsSet("BEAMDOCK_SCREENSHOT"))
                dialog.grab().save(qEnvironmentVariable("BEAMDOCK_SCREENSHOT") + QString::fromLatin1(c.asFoundGas) +
                                   QStringLiteral(".png"));
            while (link.Busy())
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

            // Certificate... asks where, then writes it off the GUI thread.
            const QString pdf = dir.filePath(QStringLiteral("certificate.pdf"));
            QTimer::singleShot(200, [pdf] {
                if (auto* ask = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                    ask->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(pdf);
                    QMetaObject::invokeMethod(ask, "accept");
                }
            });
            certificate->click();
            clock.restart();
            while (!QFile::exists(pdf) || link.Busy()) {
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
                ASSERT_LT(clock.elapsed(), 10000) << "no certificate written";
            }
            QProcess text;
            text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
            ASSERT_TRUE(text.waitForFinished(10000));
            const QString page = QString::fromUtf8(text.readAllStandardOutput());
            for (const QString& field : {QStringLiteral("Calibration Certificate"), QStringLiteral("SH10000123"),
                                         QStringLiteral("As found"), QStringLiteral("As left"),
                                         QStringLiteral("Tolerance"), QStringLiteral("LOT-9"), c.result})
                EXPECT_TRUE(page.contains(field)) << field.toStdString();
        }
        SetProcessRecorder(nullptr);
        EXPECT_EQ(sim.recordedLines().filter(QRegularExpression("^RX 42")).size(), c.zeroSpanSent);
        ASSERT_EQ(recorder.tests.size(), 1u);
        const QJsonObject record = QJsonDocument::fromJson(recorder.tests[0].json).object();
        EXPECT_EQ(record.value("result").toString(), c.result);
        EXPECT_EQ(record.value("asFound").toDouble(), c.asFound);
        EXPECT_EQ(record.value("asLeft"), c.asLeft);
        EXPECT_EQ(record.value("unit").toObject().value("serial").toString(), QStringLiteral("SH10000123"));
        // A check that passed counts as a calibration; the unit was told
        // nothing to do but was read.
        ASSERT_EQ(recorder.calibrations.size(), 1u);
        EXPECT_EQ(recorder.calibrations[0].status, 0);
        EXPECT_EQ(recorder.ends, std::vector<int>{0});
    }
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
