#include "history/TrendSampler.h"

void TrendSampler::add(const HistoryPoint& point, QList<TrendSample>& out)
{
    const bool inputChanged = m_last && (m_last->rb1 != point.rb1 || m_last->rb0 != point.rb0);
    m_last = point;
    if (point.afterGap) {
        flush(out);
        m_segmentPending = true;
    }
    if (m_bucketMs <= 0) {
        emitSample(point, out);
        return;
    }
    const qint64 bucket = point.ms / m_bucketMs;
    if (!m_open.isEmpty() && bucket != m_bucket)
        flush(out);
    m_bucket = bucket;
    // The bucket keeps its first reply, its input changes and its extremes; an extreme that
    // is overtaken goes unless it is pinned or still the other extreme.
    const bool lower = m_lowest < 0 || point.celsius < m_open[m_lowest].point.celsius;
    const bool higher = m_highest < 0 || point.celsius > m_open[m_highest].point.celsius;
    const bool pinned = m_open.isEmpty() || inputChanged;
    if (!pinned && !lower && !higher)
        return;
    if (!pinned) {
        const qsizetype old = lower ? m_lowest : m_highest;
        if (!m_open[old].pinned && m_lowest != m_highest) {
            m_open.remove(old);
            if (m_lowest > old)
                --m_lowest;
            if (m_highest > old)
                --m_highest;
        }
    }
    m_open.append({point, pinned});
    if (lower)
        m_lowest = m_open.size() - 1;
    if (higher)
        m_highest = m_open.size() - 1;
}

void TrendSampler::flush(QList<TrendSample>& out)
{
    for (const Kept& kept : std::as_const(m_open))
        emitSample(kept.point, out);
    m_open.clear();
    m_lowest = m_highest = -1;
}

void TrendSampler::emitSample(const HistoryPoint& point, QList<TrendSample>& out)
{
    out.append({point.ms, point.celsius, point.rb1, point.rb0, m_segmentPending});
    m_segmentPending = false;
}
