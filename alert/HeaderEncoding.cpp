#include "alert/HeaderEncoding.h"

#include "alert/Iso2022Jp.h"

#include <algorithm>
#include <optional>

namespace HeaderEncoding {
namespace {

constexpr qsizetype kFoldAt = 78;      // RFC 5322's recommended line length
constexpr qsizetype kWordLineMax = 76; // RFC 2047's limit for lines with encoded words
constexpr qsizetype kHardLimit = 998;  // RFC 5322's limit
constexpr qsizetype kMaxWord = 75;
const QByteArray kWordStart("=?ISO-2022-JP?B?");
const QByteArray kWordEnd("?=");

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isPrintableAscii(const QString& text)
{
    for (const QChar c : text) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

// Folds "Name: value" before blanks, aiming at 78 columns; nothing when some piece would still
// be longer than 998 bytes.
std::optional<QByteArray> foldAscii(const QByteArray& line, qsizetype valueStart)
{
    qsizetype lastSolid = line.size() - 1;
    while (lastSolid > 0 && isBlank(line[lastSolid]))
        --lastSolid;
    // Each piece keeps something besides blanks, and the field name stays with its value.
    const auto breakable = [&](qsizetype i) {
        return i > valueStart && i < lastSolid && isBlank(line[i]) && !isBlank(line[i - 1]);
    };
    QByteArray out;
    qsizetype start = 0;
    while (line.size() - start > kFoldAt) {
        qsizetype at = -1;
        for (qsizetype i = start + kFoldAt; i > start && at < 0; --i) {
            if (breakable(i))
                at = i;
        }
        for (qsizetype i = start + kFoldAt + 1;
             at < 0 && i < line.size() && i - start <= kHardLimit; ++i) {
            if (breakable(i))
                at = i;
        }
        if (at < 0)
            break;
        out += line.mid(start, at - start) + "\r\n";
        start = at;
    }
    if (line.size() - start > kHardLimit)
        return std::nullopt;
    return out + line.mid(start);
}

// "Name:" followed by the tokens, one blank apart, folded between tokens.
QByteArray joinFolded(const QByteArray& head, const QList<QByteArray>& tokens)
{
    QByteArray out = head;
    qsizetype lineLength = head.size();
    for (const QByteArray& token : tokens) {
        if (lineLength > head.size() && lineLength + 1 + token.size() > kWordLineMax) {
            out += "\r\n";
            lineLength = 0;
        }
        out += ' ' + token;
        lineLength += 1 + token.size();
    }
    return out;
}

int firstWordMax(const QByteArray& head)
{
    return int(std::clamp(kWordLineMax - head.size() - 1, qsizetype(30), kMaxWord));
}

QByteArray unstructured(const QByteArray& head, const QString& value)
{
    if (isPrintableAscii(value)) {
        if (const auto folded = foldAscii(head + ' ' + value.toLatin1(), head.size()))
            return *folded;
    }
    return joinFolded(head, encodedWords(value, firstWordMax(head)));
}

QString unquoted(const QString& name)
{
    if (name.size() < 2 || !name.startsWith(u'"') || !name.endsWith(u'"'))
        return name;
    QString out;
    for (qsizetype i = 1; i < name.size() - 1; ++i) {
        if (name[i] == u'\\' && i + 1 < name.size() - 1)
            ++i;
        out += name[i];
    }
    return out;
}

QByteArray address(const QByteArray& head, const QString& value)
{
    const qsizetype open = value.lastIndexOf(u'<');
    const qsizetype close = open < 0 ? -1 : value.indexOf(u'>', open);
    // An address too long for any line (so never a deliverable one) is encoded like other text.
    if (isPrintableAscii(value) || close < 0 || !isPrintableAscii(value.mid(open)) ||
        head.size() + 1 + (value.size() - open) > kHardLimit)
        return unstructured(head, value);
    // Only the display name may be encoded; the address itself must stay readable.
    const QString name = unquoted(value.left(open).trimmed());
    QList<QByteArray> tokens;
    if (!name.isEmpty())
        tokens = encodedWords(name, firstWordMax(head));
    tokens.append(value.mid(open).toLatin1());
    return joinFolded(head, tokens);
}

QByteArray fieldName(const QString& name)
{
    QByteArray out;
    for (const QChar c : name) {
        if (c.unicode() > 0x20 && c.unicode() < 0x7F && c != u':')
            out += char(c.unicode());
    }
    return out;
}

bool isAddressField(const QByteArray& name)
{
    for (const char* known : {"From", "To", "Cc", "Bcc", "Reply-To", "Sender"}) {
        if (name.compare(known, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

QString singleLine(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F ||
            c == QChar::LineSeparator || c == QChar::ParagraphSeparator || c == u'\x85')
            c = u' ';
    }
    return out;
}

QString addressPart(const QString& text)
{
    const QString line = singleLine(text).trimmed();
    const qsizetype open = line.lastIndexOf(u'<');
    const qsizetype close = open < 0 ? -1 : line.indexOf(u'>', open);
    if (close < 0)
        return line;
    return line.mid(open + 1, close - open - 1).trimmed();
}

QList<QByteArray> encodedWords(const QString& text, int firstMax)
{
    const auto payload = [](int wordMax) {
        return int((wordMax - kWordStart.size() - kWordEnd.size()) / 4 * 3);
    };
    QList<QByteArray> words;
    for (const QByteArray& piece :
         Iso2022Jp::encode(text, payload(firstMax), payload(int(kMaxWord))))
        words.append(kWordStart + piece.toBase64() + kWordEnd);
    return words;
}

QByteArray field(const QString& name, const QString& value)
{
    const QByteArray nameBytes = fieldName(name);
    if (nameBytes.isEmpty())
        return {};
    const QByteArray head = nameBytes + ':';
    const QString line = singleLine(value);
    const QByteArray folded =
        isAddressField(nameBytes) ? address(head, line.trimmed()) : unstructured(head, line);
    return folded + "\r\n";
}

} // namespace HeaderEncoding
