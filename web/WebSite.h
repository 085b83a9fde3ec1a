#pragma once

#include "http/HttpMessage.h"
#include "web/EventLog.h"
#include "web/WebGate.h"
#include "web/WebStatus.h"

#include <QJsonObject>
#include <QString>
#include <functional>
#include <memory>

class Clock;

// The status page and its API as an HTTP site: answered on the server's thread from the status
// last published, the actions run on the owner's (the monitor's) thread. Who may do what is the
// gate's to say; every answer forbids caching and anything from elsewhere.
class WebSite {
public:
    // Each returns what it did, in a line for a person; a refusal starts with nothing done.
    struct Action {
        bool done = false;
        QString text;
        QJsonObject extra; // more facts for the API's answer
    };
    struct Actions {
        std::function<Action(const QString& from)> rearm;
        std::function<Action(const QString& from)> acknowledge;
        // `duration` ("1h") or `until` (ISO 8601 or "14:30"), one of them set.
        std::function<Action(const QString& from, const QString& duration, const QString& until)>
            mute;
        std::function<Action(const QString& from)> unmute;
    };

    WebSite(const Clock& clock, Actions actions);
    ~WebSite();

    // What the page and the API show from now on; the reply age is as of each request, from
    // `lastReplySteadyMs` on the clock's steady time.
    void publish(const WebStatus& status, const EventLog& events, qint64 lastReplySteadyMs);
    void configure(const WebGate::Config& config);
    HttpHandler handler() const;

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};
