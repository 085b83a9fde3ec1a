#pragma once

#include "history/ReadingHistory.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QList>
#include <QString>
#include <optional>

// The CSV log of correct replies: one file a day beside the settings file, named after the
// executable ("/x/ZARVIK_Mail.ini" logs to "/x/ZARVIK_Mail-2026-12-08.csv"), one line a reply:
// local time with its UTC offset, temperature, RB1, RB0.
namespace ReadingLog {

inline constexpr char Header[] = "time,temperature_celsius,rb1,rb0\n";

QString filePathFor(const QString& settingsPath, QDate day);
// "2026-12-08T23:43:49+09:00,31.2500,1,0\n"
QByteArray formatLine(const HistoryPoint& point);
// A line as formatLine writes it, with or without its line end; nothing for the header or a
// damaged line.
std::optional<HistoryPoint> parseLine(QByteArrayView line);
// The most of one file that is read back: a day at one reply every 2 s is about 1.7 MB.
inline constexpr qint64 MaxLoadedFileSize = 64 * 1024 * 1024;

// The points of the `spanMs` before `nowMs` from yesterday's and today's files, oldest first.
// A file that is not a regular file of our own (a link, a FIFO, a device) or is larger than
// MaxLoadedFileSize is left out; the writer reports it when it comes to that file.
QList<HistoryPoint> loadRecent(const QString& settingsPath, qint64 nowMs, qint64 spanMs);
// Writes `points` (oldest first) as the daily files the program would have written, each file
// replaced whole: a log made up for a benchmark or a picture. False with the reason otherwise.
bool writeDays(const QString& settingsPath, const QList<HistoryPoint>& points, QString* error);

} // namespace ReadingLog

// Appends lines to the day's file, each written whole at once so that a crash loses at most the
// line being written. A file that cannot be written is reported once; lines are then dropped
// until the next day's file. The program makes its files itself: a link, a FIFO or a device at
// the file's name counts as a file that cannot be written.
class ReadingLogWriter {
public:
    explicit ReadingLogWriter(const QString& settingsPath);
    ~ReadingLogWriter() { close(); }
    ReadingLogWriter(const ReadingLogWriter&) = delete;
    ReadingLogWriter& operator=(const ReadingLogWriter&) = delete;

    // True when the line was written. False with the reason when the file failed now; false with
    // no reason while lines wait for the next day's file after a failure already told.
    bool append(const HistoryPoint& point, QString* error = nullptr);
    void close();

private:
    bool open(QDate day, QString* error);
    bool write(const QByteArray& bytes, QString* error);

    QString m_settingsPath;
    QString m_path;
    int m_fd = -1;
    QDate m_day;
    QDate m_failedDay;
};
