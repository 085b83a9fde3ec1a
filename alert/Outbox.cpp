#include "alert/Outbox.h"

#include "settings/AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace {

// First line of every kept file, so that a stray file in the folder is never sent.
const QByteArray Magic = "ZARVIK-Outbox 1";
const QString Suffix = QStringLiteral(".mail");
// A kept mail is a few kB; anything far larger is not one of ours.
constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

} // namespace

Outbox::Outbox(const QString& folder, int capacity)
    : m_folder(folder)
    , m_capacity(capacity)
{
}

QString Outbox::folderFor(const QString& settingsPath)
{
    QString stem = settingsPath;
    if (stem.endsWith(QStringLiteral(".ini"), Qt::CaseInsensitive))
        stem.chop(4);
    return stem + QStringLiteral(".outbox");
}

QByteArray Outbox::encode(const ComposedMail& mail)
{
    QByteArray bytes = Magic + "\r\nMAIL FROM:<" + mail.mailFrom + ">\r\n";
    for (const QByteArray& rcpt : mail.rcptTo)
        bytes += "RCPT TO:<" + rcpt + ">\r\n";
    return bytes + "\r\n" + mail.message;
}

bool Outbox::decode(const QByteArray& bytes, ComposedMail* mail)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    if (lines.size() < 3 || lines[0] != Magic + '\r')
        return false;
    ComposedMail result;
    const auto address = [](const QByteArray& line, const char* verb, QByteArray* out) {
        const QByteArray head = QByteArray(verb) + ":<";
        if (!line.startsWith(head) || !line.endsWith(">\r"))
            return false;
        *out = line.mid(head.size(), line.size() - head.size() - 2);
        return true;
    };
    if (!address(lines[1], "MAIL FROM", &result.mailFrom))
        return false;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        QByteArray rcpt;
        // The last line has no '\r' left: split() took the "\r\n\r\n" apart.
        const QByteArray line = i + 1 == lines.size() ? lines[i] + '\r' : lines[i];
        if (!address(line, "RCPT TO", &rcpt))
            return false;
        result.rcptTo.append(rcpt);
    }
    result.message = bytes.mid(end + 4);
    *mail = result;
    return true;
}

bool Outbox::keep(const ComposedMail& mail, QString* error, int* dropped)
{
    // The folder lies beside the settings file, whose folder exists.
    if (::mkdir(QFile::encodeName(m_folder).constData(), 0777) != 0 && errno != EEXIST) {
        *error = QStringLiteral("%1: %2").arg(m_folder, qt_error_string(errno));
        return false;
    }
    // Time first, so names sort oldest first; a counter parts mails of the same millisecond.
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    const QDir dir(m_folder);
    QString path;
    for (int n = 0; path.isEmpty() || QFileInfo::exists(path); ++n)
        path = dir.filePath(
            QStringLiteral("%1-%2%3").arg(stamp).arg(n, 3, 10, QLatin1Char('0')).arg(Suffix));
    QString why;
    if (!AtomicFile::replace(path, encode(mail), &why)) {
        *error = QStringLiteral("%1: %2").arg(m_folder, why);
        return false;
    }
    int removed = 0;
    QStringList kept = pending();
    while (kept.size() > m_capacity && remove(kept.takeFirst()))
        ++removed;
    if (dropped)
        *dropped = removed;
    return true;
}

QStringList Outbox::pending() const
{
    const QDir dir(m_folder);
    QStringList paths;
    for (const QString& name :
         dir.entryList({QLatin1Char('*') + Suffix}, QDir::Files | QDir::Hidden, QDir::Name))
        paths.append(dir.filePath(name));
    return paths;
}

bool Outbox::read(const QString& path, ComposedMail* mail, QString* error)
{
    const AtomicFile::Read file = AtomicFile::read(path, MaxFileSize);
    if (!file.error.isEmpty() || file.missing) {
        *error = file.missing ? QStringLiteral("the file is gone") : file.error;
        return false;
    }
    if (file.bytes.size() > MaxFileSize || !decode(file.bytes, mail)) {
        *error = QStringLiteral("not a kept mail");
        return false;
    }
    return true;
}

bool Outbox::remove(const QString& path)
{
    return QFile::remove(path);
}

QString Outbox::setAside(const QString& path, const QString& suffix)
{
    QString target = path + suffix;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".%1").arg(n) + suffix;
    return QFile::rename(path, target) ? target : QString();
}

int retryDelayMs(int attempt, double scale)
{
    static const int steps[] = {15'000, 30'000, 60'000, 120'000, 300'000};
    const int last = int(std::size(steps)) - 1;
    return int(steps[std::clamp(attempt, 0, last)] * scale);
}
