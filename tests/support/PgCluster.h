#pragma once
// A throwaway PostgreSQL server for one test program: initdb and pg_ctl on a
// Unix socket in a private temporary folder, no TCP port, stopped and removed
// at the end. When the tests run as root (as CI does) the server runs as the
// unprivileged user "nobody", because PostgreSQL refuses to run as root.
//
//   <dir>/data          the cluster
//   <dir>/.s.PGSQL.5432 the socket (a libpq URL names <dir> with ?host=)
//   <dir>/server.log    the server's log, shown when it fails to start
#include <QString>
#include <QTemporaryDir>

class TPgCluster {
public:
    TPgCluster();
    ~TPgCluster();
    TPgCluster(const TPgCluster&) = delete;
    TPgCluster& operator=(const TPgCluster&) = delete;

    // The folder of initdb and pg_ctl (the newest /usr/lib/postgresql/*/bin);
    // empty when the server is not installed.
    static QString BinDir();

    // initdb (once), then the server; false with the reason. Tests run it
    // without disk flushes; a benchmark asks for a `durable` one.
    bool Start(QString& error, bool durable = false);
    void Stop();
    bool CreateDatabase(const QString& name, QString& error);

    // postgresql://beamdock@:5432/<database>?host=<dir>
    QString Url(const QString& database) const;

private:
    bool Run(const QString& program, const QStringList& arguments, QString& error, bool asServerUser = true);

    QTemporaryDir FDir;
    bool FInitialised = false;
    bool FRunning = false;
};
