// write and hibernate: the window's own workflows, driven from a terminal.
// They run exactly the code behind the window's buttons, so a script gets the
// same checks (model, fitted sensor, write ranges, retries) as a technician.
#include "RecordFields.h"
#include "StopAfterStep.h"
#include "WorkflowSession.h"

namespace {

int Usage(CliContext& ctx)
{
    *ctx.err << "usage: beamdock-cli write --file FILE [--repair]\n"
                "       beamdock-cli write --set FIELD=VALUE [--set FIELD=VALUE ...]\n";
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
    QString file;
    const bool fromFile = TakeValue(ctx.args, "--file", file);
    std::vector<std::pair<std::string, std::string>> sets;
    for (QString assignment; TakeValue(ctx.args, "--set", assignment);) {
        const int equals = assignment.indexOf('=');
        if (equals <= 0)
            return Usage(ctx);
        sets.emplace_back(assignment.left(equals).toStdString(), assignment.mid(equals + 1).toStdString());
    }
    const bool repair = TakeFlag(ctx.args, "--repair");
    if (!ctx.args.isEmpty() || fromFile == !sets.empty() || (repair && !fromFile))
        return Usage(ctx);
    if (repair && !ctx.factoryMode) {
        *ctx.err << "beamdock-cli: --repair needs factory mode (ModeEntry in section Environment of LUMBRA.INI)\n";
        return kRefused;
    }

    // Check every assignment before the detector is touched.
    RZELCFG probe = DefaultConfig();
    for (const auto& [field, value] : sets) {
        if (const auto error = SetConfigField(probe, field, value)) {
            *ctx.err << "beamdock-cli: " << *error << "\n";
            return kUsageError;
        }
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
            SetConfigField(cfg, field, value);
        session.workflows.SetCurrentConfig(cfg);
        session.workflows.ShowConfig();
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
