#include "mail/MailAddress.h"

#include <QUrl>

namespace MailAddress {
namespace {

constexpr qsizetype kMaxLocalOctets = 64;   // RFC 5321 4.5.3.1.1
constexpr qsizetype kMaxDomainOctets = 255; // RFC 5321 4.5.3.1.2
constexpr qsizetype kMaxHostName = 253;     // what DNS can hold without the final dot
constexpr qsizetype kMaxLabel = 63;

bool isAsciiLetterOrDigit(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

bool isAscii(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// RFC 5322's atext; RFC 6531 adds every non-ASCII character.
bool isAtext(QChar c)
{
    return c.unicode() >= 0x80 || isAsciiLetterOrDigit(c) ||
           QStringView(u"!#$%&'*+-/=?^_`{|}~").contains(c);
}

// Controls, invisible formatting (it can make an address look like another) and line breaks;
// lone surrogates too, as they have no UTF-8 form.
bool isForbidden(const QString& text, qsizetype i)
{
    const QChar c = text[i];
    if (c.isHighSurrogate())
        return i + 1 >= text.size() || !text[i + 1].isLowSurrogate();
    if (c.isLowSurrogate())
        return i == 0 || !text[i - 1].isHighSurrogate();
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool hasForbidden(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isForbidden(text, i))
            return true;
    }
    return false;
}

// The entry for an error message, kept on one line.
QString shown(const QString& entry)
{
    QString out = entry.trimmed();
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (isForbidden(out, i))
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

QString described(QChar c)
{
    if (c.isSpace())
        return QStringLiteral("a space");
    return u'\'' + QString(c) + u'\'';
}

// The index of the quote closing the quoted string that opens at `open`, or -1.
qsizetype closingQuote(const QString& text, qsizetype open)
{
    for (qsizetype i = open + 1; i < text.size(); ++i) {
        if (text[i] == u'\\')
            ++i;
        else if (text[i] == u'"')
            return i;
    }
    return -1;
}

// The first `wanted` at or after `from` that is not inside a quoted string, or -1.
qsizetype unquotedIndexOf(const QString& text, QChar wanted, qsizetype from = 0)
{
    for (qsizetype i = from; i < text.size(); ++i) {
        if (text[i] == wanted)
            return i;
        if (text[i] == u'"') {
            i = closingQuote(text, i);
            if (i < 0)
                return -1;
        }
    }
    return -1;
}

bool isIpv4(QStringView text)
{
    const QList<QStringView> parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QStringView part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

// Counts the colon-separated hex groups of `text`; false when one is not 1 to 4 hex digits.
bool hexGroups(QStringView text, qsizetype* count)
{
    *count = 0;
    if (text.isEmpty())
        return true;
    for (const QStringView group : text.split(u':')) {
        if (group.isEmpty() || group.size() > 4)
            return false;
        for (const QChar c : group) {
            if (!isAsciiLetterOrDigit(c) || c.toLower() > u'f')
                return false;
        }
        ++*count;
    }
    return true;
}

// RFC 5321's IPv6-addr: eight groups, or fewer around one "::" that stands for at least two,
// where a trailing IPv4 address takes the room of two groups.
bool isIpv6(QStringView text)
{
    qsizetype groups = 8;
    const qsizetype lastColon = text.lastIndexOf(u':');
    if (lastColon < 0)
        return false;
    if (text.mid(lastColon + 1).contains(u'.')) {
        if (!isIpv4(text.mid(lastColon + 1)))
            return false;
        groups = 6;
        text = text.left(lastColon + 1);
        if (!text.endsWith(u"::"))
            text.chop(1);
    }
    const qsizetype gap = text.indexOf(u"::");
    qsizetype before = 0;
    qsizetype after = 0;
    if (gap < 0)
        return hexGroups(text, &before) && before == groups;
    return text.indexOf(u"::", gap + 1) < 0 && hexGroups(text.left(gap), &before) &&
           hexGroups(text.mid(gap + 2), &after) && before + after <= groups - 2;
}

// Why `literal` ("[...]") is no address literal; empty when it is one.
QString literalProblem(const QString& literal)
{
    if (!literal.endsWith(u']'))
        return QStringLiteral("the address literal has no closing ']'");
    const QStringView inside = QStringView(literal).mid(1, literal.size() - 2);
    if (inside.startsWith(u"IPv6:", Qt::CaseInsensitive)) {
        if (!isIpv6(inside.mid(5)))
            return QStringLiteral("the address literal is not an IPv6 address");
    } else if (inside.contains(u':')) {
        // RFC 5321's general form needs a registered tag, and none but IPv6 is.
        return QStringLiteral("the address literal is neither IPv4 nor IPv6");
    } else if (!isIpv4(inside)) {
        return QStringLiteral("the address literal is not an IPv4 address");
    }
    return {};
}

// Why the ASCII name is no host name of at most `maxOctets`; empty when it is one.
QString labelsProblem(const QString& name, qsizetype maxOctets)
{
    for (const QStringView label : QStringView(name).split(u'.')) {
        if (label.isEmpty())
            return QStringLiteral("the domain has an empty label");
        for (const QChar c : label) {
            if (!isAsciiLetterOrDigit(c) && c != u'-')
                return QStringLiteral("the domain cannot hold ") + described(c);
        }
        if (label.startsWith(u'-') || label.endsWith(u'-'))
            return QStringLiteral("a domain label starts or ends with '-'");
        if (label.size() > kMaxLabel)
            return QStringLiteral("a domain label is longer than %1 octets").arg(kMaxLabel);
    }
    if (name.size() > maxOctets)
        return QStringLiteral("the domain is longer than %1 octets").arg(maxOctets);
    return {};
}

QString domainProblem(const QString& domain)
{
    if (domain.isEmpty())
        return QStringLiteral("the domain after '@' is empty");
    if (domain.startsWith(u'['))
        return literalProblem(domain);
    for (const QChar c : domain) {
        if (c.isSpace() ||
            (c.unicode() < 0x80 && !isAsciiLetterOrDigit(c) && c != u'-' && c != u'.'))
            return QStringLiteral("the domain cannot hold ") + described(c);
    }
    const QString ascii = asciiDomain(domain);
    if (ascii.isEmpty())
        return QStringLiteral("the domain has no IDNA (xn--) form");
    return labelsProblem(ascii, kMaxDomainOctets);
}

// Checks RFC 5321's Local-part: a dot-string, or a quoted string of qtextSMTP and
// quoted-pairSMTP; RFC 6531 lets both hold UTF-8.
QString localProblem(const QString& local)
{
    if (local.isEmpty())
        return QStringLiteral("the local part before '@' is empty");
    if (local.startsWith(u'"')) {
        for (qsizetype i = 1; i + 1 < local.size(); ++i) {
            const QChar c = local[i];
            if (c == u'\\' && local[i + 1].unicode() >= 0x80)
                return QStringLiteral("only ASCII can follow '\\' in a quoted local part");
            if (c == u'\\')
                ++i;
            else if (c.unicode() >= 0x80 && c.isSpace())
                return QStringLiteral("the local part cannot hold ") + described(c);
        }
    } else {
        for (const QChar c : local) {
            if ((!isAtext(c) && c != u'.') || c.isSpace())
                return QStringLiteral("the local part cannot hold ") + described(c);
        }
        if (local.startsWith(u'.') || local.endsWith(u'.') || local.contains(u".."))
            return QStringLiteral("a '.' in the local part starts, ends or doubles it");
    }
    if (local.toUtf8().size() > kMaxLocalOctets)
        return QStringLiteral("the local part is longer than %1 octets").arg(kMaxLocalOctets);
    return {};
}

// Splits "local@domain" into `box`; the reason it is no address, or empty.
QString addressProblem(const QString& address, Mailbox* box)
{
    if (address.isEmpty())
        return QStringLiteral("the address is empty");
    qsizetype at = -1;
    if (address.startsWith(u'"')) {
        const qsizetype close = closingQuote(address, 0);
        if (close < 0)
            return QStringLiteral("a quote is not closed");
        at = close + 1;
        if (at < address.size() && address[at] != u'@')
            return QStringLiteral("the quoted local part is not followed by '@'");
    } else {
        at = address.indexOf(u'@');
    }
    if (at < 0 || at >= address.size())
        return QStringLiteral("the address has no '@'");
    box->localPart = address.left(at);
    box->domain = address.mid(at + 1);
    if (const QString problem = localProblem(box->localPart); !problem.isEmpty())
        return problem;
    if (box->domain.contains(u'@'))
        return QStringLiteral("it has a second '@'");
    return domainProblem(box->domain);
}

// The display name as typed, without its quotes when it is one quoted string.
QString unquotedName(const QString& name)
{
    if (!name.startsWith(u'"') || closingQuote(name, 0) != name.size() - 1)
        return name;
    QString out;
    for (qsizetype i = 1; i < name.size() - 1; ++i) {
        if (name[i] == u'\\')
            ++i;
        out += name[i];
    }
    return out;
}

QString entryProblem(const QString& text, Mailbox* box)
{
    if (text.isEmpty())
        return QStringLiteral("the entry is empty");
    if (hasForbidden(text))
        return QStringLiteral("it holds a control character");
    const qsizetype open = unquotedIndexOf(text, u'<');
    if (open < 0) {
        if (unquotedIndexOf(text, u'>') >= 0)
            return QStringLiteral("it has a '>' without a '<'");
        // The likeliest slip, so it gets its own advice rather than "cannot hold a space".
        const qsizetype lastBlank = text.lastIndexOf(u' ');
        if (unquotedIndexOf(text, u' ') >= 0 && text.indexOf(u'@', lastBlank) > lastBlank)
            return QStringLiteral("a name needs the address in angle brackets after it, as in "
                                  "Name <user@example.jp>");
        return addressProblem(text, box);
    }
    const qsizetype close = unquotedIndexOf(text, u'>', open + 1);
    if (close < 0)
        return QStringLiteral("the '<' has no closing '>'");
    if (close + 1 < text.size())
        return QStringLiteral("text follows the closing '>'");
    const QString name = text.left(open).trimmed();
    if (unquotedIndexOf(name, u'>') >= 0)
        return QStringLiteral("the name holds a '>'");
    box->displayName = unquotedName(name);
    return addressProblem(text.mid(open + 1, close - open - 1), box);
}

// Atoms apart by blanks can stand unquoted; anything else in a display name needs quotes.
bool isPhraseOfAtoms(const QString& name)
{
    if (name.startsWith(u' ') || name.endsWith(u' '))
        return false;
    for (const QChar c : name) {
        if (!isAtext(c) && c != u' ')
            return false;
    }
    return true;
}

} // namespace

QStringList splitList(const QString& text)
{
    QStringList entries;
    QString current;
    bool quoted = false;
    bool angled = false;
    int comments = 0;
    const auto flush = [&] {
        if (!current.trimmed().isEmpty())
            entries.append(current.trimmed());
        current.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if ((quoted || comments > 0) && c == u'\\' && i + 1 < text.size()) {
            current += c;
            current += text[++i];
            continue;
        }
        if (quoted)
            quoted = c != u'"';
        else if (comments > 0)
            comments += c == u'(' ? 1 : c == u')' ? -1 : 0;
        else if (c == u'"')
            quoted = true;
        else if (angled)
            angled = c != u'>';
        else if (c == u'<')
            angled = true;
        else if (c == u'(')
            comments = 1;
        else if (c == u',' || c == u';') {
            flush();
            continue;
        }
        current += c;
    }
    flush();
    return entries;
}

bool parse(const QString& entry, Mailbox* out, QString* error)
{
    Mailbox box;
    const QString problem = entryProblem(entry.trimmed(), &box);
    if (!problem.isEmpty()) {
        if (error)
            *error = QStringLiteral("Invalid address \"") + shown(entry) + QStringLiteral("\": ") +
                     problem + u'.';
        return false;
    }
    if (out)
        *out = box;
    return true;
}

QString asciiDomain(const QString& domain)
{
    // toAce would also lowercase an ASCII name; keep what was typed.
    if (domain.startsWith(u'[') || isAscii(domain))
        return domain;
    return QString::fromLatin1(QUrl::toAce(domain));
}

QByteArray envelope(const Mailbox& box)
{
    return (box.localPart + u'@' + asciiDomain(box.domain)).toUtf8();
}

bool needsSmtpUtf8(const Mailbox& box)
{
    return !isAscii(box.localPart);
}

QString headerText(const Mailbox& box)
{
    const QString address = box.localPart + u'@' + asciiDomain(box.domain);
    if (box.displayName.isEmpty())
        return address;
    if (isPhraseOfAtoms(box.displayName))
        return box.displayName + QStringLiteral(" <") + address + u'>';
    QString quoted = box.displayName;
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return u'"' + quoted + QStringLiteral("\" <") + address + u'>';
}

bool isHostName(const QString& name)
{
    if (name.startsWith(u'['))
        return literalProblem(name).isEmpty();
    return !name.isEmpty() && labelsProblem(name, kMaxHostName).isEmpty();
}

} // namespace MailAddress
