// write and hibernate: the window's own workflows, driven from a terminal.
// They run exactly the code behind the window's buttons, so a script gets the
// same checks (model, fitted sensor, write ranges, retries) as a technician.
#include "RecordFields.h"
#include "WorkflowSession.h"

namespace {

int Usage(CliContext& ctx)
{
    *ctx.err << "usage: beamdock-cli write --file FILE\n"
                "       beamdock-cli write --set FIELD=VALUE [--set FIELD=VALUE ...]\n";
    return kUsageError;
}

}  // namespace

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
    if (!ctx.args.isEmpty() || fromFile == !sets.empty())
        return Usage(ctx);

    // Check every assignment before the detector is touched.
    RZELCFG probe = DefaultConfig();
    for (const auto& [field, value] : sets) {
        if (const auto error = SetConfigField(probe, field, value)) {
            *ctx.err << "beamdock-cli: " << *error << "\n";
            return kUsageError;
        }
    }

    WorkflowSession session(ctx);
    session.workflows.UserReadDeviceBtnClick();
    if (!session.Succeeded())
        return session.ExitCode();

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
    return session.ExitCode();
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
    session.workflows.UserOptHibernateBtnClick();
    return session.ExitCode();
}
