// test and eeprom: the commands of the window's "Factory Options" and "TEST"
// pages, run by the same workflows. Like those pages they need factory mode.
#include <QJsonArray>
#include <QJsonObject>

#include <array>
#include <ostream>

#include "ConfigPrinting.h"
#include "EepromCsv.h"
#include "FactoryTestWorkflows.h"
#include "StopAfterStep.h"
#include "WorkflowSession.h"

namespace {

struct TestCommand {
    const char* name;
    FactoryHandler handler;
    int tag;
    const char* caption;  // the button, for the silent outputs' failures
};

constexpr std::array<TestCommand, 10> kTestCommands{{
    {"beep", FactoryHandler::EtcBeepON, 1, "Beep ON"},
    {"rled", FactoryHandler::EtcBeepON, 2, "R LED ON"},
    {"lled", FactoryHandler::EtcBeepON, 3, "L LED ON"},
    {"vibrator", FactoryHandler::EtcBeepON, 4, "Vibrator"},
    {"clear-peak", FactoryHandler::EtcClearPeak, 1, "Clear Peak"},
    {"bump-pass", FactoryHandler::EtcClearPeak, 3, "Bump Pass"},
    {"bump-fail", FactoryHandler::EtcClearPeak, 2, "Bump Fail"},
    {"factory-reset", FactoryHandler::EtcFactoryReset, 0, "Factory Reset"},
    {"power-down", FactoryHandler::FatoryOptTurnOff, 0, "Turn Off"},
    {"calibrate-now", FactoryHandler::FatoryOptCal, 0, "Calibration"},
}};

const char kTestUsage[] = "usage: beamdock-cli test beep|rled|lled|vibrator|clear-peak|bump-pass|bump-fail|"
                          "factory-reset|power-down|calibrate-now [--yes]\n";
const char kEepromUsage[] = "usage: beamdock-cli eeprom [--out FILE] [--json]\n";

bool RefusedInUserMode(CliContext& ctx)
{
    if (ctx.factoryMode)
        return false;
    *ctx.err << "beamdock-cli: the factory and test commands need factory mode (ModeEntry in section "
                "Environment of LUMBRA.INI)\n";
    return true;
}

// The workflows of both pages over a grid of their own.
struct FactorySession {
    explicit FactorySession(CliContext& ctx) : main(ctx), page(grid), factory(main.workflows, page)
    {
        QStringList rows;
        for (const std::string& text : EepromGridStartTexts(ctx.settings))
            rows << QString::fromStdString(text);
        grid.Prepare(rows);
    }
    int ExitCode() const
    {
        const auto status = factory.LastStatus();
        return status ? *status : kRefused;
    }

    WorkflowSession main;
    TEepromGridModel grid;
    TModelTestPageView page;
    TFactoryTestWorkflows factory;
};

void PrintGrid(std::ostream& out, const EepromGridTexts& grid)
{
    for (const EepromGridRow& row : grid) {
        out << row[0].toStdString() << ' ';
        for (int c = 1; c < kEepromGridColumns; ++c)
            out << ' ' << row[static_cast<std::size_t>(c)].toStdString();
        out << '\n';
    }
}

QJsonObject GridJson(const CliContext& ctx, const EepromGridTexts& grid)
{
    QJsonArray rows;
    for (const EepromGridRow& row : grid) {
        QJsonArray bytes;
        for (int c = 1; c < kEepromGridColumns; ++c)
            bytes.append(row[static_cast<std::size_t>(c)]);
        rows.append(QJsonObject{{"address", row[0]}, {"bytes", bytes}});
    }
    return QJsonObject{{"packetSize", ctx.settings.mEEPROMPacketSize},
                       {"readAddress", ctx.settings.mEEPROMReadAddress},
                       {"maxAddress", ctx.settings.mEEPROMMaxAddress},
                       {"rows", rows}};
}

}  // namespace

int CmdTest(CliContext& ctx)
{
    // factory-reset and power-down ask first, as in the window.
    const bool yes = TakeFlag(ctx.args, "--yes");
    if (ctx.args.size() != 1) {
        *ctx.err << kTestUsage;
        return kUsageError;
    }
    const TestCommand* command = nullptr;
    for (const TestCommand& c : kTestCommands) {
        if (ctx.args.first() == QLatin1String(c.name))
            command = &c;
    }
    if (!command) {
        *ctx.err << kTestUsage;
        return kUsageError;
    }
    if (RefusedInUserMode(ctx))
        return kRefused;
    FactorySession session(ctx);
    if (yes)
        session.main.view.AnswerYes();
    {
        const TStopAfterStep stop;
        session.factory.Run(command->handler, command->tag);
    }
    const int code = session.ExitCode();
    // The window shows nothing for the outputs; a script still learns why
    // one failed.
    if (command->handler == FactoryHandler::EtcBeepON && code != 0)
        return StoppedAfterStep(ctx, ReportStatus(ctx, command->caption, static_cast<std::uint8_t>(code)));
    return StoppedAfterStep(ctx, code);
}

int CmdEeprom(CliContext& ctx)
{
    QString out;
    const bool toFile = TakeValue(ctx.args, "--out", out);
    if (!ctx.args.isEmpty()) {
        *ctx.err << kEepromUsage;
        return kUsageError;
    }
    if (RefusedInUserMode(ctx))
        return kRefused;
    FactorySession session(ctx);
    session.factory.EtcEEPROMReadBtnClick();
    if (session.ExitCode() != 0)
        return session.ExitCode();
    const EepromGridTexts& grid = session.grid.Texts();
    if (ctx.json)
        PrintJson(*ctx.out, GridJson(ctx, grid));
    else if (!toFile)
        PrintGrid(*ctx.out, grid);
    if (toFile && !WriteEepromCsvFile(out, grid)) {
        *ctx.err << "Save EEPROM Data:\nEEPROM data file did not save\nRetry SAVE FILE\n";
        return kFileFailed;
    }
    return 0;
}
