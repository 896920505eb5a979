// doctor: what stands between the tool and the detector, finding by finding,
// then a wake-up test with its timing. For the technician who just saw
// "Beamdock isnot found" or "Beamdock connection error".
#include <QRegularExpression>

#include <algorithm>
#include <iostream>
#include <ostream>

#include "CliContext.h"
#include "ConnectionDoctor.h"
#include "StatusTexts.h"

namespace {

// "[CHECK TIME] 0.012 (3)": seconds and frames of the last wake-up.
struct WakeUpTiming {
    QString seconds;
    QString frames;
};

}  // namespace

int CmdDoctor(CliContext& ctx)
{
    if (!ctx.args.isEmpty()) {
        *ctx.err << "usage: beamdock-cli doctor\n";
        return kUsageError;
    }
    const std::vector<doctor::Finding> findings = doctor::Examine(ctx.port);
    *ctx.out << doctor::FormatFindings(findings);
    const bool problemFound =
        std::any_of(findings.begin(), findings.end(), [](const doctor::Finding& f) { return f.problem; });

    WakeUpTiming timing;
    const bool echo = ctx.trace;
    ctx.link->SetOnZELEvent([&timing, echo](TComZEL*, const QDateTime& now, const QString& log) {
        static const QRegularExpression checkTime(QStringLiteral("^\\[CHECK TIME\\] (\\S+) \\((\\d+)\\)$"));
        const QRegularExpressionMatch match = checkTime.match(log);
        if (match.hasMatch())
            timing = {match.captured(1), match.captured(2)};
        if (echo)
            std::cerr << now.toString("hh:mm:ss:zzz").toStdString() << ' ' << log.toStdString() << "\n";
    });
    const std::uint8_t status = RunOperation(ctx, [] { return std::uint8_t{0}; });
    const QString port = QString::fromStdString(ctx.link->LastPortPath());
    const QString connectTime = QString::number(ctx.settings.mConnectTime / 1000.0, 'f', 3);
    if (status == 0) {
        *ctx.out << "[ok]      A Varnolite answered the wake-up on " << port.toStdString() << " after "
                 << timing.seconds.toStdString() << " s (" << timing.frames.toStdString() << " frames)\n";
    } else if (status == 160) {
        *ctx.out << "[PROBLEM] No Varnolite answered on " << port.toStdString() << " within "
                 << connectTime.toStdString() << " s (" << timing.frames.toStdString() << " wake-up frames sent)\n"
                 << "          fix: Hold the detector's infrared window a few centimetres in front of the Beamdock, "
                    "switch the detector on and check its battery\n";
    } else {
        // The status line's words, without the dots that join them to an
        // operation name.
        std::string words = StatusTextFor(status).suffix;
        if (words.rfind("... ", 0) == 0)
            words.erase(0, 4);
        *ctx.out << "[PROBLEM] The wake-up test did not reach a detector: status " << int(status) << " (" << words
                 << ")\n"
                 << "          fix: Mend the problems above first\n";
    }
    // A script must see a reported problem even when the wake-up worked.
    return status != 0 ? status : problemFound ? kRefused : 0;
}
