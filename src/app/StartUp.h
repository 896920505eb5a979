#pragma once
// Program start: the texts the window is known by, the single-instance guard
// and the choice of the serial device.
#include <QLockFile>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

namespace startup {
inline const QString kWindowCaption = QStringLiteral("Corvath Beamdock [ver 1.3.0.10]");
inline const QString kApplicationTitle = QStringLiteral("Corvath Beamdock");
inline const QString kAlreadyRunning = QStringLiteral("Corvath Lumbra program now running...");
// Name of the guard every copy of the tool looks for.
inline const QString kInstanceName = QStringLiteral("VARNOLUMBRA");
// Environment variables: the guard's folder (tests keep their copies apart
// with it) and the serial device.
inline constexpr const char* kLockDirVariable = "BEAMDOCK_LOCK_DIR";
inline constexpr const char* kPortVariable = "BEAMDOCK_PORT";
// The program directory, instead of the working directory at start.
inline constexpr const char* kDirVariable = "BEAMDOCK_DIR";
}  // namespace startup

// The serial device to use instead of searching for the adapter: "--port
// PATH" (or "--port=PATH") on the command line first, then the environment
// variable, then the settings file's Port key; empty means search.
QString ChoosePort(const QStringList& arguments, const QString& environmentPort, const std::string& settingsPort);

// The program directory: "--dir DIR" (or "--dir=DIR") on the command line,
// then the environment variable, then the working directory at start; made
// absolute, with a trailing "/".
std::string ChooseProgramDirectory(const QStringList& arguments, const QString& environmentDir);

// The start-up order: the program directory, the settings file read once and
// made the process-wide settings, then the serial device. Returns the device
// (empty: search for the adapter).
QString LoadStartUpSettings(const QStringList& arguments);

// Only one copy of the tool may run: two would fight over the adapter's port.
// Held as a lock file in a folder all copies share; a lock left behind by a
// copy that crashed is recognised by its dead process and taken over.
class TInstanceGuard {
public:
    // `folder` empty: the environment variable, else the system's temporary
    // folder.
    explicit TInstanceGuard(const QString& folder = QString());
    // False when another live copy holds the guard.
    bool Acquire();
    QString LockPath() const { return FPath; }

private:
    QString FPath;
    std::unique_ptr<QLockFile> FLock;
};
