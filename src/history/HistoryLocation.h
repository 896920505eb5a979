#pragma once
// Where the history is kept: a SQLite file on this station, or a site's
// PostgreSQL server. Chosen by a URL, which never keeps its password beyond
// the connection it opens.
#include <QString>

#include <optional>

enum class HistoryEngine { Sqlite, Postgres };

struct RHistoryLocation {
    HistoryEngine engine = HistoryEngine::Sqlite;
    QString sqlitePath;          // SQLite
    QString host;                // PostgreSQL: a name, an address or a socket folder
    int port = -1;               // -1: the driver's default
    QString database;
    QString user;
    QString password;            // from the URL only; never shown
    QString connectOptions;      // "sslmode=require;connect_timeout=5" for the driver

    // The URL as a user may see it: the password replaced by "***".
    QString Display() const;
};

// `$XDG_DATA_HOME/beamdock/history.sqlite` (`~/.local/share/...` when unset).
QString DefaultHistoryPath();

// "sqlite:PATH", a plain path, or "postgresql://user:pw@host:port/db?param=value"
// (also "postgres://"), with libpq's URI rules: percent-decoding, "host=" for a
// socket folder, the other parameters passed on. An empty text is the default
// file. On error, `error` names the value and what is allowed.
std::optional<RHistoryLocation> ParseHistoryUrl(const QString& text, QString& error);

// The window's choice: `$XDG_CONFIG_HOME/beamdock/history.conf`
// (`~/.config/...` when unset), one line "database=URL".
QString HistoryConfigPath();
QString ReadConfiguredHistoryUrl();
bool WriteConfiguredHistoryUrl(const QString& url);

// The location chosen by an option value, else BEAMDOCK_DB, else the
// window's choice, else the station file.
std::optional<RHistoryLocation> ChooseHistoryLocation(const QString& option, QString& error);
