// Every file the tool writes is written whole or not at all: a write that
// breaks off part of the way (a full disk, here a file size limit) leaves the
// earlier file as it was and nothing beside it, and reports the failure.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <csignal>
#include <functional>

#include "ConfigFile.h"
#include "DataLogCsv.h"
#include "EepromCsv.h"
#include "MainWorkflows.h"
#include "ProfileFile.h"
#include "WholeFile.h"
#include "ZelRecords.h"

namespace {

constexpr rlim_t kSizeLimit = 40;  // every file below is larger
const QByteArray kEarlier = "an earlier file\r\n";

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs `write` while files of this process may not grow past kSizeLimit.
bool UnderSizeLimit(const std::function<bool()>& write)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit small = previous;
    small.rlim_cur = kSizeLimit;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = write();
    setrlimit(RLIMIT_FSIZE, &previous);
    return written;
}

EepromGridTexts FullGrid()
{
    EepromGridTexts grid(64);
    for (std::size_t row = 0; row < grid.size(); ++row) {
        grid[row][0] = QString::asprintf("%04X", static_cast<unsigned>(row * 16));
        for (int column = 1; column < kEepromGridColumns; ++column)
            grid[row][column] = QStringLiteral("FF");
    }
    return grid;
}

}  // namespace

TEST(WholeFile, WriteThatBreaksOffLeavesTheEarlierFile)
{
    const RZELCFG config = DefaultConfig();
    struct Case {
        const char* name;
        std::function<bool(const QString&)> write;
    };
    const std::vector<Case> cases = {
        {"bytes", [](const QString& path) { return WriteFileWhole(path, QByteArray(500, 'x')); }},
        {"configuration file",
         [&](const QString& path) {
             return WriteConfigFile(path.toStdString(), config, true, QDateTime(QDate(2026, 12, 9), QTime(11, 0)));
         }},
        {"EEPROM grid", [](const QString& path) { return WriteEepromCsvFile(path, FullGrid()); }},
        {"data log header", [&](const QString& path) { return WriteDataLogHeader(path, config.mUnit); }},
        {"communication trace",
         [](const QString& path) {
             return WriteTraceFile(path.toStdString(), QStringList(20, QStringLiteral("12:00:00:000 [SEND] A0 00 00")));
         }},
        {"settings key",
         [](const QString& path) {
             return ProfileFile(path.toStdString()).WriteString("FLASH", "ImageFile", std::string(200, 'i'));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("target"));
        {
            QFile earlier(path);
            ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
            earlier.write(kEarlier);
        }
        EXPECT_FALSE(UnderSizeLimit([&] { return c.write(path); })) << "the failure is reported";
        EXPECT_EQ(ReadAll(path), kEarlier);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("target")})
            << "nothing part-written beside it";

        // With room again the same write replaces the file whole.
        EXPECT_TRUE(c.write(path));
        EXPECT_GT(ReadAll(path).size(), static_cast<qsizetype>(kSizeLimit));
    }
}
