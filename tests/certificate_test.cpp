// Certificates end to end: a bump test through beamdock-cli against the
// simulator leaves its record in the history and a PDF whose text, read
// back with pdftotext, holds every field; the attached JSON is the history's
// record byte for byte; an edited record is caught.
#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "SimProcess.h"

namespace {

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
};

ToolRun Tool(const QString& program, const QStringList& args, const QString& dir)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("BEAMDOCK_PORT");
    env.insert("XDG_DATA_HOME", dir);
    process.setProcessEnvironment(env);
    process.start(program, args);
    ToolRun run;
    if (process.waitForFinished(60000)) {
        run.exitCode = process.exitCode();
        run.out = process.readAllStandardOutput();
    }
    return run;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TEST(Certificate, BumpCertificateCarriesEveryFieldAndItsRecord)
{
    QTemporaryDir dir;
    const QString control = dir.filePath("gas");
    {
        QFile gas(control);
        ASSERT_TRUE(gas.open(QIODevice::WriteOnly));
        gas.write("25");  // the cylinder is on from the start
    }
    {
        // The site's rule: no wait for the alarms to clear.
        QFile ini(dir.filePath("LUMBRA.INI"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Environment]\r\nConnectTime=500\r\n[BumpTest]\r\nClearLimit=0\r\nResponsePercent=60\r\n");
    }
    SimProcess sim({"--noise", "0", "--gas-control", control});
    ASSERT_TRUE(sim.start());
    const QString db = dir.filePath("history.sqlite");
    const QString pdf = dir.filePath("bump.pdf");
    const ToolRun bump = Tool(BEAMDOCK_CLI_PATH,
                          {"--dir", dir.path(), "--port", sim.portPath(), "--db", db, "bump", "--gas", "25", "--lot",
                           "LOT-4711", "--expiry", "2031-03-31", "--technician", "Dana Safety", "--yes", "--json",
                           "--certificate", pdf},
                          dir.path());
    ASSERT_EQ(bump.exitCode, 0) << bump.out.toStdString();
    const QByteArray record = bump.out.trimmed();
    const QJsonObject json = QJsonDocument::fromJson(record).object();
    const QString operation = json.value("operation").toString();
    ASSERT_FALSE(operation.isEmpty());

    const ToolRun text = Tool("pdftotext", {pdf, "-"}, dir.path());
    ASSERT_EQ(text.exitCode, 0) << "pdftotext (poppler-utils) is needed";
    const QString page = QString::fromUtf8(text.out);
    const QStringList fields = {"Bump Test Certificate", "BD-" + operation.toUpper(), "Station", "Dana Safety",
                                "SH10000123", "Varnolite", "hardware 001", "1.3", "H2S, unit of measure ppm",
                                "LOW 10 ppm, HIGH 15 ppm",
                                "25 ppm", "LOT-4711", "2031-03-31", "Time to LOW alarm", "Time to HIGH alarm",
                                "Peak reading", "at least 60 %", "PASSED", "Next calibration due",
                                "Next bump test due", "UTC", json.value("zone").toString(),
                                QString::fromLatin1(QCryptographicHash::hash(record, QCryptographicHash::Sha256).toHex())};
    for (const QString& field : fields)
        EXPECT_TRUE(page.contains(field)) << field.toStdString();

    // With a file attached, the document claims PDF/A-3b, the part that
    // allows one, no longer PDF/A-1b.
    EXPECT_TRUE(Tool("pdfinfo", {"-meta", pdf}, dir.path()).out.contains("pdfaid:part=\"3\" pdfaid:conformance=\"B\""));

    // The attachment is the history's record, byte for byte.
    const QString attached = dir.filePath("record.json");
    ASSERT_EQ(Tool("pdfdetach", {"-save", "1", "-o", attached, pdf}, dir.path()).exitCode, 0);
    {
        QSqlDatabase history = QSqlDatabase::addDatabase("QSQLITE", "certificate_test");
        history.setDatabaseName(db);
        ASSERT_TRUE(history.open());
        QSqlQuery query(history);
        ASSERT_TRUE(query.exec("SELECT record FROM test_records WHERE op_uuid = '" + operation + "'") && query.next());
        EXPECT_EQ(query.value(0).toString().toUtf8(), ReadAll(attached));
        EXPECT_EQ(ReadAll(attached), record);
    }

    // Made again from the history: the same text. Verified, then edited.
    const QString again = dir.filePath("again.pdf");
    const QStringList base = {"--dir", dir.path(), "--db", db, "history"};
    ASSERT_EQ(Tool(BEAMDOCK_CLI_PATH, base + QStringList{"certificate", operation, "--out", again}, dir.path()).exitCode, 0);
    EXPECT_EQ(Tool("pdftotext", {again, "-"}, dir.path()).out, text.out);
    EXPECT_EQ(Tool(BEAMDOCK_CLI_PATH, base + QStringList{"verify-certificate", pdf}, dir.path()).exitCode, 0);
    {
        QSqlDatabase history = QSqlDatabase::database("certificate_test");
        QSqlQuery query(history);
        // Edited together with its stored hash: the audit chain still holds
        // the hash the record was written with.
        ASSERT_TRUE(query.exec("UPDATE test_records SET record = replace(record, '\"PASSED\"', '\"FAILED\"')"));
        ASSERT_TRUE(query.exec("SELECT record FROM test_records") && query.next());
        const QByteArray edited =
            QCryptographicHash::hash(query.value(0).toString().toUtf8(), QCryptographicHash::Sha256).toHex();
        ASSERT_TRUE(query.exec("UPDATE test_records SET sha256 = '" + QString::fromLatin1(edited) + "'"));
        history.close();
    }
    QSqlDatabase::removeDatabase("certificate_test");
    EXPECT_EQ(Tool(BEAMDOCK_CLI_PATH, base + QStringList{"verify"}, dir.path()).exitCode, 1);
    const ToolRun edited = Tool(BEAMDOCK_CLI_PATH, base + QStringList{"verify-certificate", pdf}, dir.path());
    EXPECT_EQ(edited.exitCode, 1);
    EXPECT_TRUE(edited.out.contains("was changed")) << edited.out.toStdString();
    EXPECT_NE(Tool(BEAMDOCK_CLI_PATH, base + QStringList{"certificate", operation, "--out", again}, dir.path()).exitCode, 0);
}
