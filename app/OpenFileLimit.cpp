#include "app/OpenFileLimit.h"

#include <QString>
#include <cerrno>
#include <cstring>
#include <sys/resource.h>

bool raiseOpenFileLimit(QString* error)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        if (limit.rlim_cur >= limit.rlim_max)
            return true;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) == 0)
            return true;
    }
    if (error)
        *error = QStringLiteral("Cannot raise the limit on open files: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}
