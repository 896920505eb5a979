// image check and upgrade: the firmware panel's file checks and "Upgrade
// Firmware", for scripts and terminals.
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <sstream>

#include <unistd.h>

#include "ConfigPrinting.h"
#include "ConsoleFirmwareView.h"
#include "FirmwareUpgrade.h"
#include "StatusTexts.h"
#include "TextHelpers.h"
#include "WorkflowSession.h"

namespace {

std::string Hex16(std::uint16_t value)
{
    std::ostringstream out;
    out << "0x" << std::uppercase << std::hex << std::setw(4) << std::setfill('0') << value;
    return out.str();
}

std::string StatusLine(std::uint8_t status)
{
    if (status == fwstatus::kOK)
        return "0 OK";
    std::string text = StatusTextFor(status).message;
    text = text.substr(0, text.find('\r'));
    return std::to_string(status) + " " + text;
}

void PrintCheckText(std::ostream& out, const QString& path, const RFirmwareCheck& check)
{
    const auto row = [&out](const char* name, const std::string& value) {
        out << std::left << std::setw(14) << name << value << "\n";
    };
    row("file", path.toStdString());
    row("size", (check.fileSize < 0 ? std::string("-") : std::to_string(check.fileSize)) + " bytes (expected " +
                    std::to_string(check.expectedSize) + ")");
    row("status", StatusLine(check.status));
    if (!check.header)
        return;
    const RFirmwareHeader& h = *check.header;
    row("model", std::to_string(h.mModel) + " (" + ModelName(h.mModel) + ")");
    row("firmware", FWVersionText(h.mFirmware));
    row("hardware", HWVersionText(h.mHardware));
    row("min firmware", FWVersionText(h.mMinFirmware));
    row("min hardware", HWVersionText(h.mMinHardware));
    row("crc", Hex16(h.mCRC) + " stated, " + Hex16(check.computedCrc) + " computed");
}

QJsonObject CheckJson(const QString& path, const RFirmwareCheck& check)
{
    QJsonObject o{{"file", path},
                  {"size", static_cast<double>(check.fileSize)},
                  {"expectedSize", static_cast<double>(check.expectedSize)},
                  {"status", check.status}};
    if (check.header) {
        const RFirmwareHeader& h = *check.header;
        o.insert("header", QJsonObject{{"model", h.mModel},
                                       {"modelName", QString::fromStdString(ModelName(h.mModel))},
                                       {"firmware", h.mFirmware},
                                       {"firmwareText", QString::fromStdString(FWVersionText(h.mFirmware))},
                                       {"hardware", h.mHardware},
                                       {"minFirmware", h.mMinFirmware},
                                       {"minHardware", h.mMinHardware},
                                       {"crc", h.mCRC}});
        o.insert("computedCrc", check.computedCrc);
    }
    return o;
}

// Ctrl-C is the Cancel button. A second one ends the program the usual way.
TFirmwareUpgrade* gCancelTarget = nullptr;

extern "C" void CancelOnInterrupt(int)
{
    if (TFirmwareUpgrade* target = gCancelTarget)
        target->UserFMCancelBtnClick();  // a lock-free atomic store
}

class TInterruptCancels {
public:
    explicit TInterruptCancels(TFirmwareUpgrade& upgrade)
    {
        gCancelTarget = &upgrade;
        struct sigaction action {};
        action.sa_handler = CancelOnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        sigaction(SIGINT, &action, &FPrevious);
    }
    ~TInterruptCancels()
    {
        sigaction(SIGINT, &FPrevious, nullptr);
        gCancelTarget = nullptr;
    }
    TInterruptCancels(const TInterruptCancels&) = delete;
    TInterruptCancels& operator=(const TInterruptCancels&) = delete;

private:
    struct sigaction FPrevious {};
};

}  // namespace

int CmdImage(CliContext& ctx)
{
    if (ctx.args.size() != 2 || ctx.args.at(0) != "check") {
        *ctx.err << "usage: beamdock-cli image check FILE [--json]\n";
        return kUsageError;
    }
    const QString path = ctx.args.at(1);
    TFirmwareImage image;
    const RFirmwareCheck check =
        image.Load(path.toStdString(), ctx.settings.mFLASHMaxAddress, ctx.settings.mFALSHPacketSize, ctx.factoryMode);
    if (ctx.json)
        PrintJson(*ctx.out, CheckJson(path, check));
    else
        PrintCheckText(*ctx.out, path, check);
    return check.status;
}

int CmdUpgrade(CliContext& ctx)
{
    const bool yes = TakeFlag(ctx.args, "--yes");
    if (ctx.args.size() != 1) {
        *ctx.err << "usage: beamdock-cli upgrade FILE [--yes]\n";
        return kUsageError;
    }
    WorkflowSession session(ctx);
    TConsoleFirmwareView panels(*ctx.err, isatty(STDERR_FILENO) == 1);
    session.view.SetBeforeOutput([&panels] { panels.EndLine(); });
    if (yes)
        session.view.AnswerYes();
    TFirmwareUpgrade upgrade(session.workflows, panels);
    const std::uint8_t loaded = upgrade.LoadUpgradeFile(ctx.args.at(0), false);
    if (loaded != fwstatus::kOK)
        return loaded;

    session.workflows.ResetLastResult();
    {
        const TInterruptCancels interrupt(upgrade);
        upgrade.UserFMUpgradeBtnClick();
    }
    panels.EndLine();
    // An older image the user would not take: declined, as with any other
    // question of the tool.
    if (session.view.Declined())
        return kRefused;
    return session.ExitCode();
}
