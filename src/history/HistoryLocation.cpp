#include "HistoryLocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstring>
#include <QUrl>
#include <QUrlQuery>

namespace {

const QString kSqliteScheme = QStringLiteral("sqlite:");
const QString kFileName = QStringLiteral("history.sqlite");
constexpr char kDbVariable[] = "BEAMDOCK_DB";
constexpr char kConfigKey[] = "database=";
// A site server that does not answer must not hold the recorder for long:
// the records then go to the station's spool.
const QString kDefaultConnectTimeout = QStringLiteral("connect_timeout=5");

QString Decoded(const QString& part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

}  // namespace

QString RHistoryLocation::Display() const
{
    if (engine == HistoryEngine::Sqlite)
        return kSqliteScheme + sqlitePath;
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        text += user + (password.isEmpty() ? QString() : QStringLiteral(":***")) + QLatin1Char('@');
    if (!host.startsWith(QLatin1Char('/')))
        text += host;
    if (port > 0)
        text += QLatin1Char(':') + QString::number(port);
    text += QLatin1Char('/') + database;
    if (host.startsWith(QLatin1Char('/')))
        text += QStringLiteral("?host=") + host;
    return text;
}

QString DefaultHistoryPath()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/beamdock/") + kFileName;
}

std::optional<RHistoryLocation> ParseHistoryUrl(const QString& text, QString& error)
{
    RHistoryLocation location;
    if (text.isEmpty()) {
        location.sqlitePath = DefaultHistoryPath();
        return location;
    }
    const bool postgres = text.startsWith(QStringLiteral("postgresql://")) || text.startsWith(QStringLiteral("postgres://"));
    if (!postgres) {
        if (text.contains(QStringLiteral("://"))) {
            error = QStringLiteral("The history database '%1' is neither a file (a path or sqlite:PATH) nor "
                                   "postgresql://user@host:port/dbname.")
                        .arg(text);
            return std::nullopt;
        }
        location.sqlitePath = text.startsWith(kSqliteScheme) ? text.mid(kSqliteScheme.size()) : text;
        if (location.sqlitePath.isEmpty()) {
            error = QStringLiteral("The history database 'sqlite:' names no file: give sqlite:PATH.");
            return std::nullopt;
        }
        return location;
    }
    location.engine = HistoryEngine::Postgres;
    // libpq's form, parsed by hand: QUrl would refuse an empty host with a
    // port and would not leave the "host" parameter's slashes alone.
    QString rest = text.mid(text.indexOf(QStringLiteral("://")) + 3);
    QString query;
    if (const int q = rest.indexOf(QLatin1Char('?')); q >= 0) {
        query = rest.mid(q + 1);
        rest.truncate(q);
    }
    QString path;
    if (const int slash = rest.indexOf(QLatin1Char('/')); slash >= 0) {
        path = rest.mid(slash + 1);
        rest.truncate(slash);
    }
    if (const int at = rest.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userInfo = rest.left(at);
        rest = rest.mid(at + 1);
        const int colon = userInfo.indexOf(QLatin1Char(':'));
        location.user = Decoded(colon < 0 ? userInfo : userInfo.left(colon));
        if (colon >= 0)
            location.password = Decoded(userInfo.mid(colon + 1));
    }
    QString hostPart = rest;
    if (const int colon = hostPart.lastIndexOf(QLatin1Char(':')); colon >= 0 && !hostPart.endsWith(QLatin1Char(']'))) {
        bool ok = false;
        const int port = hostPart.mid(colon + 1).toInt(&ok);
        if (!ok || port <= 0 || port > 65535) {
            error = QStringLiteral("The port '%1' of the history database is not a number from 1 to 65535.")
                        .arg(hostPart.mid(colon + 1));
            return std::nullopt;
        }
        location.port = port;
        hostPart.truncate(colon);
    }
    location.host = Decoded(hostPart);
    location.database = Decoded(path);
    QStringList options;
    bool timeoutGiven = false;
    for (const QString& pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            error = QStringLiteral("The parameter '%1' of the history database is not name=value.").arg(pair);
            return std::nullopt;
        }
        const QString name = Decoded(pair.left(eq));
        const QString value = Decoded(pair.mid(eq + 1));
        if (name == QLatin1String("host"))
            location.host = value;
        else if (name == QLatin1String("port"))
            location.port = value.toInt();
        else if (name == QLatin1String("dbname"))
            location.database = value;
        else if (name == QLatin1String("user"))
            location.user = value;
        else if (name == QLatin1String("password"))
            location.password = value;
        else {
            if (value.contains(QLatin1Char(';'))) {
                error = QStringLiteral("The parameter '%1' of the history database may not contain ';'.").arg(name);
                return std::nullopt;
            }
            timeoutGiven = timeoutGiven || name == QLatin1String("connect_timeout");
            options << name + QLatin1Char('=') + value;
        }
    }
    if (!timeoutGiven)
        options << kDefaultConnectTimeout;
    location.connectOptions = options.join(QLatin1Char(';'));
    if (location.database.isEmpty()) {
        error = QStringLiteral("The history database URL '%1' names no database: postgresql://user@host:port/dbname.")
                    .arg(location.Display());
        return std::nullopt;
    }
    return location;
}

QString HistoryConfigPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/beamdock/history.conf");
}

QString ReadConfiguredHistoryUrl()
{
    QFile file(HistoryConfigPath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(kConfigKey))
            return QString::fromUtf8(line.mid(static_cast<qsizetype>(std::strlen(kConfigKey)))).trimmed();
    return QString();
}

bool WriteConfiguredHistoryUrl(const QString& url)
{
    const QString path = HistoryConfigPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    // Whole or not at all, like every file the tool writes.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(kConfigKey + url.toUtf8() + "\n");
    return file.commit();
}

std::optional<RHistoryLocation> ChooseHistoryLocation(const QString& option, QString& error)
{
    if (!option.isEmpty())
        return ParseHistoryUrl(option, error);
    if (qEnvironmentVariableIsSet(kDbVariable))
        return ParseHistoryUrl(qEnvironmentVariable(kDbVariable), error);
    return ParseHistoryUrl(ReadConfiguredHistoryUrl(), error);
}
