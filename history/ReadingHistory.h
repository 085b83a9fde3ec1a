#pragma once

#include <QString>
#include <QtGlobal>
#include <deque>

// One correct reply as kept for the trend chart and the CSV log.
struct HistoryPoint {
    qint64 ms = 0; // since the epoch, UTC
    double celsius = 0.0;
    bool rb1 = false;
    bool rb0 = false;
    // The board was silent for more than ReadingHistory::GapMs before this reply (or this is
    // the first point kept): no line joins it to the point before.
    bool afterGap = true;
};

// An alert pass that fired rules, as the chart marks it.
struct HistoryMark {
    qint64 ms = 0;
    double celsius = 0.0;
    QString message;
};

// The replies of the last day, oldest first, bounded by age and by count so that a board
// answering far faster than the poll cannot grow it without limit.
class ReadingHistory {
public:
    static constexpr qint64 DefaultSpanMs = 24LL * 60 * 60 * 1000;
    static constexpr qsizetype DefaultMaxPoints = 100000;
    static constexpr qsizetype MaxMarks = 10000;
    // Three poll periods without a correct reply.
    static constexpr qint64 GapMs = 6000;

    explicit ReadingHistory(qint64 spanMs = DefaultSpanMs, qsizetype maxPoints = DefaultMaxPoints,
                            qsizetype maxMarks = MaxMarks);

    // Adds a reply and drops what fell out of the span or over the count. Returns the point as
    // kept (with its gap flag).
    const HistoryPoint& append(qint64 ms, double celsius, bool rb1, bool rb0);
    void addMark(qint64 ms, double celsius, const QString& message);
    // Drops points and marks older than the span before `nowMs`.
    void trim(qint64 nowMs);
    void clear();

    const std::deque<HistoryPoint>& points() const { return m_points; }
    const std::deque<HistoryMark>& marks() const { return m_marks; }
    qint64 spanMs() const { return m_spanMs; }

private:
    qint64 m_spanMs;
    qsizetype m_maxPoints;
    qsizetype m_maxMarks;
    std::deque<HistoryPoint> m_points;
    std::deque<HistoryMark> m_marks;
};
