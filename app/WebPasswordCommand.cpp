#include "app/WebPasswordCommand.h"

#include "app/InstanceLock.h"
#include "app/ServiceCommand.h"
#include "settings/Settings.h"
#include "web/PasswordHash.h"

#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <termios.h>
#include <unistd.h>

using ServiceCommand::say;

namespace {

// The unity build shares one anonymous namespace with MuteCommand.cpp: names of our own.
// Far above any password typed; a file piped in by mistake is refused, not hashed.
constexpr qsizetype MaxLineBytes = 4096;

// One line of standard input without its "\n"; nothing when it is longer than MaxLineBytes
// (the rest of it is read all the same, so that a second question gets its own answer).
std::optional<QByteArray> readLine()
{
    QByteArray line;
    bool tooLong = false;
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
        tooLong = tooLong || line.size() == MaxLineBytes;
        if (!tooLong)
            line.append(char(c));
    }
    return tooLong ? std::nullopt : std::optional(line);
}

// Asks on standard error and reads the answer with the terminal's echo off, restoring it after.
std::optional<QByteArray> askHidden(const char* prompt)
{
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    termios before{};
    const bool terminal = ::tcgetattr(STDIN_FILENO, &before) == 0;
    if (terminal) {
        termios quiet = before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    const std::optional<QByteArray> line = readLine();
    if (terminal)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    return line;
}

// The new password; empty with `error` set when there is none to take.
QString newPassword(QString* error)
{
    std::optional<QByteArray> line;
    if (::isatty(STDIN_FILENO)) {
        line = askHidden("New status page password: ");
        const std::optional<QByteArray> again = askHidden("The same again: ");
        if (!again) {
            line.reset();
        } else if (line && *line != *again) {
            *error = QStringLiteral("The two passwords differ; nothing was changed.");
            return {};
        }
    } else {
        line = readLine();
    }
    if (!line) {
        *error = QStringLiteral("The password is longer than %1 bytes; nothing was changed.")
                     .arg(MaxLineBytes);
        return {};
    }
    if (line->isEmpty()) {
        *error = QStringLiteral("An empty password is refused; nothing was changed.");
        return {};
    }
    return QString::fromUtf8(*line);
}

} // namespace

namespace WebPasswordCommand {

int run(const QString& settingsPath)
{
    // The window keeps its own view of the file and would write the old hash back at exit.
    const InstanceLock::Holder holder = InstanceLock::runningCopy(settingsPath);
    if (ServiceCommand::heldByWindow(holder.pid, holder.name)) {
        say(stderr, QStringLiteral("\"%1\" is in use by PID %2 (%3), not by the service: set the "
                                   "password in that window's settings.")
                        .arg(settingsPath)
                        .arg(holder.pid)
                        .arg(holder.name));
        return 1;
    }
    // Saving would make a whole file of defaults where the service finds none to run on.
    if (!QFileInfo(settingsPath).isFile()) {
        say(stderr, QStringLiteral("There is no settings file \"%1\".").arg(settingsPath));
        return 1;
    }
    QString error;
    const QString password = newPassword(&error);
    if (password.isEmpty()) {
        say(stderr, error);
        return 2;
    }
    const QString hash = PasswordHash::hash(password);
    if (hash.isEmpty()) {
        // crypt(3) would see only what comes before a NUL.
        say(stderr, password.contains(QChar(0))
                        ? QStringLiteral("A password holding a NUL is refused; nothing was "
                                         "changed.")
                        : QStringLiteral("The system could not hash the password; nothing was "
                                         "changed."));
        return password.contains(QChar(0)) ? 2 : 1;
    }
    Settings settings;
    if (!settings.load(settingsPath, &error)) {
        // Saving what could not be read would lose it.
        say(stderr, error);
        return 1;
    }
    // The service's user, made at each start, reads the file as any other user does: it keeps
    // the mode it had rather than becoming its writer's alone, as a window's own file would.
    const QFileDevice::Permissions mode = QFile::permissions(settingsPath);
    settings.setValue(Settings::WebPasswordHash, hash);
    if (!settings.save(settingsPath, &error)) {
        say(stderr, error);
        return 1;
    }
    if (QFile::permissions(settingsPath) != mode && !QFile::setPermissions(settingsPath, mode))
        say(stderr, QStringLiteral("\"%1\" is now readable by its owner only; the service may "
                                   "not read it.")
                        .arg(settingsPath));
    const QString done = QStringLiteral("The status page's password is set in \"%1\" (%2)")
                             .arg(settingsPath, Settings::keyName(Settings::WebPasswordHash));
    return ServiceCommand::tellService(holder.pid, done, QStringLiteral("the password"));
}

} // namespace WebPasswordCommand
