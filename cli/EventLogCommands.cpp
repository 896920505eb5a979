// eventlog and logreset: the window's "Save Event Log" and "Log Reset",
// driven from a terminal.
#include <ostream>

#include "EventLogWorkflow.h"
#include "StopAfterStep.h"
#include "WorkflowSession.h"

int CmdEventLog(CliContext& ctx)
{
    QString out;
    const bool toFile = TakeValue(ctx.args, "--out", out);
    if (!ctx.args.isEmpty()) {
        *ctx.err << "usage: beamdock-cli eventlog [--out FILE]\n";
        return kUsageError;
    }
    WorkflowSession session(ctx);
    if (toFile)
        session.view.SetFileAnswer(out);
    else
        session.view.TakeProposedSaveName();
    TEventLogWorkflow events(session.workflows);
    events.UserLogSaveBtnClick();
    if (const int code = session.ExitCode(); code != 0)
        return code;
    if (const auto& saved = events.LastSavedFile()) {
        *ctx.out << saved->toStdString() << "\n";
        return 0;
    }
    // Downloaded, but the file could not be written (an empty log is not a
    // failure: it says so and writes nothing).
    return session.view.ErrorShown() ? kFileFailed : 0;
}

int CmdLogReset(CliContext& ctx)
{
    const bool yes = TakeFlag(ctx.args, "--yes");
    if (!ctx.args.isEmpty()) {
        *ctx.err << "usage: beamdock-cli logreset [--yes]\n";
        return kUsageError;
    }
    WorkflowSession session(ctx);
    if (yes)
        session.view.AnswerYes();
    TEventLogWorkflow events(session.workflows);
    const TStopAfterStep stop;
    events.UserLogResetBtnClick();
    const int code = StoppedAfterStep(ctx, session.ExitCode());
    // The copy kept before the log was cleared.
    if (code == 0 && events.LastSavedFile())
        *ctx.out << events.LastSavedFile()->toStdString() << "\n";
    return code;
}
