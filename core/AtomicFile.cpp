#include "core/AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace AtomicFile {

namespace {

constexpr int MaxLinkHops = 40; // as the kernel allows
constexpr int KeptStampedBackups = 5;
const QString NotRegular = QStringLiteral("it is not a regular file");

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

QByteArray tempName(const QFileInfo& target)
{
    return encoded(target.absoluteFilePath() +
                   QStringLiteral(".saving-%1")
                       .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
}

// Tries `create` with new temporary names while the name is taken; leaves the last one tried
// in `name`, or clears it when none could be created.
template <typename Create>
bool createWithFreeName(const QFileInfo& target, QByteArray& name, Create create)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = tempName(target);
        if (create(name.constData()))
            return true;
        if (errno != EEXIST)
            break;
    }
    const int error = errno;
    name.clear();
    errno = error;
    return false;
}

bool exists(const QString& path)
{
    struct stat st;
    return ::lstat(encoded(path).constData(), &st) == 0;
}

struct StampedBackup {
    QString stamp; // yyyyMMdd-HHmmss
    int number;    // 1 for the second's first backup, then 2, 3, ...
    QString path;
};

// The time-stamped backups of `path`, oldest first.
QList<StampedBackup> stampedBackups(const QString& path)
{
    const QFileInfo info(path);
    const QRegularExpression pattern(QStringLiteral("^%1\\.(\\d{8}-\\d{6})(?:-(\\d+))?\\.bak$")
                                         .arg(QRegularExpression::escape(info.fileName())));
    QList<StampedBackup> found;
    const QDir folder = info.absoluteDir();
    for (const QString& name : folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        const int number = match.captured(2).isEmpty() ? 1 : match.captured(2).toInt();
        found.append({match.captured(1), number, folder.filePath(name)});
    }
    std::sort(found.begin(), found.end(), [](const StampedBackup& a, const StampedBackup& b) {
        return std::tie(a.stamp, a.number) < std::tie(b.stamp, b.number);
    });
    return found;
}

QString freeBackupName(const QString& path)
{
    const QString plain = path + QStringLiteral(".bak");
    if (!exists(plain))
        return plain;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    // Numbered above every backup of this second, so that the new one always sorts newest and
    // pruning never takes it.
    int highest = 0;
    for (const StampedBackup& kept : stampedBackups(path)) {
        if (kept.stamp == stamp)
            highest = std::max(highest, kept.number);
    }
    const QString base = path + u'.' + stamp;
    return highest == 0 ? base + QStringLiteral(".bak")
                        : base + QStringLiteral("-%1.bak").arg(highest + 1);
}

bool sameBytesKept(const QString& path)
{
    const Read current = read(path, 64 * 1024 * 1024);
    if (current.missing || !current.error.isEmpty())
        return false;
    QStringList backups{path + QStringLiteral(".bak")};
    for (const StampedBackup& stamped : stampedBackups(path))
        backups.append(stamped.path);
    for (const QString& backup : std::as_const(backups)) {
        const Read kept = read(backup, current.bytes.size());
        if (kept.error.isEmpty() && !kept.missing && kept.bytes == current.bytes)
            return true;
    }
    return false;
}

} // namespace

Read read(const QString& path, qint64 maxSize, Links links)
{
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(encoded(path).constData(), flags);
    if (fd < 0) {
        if (errno == ENOENT)
            return {true, {}, {}};
        return {false, {}, openError(errno)};
    }
    Read result;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        result.error = qt_error_string(errno);
    } else if (S_ISDIR(st.st_mode)) {
        result.error = qt_error_string(EISDIR);
    } else if (!S_ISREG(st.st_mode)) {
        result.error = NotRegular;
    } else {
        char buffer[65536];
        while (result.bytes.size() <= maxSize) {
            // One byte past the limit tells the file is too large; more is never read.
            const qint64 left = maxSize + 1 - result.bytes.size();
            const ssize_t n = ::read(fd, buffer, size_t(std::min<qint64>(left, sizeof buffer)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                result.error = qt_error_string(errno);
                break;
            }
            if (n == 0)
                break;
            result.bytes.append(buffer, n);
        }
    }
    ::close(fd);
    return result;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO; // nothing written and no reason given: do not spin
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

QString notRegularFile(const QString& path, qint64 maxSize, Links links)
{
    const QByteArray name = encoded(path);
    struct stat st;
    if ((links == Links::Follow ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) !=
        0)
        return errno == ENOENT ? QString() : qt_error_string(errno);
    if (S_ISLNK(st.st_mode))
        return openError(ELOOP);
    if (S_ISDIR(st.st_mode))
        return qt_error_string(EISDIR);
    if (!S_ISREG(st.st_mode))
        return NotRegular;
    if (st.st_size > maxSize)
        return QStringLiteral("it is larger than %1 bytes").arg(maxSize);
    return {};
}

QString openError(int error)
{
    // O_NOFOLLOW on a link; O_NONBLOCK | O_WRONLY on a FIFO nobody reads, or a device.
    if (error == ELOOP)
        return QStringLiteral("it is a symbolic link");
    if (error == ENXIO)
        return NotRegular;
    return qt_error_string(error);
}

QString resolveLinks(const QString& path)
{
    QString current = path;
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            return current;
        current = info.symLinkTarget();
    }
    return current; // a loop: replacing it fails with the system's own reason
}

bool mayReplace(const QString& path, QString* error)
{
    const QByteArray file = encoded(path);
    struct stat st;
    if (::stat(file.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    int reason = 0;
    // The effective user is the one whose rights count, as for the rename itself.
    if (::faccessat(AT_FDCWD, file.constData(), W_OK, AT_EACCESS) != 0)
        reason = errno;
    else if (::geteuid() == 0 && (st.st_mode & 0222) == 0)
        reason = EACCES;
    if (reason == 0)
        return true;
    *error = qt_error_string(reason);
    return false;
}

bool keepBackup(const QString& path, QString* movedTo, QString* error)
{
    movedTo->clear();
    const QByteArray file = encoded(path);
    struct stat st;
    if (::lstat(file.constData(), &st) != 0 || sameBytesKept(path))
        return true;
    const QString backupName = freeBackupName(path);
    const QByteArray backup = encoded(backupName);
    const bool regular = S_ISREG(st.st_mode);
    // A file we could not read may lack read permission, so a hard link comes first; a copy
    // serves file systems without hard links. A rename is the last resort and leaves no file
    // under the old name until the new one is in.
    const bool kept = regular && (::link(file.constData(), backup.constData()) == 0 ||
                                  QFile::copy(path, backupName));
    if (!kept) {
        if (::rename(file.constData(), backup.constData()) != 0) {
            *error = qt_error_string(errno);
            return false;
        }
        *movedTo = backupName;
    }
    const QList<StampedBackup> stamped = stampedBackups(path);
    for (qsizetype i = 0; i + KeptStampedBackups < stamped.size(); ++i)
        QFile::remove(stamped[i].path);
    return true;
}

bool replace(const QString& path, const QByteArray& bytes, QString* error, Access access)
{
    const QFileInfo info(path);
    const QByteArray file = encoded(path);
    struct stat old;
    const bool existed = ::stat(file.constData(), &old) == 0 && S_ISREG(old.st_mode);
    const bool ownerOnly = access == Access::OwnerOnly;
    // Made unreadable to others from the start: a secret is never in a file they may open.
    const mode_t mode = existed || ownerOnly ? 0600 : 0666;

    // An unnamed file vanishes by itself if we are killed while writing it; it gets its name
    // only just before the rename. Naming it needs /proc, and some file systems lack it.
    bool unnamed = ::access("/proc/self/fd", X_OK) == 0;
    QByteArray temp;
    int fd = unnamed ? ::open(encoded(info.absolutePath()).constData(),
                              O_TMPFILE | O_WRONLY | O_CLOEXEC, mode)
                     : -1;
    if (fd < 0) {
        unnamed = false;
        const auto create = [&](const char* name) {
            fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            return fd >= 0;
        };
        if (!createWithFreeName(info, temp, create)) {
            *error = qt_error_string(errno);
            return false;
        }
    }

    int failure = 0;
    if (existed) {
        // Same owner and mode as before. Only root may give a file away; a group change may
        // still work for others, and failing both leaves the file ours, which is no reason to
        // lose the settings. A mode without read for the owner gains it: the file must be
        // readable at the next start.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Its result is no error either; glibc's fortified headers insist that it be taken.
            [[maybe_unused]] const int groupKept = ::fchown(fd, uid_t(-1), old.st_gid);
        }
        if (::fchmod(fd, (old.st_mode & (ownerOnly ? 0700 : 07777)) | S_IRUSR |
                             (ownerOnly ? S_IWUSR : 0)) != 0)
            failure = errno;
    } else if (ownerOnly && ::fchmod(fd, 0600) != 0) {
        failure = errno; // whatever the umask left
    }
    if (failure == 0 && (!writeAll(fd, bytes) || ::fsync(fd) != 0))
        failure = errno;
    if (failure == 0 && unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        const auto link = [&](const char* name) {
            return ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0;
        };
        if (!createWithFreeName(info, temp, link))
            failure = errno;
    }
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && ::rename(temp.constData(), file.constData()) != 0)
        failure = errno;
    if (failure != 0) {
        if (!temp.isEmpty())
            ::unlink(temp.constData());
        *error = qt_error_string(failure);
        return false;
    }
    // Makes the rename itself durable; a failure here leaves a complete file either way.
    const int folder =
        ::open(encoded(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace AtomicFile
