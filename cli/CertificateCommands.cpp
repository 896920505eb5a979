// beamdock-cli history certificate / verify-certificate / report: a test's
// certificate made again from its record, a certificate checked against the
// history, and the fleet report.
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <iostream>

#include "Certificate.h"
#include "CliContext.h"
#include "DueDates.h"
#include "FleetReport.h"
#include "HistoryDocuments.h"
#include "HistoryLocation.h"
#include "HistoryQueries.h"

namespace {

constexpr int kVerifyFailed = 1;

bool Open(CliContext& ctx, THistoryStore& store)
{
    QString error;
    const std::optional<RHistoryLocation> location = ChooseHistoryLocation(ctx.historyDb, error);
    if (!location || !store.Open(*location, error)) {
        *ctx.err << error.toStdString() << "\n";
        return false;
    }
    return true;
}

bool TakeDays(CliContext& ctx, const char* option, int& days)
{
    QString text;
    if (!TakeValue(ctx.args, option, text))
        return true;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > 3650) {
        *ctx.err << "beamdock-cli: " << option << " '" << text.toStdString() << "' is not allowed: whole days 0..3650\n";
        return false;
    }
    days = value;
    return true;
}

}  // namespace

int CmdHistoryCertificate(CliContext& ctx)
{
    QString out;
    const bool hasOut = TakeValue(ctx.args, "--out", out);
    if (!hasOut || ctx.args.size() != 1) {
        *ctx.err << "usage: beamdock-cli history certificate OPERATION-UUID --out FILE.pdf\n";
        return kUsageError;
    }
    THistoryStore store;
    if (!Open(ctx, store))
        return kFileFailed;
    QString error, number;
    const CertificateOutcome outcome = CertificateFromHistory(store, ctx.args.first(), out, number, error);
    if (outcome != CertificateOutcome::Written) {
        *ctx.err << "beamdock-cli: " << error.toStdString() << "\n";
        return outcome == CertificateOutcome::RecordChanged ? kVerifyFailed : kFileFailed;
    }
    *ctx.out << number.toStdString() << " written to " << out.toStdString() << "\n";
    return 0;
}

int CmdHistoryVerifyCertificate(CliContext& ctx)
{
    if (ctx.args.size() != 1) {
        *ctx.err << "usage: beamdock-cli history verify-certificate FILE.pdf\n";
        return kUsageError;
    }
    QString error;
    const std::optional<RCertificateContent> content = ReadCertificate(ctx.args.first(), error);
    if (!content) {
        *ctx.err << "beamdock-cli: " << error.toStdString() << "\n";
        return kFileFailed;
    }
    const QString operation =
        QJsonDocument::fromJson(content->record).object().value(QStringLiteral("operation")).toString();
    THistoryStore store;
    if (!Open(ctx, store))
        return kFileFailed;
    const std::optional<RStoredTest> test = historyqueries::TestRecord(store, operation, error);
    QString finding;
    if (!test)
        finding = error.isEmpty() ? QStringLiteral("the history keeps no record of operation %1").arg(operation) : error;
    else if (RecordSha256(test->json) != test->sha256)
        finding = QStringLiteral("the history's record of operation %1 was changed").arg(operation);
    else if (test->sha256 != content->sha256)
        finding = QStringLiteral("the certificate's record differs from the history's (SHA-256 %1, history %2)")
                      .arg(content->sha256, test->sha256);
    if (!finding.isEmpty()) {
        *ctx.out << "verify-certificate: " << finding.toStdString() << "\n";
        return kVerifyFailed;
    }
    *ctx.out << "verify-certificate: " << CertificateNumber(operation).toStdString()
             << " matches the history (SHA-256 " << test->sha256.toStdString() << ")\n";
    return 0;
}

int CmdHistoryReport(CliContext& ctx)
{
    QString out;
    const bool hasOut = TakeValue(ctx.args, "--out", out);
    int dueWithin = duedates::kDefaultDueWithinDays;
    int period = kReportPeriodDays;
    if (!TakeDays(ctx, "--due-within", dueWithin) || !TakeDays(ctx, "--since", period) || !hasOut ||
        !ctx.args.isEmpty()) {
        *ctx.err << "usage: beamdock-cli history report [--due-within DAYS] [--since DAYS] --out FILE.pdf\n";
        return kUsageError;
    }
    THistoryStore store;
    if (!Open(ctx, store))
        return kFileFailed;
    QString error;
    std::optional<RFleetReport> report =
        FleetReportFromHistory(store, ctx.sensors, dueWithin, period, QDateTime::currentDateTime(), error);
    if (!report) {
        *ctx.err << error.toStdString() << "\n";
        return kFileFailed;
    }
    const std::size_t units = report->units.size();
    if (!WriteFleetReport(out, std::move(*report), error)) {
        *ctx.err << "beamdock-cli: " << error.toStdString() << "\n";
        return kFileFailed;
    }
    *ctx.out << "Fleet report of " << units << " units written to " << out.toStdString() << "\n";
    return 0;
}
