#pragma once

#include <QString>
#include <QTemporaryDir>
#include <functional>

class QWidget;

// Helpers for tests that drive the real windows.
namespace AppHarness {

// Writes a settings file naming the board at 127.0.0.1:port, plus any extra INI lines
// (ASCII/UTF-8 text; converted to the file's CRLF form).
QString writeSettings(const QTemporaryDir& dir, quint16 boardPort, const QString& extra = {});

// Arms a closer for the next modal window, before the action that opens it: once a modal
// widget is active, `inspect` sees it and the widget is then closed. Polls for up to timeoutMs.
void whenModalOpens(std::function<void(QWidget*)> inspect, int timeoutMs = 10000);

// Runs a real event loop (one that waits for events, as the program's loops do) for `ms`.
// Unlike QTest::qWait, it lets idle passes run.
void runEventLoop(int ms);

// The active modal widget's text if it is a message box, else an empty string.
QString messageBoxText(QWidget* modal);

} // namespace AppHarness
