#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <deque>

enum class EventKind {
    Alert,
    Recovered,
    Reminder,
    Acknowledged,
    Mute,
    Unmute,
    Mail,
    Push,
    Rearm,
};

// The kind's name in the page's JSON ("alert", "recovered", ...).
QString eventKindName(EventKind kind);

// One thing the status page lists.
struct LoggedEvent {
    quint64 id = 0; // rises by one with each event, from 1
    qint64 ms = 0;  // since the epoch, UTC
    EventKind kind = EventKind::Alert;
    QString text;
};

// The last events, oldest first, so that a page polling with the last id it saw gets only what
// is new. Bounded in count and in each text's length whatever the board or the rules produce.
class EventLog {
public:
    static constexpr qsizetype DefaultCapacity = 50;
    static constexpr qsizetype MaxTextLength = 300;

    explicit EventLog(qsizetype capacity = DefaultCapacity);

    // Keeps the event (its text cut to MaxTextLength) and drops the oldest over the capacity.
    // Returns its id.
    quint64 add(qint64 ms, EventKind kind, const QString& text);
    // Events kept with an id above `id`, oldest first. An id never given out (a page open
    // across a restart of the program) is answered with all that are kept.
    QList<LoggedEvent> since(quint64 id) const;
    quint64 lastId() const { return m_nextId - 1; }
    qsizetype size() const { return qsizetype(m_events.size()); }

private:
    qsizetype m_capacity;
    quint64 m_nextId = 1;
    std::deque<LoggedEvent> m_events;
};
