#include "web/EventLog.h"

#include <algorithm>

namespace {

QString capped(const QString& text)
{
    if (text.size() <= EventLog::MaxTextLength)
        return text;
    qsizetype n = EventLog::MaxTextLength - 1;
    // Never half of a surrogate pair: the JSON and the page would carry an invalid character.
    if (text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n) + QChar(0x2026);
}

} // namespace

QString eventKindName(EventKind kind)
{
    switch (kind) {
    case EventKind::Alert:
        return QStringLiteral("alert");
    case EventKind::Recovered:
        return QStringLiteral("recovered");
    case EventKind::Reminder:
        return QStringLiteral("reminder");
    case EventKind::Acknowledged:
        return QStringLiteral("acknowledged");
    case EventKind::Mute:
        return QStringLiteral("mute");
    case EventKind::Unmute:
        return QStringLiteral("unmute");
    case EventKind::Mail:
        return QStringLiteral("mail");
    case EventKind::Push:
        return QStringLiteral("push");
    case EventKind::Rearm:
        return QStringLiteral("rearm");
    }
    return {};
}

EventLog::EventLog(qsizetype capacity)
    : m_capacity(std::max<qsizetype>(capacity, 1))
{
}

quint64 EventLog::add(qint64 ms, EventKind kind, const QString& text)
{
    m_events.push_back({m_nextId, ms, kind, capped(text)});
    while (qsizetype(m_events.size()) > m_capacity)
        m_events.pop_front();
    return m_nextId++;
}

QList<LoggedEvent> EventLog::since(quint64 id) const
{
    if (id > lastId())
        id = 0;
    QList<LoggedEvent> out;
    for (const LoggedEvent& event : m_events) {
        if (event.id > id)
            out.append(event);
    }
    return out;
}
