// write and hibernate: the window's own workflows, driven from a terminal.
// They run exactly the code behind the window's buttons, so a script gets the
// same checks (model, fitted sensor, write ranges, retries) as a technician.
#include "RecordFields.h"
#include "StopAfterStep.h"
#include "WorkflowSession.h"

#include <QByteArray>

#include <cstring>

#include "AlarmSetPoints.h"
#include "ConfigMapping.h"
#include "SensorTypes.h"
#include "WritableFields.h"

namespace {

const char kWriteUsage[] = "usage: beamdock-cli write --file FILE [--repair]\n"
                           "       beamdock-cli write --set FIELD=VALUE [--set FIELD=VALUE ...]\n";

int Usage(CliContext& ctx)
{
    *ctx.err << kWriteUsage;
    return kUsageError;
}

// A unit whose configuration block fails its CRC cannot be read, so a write
// that reads first stops there. In factory mode `--repair` goes on and
// writes the file over it (the write asks first, naming the block).
bool GoesOnToRepair(CliContext& ctx, WorkflowSession& session, bool repair)
{
    if (!repair || session.workflows.LastResult() != std::optional<std::uint8_t>(zelstatus::kBlockCrc) ||
        session.workflows.DamagedBlock().isEmpty())
        return false;
    *ctx.err << "beamdock-cli: --repair: writing the file over the damaged "
             << session.workflows.DamagedBlock().toStdString() << " configuration block\n";
    session.view.ForgetErrorShown();
    return true;
}

int Help(CliContext& ctx)
{
    *ctx.out << kWriteUsage
             << "\nFIELD is a field as the window names it, in display units (high-alarm=20.0),\n"
                "or a record field, raw as stored (mAlarmHigh=200). The fields of this mode:\n"
             << WritableFieldsHelp(ctx.factoryMode).toStdString();
    return 0;
}

int Refuse(CliContext& ctx, const QString& why)
{
    *ctx.err << "beamdock-cli: " << why.toStdString() << "\nNothing was written.\n";
    return kUsageError;
}

// What the window would take from its controls must be what was asked for:
// a value the editors cannot show exactly, or a field this mode does not
// take from them, would otherwise be changed or dropped without a word.
std::optional<QString> RoundTripRefusal(const RZELCFG& collected, const std::vector<std::pair<QString, QString>>& sets,
                                        const CliContext& ctx)
{
    for (const auto& [field, value] : sets) {
        RZELCFG again = collected;
        ApplyFieldAssignment(again, field, value, ctx.factoryMode);
        if (std::memcmp(&again, &collected, sizeof again) == 0)
            continue;
        QString allowed = QStringLiteral("whole days, flags the display choices give, and");
        const int index = FindSensorType(ctx.sensors, collected.mSensor.mSensorType);
        if (index >= 0) {
            const RSensorType& sensor = ctx.sensors[static_cast<std::size_t>(index)];
            const RSpinRange range = GasRangeFor(sensor);
            allowed += QStringLiteral(" gas values from %1 to %2 %3 (the %4 sensor fitted)")
                           .arg(range.min, 0, 'f', 1)
                           .arg(range.max, 0, 'f', 1)
                           .arg(QString::fromStdString(sensor.mUnit), QString::fromStdString(sensor.mName));
        } else {
            allowed += QStringLiteral(" gas values within the sensor's range");
        }
        return QStringLiteral("%1=%2 is refused: the window's editors cannot hold it as given; they take %3")
            .arg(field, value, allowed);
    }
    return std::nullopt;
}

}  // namespace

int StoppedAfterStep(CliContext& ctx, int code)
{
    if (!TStopAfterStep::Requested())
        return code;
    *ctx.err << "beamdock-cli: stopped by Ctrl-C "
             << (code == kUserStopped ? "between steps" : "after the step under way had ended")
             << "; the connection is closed\n";
    return kUserStopped;
}

int CmdWrite(CliContext& ctx)
{
    if (TakeFlag(ctx.args, "--help"))
        return Help(ctx);
    QString file;
    const bool fromFile = TakeValue(ctx.args, "--file", file);
    std::vector<std::pair<QString, QString>> sets;
    for (QString assignment; TakeValue(ctx.args, "--set", assignment);) {
        const int equals = assignment.indexOf('=');
        if (equals <= 0)
            return Usage(ctx);
        sets.emplace_back(assignment.left(equals), assignment.mid(equals + 1));
    }
    const bool repair = TakeFlag(ctx.args, "--repair");
    if (!ctx.args.isEmpty() || fromFile == !sets.empty() || (repair && !fromFile))
        return Usage(ctx);
    if (repair && !ctx.factoryMode) {
        *ctx.err << "beamdock-cli: --repair needs factory mode (ModeEntry in section Environment of LUMBRA.INI)\n";
        return kRefused;
    }

    // Every assignment is checked before the detector is touched.
    RZELCFG probe = DefaultConfig();
    for (const auto& [field, value] : sets) {
        if (const auto refusal = ApplyFieldAssignment(probe, field, value, ctx.factoryMode))
            return Refuse(ctx, *refusal);
    }

    WorkflowSession session(ctx);
    const TStopAfterStep stop;
    session.workflows.SetStopRequest([] { return TStopAfterStep::Requested(); });
    session.workflows.UserReadDeviceBtnClick();
    if (!session.Succeeded() && !GoesOnToRepair(ctx, session, repair))
        return StoppedAfterStep(ctx, session.ExitCode());

    session.workflows.ResetLastResult();
    if (fromFile) {
        session.view.SetFileAnswer(file);
        session.workflows.UserReadFileBtnClick();
        if (session.view.ErrorShown())
            return kFileFailed;
    } else {
        RZELCFG cfg = session.workflows.CurrentConfig();
        for (const auto& [field, value] : sets)
            ApplyFieldAssignment(cfg, field, value, ctx.factoryMode);
        // The set points against the sensor the unit has, before the
        // controls would hold them inside its range.
        if (const auto fault = AlarmSetPointFault(cfg.mSensor, ctx.sensors))
            return Refuse(ctx, *fault);
        session.workflows.SetCurrentConfig(cfg);
        session.workflows.ShowConfig();
        const RZELCFG collected = session.workflows.CollectConfig(true);
        if (const auto refusal = RoundTripRefusal(collected, sets, ctx))
            return Refuse(ctx, *refusal);
    }
    session.workflows.UserWriteDeviceBtnClick();
    return StoppedAfterStep(ctx, session.ExitCode());
}

int CmdHibernate(CliContext& ctx)
{
    const bool yes = TakeFlag(ctx.args, "--yes");
    if (!ctx.args.isEmpty()) {
        *ctx.err << "usage: beamdock-cli hibernate [--yes]\n";
        return kUsageError;
    }
    WorkflowSession session(ctx);
    if (yes)
        session.view.AnswerYes();
    const TStopAfterStep stop;
    session.workflows.UserOptHibernateBtnClick();
    return StoppedAfterStep(ctx, session.ExitCode());
}
