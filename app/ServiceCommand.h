#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdio>

// What the service's own commands (--mute, --web-password) share: a line to say, and telling
// the running service that what it keeps has changed.
namespace ServiceCommand {

void say(std::FILE* to, const QString& text);

// Says `done` and tells the service with PID `pid` (0: none runs) with SIGHUP, so that it takes
// `what` ("the mute") at once. Returns the command's exit status.
int tellService(qint64 pid, const QString& done, const QString& what);

} // namespace ServiceCommand
