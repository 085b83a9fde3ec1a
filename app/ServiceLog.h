#pragma once

class QString;

// One line per event on standard error. When standard error is the journal, each line starts
// with its sd-daemon priority ("<3>" …) and the journal adds the time; otherwise it starts with
// the local time in ISO 8601, for a terminal or a file.
namespace ServiceLog {

enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

void write(Priority priority, const QString& text);

} // namespace ServiceLog
