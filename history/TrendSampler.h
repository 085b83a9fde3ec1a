#pragma once

#include "history/ReadingHistory.h"

#include <QList>
#include <optional>

// A point as the chart draws it.
struct TrendSample {
    qint64 ms = 0;
    double celsius = 0.0;
    bool rb1 = false;
    bool rb0 = false;
    bool startsSegment = false; // the line is broken before it (a silent board, the first one)
};

// Turns replies into the chart's points. With bucketMs 0 every reply is a point. Otherwise each
// bucket of that many milliseconds gives its lowest and highest temperature and every reply
// where an input changed, so that a day's 43,200 replies draw as a few thousand points and
// neither a spike nor a short pulse on an input is lost. Fed the same way on a full load and
// for live replies, so both draw alike.
class TrendSampler {
public:
    explicit TrendSampler(qint64 bucketMs = 0)
        : m_bucketMs(bucketMs)
    {
    }

    // Appends to `out` the samples that are final once `point` is in.
    void add(const HistoryPoint& point, QList<TrendSample>& out);
    // Appends the open bucket's samples to `out`; later replies start a new bucket.
    void flush(QList<TrendSample>& out);

private:
    void emitSample(const HistoryPoint& point, QList<TrendSample>& out);

    qint64 m_bucketMs;
    qint64 m_bucket = 0;
    bool m_segmentPending = true;
    struct Kept {
        HistoryPoint point;
        bool pinned; // the bucket's first reply or an input change: stays whatever comes
    };
    QList<Kept> m_open; // the open bucket's samples-to-be, in time order
    qsizetype m_lowest = -1;
    qsizetype m_highest = -1;
    std::optional<HistoryPoint> m_last;
};
