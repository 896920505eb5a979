// The history on a site's PostgreSQL server: a throwaway cluster of the
// test's own, two stations recording at once, and the station's spool while
// the server is away.
#include <QDateTime>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "HistoryQueries.h"
#include "HistorySamples.h"
#include "HistorySchema.h"
#include "HistorySink.h"
#include "PgCluster.h"

namespace {

class HistoryPgTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (TPgCluster::BinDir().isEmpty())
            return;
        cluster = new TPgCluster;
        started = cluster->Start(startError);
    }
    static void TearDownTestSuite()
    {
        delete cluster;
        cluster = nullptr;
    }
    void SetUp() override
    {
        if (TPgCluster::BinDir().isEmpty())
            GTEST_SKIP() << "PostgreSQL server binaries not found under /usr/lib/postgresql/*/bin "
                            "(./build.sh deps installs the postgresql package)";
        ASSERT_TRUE(started) << startError.toStdString();
    }

    // A fresh database of its own for each test.
    RHistoryLocation Database(const QString& name)
    {
        QString error;
        EXPECT_TRUE(cluster->CreateDatabase(name, error)) << error.toStdString();
        const std::optional<RHistoryLocation> location = ParseHistoryUrl(cluster->Url(name), error);
        EXPECT_TRUE(location) << error.toStdString();
        return location.value_or(RHistoryLocation{});
    }

    static int Count(THistoryStore& store, const QString& sql)
    {
        QSqlQuery query(store.Db());
        return query.exec(sql) && query.next() ? query.value(0).toInt() : -1;
    }

    static TPgCluster* cluster;
    static bool started;
    static QString startError;
};

TPgCluster* HistoryPgTest::cluster = nullptr;
bool HistoryPgTest::started = false;
QString HistoryPgTest::startError;

}  // namespace

TEST(HistoryWriter, DISABLED_Records)
{
    RunHistoryWriter();
}

TEST_F(HistoryPgTest, MigratesFromEveryEarlierVersionAndRefusesANewerOneUntouched)
{
    for (int from = 0; from < historyschema::LatestVersion(); ++from) {
        SCOPED_TRACE(from);
        const RHistoryLocation location = Database(QStringLiteral("migrate%1").arg(from));
        QString error;
        {
            THistoryStore old;
            ASSERT_TRUE(old.Open(location, error, from)) << error.toStdString();
        }
        THistoryStore store;
        ASSERT_TRUE(store.Open(location, error)) << error.toStdString();
        EXPECT_EQ(historyschema::CurrentVersion(store.Db(), error), historyschema::LatestVersion());
        const ROperationStart start = SampleStart(QStringLiteral("Read Varnolite Information"), 1'700'000'000'000);
        EXPECT_EQ(store.AppendStart(start, error), AppendResult::Stored) << error.toStdString();
        EXPECT_EQ(store.AppendEnd(SampleEnd(start, QStringLiteral("SH1")), error), AppendResult::Stored) << error.toStdString();
    }
    const RHistoryLocation location = Database(QStringLiteral("newer"));
    QString error;
    {
        THistoryStore store;
        ASSERT_TRUE(store.Open(location, error));
        QSqlQuery(store.Db()).exec(QStringLiteral("INSERT INTO schema_version VALUES (99, 0)"));
    }
    THistoryStore store;
    EXPECT_FALSE(store.Open(location, error));
    EXPECT_TRUE(error.contains(QStringLiteral("schema version 99"))) << error.toStdString();
}

TEST_F(HistoryPgTest, TwoStationsRecordAtOnceWithNothingLostOrDoubled)
{
    const RHistoryLocation location = Database(QStringLiteral("site"));
    constexpr int kOperations = 200;
    auto writers = StartHistoryWriters(cluster->Url(QStringLiteral("site")), 2, kOperations);
    for (auto& writer : writers) {
        ASSERT_TRUE(writer->waitForFinished(120000));
        EXPECT_EQ(writer->exitCode(), 0) << writer->readAll().toStdString();
    }
    THistoryStore store;
    QString error;
    ASSERT_TRUE(store.Open(location, error)) << error.toStdString();
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM operations")), 4 * kOperations);
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(DISTINCT op_uuid) FROM operations WHERE kind = 'end'")),
              2 * kOperations);
    EXPECT_EQ(Count(store, QStringLiteral("SELECT MAX(seq) FROM operations")), 4 * kOperations);
    EXPECT_EQ(historyqueries::Verify(store, error), std::nullopt) << error.toStdString();
}

TEST_F(HistoryPgTest, SpoolKeepsWhatTheServerMissedAndSyncSendsItOnce)
{
    const RHistoryLocation location = Database(QStringLiteral("spooled"));
    QTemporaryDir station;
    const QString spool = station.filePath(QStringLiteral("beamdock/history.sqlite"));
    THistorySink sink(location, spool);
    auto operation = [&](const QString& serial) {
        const ROperationStart start = SampleStart(QStringLiteral("Write Varnolite Information"),
                                                  QDateTime::currentMSecsSinceEpoch());
        return std::pair{sink.Put(start), sink.Put(SampleEnd(start, serial))};
    };
    const auto [begun, ended] = operation(QStringLiteral("SH-ONLINE"));
    ASSERT_TRUE(begun.kept && !begun.spooled && ended.kept && !ended.spooled) << ended.problem.toStdString();

    cluster->Stop();
    for (int i = 0; i < 3; ++i) {
        const auto [start, end] = operation(QStringLiteral("SH-AWAY-%1").arg(i));
        EXPECT_TRUE(start.spooled && end.spooled) << end.problem.toStdString();
    }
    EXPECT_EQ(sink.Waiting(), 6);
    QString error;
    ASSERT_TRUE(cluster->Start(error)) << error.toStdString();

    auto sync = [&] {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), station.path());
        env.insert(QStringLiteral("BEAMDOCK_DB"), cluster->Url(QStringLiteral("spooled")));
        cli.setProcessEnvironment(env);
        cli.setWorkingDirectory(station.path());
        cli.start(QStringLiteral(BEAMDOCK_CLI_PATH),
                  {QStringLiteral("--dir"), station.path(), QStringLiteral("history"), QStringLiteral("sync")});
        EXPECT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        return QString::fromUtf8(cli.readAllStandardOutput()).trimmed();
    };
    EXPECT_EQ(sync(), QStringLiteral("history sync: sent 3 operations; 0 records waiting"));
    EXPECT_EQ(sync(), QStringLiteral("history sync: sent 0 operations; 0 records waiting"));

    THistoryStore store;
    ASSERT_TRUE(store.Open(location, error)) << error.toStdString();
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM operations WHERE kind = 'end'")), 4);
    EXPECT_EQ(Count(store, QStringLiteral("SELECT COUNT(*) FROM units")), 4);
    EXPECT_EQ(historyqueries::Verify(store, error), std::nullopt);
}
