#include "app/InstanceLock.h"

#include "core/AtomicFile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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

// The file's folder without links, and its name: the same for every copy, however it was named.
QString realPath(const QString& file)
{
    const QFileInfo info(file);
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + u'/' + info.fileName();
}

QByteArray pathHash(const QString& real, int hexDigits)
{
    return QCryptographicHash::hash(QFile::encodeName(real), QCryptographicHash::Sha256)
        .toHex()
        .left(hexDigits);
}

// A name in the abstract namespace: a leading NUL, then the bytes that follow, no file anywhere.
sockaddr_un abstractAddress(const QByteArray& name, socklen_t* length)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), size_t(name.size()));
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return address;
}

sockaddr_un claimAddress(const QString& file, socklen_t* length)
{
    return abstractAddress("zarvik-mail/" + pathHash(realPath(file), 32), length);
}

// The process that listens on `address`, or none.
InstanceLock::Holder claimHolder(const sockaddr_un& address, socklen_t length)
{
    InstanceLock::Holder holder;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return holder;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
        credentials.pid > 0) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(credentials.pid));
        holder.pid = credentials.pid;
        holder.name = comm.open(QIODevice::ReadOnly)
                          ? QString::fromLocal8Bit(comm.read(64)).trimmed()
                          : QString();
    }
    ::close(fd);
    return holder;
}

// "PID 1234 (zarvik-maild)", or empty.
QString holderText(const InstanceLock::Holder& holder)
{
    if (holder.pid <= 0)
        return {};
    return holder.name.isEmpty() ? QStringLiteral("PID %1").arg(holder.pid)
                                 : QStringLiteral("PID %1 (%2)").arg(holder.pid).arg(holder.name);
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
    if (claim(file) == State::HeldElsewhere) {
        m_state = State::HeldElsewhere;
        return;
    }
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

InstanceLock::~InstanceLock()
{
    if (m_claim >= 0)
        ::close(m_claim);
}

InstanceLock::State InstanceLock::claim(const QString& file)
{
    socklen_t length = 0;
    const sockaddr_un address = claimAddress(file, &length);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return State::Failed;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
        ::listen(fd, 4) == 0) {
        m_claim = fd;
        return State::Acquired;
    }
    const bool taken = errno == EADDRINUSE;
    ::close(fd);
    if (!taken)
        return State::Failed;
    m_holder = holderText(claimHolder(address, length));
    return State::HeldElsewhere;
}

InstanceLock::Holder InstanceLock::runningCopy(const QString& settingsPath)
{
    socklen_t length = 0;
    const sockaddr_un address = claimAddress(AtomicFile::resolveLinks(settingsPath), &length);
    return claimHolder(address, length);
}

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
    const QString hash = QString::fromLatin1(pathHash(realPath(settingsFile), 16));
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
            ? QCoreApplication::translate("InstanceLock", "ZARVIK Mail は既に起動しています。\n%1")
                      .arg(m_settingsPath) +
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
