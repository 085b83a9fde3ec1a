#include "monitor/Mute.h"

#include "core/AtomicFile.h"
#include "core/KeptFolder.h"

#include <QFile>
#include <QRegularExpression>
#include <QTime>

namespace Mute {

namespace {

// One ISO time and a line end; anything longer is not ours.
constexpr qint64 MaxSize = 256;

} // namespace

QString pathFor(const QString& statePath)
{
    return KeptFolder::beside(statePath, QStringLiteral(".mute"));
}

Read read(const QString& path)
{
    Read result;
    const AtomicFile::Read file = AtomicFile::read(path, MaxSize);
    if (file.missing)
        return result;
    if (!file.error.isEmpty()) {
        result.problem = file.error;
        return result;
    }
    const QDateTime until =
        QDateTime::fromString(QString::fromLatin1(file.bytes).trimmed(), Qt::ISODate);
    if (file.bytes.size() > MaxSize || !until.isValid())
        result.problem = QStringLiteral("\"%1\" holds no time").arg(path);
    else
        result.untilMs = until.toMSecsSinceEpoch();
    return result;
}

bool write(const QString& path, qint64 untilMs, QString* error)
{
    if (untilMs <= 0) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        *error = file.errorString();
        return false;
    }
    const QByteArray text =
        QDateTime::fromMSecsSinceEpoch(untilMs, Qt::UTC).toString(Qt::ISODate).toLatin1() + '\n';
    return AtomicFile::replace(path, text, error);
}

std::optional<qint64> parse(const QString& text, const QDateTime& now, QString* error)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("off"))
        return 0;
    static const QRegularExpression span(QStringLiteral("^(\\d{1,4})\\s*(m|min|h|d)$"));
    if (const auto m = span.match(t); m.hasMatch()) {
        const qint64 unitMs = m.captured(2) == u'd'   ? 86400000
                              : m.captured(2) == u'h' ? 3600000
                                                      : 60000;
        const qint64 count = m.captured(1).toLongLong();
        if (count > 0)
            return now.toMSecsSinceEpoch() + count * unitMs;
    }
    static const QRegularExpression at(QStringLiteral("^(?:until\\s+)?(\\d{1,2}:\\d{2})$"));
    if (const auto m = at.match(t); m.hasMatch()) {
        const QTime time = QTime::fromString(m.captured(1), QStringLiteral("H:mm"));
        if (time.isValid()) {
            QDateTime until(now.toLocalTime().date(), time);
            if (until <= now)
                until = until.addDays(1);
            return until.toMSecsSinceEpoch();
        }
    }
    *error = QStringLiteral("'%1' is not a length of time (30m, 1h, 4h, 2d), a time of day "
                            "(until 14:30) or off")
                 .arg(text);
    return std::nullopt;
}

QString untilText(qint64 untilMs, const QDateTime& now)
{
    const QDateTime until = QDateTime::fromMSecsSinceEpoch(untilMs).toLocalTime();
    return until.toString(until.date() == now.toLocalTime().date() ? QStringLiteral("HH:mm")
                                                                   : QStringLiteral("M/d HH:mm"));
}

} // namespace Mute
