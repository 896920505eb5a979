#pragma once
// The window's workflows behind a terminal view, for the commands that run
// exactly the code behind the window's buttons.
#include <iostream>

#include "CliContext.h"
#include "ConsoleView.h"
#include "MainWorkflows.h"

struct WorkflowSession {
    explicit WorkflowSession(CliContext& ctx)
        : view(*ctx.err, std::cin), workflows(view, *ctx.link, CurrentSettings())
    {
        workflows.FormCreate();
        // The window shows its trace memo with LogEnable=1; here the frames
        // go to standard error only with --trace, and to Comm.TXT with
        // LogEnable=1, whatever the form set up.
        view.SetTraceVisible(ctx.trace);
        view.KeepTraceIn(ctx.commLog.get());
        InstallCliTrace(ctx);
        workflows.ResetLastResult();
    }

    // The status byte the operation ended with; a workflow that stopped
    // before its result (a refusal box, or the user answering No) ends with
    // kRefused.
    int ExitCode() const
    {
        if (const auto status = workflows.LastResult())
            return *status;
        return (view.ErrorShown() || view.Declined()) ? kRefused : 0;
    }

    bool Succeeded() const { return ExitCode() == 0; }

    TConsoleView view;
    TMainWorkflows workflows;
};
