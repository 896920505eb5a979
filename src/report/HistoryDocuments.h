#pragma once
// The documents made from what the history keeps: the fleet report and a
// test's certificate made again from its stored record. The command line and
// the fleet window both print through these, so a report or certificate is
// the same whichever made it.
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

#include "FleetReport.h"
#include "HistoryStore.h"
#include "SensorTypes.h"

inline constexpr int kReportPeriodDays = 30;

// Every unit of `store` with its due dates as of `now` and its alarm events
// of the `periodDays` before it; nothing, with `error`, when the history
// cannot be read.
std::optional<RFleetReport> FleetReportFromHistory(THistoryStore& store, const std::vector<RSensorType>& sensors,
                                                   int dueWithinDays, int periodDays, const QDateTime& now,
                                                   QString& error);

enum class CertificateOutcome { Written, NoRecord, RecordChanged, Failed };

// The certificate of operation `opUuid` written to `path` from its stored
// record; a record that no longer gives its stored hash is not certified.
// `number` is the certificate's number when written; otherwise `error` says
// why not.
CertificateOutcome CertificateFromHistory(THistoryStore& store, const QString& opUuid, const QString& path,
                                          QString& number, QString& error);
