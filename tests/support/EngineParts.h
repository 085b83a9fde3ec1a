#pragma once

#include "mail/OutboxSender.h"

#include <QObject>
#include <QString>
#include <QTimer>

// Reaches into the engine through its children rather than its accessors, so that tests outlive
// a reshuffle of what the engine hands out. Each returns false when the part is not there.
namespace EngineParts {

// The board's polling period (the program's own is 2000 ms).
inline bool setPollPeriod(QObject& engine, int ms)
{
    auto* timer = engine.findChild<QTimer*>(QStringLiteral("Timer1"));
    if (!timer)
        return false;
    timer->setInterval(ms);
    return true;
}

// Scales the waits between tries of kept mail: small to see tries within a test, large to
// see none.
inline bool setRetryDelayScale(QObject& engine, double scale)
{
    const auto senders = engine.findChildren<OutboxSender*>();
    for (OutboxSender* sender : senders)
        sender->setDelayScale(scale);
    return !senders.isEmpty();
}

} // namespace EngineParts
