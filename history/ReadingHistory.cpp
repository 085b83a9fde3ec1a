#include "history/ReadingHistory.h"

ReadingHistory::ReadingHistory(qint64 spanMs, qsizetype maxPoints, qsizetype maxMarks)
    : m_spanMs(spanMs)
    , m_maxPoints(maxPoints)
    , m_maxMarks(maxMarks)
{
}

const HistoryPoint& ReadingHistory::append(qint64 ms, double celsius, bool rb1, bool rb0)
{
    // A clock set back counts as a gap too: the line must not run backwards.
    const bool gap = m_points.empty() || ms - m_points.back().ms > GapMs || ms < m_points.back().ms;
    m_points.push_back({ms, celsius, rb1, rb0, gap});
    while (qsizetype(m_points.size()) > m_maxPoints)
        m_points.pop_front();
    trim(ms);
    return m_points.back();
}

void ReadingHistory::addMark(qint64 ms, double celsius, const QString& message)
{
    m_marks.push_back({ms, celsius, message});
    while (qsizetype(m_marks.size()) > m_maxMarks)
        m_marks.pop_front();
    trim(ms);
}

void ReadingHistory::trim(qint64 nowMs)
{
    const qint64 oldest = nowMs - m_spanMs;
    while (!m_points.empty() && m_points.front().ms < oldest)
        m_points.pop_front();
    while (!m_marks.empty() && m_marks.front().ms < oldest)
        m_marks.pop_front();
    // What is left has lost the point it joined on to.
    if (!m_points.empty())
        m_points.front().afterGap = true;
}

void ReadingHistory::clear()
{
    m_points.clear();
    m_marks.clear();
}
