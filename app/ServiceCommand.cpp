#include "app/ServiceCommand.h"

#include <cerrno>
#include <csignal>
#include <cstring>

namespace ServiceCommand {

void say(std::FILE* to, const QString& text)
{
    std::fprintf(to, "%s\n", text.toLocal8Bit().constData());
}

bool heldByWindow(qint64 pid, const QString& name)
{
    return pid > 0 && name != QLatin1String("zarvik-maild");
}

int tellService(qint64 pid, const QString& done, const QString& what)
{
    if (pid <= 0) {
        say(stdout, done + QStringLiteral("; no service runs now, the next one takes it."));
        return 0;
    }
    // SIGHUP: the service reads its settings and its mute again.
    if (::kill(pid_t(pid), SIGHUP) != 0) {
        say(stderr, done + QStringLiteral(", but the service (PID %1) could not be told: %2. It "
                                          "takes %3 at its next reload or start.")
                               .arg(pid)
                               .arg(QString::fromLocal8Bit(std::strerror(errno)), what));
        return 1;
    }
    say(stdout, done + QStringLiteral("; the service (PID %1) was told.").arg(pid));
    return 0;
}

} // namespace ServiceCommand
