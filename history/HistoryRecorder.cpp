#include "history/HistoryRecorder.h"

#include <utility>

HistoryRecorder::HistoryRecorder(const QString& settingsPath, QObject* parent)
    : QObject(parent)
    , m_settingsPath(settingsPath)
    , m_log(settingsPath)
{
}

void HistoryRecorder::keepLatestOnly()
{
    m_latestOnly = true;
    m_history = ReadingHistory(ReadingHistory::DefaultSpanMs, 1, 1);
}

void HistoryRecorder::loadLog(qint64 nowMs)
{
    if (m_latestOnly)
        return;
    const QList<HistoryPoint> points =
        ReadingLog::loadRecent(m_settingsPath, nowMs, m_history.spanMs());
    for (const HistoryPoint& point : points)
        m_history.append(point.ms, point.celsius, point.rb1, point.rb0);
}

void HistoryRecorder::recordReply(qint64 ms, double celsius, bool rb1, bool rb0)
{
    const HistoryPoint& point = m_history.append(ms, celsius, rb1, rb0);
    QString why;
    const bool written = !m_logEnabled || m_log.append(point, &why);
    const bool failedNow = !written && !why.isEmpty();
    // Told when it begins and when it ends (a line written again, or the log turned off).
    if (failedNow || (written && std::exchange(m_logTroubled, false))) {
        m_logTroubled = failedNow;
        emit logProblem(why);
    }
    emit pointAdded(point);
}

void HistoryRecorder::recordMark(qint64 ms, const QString& message)
{
    // Placed on the line where the pass found it: the last reply's temperature.
    const double celsius = m_history.points().empty() ? 0.0 : m_history.points().back().celsius;
    m_history.addMark(ms, celsius, message);
    emit markAdded(m_history.marks().back());
}
