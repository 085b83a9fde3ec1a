#include "history/ReadingLog.h"

#include "core/AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The local offset at `ms`, asked of the system once per quarter hour (no zone moves its clock
// at other times) or when TZ changes: each local conversion makes the C library look at the
// zone file again, several times the cost of the rest of a reply.
int localOffsetSeconds(qint64 ms)
{
    constexpr qint64 QuarterMs = 15 * 60 * 1000;
    struct Cache {
        qint64 quarter = std::numeric_limits<qint64>::min();
        QByteArray zone;
        int offset = 0;
    };
    thread_local Cache cache;
    const qint64 quarter = ms >= 0 ? ms / QuarterMs : (ms - QuarterMs + 1) / QuarterMs;
    const char* zone = std::getenv("TZ");
    if (quarter != cache.quarter || cache.zone != QByteArrayView(zone ? zone : "")) {
        cache = {quarter, QByteArray(zone ? zone : ""),
                 QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc()};
    }
    return cache.offset;
}

// The local wall-clock time at `ms`, as a UTC date-time that reads the same.
QDateTime localWallClock(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms + qint64(localOffsetSeconds(ms)) * 1000, Qt::UTC);
}

QDate localDay(qint64 ms)
{
    return localWallClock(ms).date();
}

// Two to four digits at `at`; -1 when they are not all digits.
int digits(QByteArrayView text, qsizetype at, qsizetype count)
{
    int value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "2026-12-08T23:43:49+09:00" by hand: a day's log has 43,200 of them to read at start-up, and
// QDateTime::fromString takes many times longer. Other ISO forms go the slow way.
std::optional<qint64> parseTime(QByteArrayView text)
{
    if (text.size() == 25 && text[4] == '-' && text[7] == '-' && text[10] == 'T' &&
        text[13] == ':' && text[16] == ':' && (text[19] == '+' || text[19] == '-') &&
        text[22] == ':') {
        const QDate date(digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2));
        const int h = digits(text, 11, 2), m = digits(text, 14, 2), s = digits(text, 17, 2);
        const int oh = digits(text, 20, 2), om = digits(text, 23, 2);
        if (date.isValid() && h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s < 61 && oh >= 0 &&
            om >= 0) {
            const qint64 offsetS = (text[19] == '-' ? -1 : 1) * (oh * 3600 + om * 60);
            const qint64 days = date.toJulianDay() - QDate(1970, 1, 1).toJulianDay();
            return (days * 86400 + h * 3600 + m * 60 + s - offsetS) * 1000;
        }
        return std::nullopt;
    }
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    if (!time.isValid())
        return std::nullopt;
    return time.toMSecsSinceEpoch();
}

std::optional<bool> parseBit(QByteArrayView field)
{
    if (field == "1")
        return true;
    if (field == "0")
        return false;
    return std::nullopt;
}

} // namespace

namespace ReadingLog {

QString filePathFor(const QString& settingsPath, QDate day)
{
    const QFileInfo info(settingsPath);
    const QString stem =
        info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(stem + day.toString(QStringLiteral("-yyyy-MM-dd")) +
                               QStringLiteral(".csv"));
}

QByteArray formatLine(const HistoryPoint& point)
{
    // Local time alone would be ambiguous in the hour a clock is set back. The offset is
    // written out even when it is zero ("+00:00", never "Z"), so every line reads alike.
    const QDateTime local = localWallClock(point.ms);
    const int offset = localOffsetSeconds(point.ms);
    const QDate date = local.date();
    const QTime time = local.time();
    const int offsetMinutes = std::abs(offset) / 60;
    // By hand: QDateTime::toString parses its format at every call.
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", date.year(),
                  date.month(), date.day(), time.hour(), time.minute(), time.second(),
                  offset < 0 ? '-' : '+', offsetMinutes / 60, offsetMinutes % 60);
    QByteArray line(stamp);
    line += ',';
    line += QByteArray::number(point.celsius, 'f', 4);
    line += point.rb1 ? ",1" : ",0";
    line += point.rb0 ? ",1\n" : ",0\n";
    return line;
}

std::optional<HistoryPoint> parseLine(QByteArrayView line)
{
    while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r'))
        line.chop(1);
    const QList<QByteArray> fields = line.toByteArray().split(',');
    if (fields.size() != 4)
        return std::nullopt;
    const std::optional<qint64> ms = parseTime(fields[0]);
    bool numeric = false;
    const double celsius = fields[1].toDouble(&numeric);
    const std::optional<bool> rb1 = parseBit(fields[2]);
    const std::optional<bool> rb0 = parseBit(fields[3]);
    if (!ms || !numeric || !rb1 || !rb0)
        return std::nullopt;
    return HistoryPoint{*ms, celsius, *rb1, *rb0};
}

QList<HistoryPoint> loadRecent(const QString& settingsPath, qint64 nowMs, qint64 spanMs)
{
    const qint64 oldest = nowMs - spanMs;
    QList<HistoryPoint> points;
    const QDate today = localDay(nowMs);
    for (QDate day = localDay(oldest); day <= today; day = day.addDays(1)) {
        const AtomicFile::Read file = AtomicFile::read(
            filePathFor(settingsPath, day), MaxLoadedFileSize, AtomicFile::Links::Refuse);
        if (file.missing || !file.error.isEmpty() || file.bytes.size() > MaxLoadedFileSize)
            continue;
        // A line cut short by a full disk lacks its last field, so parseLine drops it.
        for (qsizetype start = 0; start < file.bytes.size();) {
            qsizetype end = file.bytes.indexOf('\n', start);
            end = end < 0 ? file.bytes.size() : end + 1;
            const std::optional<HistoryPoint> point =
                parseLine(QByteArrayView(file.bytes).sliced(start, end - start));
            if (point && point->ms >= oldest && point->ms <= nowMs)
                points.append(*point);
            start = end;
        }
    }
    return points;
}

bool writeDays(const QString& settingsPath, const QList<HistoryPoint>& points, QString* error)
{
    std::map<QString, QByteArray> files;
    for (const HistoryPoint& point : points) {
        QByteArray& text = files[filePathFor(settingsPath, localDay(point.ms))];
        if (text.isEmpty())
            text = Header;
        text += formatLine(point);
    }
    for (const auto& [path, text] : files) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
            return false;
        }
    }
    return true;
}

} // namespace ReadingLog

ReadingLogWriter::ReadingLogWriter(const QString& settingsPath)
    : m_settingsPath(settingsPath)
{
}

bool ReadingLogWriter::append(const HistoryPoint& point, QString* error)
{
    const QDate day = localDay(point.ms);
    if (day == m_failedDay)
        return false;
    QString why;
    if ((day != m_day || m_fd < 0) && !open(day, &why)) {
        m_failedDay = day;
        if (error)
            *error = why;
        return false;
    }
    if (!write(ReadingLog::formatLine(point), &why)) {
        close();
        m_failedDay = day;
        if (error)
            *error = why;
        return false;
    }
    return true;
}

void ReadingLogWriter::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool ReadingLogWriter::write(const QByteArray& bytes, QString* error)
{
    if (AtomicFile::writeAll(m_fd, bytes))
        return true;
    *error = QStringLiteral("%1: %2").arg(m_path, qt_error_string(errno));
    return false;
}

bool ReadingLogWriter::open(QDate day, QString* error)
{
    close();
    m_day = day;
    m_path = ReadingLog::filePathFor(m_settingsPath, day);
    // Never through a link, never opening a device, and never waiting for a FIFO's reader; the
    // flags hold should something else take the name between the look and the open.
    if (const QString why = AtomicFile::notRegularFile(m_path, std::numeric_limits<qint64>::max(),
                                                       AtomicFile::Links::Refuse);
        !why.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(m_path, why);
        return false;
    }
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = QStringLiteral("%1: %2").arg(m_path, AtomicFile::openError(errno));
        return false;
    }
    m_fd = fd;
    struct stat st;
    QByteArray start;
    QString why;
    if (::fstat(fd, &st) != 0) {
        why = qt_error_string(errno);
    } else if (!S_ISREG(st.st_mode)) {
        why = AtomicFile::openError(ENXIO);
    } else if (st.st_size == 0) {
        start = ReadingLog::Header;
    } else {
        // A line cut short (a full disk) gets its end, so that ours starts a line of its own.
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
            start = "\n";
    }
    if (!why.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(m_path, why);
    } else if (start.isEmpty() || write(start, error)) {
        return true;
    }
    close();
    return false;
}
