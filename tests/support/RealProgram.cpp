#include "support/RealProgram.h"

#include "support/ChildProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QProcess>
#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>

namespace RealProgram {

QString enterPrivateNetwork()
{
    if (::unshare(CLONE_NEWNET) != 0)
        return QStringLiteral("needs root for a private network namespace (unshare: %1)")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

QString enterPrivateMounts()
{
    if (::unshare(CLONE_NEWNS) != 0)
        return QStringLiteral("needs root for a private mount namespace (unshare: %1)")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    // Without this, mounts would still propagate to the system's namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return QStringLiteral("cannot make the mounts private (mount: %1)")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

QString setUpLoopback(const QStringList& addresses)
{
    QList<QStringList> commands = {{"link", "set", "lo", "up"}};
    for (const QString& address : addresses)
        commands.append({"addr", "add", address, "dev", "lo"});
    for (const QStringList& arguments : commands) {
        if (QProcess::execute(QStringLiteral("ip"), arguments) != 0)
            return QStringLiteral("'ip %1' failed in the private namespace")
                .arg(arguments.join(' '));
    }
    QStringList missing = addresses;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const bool loopback = interface.flags() & QNetworkInterface::IsLoopBack;
        if (!loopback && (interface.flags() & QNetworkInterface::IsUp))
            return QStringLiteral("not isolated: interface %1 is up").arg(interface.name());
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (loopback)
                missing.removeAll(entry.ip().toString() + "/32");
        }
    }
    return missing.isEmpty() ? QString()
                             : QStringLiteral("%1 not on loopback").arg(missing.join(", "));
}

QString copyInto(const QString& folder)
{
    const QString executable = qEnvironmentVariable("ZARVIK_EXE");
    const QString copy = folder + QStringLiteral("/ZARVIK_Mail");
    if (!QFile::exists(executable) || !QFile::copy(executable, copy) ||
        !QFile::setPermissions(copy, QFile::permissions(executable)))
        return {};
    return copy;
}

bool start(QProcess& process, const QString& program, const QString& display,
           const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (display.isEmpty()) {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    }
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QFileInfo(program).path());
    dieWithParent(process);
    process.start(program, arguments);
    return process.waitForStarted(10000);
}

} // namespace RealProgram
