#pragma once

#include <QString>

// `zarvik-maild --settings FILE --web-password`: reads a new password for the status page from
// standard input (asked twice without echo on a terminal, one line from a pipe), keeps its hash
// as [Web] PasswordHash in FILE and tells the service that watches FILE to read it again.
// Returns the process's exit status: 0 done, 2 no usable password, 1 the file not written; what
// happened is said on standard output, what failed on standard error.
namespace WebPasswordCommand {

int run(const QString& settingsPath);

} // namespace WebPasswordCommand
