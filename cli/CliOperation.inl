#pragma once
#include <ostream>

#include "StatusTexts.h"

// Statuses above 255 never occur; this one marks "the port did not open",
// which the program shows as a plain message rather than a status text.
inline constexpr std::uint8_t kPortOpenFailed = 161;

template <typename Work>
std::uint8_t RunOperation(CliContext& ctx, Work&& work)
{
    std::uint8_t status = 0;
    try {
        status = ctx.link->OpenUSB(static_cast<float>(ctx.settings.mConnectTime) / 1000.0f);
    } catch (const ECommError& error) {
        *ctx.err << MessageLines(error.UserMessage()) << "\n";
        ctx.link->ComClose();
        return kPortOpenFailed;
    }
    if (status == 0)
        status = work();
    ctx.link->CloseUSB(status);
    return status;
}
