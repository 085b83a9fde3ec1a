#include "mail/HeaderEncoding.h"

#include "mail/Iso2022Jp.h"
#include "mail/MailAddress.h"

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

// Blank-separated pieces of ASCII text for joinFolded; a run of blanks keeps all but one of
// them at the start of the next piece, so unfolding gives the text back.
QList<QByteArray> blankTokens(const QString& text)
{
    QList<QByteArray> tokens{QByteArray()};
    for (const QChar c : text) {
        if (c == u' ' && !tokens.last().isEmpty() && !tokens.last().endsWith(' '))
            tokens.append(QByteArray());
        else
            tokens.last() += char(c.unicode());
    }
    return tokens;
}

bool fitsLine(const QByteArray& head, const QList<QByteArray>& tokens)
{
    return std::all_of(tokens.begin(), tokens.end(), [&](const QByteArray& token) {
        return head.size() + 1 + token.size() <= kHardLimit;
    });
}

// An entry that is no mailbox, as a single one always was: a Japanese name encoded before a
// readable <...>, else the whole of it encoded.
QList<QByteArray> legacyTokens(const QByteArray& head, const QString& entry, int firstMax)
{
    if (isPrintableAscii(entry)) {
        const QList<QByteArray> tokens = blankTokens(entry);
        if (fitsLine(head, tokens))
            return tokens;
    }
    const qsizetype open = entry.lastIndexOf(u'<');
    const qsizetype close = open < 0 ? -1 : entry.indexOf(u'>', open);
    // An address too long for any line (so never a deliverable one) is encoded like other text.
    if (close < 0 || !isPrintableAscii(entry.mid(open)) ||
        head.size() + 1 + (entry.size() - open) > kHardLimit)
        return encodedWords(entry, firstMax);
    // Only the display name may be encoded; the address itself must stay readable.
    const QString name = unquoted(entry.left(open).trimmed());
    QList<QByteArray> tokens;
    if (!name.isEmpty())
        tokens = encodedWords(name, firstMax);
    tokens.append(entry.mid(open).toLatin1());
    return tokens;
}

QList<QByteArray> mailboxTokens(const QByteArray& head, const MailAddress::Mailbox& box,
                                int firstMax)
{
    const QString text = MailAddress::headerText(box);
    if (isPrintableAscii(text)) {
        const QList<QByteArray> tokens = blankTokens(text);
        if (fitsLine(head, tokens))
            return tokens;
    }
    QList<QByteArray> tokens = encodedWords(box.displayName, firstMax);
    tokens.append('<' + MailAddress::envelope(box) + '>');
    return tokens;
}

// A list of mailboxes: each display name plain or encoded, each address readable, ", " between.
QByteArray address(const QByteArray& head, const QString& value)
{
    const QStringList entries = MailAddress::splitList(value);
    QList<std::optional<MailAddress::Mailbox>> boxes;
    for (const QString& entry : entries) {
        MailAddress::Mailbox box;
        // A UTF-8 local part has no 7-bit form; such an entry is written as it always was.
        if (MailAddress::parse(entry, &box) && !MailAddress::needsSmtpUtf8(box))
            boxes.append(box);
        else
            boxes.append(std::nullopt);
    }
    if (std::none_of(boxes.begin(), boxes.end(), [](const auto& box) { return box.has_value(); })) {
        if (isPrintableAscii(value))
            return unstructured(head, value);
        return joinFolded(head, legacyTokens(head, value, firstWordMax(head)));
    }

    QStringList plain;
    for (qsizetype i = 0; i < entries.size(); ++i)
        plain.append(boxes[i] ? MailAddress::headerText(*boxes[i]) : entries[i]);
    const QString line = plain.join(QStringLiteral(", "));
    if (isPrintableAscii(line)) {
        if (const auto folded = foldAscii(head + ' ' + line.toLatin1(), head.size()))
            return *folded;
    }
    QList<QByteArray> tokens;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const int firstMax = tokens.isEmpty() ? firstWordMax(head) : int(kMaxWord);
        QList<QByteArray> entryTokens = boxes[i] ? mailboxTokens(head, *boxes[i], firstMax)
                                                 : legacyTokens(head, entries[i], firstMax);
        if (i + 1 < entries.size()) {
            // A comma after a 75-character word would take its line past 76.
            if (entryTokens.last().startsWith(kWordStart))
                entryTokens.append(",");
            else
                entryTokens.last() += ',';
        }
        tokens += entryTokens;
    }
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
