#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdio>

// What the service's own commands (--mute, --web-password) share: a line to say, and telling
// the running service that what it keeps has changed.
namespace ServiceCommand {

void say(std::FILE* to, const QString& text);

// Whether the running copy holding the settings file is a window rather than the service: the
// window keeps its own view of the file and of the mute, so a command must not change them.
bool heldByWindow(qint64 pid, const QString& name);

// Says `done` and tells the service with PID `pid` (0: none runs) with SIGHUP, so that it takes
// `what` ("the mute") at once. Returns the command's exit status.
int tellService(qint64 pid, const QString& done, const QString& what);

} // namespace ServiceCommand
