#pragma once

#include "web/EventLog.h"
#include "web/TrendSvg.h"

#include <QList>
#include <QString>
#include <optional>

// One rule as the status page shows it.
struct WebRule {
    QString id;   // its short name ("upper", "rb1_high", ...)
    QString name; // as a person reads it ("Upper Temp 31.5℃")
    bool fired = false;
    qint64 firedSinceMs = 0; // wall clock
    bool acknowledged = false;
};

// What the status page and the API tell, as of the last change on the monitor.
struct WebStatus {
    QString board; // "host:port"
    bool hasReading = false;
    double celsius = 0.0;
    QString temperatureText; // as the window shows it: "31.2 ℃"
    bool rb1 = false;
    bool rb0 = false;
    qint64 lastReplyMs = 0;  // wall clock
    qint64 replyAgeMs = -1;  // as of the request; -1 before the first reply
    QString linkProblem;     // why the board cannot be asked; empty when it can
    QList<WebRule> rules;    // the rules set, in their order
    qint64 mutedUntilMs = 0; // 0: not muted
    std::optional<double> upper;
    std::optional<double> lower;
    QList<TrendSvg::Point> hour; // the last hour, every reply
    QList<TrendSvg::Point> day;  // the last day, sampled
    quint64 lastEventId = 0;
};
