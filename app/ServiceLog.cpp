#include "app/ServiceLog.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdio>
#include <sys/stat.h>

namespace {

// JOURNAL_STREAM names the device and inode of the stream systemd connected; standard error is
// the journal only while it is still that stream (not redirected by a shell in between).
bool stderrIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    if (colon <= 0)
        return false;
    struct stat info {};
    if (::fstat(fileno(stderr), &info) != 0)
        return false;
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = stream.left(colon).toULongLong(&deviceOk);
    const qulonglong inode = stream.mid(colon + 1).toULongLong(&inodeOk);
    return deviceOk && inodeOk && device == info.st_dev && inode == info.st_ino;
}

} // namespace

namespace ServiceLog {

void write(Priority priority, const QString& text)
{
    static const bool journal = stderrIsJournal();
    // One event, one line: a reason that spans lines is joined.
    QString line = text.trimmed();
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" | "))
        .replace(u'\n', QStringLiteral(" | "));
    QByteArray out;
    if (journal) {
        out = '<' + QByteArray::number(int(priority)) + '>';
    } else {
        const QDateTime now = QDateTime::currentDateTime();
        out = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate).toUtf8() + ' ';
    }
    out += line.toUtf8() + '\n';
    std::fwrite(out.constData(), 1, size_t(out.size()), stderr);
    std::fflush(stderr);
}

} // namespace ServiceLog
