#pragma once

#include <QString>

// `zarvik-maild --settings FILE --mute 1h|until 14:30|off`: keeps the mute in the state of the
// service that watches FILE and tells that service at once. The state folder is `stateFolder`
// when given, else the running service's own, else the settings file's. Returns the process's
// exit status; what happened is said on standard output, what failed on standard error.
namespace MuteCommand {

int run(const QString& settingsPath, const QString& stateFolder, const QString& request);

} // namespace MuteCommand
