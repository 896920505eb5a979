#pragma once
// Records for the history tests, and writer processes: the test program
// started again with its disabled "HistoryWriter" test selected, which puts
// BEAMDOCK_TEST_COUNT operations into BEAMDOCK_TEST_DB the way a station's
// recorder does. Two of them at once are two stations (or the window and the
// command line) recording into one database.
#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

#include "HistoryRecords.h"
#include "ZelRecords.h"

ROperationStart SampleStart(const QString& workflow, qint64 startedMs);
// A configuration of the given serial with valid block CRCs.
RZELCFG SampleConfig(const QString& serial);
ROperationEnd SampleEnd(const ROperationStart& start, const QString& serial, int status = 0);

// The body of the writer test: reads the environment, records, fails the
// test on any record not kept.
void RunHistoryWriter();
// Starts `count` writer processes; each records `operations` operations as
// station "station-N".
std::vector<std::unique_ptr<QProcess>> StartHistoryWriters(const QString& url, int count, int operations);
