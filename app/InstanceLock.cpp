#include "app/InstanceLock.h"

#include "core/AtomicFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What QLockFile writes is a process id, a name and a host name; anything much larger is not
// ours, and QLockFile would read it whole looking for a line's end.
constexpr qint64 MaxLockFileSize = 64 * 1024;

// Why the entry at `path` must not be handed to QLockFile, which would open a FIFO and wait for
// a writer, or read a device without end; empty when it is missing or a plain lock file.
QString notALockFile(const QString& path)
{
    return AtomicFile::notRegularFile(path, MaxLockFileSize, AtomicFile::Links::Refuse);
}

// $XDG_RUNTIME_DIR when it is a folder of our own that nobody else may write, as it should be.
QString runtimeFolder()
{
    const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    struct stat st;
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder) ||
        ::stat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
        return {};
    return folder;
}

void tell(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

InstanceLock::InstanceLock(const QString& settingsPath)
    : m_settingsPath(settingsPath)
{
    const QString file = AtomicFile::resolveLinks(settingsPath);
    const QString beside = file + QStringLiteral(".lock");
    QString why = notALockFile(beside);
    const bool leftAlone = !why.isEmpty();
    if (!leftAlone) {
        m_state = take(beside, &why);
        // Only a folder we may not write sends the lock elsewhere; it is said when saving.
        if (m_state != State::Failed)
            return;
    }
    const QString elsewhere = fallbackPath(file);
    QString whyNotThere = notALockFile(elsewhere);
    if (whyNotThere.isEmpty())
        m_state = take(elsewhere, &whyNotThere);
    else
        m_state = State::Failed;
    if (leftAlone) {
        m_note = QStringLiteral("Lock file \"%1\": %2. It is left alone; the lock is at \"%3\".")
                     .arg(beside, why, elsewhere);
    }
    if (m_state == State::Failed) {
        m_problem = QStringLiteral("ZARVIK Mail cannot lock its settings file \"%1\", so it does "
                                   "not start.\n\"%2\": %3.\n\"%4\": %5.")
                        .arg(settingsPath, beside, why, elsewhere, whyNotThere);
    }
}

InstanceLock::~InstanceLock() = default;

InstanceLock::State InstanceLock::take(const QString& path, QString* why)
{
    auto lock = std::make_unique<QLockFile>(path);
    // Never stale by age: only a lock whose process has gone is taken over.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return State::Acquired;
    }
    switch (lock->error()) {
    case QLockFile::LockFailedError: {
        qint64 pid = 0;
        QString host;
        QString application;
        if (lock->getLockInfo(&pid, &host, &application))
            m_holder = QStringLiteral("PID %1 (%2)").arg(pid).arg(application);
        return State::HeldElsewhere;
    }
    case QLockFile::PermissionError:
        *why = QStringLiteral("it cannot be created there (no permission, or a read-only folder)");
        return State::Failed;
    default:
        *why = QStringLiteral("it cannot be created there");
        return State::Failed;
    }
}

QString InstanceLock::fallbackPath(const QString& settingsFile)
{
    const QFileInfo info(settingsFile);
    const QString folder = info.absoluteDir().canonicalPath();
    const QString real =
        folder.isEmpty() ? info.absoluteFilePath() : folder + u'/' + info.fileName();
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(QFile::encodeName(real), QCryptographicHash::Sha256)
            .toHex()
            .left(16));
    const QString runtime = runtimeFolder();
    if (!runtime.isEmpty())
        return QStringLiteral("%1/zarvik-mail-%2.lock").arg(runtime, hash);
    // /tmp is shared: the user's id keeps two users' copies of one file apart.
    return QStringLiteral("/tmp/zarvik-mail-%1-%2.lock").arg(::geteuid()).arg(hash);
}

QString InstanceLock::reportRefusal() const
{
    const QString text =
        m_state == State::HeldElsewhere
            ? QStringLiteral("ZARVIK Mail は既に起動しています。\n%1").arg(m_settingsPath) +
                  (m_holder.isEmpty() ? QString() : QStringLiteral("\n") + m_holder)
            : m_problem;
    if (!m_note.isEmpty())
        tell(m_note);
    tell(text);
    return text;
}

QString InstanceLock::reportNote() const
{
    if (!m_note.isEmpty())
        tell(m_note);
    return m_note;
}
