#include "settings/IniFile.h"

#include "core/AtomicFile.h"
#include "core/TextCodec.h"

#include <QFile>
#include <QStringDecoder>

namespace {

constexpr qint64 MaxFileSize = 1024 * 1024;
constexpr int MaxListedLines = 10;
const QByteArray Utf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");

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
    const AtomicFile::Read file = AtomicFile::read(m_path, MaxFileSize);
    const auto cannotRead = [this](const QString& reason) {
        m_readProblem = QStringLiteral("Cannot read settings file \"%1\": %2. Defaults are used.")
                            .arg(m_path, reason);
    };
    if (file.missing)
        return;
    if (!file.error.isEmpty())
        return cannotRead(file.error);
    if (file.bytes.size() > MaxFileSize)
        return cannotRead(QStringLiteral("it is larger than 1 MiB, too large for a settings file"));
    if (file.bytes.contains('\0'))
        return cannotRead(QStringLiteral("it holds NUL bytes, so it is not a text file"));

    if (file.bytes.startsWith(Utf8Bom) && loadUtf8(file.bytes.sliced(Utf8Bom.size())))
        return;

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

bool IniFile::contains(const QString& section, const QString& key) const
{
    const qsizetype header = findSection(section);
    return header >= 0 && findKey(header, key) >= 0;
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

bool IniFile::loadUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return false;
    // Kept as the CP932 bytes they will be saved as; what CP932 lacks becomes '?' there, so it
    // is said now, once, while the original is still there to be kept.
    QList<int> lossy;
    const QList<QString> lines = IniText::splitLines(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const std::optional<QByteArray> exact = TextCodec::toCp932(lines[i]);
        if (!exact)
            lossy.append(int(i + 1));
        m_lines.append(
            {exact ? *exact : IniText::encode(lines[i]), true, IniText::parseLine(lines[i])});
    }
    m_readProblem = QStringLiteral("Settings file \"%1\" is UTF-8 text. It was read as such and "
                                   "will be saved as Shift-JIS (CP932).")
                        .arg(m_path);
    if (!lossy.isEmpty()) {
        m_readProblem += QStringLiteral(" Characters that Shift-JIS lacks on %1 will become '?'.")
                             .arg(lineList(lossy));
    }
    return true;
}

bool IniFile::save(QString* error, AtomicFile::Access access)
{
    QByteArray bytes;
    for (const Line& line : std::as_const(m_lines))
        bytes += line.bytes + "\r\n";

    const auto cannotSave = [this, error](const QString& reason) {
        if (error)
            *error = QStringLiteral("Cannot save settings to \"%1\": %2").arg(m_path, reason);
        return false;
    };
    const QString target = AtomicFile::resolveLinks(m_path);
    QString reason;
    if (!AtomicFile::mayReplace(target, &reason))
        return cannotSave(reason);
    QString movedTo;
    if (!m_readProblem.isEmpty() && !m_backupKept &&
        !AtomicFile::keepBackup(target, &movedTo, &reason)) {
        return cannotSave(QStringLiteral("cannot keep a backup of the old file: %1").arg(reason));
    }
    if (!AtomicFile::replace(target, bytes, &reason, access)) {
        if (!movedTo.isEmpty())
            QFile::rename(movedTo, target);
        return cannotSave(reason);
    }
    m_backupKept = !m_readProblem.isEmpty();
    return true;
}
