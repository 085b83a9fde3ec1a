#include "settings/IniFile.h"

#include "settings/TextCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 MaxFileSize = 1024 * 1024;
constexpr int MaxListedLines = 10;

struct FileRead {
    bool missing = false;
    QByteArray bytes; // at most MaxFileSize + 1, enough to tell the file is too large
    QString error;
};

FileRead readFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return {true, {}, {}};
        return {false, {}, qt_error_string(errno)};
    }
    FileRead result;
    char buffer[65536];
    while (result.bytes.size() <= MaxFileSize) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
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
    ::close(fd);
    return result;
}

QString lineList(const QList<int>& numbers)
{
    QStringList shown;
    for (qsizetype i = 0; i < numbers.size() && i < MaxListedLines; ++i)
        shown.append(QString::number(numbers[i]));
    if (numbers.size() > MaxListedLines)
        shown.append(QStringLiteral("..."));
    return (numbers.size() == 1 ? QStringLiteral("line ") : QStringLiteral("lines ")) +
           shown.join(QStringLiteral(", "));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data += n;
        left -= n;
    }
    return true;
}

QByteArray tempName(const QFileInfo& target)
{
    return QFile::encodeName(
        target.absoluteFilePath() +
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

// Writes a temporary file beside `target` and renames it over the target, so whatever stops
// us midway (a crash, a kill, a full disk) leaves the old file or the new one, complete.
// On failure `error` gets the system's reason, and the temporary file is removed.
bool replaceFile(const QString& target, const QByteArray& bytes, QString* error)
{
    const QFileInfo info(target);
    const QByteArray file = QFile::encodeName(target);
    struct stat old;
    const bool exists = ::stat(file.constData(), &old) == 0;
    const mode_t mode = exists ? 0600 : 0666;

    // An unnamed file vanishes by itself if we are killed while writing it; it gets its name
    // only just before the rename. Naming it needs /proc, and some file systems lack it.
    bool unnamed = ::access("/proc/self/fd", X_OK) == 0;
    QByteArray temp;
    int fd = unnamed ? ::open(QFile::encodeName(info.absolutePath()).constData(),
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

    // The new file keeps the old one's permissions, plus reading and writing for its owner: a
    // file we could not read must not be replaced by another one we cannot read.
    int failure = 0;
    if (exists && ::fchmod(fd, (old.st_mode & 07777) | S_IRUSR | S_IWUSR) != 0)
        failure = errno;
    else if (!writeAll(fd, bytes) || ::fsync(fd) != 0)
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
    const int folder = ::open(QFile::encodeName(info.absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

// Keeps the file as "<name>.bak" before it is replaced. A file we could not read may lack read
// permission, so a hard link comes first; a copy serves file systems without hard links; a
// rename is the last resort and leaves no file under the old name until the new one is in;
// `movedAway` then tells the caller to bring it back if the new file cannot be written.
bool keepBackup(const QString& path, bool* movedAway, QString* error)
{
    *movedAway = false;
    const QByteArray file = QFile::encodeName(path);
    const QByteArray backup = file + ".bak";
    struct stat st;
    if (::lstat(file.constData(), &st) != 0)
        return true;
    if (::unlink(backup.constData()) == 0 || errno == ENOENT) {
        if (::link(file.constData(), backup.constData()) == 0 ||
            QFile::copy(path, QFile::decodeName(backup)))
            return true;
        if (::rename(file.constData(), backup.constData()) == 0) {
            *movedAway = true;
            return true;
        }
    }
    *error = qt_error_string(errno);
    return false;
}

// Neither blank nor a comment. ';' and '#' are never CP932 lead bytes, so this holds for lines
// that are not valid CP932 too.
bool isContent(const QByteArray& line)
{
    const QByteArray text = line.trimmed();
    return !text.isEmpty() && !text.startsWith(';') && !text.startsWith('#');
}

} // namespace

IniFile::IniFile(const QString& path)
    : m_path(path)
{
    load();
}

IniFile::Line IniFile::makeLine(const QByteArray& bytes, const std::optional<QString>& text)
{
    Line line{bytes, text.has_value(), {}};
    if (text) {
        line.parsed = IniText::parseLine(*text);
    } else if (bytes.trimmed().startsWith('[')) {
        // A lead byte is never '[', so this is a section header even though its name cannot be
        // read: the keys under it must not count as keys of the section before.
        line.parsed.kind = IniText::LineKind::Section;
    }
    return line;
}

IniFile::Line IniFile::makeLine(const QByteArray& bytes)
{
    return makeLine(bytes, TextCodec::fromCp932(bytes));
}

void IniFile::load()
{
    const FileRead file = readFile(m_path);
    const auto cannotRead = [this](const QString& reason) {
        m_readProblem = QStringLiteral("Cannot read settings file \"%1\": %2").arg(m_path, reason);
    };
    if (file.missing)
        return;
    if (!file.error.isEmpty())
        return cannotRead(file.error);
    if (file.bytes.size() > MaxFileSize)
        return cannotRead(QStringLiteral("it is larger than 1 MiB, too large for a settings file"));
    if (file.bytes.contains('\0'))
        return cannotRead(QStringLiteral("it holds NUL bytes, so it is not a text file"));

    const QList<QByteArray> raw = IniText::splitLines(file.bytes);
    // One conversion of the whole file is much faster than one per line, and gives the same
    // lines: no CP932 character contains a CR or LF byte.
    const std::optional<QString> whole = TextCodec::fromCp932(file.bytes);
    const QList<QString> texts = whole ? IniText::splitLines(*whole) : QList<QString>();
    QList<int> unreadable;
    m_lines.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        m_lines.append(texts.size() == raw.size() ? makeLine(raw[i], texts[i]) : makeLine(raw[i]));
        if (!m_lines.back().readable)
            unreadable.append(int(i + 1));
    }
    if (!unreadable.isEmpty()) {
        m_readProblem = QStringLiteral("Cannot read %1 of settings file \"%2\": not valid CP932 "
                                       "(Shift-JIS) text. Those lines are ignored but kept.")
                            .arg(lineList(unreadable), m_path);
    }
}

// Only the first section of a name counts, for reading and writing alike, as with Windows: a
// later section of the same name stays in the file untouched, and its keys are not seen.
qsizetype IniFile::findSection(const QString& section) const
{
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (line.readable && line.parsed.kind == IniText::LineKind::Section &&
            line.parsed.name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

qsizetype IniFile::sectionEnd(qsizetype header) const
{
    qsizetype i = header + 1;
    while (i < m_lines.size() && m_lines[i].parsed.kind != IniText::LineKind::Section)
        ++i;
    return i;
}

qsizetype IniFile::findKey(qsizetype header, const QString& key) const
{
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        const Line& line = m_lines[i];
        if (line.readable && line.parsed.kind == IniText::LineKind::Key &&
            line.parsed.name.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString IniFile::readString(const QString& section, const QString& key, const QString& def) const
{
    const qsizetype header = findSection(section);
    const qsizetype line = header < 0 ? -1 : findKey(header, key);
    return line < 0 ? def : m_lines[line].parsed.value;
}

int IniFile::readInteger(const QString& section, const QString& key, int def) const
{
    const qsizetype header = findSection(section);
    const qsizetype line = header < 0 ? -1 : findKey(header, key);
    return line < 0 ? def : IniText::parseInteger(m_lines[line].parsed.value).value_or(def);
}

bool IniFile::readBool(const QString& section, const QString& key, bool def) const
{
    return readInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value)
{
    const QByteArray keyLine = IniText::encode(key) + '=' + IniText::encode(value);
    const qsizetype header = findSection(section);
    if (header < 0) {
        m_lines.append(makeLine('[' + IniText::encode(section) + ']'));
        m_lines.append(makeLine(keyLine));
        return;
    }
    if (const qsizetype found = findKey(header, key); found >= 0) {
        // The key keeps its spelling and the blanks around its '=' (never a CP932 trail byte).
        const QByteArray& old = m_lines[found].bytes;
        qsizetype prefix = old.indexOf('=') + 1;
        while (prefix < old.size() && (old[prefix] == ' ' || old[prefix] == '\t'))
            ++prefix;
        m_lines[found] = makeLine(old.first(prefix) + IniText::encode(value));
        return;
    }
    // After the section's last line of content: the comments and blank lines that follow it
    // usually introduce the next section.
    const qsizetype end = sectionEnd(header);
    qsizetype at = header + 1;
    for (qsizetype i = header + 1; i < end; ++i) {
        if (isContent(m_lines[i].bytes))
            at = i + 1;
    }
    m_lines.insert(at, makeLine(keyLine));
}

void IniFile::writeInteger(const QString& section, const QString& key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString& section, const QString& key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool IniFile::save(QString* error)
{
    QByteArray bytes;
    for (const Line& line : std::as_const(m_lines))
        bytes += line.bytes + "\r\n";

    // A symbolic link stays one: the file it points to is replaced.
    const QFileInfo info(m_path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : m_path;
    const auto cannotSave = [this, error](const QString& reason) {
        if (error)
            *error = QStringLiteral("Cannot save settings to \"%1\": %2").arg(m_path, reason);
        return false;
    };

    QString reason;
    bool movedAway = false;
    if (!m_readProblem.isEmpty() && !m_backupKept && !keepBackup(target, &movedAway, &reason)) {
        return cannotSave(
            QStringLiteral("cannot keep the old file as \"%1.bak\": %2").arg(target, reason));
    }
    if (!replaceFile(target, bytes, &reason)) {
        if (movedAway)
            ::rename(QFile::encodeName(target + QStringLiteral(".bak")).constData(),
                     QFile::encodeName(target).constData());
        return cannotSave(reason);
    }
    m_backupKept = !m_readProblem.isEmpty();
    return true;
}
