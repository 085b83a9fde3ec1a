#include "app/MuteCommand.h"

#include "app/InstanceLock.h"
#include "app/ServiceCommand.h"
#include "monitor/Mute.h"
#include "settings/SettingsLocation.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <cstring>

using ServiceCommand::say;

namespace {

// The --state the running service was started with, as an absolute path; empty when none.
QString stateOf(qint64 pid)
{
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> args = cmdline.read(64 * 1024).split('\0');
    QString state;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--state" && i + 1 < args.size())
            state = QFile::decodeName(args[i + 1]);
        else if (args[i].startsWith("--state="))
            state = QFile::decodeName(args[i].mid(8));
    }
    if (state.isEmpty() || QDir::isAbsolutePath(state))
        return state;
    const QString cwd = QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();
    return cwd.isEmpty() ? QString() : QDir(cwd).filePath(state);
}

} // namespace

namespace MuteCommand {

int run(const QString& settingsPath, const QString& stateFolder, const QString& request)
{
    const QDateTime now = QDateTime::currentDateTime();
    QString error;
    const auto untilMs = Mute::parse(request, now, &error);
    if (!untilMs) {
        say(stderr, error);
        return 2;
    }
    const InstanceLock::Holder holder = InstanceLock::runningCopy(settingsPath);
    if (ServiceCommand::heldByWindow(holder.pid, holder.name)) {
        say(stderr, QStringLiteral("\"%1\" is watched by PID %2 (%3), not by the service: mute it "
                                   "from that window's menu.")
                        .arg(settingsPath)
                        .arg(holder.pid)
                        .arg(holder.name));
        return 1;
    }
    const QString state =
        !stateFolder.isEmpty() || holder.pid <= 0 ? stateFolder : stateOf(holder.pid);
    const QString path = Mute::pathFor(SettingsLocation::forService(settingsPath, state).statePath);
    if (!Mute::write(path, *untilMs, &error)) {
        say(stderr, QStringLiteral("Cannot keep the mute in \"%1\": %2").arg(path, error));
        return 1;
    }
    const QString done = *untilMs ? QStringLiteral("Muted until %1 (\"%2\")")
                                        .arg(QDateTime::fromMSecsSinceEpoch(*untilMs).toString(
                                                 QStringLiteral("yyyy-MM-dd HH:mm")),
                                             path)
                                  : QStringLiteral("Mute ended (\"%1\")").arg(path);
    return ServiceCommand::tellService(holder.pid, done, QStringLiteral("the mute"));
}

} // namespace MuteCommand
