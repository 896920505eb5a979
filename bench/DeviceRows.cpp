#include "DeviceRows.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

#include "BenchSim.h"
#include "BenchViews.h"
#include "DeviceSettings.h"
#include "EepromGridModel.h"
#include "EventLogWorkflow.h"
#include "FactoryTestWorkflows.h"
#include "FirmwareUpgrade.h"
#include "LoggingRows.h"
#include "MainWorkflows.h"
#include "PreciseWait.h"
#include "SensorCalibration.h"
#include "SensorClock.h"
#include "TestPageView.h"
#include "ZelComms.h"

namespace bench {
namespace {

constexpr int kRounds = 20;
constexpr int kLongRounds = 10;
constexpr int kUpgradeRounds = 3;
constexpr int kBeepRounds = 5;
constexpr int kWakeRounds = 3;
constexpr int kPortCycles = 200;
constexpr int kFirmwarePackets = 128;
constexpr int kFirmwarePacketSize = 128;
// The status a row gets when its workflow stopped without reporting one.
constexpr std::uint8_t kNoResult = 255;

const char* const kKeys[] = {"port-cycle", "identify",      "identify-undelayed", "read",       "write-user",
                             "eventlog",   "upgrade",       "cal-prepare",        "log-reading", "log-wait",
                             "write-factory", "hibernate",  "eeprom",             "clear-peak", "beep",
                             "wake-fail",  "sleep-baseline"};

// The factory bench writes more than the defaults: the unit's user
// settings, its factory range (the suspend flag among them), both ranges
// of the sensor block, and the life count.
const QByteArray kFactoryIni = "[Environment]\r\nModeEntry=ZTR_ENG__\r\n"
                               "[UNIT]\r\nUnitWriteUserSize=8\r\n"
                               "UnitWriteFactoryStart=16\r\nUnitWriteFactorySize=20\r\n"
                               "SensorWriteFactoryStart=86\r\nSensorWriteFactorySize=20\r\n";

const QString kIdentify = QStringLiteral("Identify Varnolite");

std::uint8_t Outcome(const TMainWorkflows& main)
{
    return main.LastResult().value_or(kNoResult);
}

LoadedSettings SettingsIn(const QString& folder, const QByteArray& ini)
{
    QDir().mkpath(folder);
    if (!ini.isEmpty()) {
        QFile file(folder + QStringLiteral("/LUMBRA.INI"));
        if (file.open(QIODevice::WriteOnly))
            file.write(ini);
    }
    return LoadSettings(folder.toStdString() + "/");
}

}  // namespace

QStringList RowKeys()
{
    QStringList keys;
    for (const char* key : kKeys)
        keys << QString::fromLatin1(key);
    return keys;
}

bool RunDeviceRows(const ROptions& options, std::vector<RRow>& rows)
{
    QTemporaryDir dir;
    TBenchSim sim;
    const QString port = dir.filePath(QStringLiteral("ttyVARNO"));
    // A full event log (85 records) for "Save Event Log". No state file:
    // with one, the simulator syncs it to disk before every reply that
    // changes the unit's memory (each configuration write, for one), and
    // that disk time, not the tool's, would land in the rows.
    if (!sim.Start(port, {QStringLiteral("--baud"), QStringLiteral("115200"), QStringLiteral("--events"),
                          QStringLiteral("85")})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return false;
    }
    std::printf("varnolite-sim --baud 115200 at nice %d\n", sim.Nice());
    std::fflush(stdout);
    TComZEL link;
    link.SetDefPort(port.toStdString());

    // ---- User mode: the settings a customer has.
    const LoadedSettings user = SettingsIn(dir.filePath(QStringLiteral("user")), {});
    SetCurrentSettings(user);
    TBenchView view(dir.filePath(QStringLiteral("user/EVENT/bench.csv")));
    TMainWorkflows main(view, link, user);
    auto read = [&] {
        main.ResetLastResult();
        main.UserReadDeviceBtnClick();
        return Outcome(main);
    };

    if (options.Wanted("port-cycle")) {
        // What every operation pays before and after its exchanges: the
        // port opened with the detector's line settings and closed again,
        // nothing sent. Shown, not judged: it is part of every row below.
        RRow row = MeasureWait(QStringLiteral("port open + close"), [&] {
            link.ComOpen(port.toStdString());
            link.ComClose();
            return std::uint8_t{0};
        }, kPortCycles, 0);
        row.judgeCpu = false;
        row.informational = true;
        rows.push_back(row);
    }
    if (options.Wanted("identify")) {
        rows.push_back(Measure(QStringLiteral("identify"), link, [&] {
            main.ResetLastResult();
            RZELIdenty identity{};
            if (const auto status = main.RunCycle(kIdentify, true, [&] { return main.Identify(identity); }))
                main.ShowResult(*status, kIdentify, true);
            return Outcome(main);
        }, kRounds));
    }
    if (options.Wanted("identify-undelayed")) {
        // The same identify against a simulator without --baud: its replies
        // come at once, so the wall time above the pauses is what the round
        // trips cost in themselves, whatever the line.
        TBenchSim undelayed;
        const QString undelayedPort = dir.filePath(QStringLiteral("ttyUNDELAYED"));
        if (!undelayed.Start(undelayedPort, {})) {
            std::fprintf(stderr, "the simulator did not start\n");
            return false;
        }
        link.SetDefPort(undelayedPort.toStdString());
        rows.push_back(MeasureUndelayed(QStringLiteral("identify, line without delay"), link, [&] {
            main.ResetLastResult();
            RZELIdenty identity{};
            if (const auto status = main.RunCycle(kIdentify, true, [&] { return main.Identify(identity); }))
                main.ShowResult(*status, kIdentify, true);
            return Outcome(main);
        }, kRounds));
        link.SetDefPort(port.toStdString());
    }
    if (options.Wanted("read"))
        rows.push_back(Measure(QStringLiteral("read"), link, read, kRounds));
    if (options.Wanted("write-user")) {
        read();  // the form holds what the unit holds; that is written back
        rows.push_back(Measure(QStringLiteral("write, user mode"), link, [&] {
            main.ResetLastResult();
            main.UserWriteDeviceBtnClick();
            return Outcome(main);
        }, kRounds));
    }

    TEventLogWorkflow events(main);
    if (options.Wanted("eventlog")) {
        RRow row = Measure(QStringLiteral("Save Event Log, 85 events"), link, [&] {
            main.ResetLastResult();
            events.UserLogSaveBtnClick();
            return std::uint8_t(Outcome(main) == 0 && events.LastSavedFile() ? 0 : 1);
        }, kLongRounds);
        // Of that, the part off the line: the file and the settings key,
        // each replaced whole and synced to disk.
        RComZELReadBuf log;
        main.RunCycle(opname::kLoadEventLog, false, [&] { return link.LoadLog(log, user.cfg.mEVENTReadPacketSize); });
        std::vector<double> fileMs;
        for (int i = 0; i < kLongRounds; ++i) {
            const auto f0 = std::chrono::steady_clock::now();
            events.SaveEventLog(log);
            fileMs.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - f0).count());
        }
        row.note = QStringLiteral("of which the CSV file and the settings key: %1 ms (the rest against the line floor: "
                                  "ratio %2)")
                       .arg(Median(fileMs), 0, 'f', 2)
                       .arg((row.WallMs() - Median(fileMs)) / row.floor.lineMs, 0, 'f', 2);
        rows.push_back(row);
    }

    if (options.Wanted("upgrade")) {
        const QString image = dir.filePath(QStringLiteral("bench.img"));
        TBenchFirmwareView panels;
        TFirmwareUpgrade firmware(main, panels);
        if (!MakeFirmwareImage(image, kFirmwarePackets * kFirmwarePacketSize) ||
            firmware.LoadUpgradeFile(image, true) != 0) {
            std::fprintf(stderr, "no firmware image to send\n");
            return false;
        }
        // The data frames leave no trace when they go through at once.
        RRow row = Measure(QStringLiteral("Upgrade Firmware, 16 KiB"), link, [&] {
            main.ResetLastResult();
            firmware.UserFMUpgradeBtnClick();
            return Outcome(main);
        }, kUpgradeRounds, wire::FirmwarePacket(kFirmwarePacketSize) * kFirmwarePackets);
        row.judgeCpu = true;
        rows.push_back(row);
    }

    if (options.Wanted("cal-prepare")) {
        read();
        TBenchCalView calView;
        TSystemClock calClock;
        TSensorCalRequests calRequests;
        TSensorCalWorkflow calibration(calView, link, user, calClock, calRequests);
        if (!calibration.ShowDlg(main.CurrentConfig())) {
            std::fprintf(stderr, "the calibration dialog would not open\n");
            return false;
        }
        // The span gas the unit already holds: the checks and the block
        // reads, no span write.
        rows.push_back(Measure(QStringLiteral("calibration: prepare"), link, [&] {
            if (calibration.PrepareCalibration(calibration.DefSpan() / 10.0))
                return std::uint8_t{0};
            return calibration.OutcomeStatus() != 0 ? calibration.OutcomeStatus() : kNoResult;
        }, kRounds));
    }
    if (options.Wanted("log-reading"))
        rows.push_back(LogReadingRow(link, user, dir.filePath(QStringLiteral("user/reading.CSV"))));
    if (options.Wanted("log-wait"))
        rows.push_back(LogWaitRow(link, user, dir.filePath(QStringLiteral("user/wait.CSV")), options.loggingSeconds));

    // ---- Factory mode: the bench's settings, the TEST page.
    const LoadedSettings factory = SettingsIn(dir.filePath(QStringLiteral("factory")), kFactoryIni);
    SetCurrentSettings(factory);
    TBenchView factoryView(dir.filePath(QStringLiteral("factory/EVENT/bench.csv")));
    TMainWorkflows factoryMain(factoryView, link, factory);
    TEepromGridModel grid;
    {
        QStringList gridRows;
        for (const std::string& text : EepromGridStartTexts(factory.cfg))
            gridRows << QString::fromStdString(text);
        grid.Prepare(gridRows);
    }
    TModelTestPageView page(grid);
    TFactoryTestWorkflows tests(factoryMain, page);
    auto factoryWrite = [&] {
        factoryMain.ResetLastResult();
        factoryMain.UserWriteDeviceBtnClick();
        return Outcome(factoryMain);
    };
    if (options.Wanted("write-factory") || options.Wanted("hibernate")) {
        factoryMain.UserReadDeviceBtnClick();
        // "Allow suspend", so that the unit takes "Hibernate".
        factoryView.Form().factory.hibernateItem = 1;
    }
    if (options.Wanted("write-factory"))
        rows.push_back(Measure(QStringLiteral("write, factory mode"), link, factoryWrite, kRounds));
    if (options.Wanted("hibernate")) {
        if (!options.Wanted("write-factory") && factoryWrite() != 0)
            std::fprintf(stderr, "suspend could not be allowed\n");
        rows.push_back(Measure(QStringLiteral("hibernate"), link, [&] {
            factoryMain.ResetLastResult();
            factoryMain.UserOptHibernateBtnClick();
            return Outcome(factoryMain);
        }, kRounds));
    }
    if (options.Wanted("eeprom")) {
        rows.push_back(Measure(QStringLiteral("EEPROM read, %1 bytes").arg(factory.cfg.mEEPROMMaxAddress), link, [&] {
            tests.EtcEEPROMReadBtnClick();
            return tests.LastStatus().value_or(kNoResult);
        }, kLongRounds));
    }
    if (options.Wanted("clear-peak")) {
        rows.push_back(Measure(QStringLiteral("Clear Peak"), link, [&] {
            tests.EtcClearPeakBtnClick(1);
            return tests.LastStatus().value_or(kNoResult);
        }, kRounds));
    }
    if (options.Wanted("beep")) {
        // The buzzer sounds only while the link is open: the workflow holds
        // it for AVOperate ms on purpose, and the floor counts that hold.
        RRow row = Measure(QStringLiteral("Beep"), link, [&] {
            tests.EtcBeepONBtnClick(1);
            return tests.LastStatus().value_or(kNoResult);
        }, kBeepRounds, wire::Hold(factory.cfg.mAVOperate));
        row.note = QStringLiteral("the floor includes the %1 ms the buzzer is held on (AVOperate)")
                       .arg(factory.cfg.mAVOperate);
        rows.push_back(row);
    }

    if (options.Wanted("wake-fail")) {
        // Nobody answers: a simulator that sleeps through the whole connect
        // time. The window's Read Device, failing as it must.
        sim.Stop();
        TBenchSim silent;
        const QString silentPort = dir.filePath(QStringLiteral("ttySILENT"));
        if (!silent.Start(silentPort, {QStringLiteral("--baud"), QStringLiteral("115200"),
                                       QStringLiteral("--wake-frames"), QStringLiteral("100000")})) {
            std::fprintf(stderr, "the simulator did not start\n");
            return false;
        }
        link.SetDefPort(silentPort.toStdString());
        factoryView.SetBoxesExpected(true);
        RRow row = Measure(QStringLiteral("failed wake-up (%1 s)").arg(factory.cfg.mConnectTime / 1000.0), link, [&] {
            factoryMain.ResetLastResult();
            factoryMain.UserReadDeviceBtnClick();
            return Outcome(factoryMain);
        }, kWakeRounds, {}, zelstatus::kNoWakeUp);
        row.judgeCpu = true;
        rows.push_back(row);
        factoryView.SetBoxesExpected(false);
    }
    if (options.Wanted("sleep-baseline")) {
        // What the machine charges for the frame slots alone: the same
        // kernel sleeps on the same 1.05 ms grid as a wake-up, with its
        // timer slack, and nothing else. A wake-up nobody answers cannot
        // cost less than this, whatever the tool does between the sleeps.
        RRow row = MeasureWait(QStringLiteral("1.05 ms sleeps alone (3 s)"), [] {
            const precise::TimerSlack slack(10'000);
            auto deadline = precise::Clock::now();
            const auto slot = std::chrono::duration_cast<precise::Clock::duration>(
                std::chrono::duration<double, std::milli>(wire::kWakeSlotMs));
            for (int i = 0; i < 2858; ++i) {
                deadline += slot;
                precise::SleepUntil(deadline);
            }
            return std::uint8_t{0};
        }, kWakeRounds, 0);
        row.judgeCpu = false;
        row.informational = true;
        rows.push_back(row);
    }
    SetCurrentSettings(LoadedSettings{});
    return true;
}

}  // namespace bench
