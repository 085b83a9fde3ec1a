// The settings file: any bytes on disk are read, edited, saved and read back. What was written
// reads back as written, and nothing else changes.
#include "FuzzCheck.h"
#include "core/TextCodec.h"
#include "settings/IniFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <cstdint>

namespace {

// One file reused by every run of the process: creating a folder per input costs more than the
// code under test.
const QString& iniPath()
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/zarvik-fuzz-ini-XXXXXX"));
    static const QString path = folder.filePath(QStringLiteral("fuzz.ini"));
    if (!folder.isValid())
        fuzzFail("temporary folder", __FILE__, __LINE__, folder.errorString());
    return path;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fuzzFail("writing the input", __FILE__, __LINE__, file.errorString());
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString trimBlanks(QString text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text.remove(0, 1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

// Text that CP932 holds exactly; anything else is written as '?' or as a look-alike.
bool cp932Exact(const QString& text)
{
    const auto bytes = TextCodec::toCp932(text);
    return bytes && TextCodec::fromCp932(*bytes) == text;
}

// Names repeat from input to input; iconv is what the fuzzer spends most of its time in.
bool cp932ExactName(const QString& name)
{
    static QHash<QString, bool> known;
    if (known.size() > 10000)
        known.clear();
    const auto found = known.constFind(name);
    return found != known.cend() ? *found : *known.insert(name, cp932Exact(name));
}

bool hasLineBreakOrNul(const QString& text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

// A name the file can hold and read back: trimmed, one line, and not taken for another kind
// of line. The program writes only fixed names; odd ones would only test the oracle.
bool isKeyName(const QString& key)
{
    return !key.isEmpty() && key == trimBlanks(key) && !hasLineBreakOrNul(key) &&
           !key.contains(u'=') && !key.startsWith(u'[') && !key.startsWith(u';') &&
           !key.startsWith(u'#') && cp932ExactName(key);
}

bool isSectionName(const QString& section)
{
    return !section.isEmpty() && section == trimBlanks(section) && !hasLineBreakOrNul(section) &&
           !section.contains(u']') && cp932ExactName(section);
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Entry {
    QString section;
    QString key;
    QString value;     // what reading it gives
    bool known = true; // false when the value held characters CP932 lacks
};

class Edits {
public:
    explicit Edits(IniFile& ini)
        : m_ini(ini)
    {
    }

    void writeString(const QString& section, const QString& key, const QString& value)
    {
        if (!isSectionName(section) || !isKeyName(key))
            return;
        m_ini.writeString(section, key, value);
        QString stored = value;
        for (QChar& c : stored) {
            if (c == u'\r' || c == u'\n' || c == QChar(0))
                c = u' ';
        }
        record({section, key, trimBlanks(stored), cp932Exact(stored)});
    }

    void writeInteger(const QString& section, const QString& key, int value)
    {
        m_ini.writeInteger(section, key, value);
        record({section, key, QString::number(value)});
    }

    void writeBool(const QString& section, const QString& key, bool value)
    {
        m_ini.writeBool(section, key, value);
        record({section, key, value ? QStringLiteral("1") : QStringLiteral("0")});
    }

    bool touched(const QString& section, const QString& key) const
    {
        for (const Entry& entry : m_entries) {
            if (sameName(entry.section, section) && sameName(entry.key, key))
                return true;
        }
        return false;
    }

    const QList<Entry>& entries() const { return m_entries; }

private:
    void record(const Entry& entry)
    {
        m_entries.removeIf([&](const Entry& old) {
            return sameName(old.section, entry.section) && sameName(old.key, entry.key);
        });
        m_entries.append(entry);
    }

    IniFile& m_ini;
    QList<Entry> m_entries;
};

const QString Missing = QStringLiteral("\x01missing");

struct Probe {
    QString section;
    QString key;
    QString before;
};

// Keys the input file holds, in its order, then the program's own keys.
QList<Probe> probes(const QStringList& lines)
{
    QList<Probe> list;
    QString section = QStringLiteral("Fuzz");
    for (const QString& line : lines) {
        const QString text = trimBlanks(line);
        if (text.startsWith(u'[') && text.contains(u']')) {
            section = trimBlanks(text.mid(1, text.indexOf(u']') - 1));
        } else if (const qsizetype equals = text.indexOf(u'='); equals > 0) {
            list.append({section, trimBlanks(text.left(equals)), {}});
        }
    }
    for (const char* section : {"ZARVIK", "Temp", "Sensor", "Mail", "Location"}) {
        for (const char* key : {"Address", "Port", "UTemp", "Check_U", "RB1", "To", "Left"})
            list.append({QString::fromLatin1(section), QString::fromLatin1(key), {}});
    }
    return list;
}

void checkReadBack(const IniFile& ini, const Edits& edits, const QList<Probe>& before)
{
    for (const Entry& entry : edits.entries()) {
        const QString value = ini.readString(entry.section, entry.key, Missing);
        const QString detail = entry.section + u'/' + entry.key + QStringLiteral(": wrote \"") +
                               entry.value + QStringLiteral("\", read \"") + value + u'"';
        FUZZ_CHECK(value != Missing, detail);
        FUZZ_CHECK(!entry.known || value == entry.value, detail);
    }
    for (const Probe& probe : before) {
        if (edits.touched(probe.section, probe.key))
            continue;
        const QString after = ini.readString(probe.section, probe.key, Missing);
        FUZZ_CHECK(after == probe.before, probe.section + u'/' + probe.key +
                                              QStringLiteral(": was \"") + probe.before +
                                              QStringLiteral("\", now \"") + after + u'"');
    }
}

QStringList splitLines(const QString& text)
{
    QString unified = text;
    unified.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return unified.split(u'\n');
}

std::int32_t numberFrom(const QByteArray& bytes)
{
    std::uint32_t n = 0;
    for (qsizetype i = 0; i < bytes.size() && i < 4; ++i)
        n = n << 8 | std::uint8_t(bytes[i]);
    return std::int32_t(n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString& path = iniPath();
    writeFile(path, bytes);

    IniFile ini(path);
    const bool readCleanly = ini.readProblem().isEmpty();
    const QStringList lines =
        splitLines(TextCodec::fromCp932(bytes).value_or(QString::fromLatin1(bytes)));
    QList<Probe> before = probes(lines);
    for (Probe& probe : before) {
        probe.before = ini.readString(probe.section, probe.key, Missing);
        if (probe.before == Missing) {
            FUZZ_CHECK(ini.readInteger(probe.section, probe.key, 7) == 7, probe.key);
            FUZZ_CHECK(ini.readBool(probe.section, probe.key, true), probe.key);
        }
    }

    // A few short edits per input: a value CP932 lacks costs one iconv call per character, and
    // that is where the time goes. The file's first keys get values from its lines, a new key
    // joins one of its sections, a section may be added, and fixed keys take the raw bytes.
    Edits edits(ini);
    for (qsizetype i = 0; i < 2; ++i) {
        const QString& line = lines[(i + 1) % lines.size()];
        edits.writeString(before[i].section, before[i].key,
                          line.mid(line.indexOf(u'=') + 1).left(64));
    }
    edits.writeString(before[2].section, before[2].key + QStringLiteral("New"),
                      lines.back().left(64));
    edits.writeString(QStringLiteral("Fuzz"), QStringLiteral("Utf8"),
                      QString::fromUtf8(bytes.left(48)));
    edits.writeString(QStringLiteral("Mail"), QStringLiteral("To"),
                      QString::fromLatin1(bytes.left(32)));
    edits.writeInteger(QStringLiteral("Location"), QStringLiteral("Left"), numberFrom(bytes));
    edits.writeBool(QStringLiteral("Temp"), QStringLiteral("Check_U"), size % 2 == 1);
    checkReadBack(ini, edits, before);

    QString error;
    FUZZ_CHECK(ini.save(&error), error);
    const IniFile reread(path);
    FUZZ_CHECK(!readCleanly || reread.readProblem().isEmpty(), reread.readProblem());
    checkReadBack(reread, edits, before);
    return 0;
}
