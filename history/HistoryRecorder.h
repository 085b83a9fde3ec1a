#pragma once

#include "history/ReadingHistory.h"
#include "history/ReadingLog.h"

#include <QObject>
#include <QString>

// Keeps the history of correct replies for the chart and, while the log is on, writes each to
// the day's CSV file. Qt Core only: the shell feeds it from the main window's signals.
class HistoryRecorder : public QObject {
    Q_OBJECT
public:
    explicit HistoryRecorder(const QString& settingsPath, QObject* parent = nullptr);

    // Whether replies go into the CSV log from now on.
    void setLogEnabled(bool enabled) { m_logEnabled = enabled; }
    // Where no chart will ever show the day: only the latest point and mark are kept, and
    // loadLog() reads nothing. The CSV log and the signals go on as before.
    void keepLatestOnly();

    // Fills the history with the last day of the CSV files (before the first reply).
    void loadLog(qint64 nowMs);
    void recordReply(qint64 ms, double celsius, bool rb1, bool rb0);
    void recordMark(qint64 ms, const QString& message);

    const ReadingHistory& history() const { return m_history; }

signals:
    // A log file could not be written; told once, then lines wait for the next day's file. An
    // empty `why` says the trouble is over: a line was written again, or the log is off.
    void logProblem(const QString& why);
    void pointAdded(const HistoryPoint& point);
    void markAdded(const HistoryMark& mark);

private:
    QString m_settingsPath;
    ReadingHistory m_history;
    ReadingLogWriter m_log;
    bool m_logEnabled = false;
    bool m_latestOnly = false;
    bool m_logTroubled = false;
};
