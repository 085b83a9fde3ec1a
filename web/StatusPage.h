#pragma once

#include "web/EventLog.h"
#include "web/WebStatus.h"

#include <QByteArray>
#include <QList>

// The status page as HTML: everything shown is in it, so that it reads without scripts; its
// own script (page/app.js) then follows the API. Every text from the board, the settings or a
// server is escaped.
namespace StatusPage {

struct View {
    QByteArray token; // for a person logged in: the buttons act; empty: they ask to log in
    bool loginSet = false;
    qint64 nowMs = 0; // wall clock, for the charts' spans
};

QByteArray html(const WebStatus& status, const QList<LoggedEvent>& events, const View& view);
// The charts alone, for the script to swap in.
QByteArray hourChart(const WebStatus& status, qint64 nowMs);
QByteArray dayChart(const WebStatus& status, qint64 nowMs);
// The texts the script shows, as JSON: the kinds' names and the states'.
QByteArray scriptTexts();

} // namespace StatusPage
