#pragma once

#include "device/Reading.h"

#include <QString>

// What the watching tells beyond the window: a pass that fired rules, a rule that recovered,
// a reminder that one still holds, or a person who has seen the fired rules.
struct AlertEvent {
    enum class Kind { Alert, Recovered, Reminder, Acknowledged };
    Kind kind = Kind::Alert;
    quint8 rules = 0;     // AlertRule bits
    QString subject;      // the mail's
    QString message;      // the one shown on screen
    QString mailBody;     // the mail's body: the rules' memos, or a notice's message
    QString memo;         // the memos of the event's rules, for the user's own words
    bool mailDue = false; // the pass collected a mail
    Reading reading;      // the last correct reply; timeMs 0 before the first
    qint64 timeMs = 0;    // when it happened, on the wall clock
    bool muted = false;   // during maintenance: only outlets that reach no person hear of it
    bool late = false;    // an alert fired during maintenance, told at its end
};

// Where alerts go out: mail, push, the desktop, the metrics, the service log. The monitor hands
// every outlet each event from one place, so a new outlet is one class and one line in the
// monitor's list, and the rules never know who listens.
class Outlet {
public:
    virtual ~Outlet() = default;
    virtual void take(const AlertEvent& event) = 0;
    // Reaches a person (mail, push, the desktop): silent during maintenance. Records (metrics,
    // logs) hear of everything.
    virtual bool notifies() const { return true; }
};
