#pragma once

#include <QByteArray>
#include <QString>

// The file-system side of the settings file: reading it without ever blocking, and replacing it
// so that whatever stops us midway leaves the old file or the new one, complete.
namespace AtomicFile {

struct Read {
    bool missing = false;
    QByteArray bytes; // at most maxSize + 1, enough to tell the file is too large
    QString error;    // why it could not be read; empty when it was (or is missing)
};

enum class Links { Follow, Refuse };

// Anything but a regular file (a folder, a FIFO, a device) is unreadable: opening a FIFO for
// reading would wait for a writer forever. With Links::Refuse a symbolic link is unreadable too.
Read read(const QString& path, qint64 maxSize, Links links = Links::Follow);

// Why the entry at `path` must not be handed to a reader that would wait on a FIFO or read a
// device without end: not a regular file (with Links::Refuse, a link is not one either), or over
// `maxSize` bytes. Empty when it is fine, or missing: the reader says so itself. Looks without
// opening, so a device is never even opened.
QString notRegularFile(const QString& path, qint64 maxSize, Links links = Links::Follow);

// Writes all of `bytes` to `fd`, going on after interruptions; false with errno set otherwise.
bool writeAll(int fd, const QByteArray& bytes);

// The reason for an open(2) with O_NOFOLLOW | O_NONBLOCK that failed with `error`, in words
// that name what the path is rather than the flags: a link, a FIFO without a reader.
QString openError(int error);

// The file a chain of symbolic links ends at (the path itself when it is no link), so that the
// file is replaced there and every link stays a link.
QString resolveLinks(const QString& path);

// False, with the system's reason, when an existing file must not be replaced: we may not write
// it, or (as root, whom permission bits do not stop) nobody may.
bool mayReplace(const QString& path, QString* error);

// Keeps the file as a backup before it is replaced: "<name>.bak" the first time; an existing
// backup is never overwritten, later ones get time-stamped names ("<name>.20261209-023000.bak"),
// of which the newest five are kept. Nothing is kept twice: no backup is made when one already
// holds the same bytes. A file that cannot be linked or copied (a folder, a FIFO) is moved
// aside; `movedTo` then names the backup, so that the caller can move it back if the new file
// cannot be written.
bool keepBackup(const QString& path, QString* movedTo, QString* error);

// Who may read the file replace() writes.
enum class Access {
    AsBefore,  // an existing file's mode; a new file's as the umask has it
    OwnerOnly, // the same, without any right for the group and others (0600): it holds a secret
};

// Writes `bytes` to a temporary file beside `path`, flushes it and renames it over `path`. An
// existing file's owner and mode are kept, but for what `access` takes away. On failure nothing
// is left behind.
bool replace(const QString& path, const QByteArray& bytes, QString* error,
             Access access = Access::AsBefore);

} // namespace AtomicFile
