#pragma once

#include <QString>

// The standard error report: an error that escapes a handler is shown in a message box and the
// event loop goes on. Nothing is logged and nothing is retried. The one place that catches is
// ZarvikApplication::notify().
namespace ErrorReport {

void show(const QString& message);
// Shows the message of the exception being handled (call from a catch block).
void showCurrent();

} // namespace ErrorReport
