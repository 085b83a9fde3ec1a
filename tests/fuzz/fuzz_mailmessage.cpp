// Mail composition from any sender, recipients, subject and body text: the result is a 7-bit
// RFC 5322 message whose header block holds exactly the fields we put there.
//
// Input: from NUL subject NUL body NUL to NUL to ..., each part read as UTF-8.
#include "FuzzCheck.h"
#include "core/TextCodec.h"
#include "mail/HeaderEncoding.h"
#include "mail/MailMessage.h"

#include <QRegularExpression>
#include <QStringList>
#include <cstdint>

namespace {

const QStringList FieldNames = {
    QStringLiteral("Date"),         QStringLiteral("From"),
    QStringLiteral("To"),           QStringLiteral("Subject"),
    QStringLiteral("Message-ID"),   QStringLiteral("MIME-Version"),
    QStringLiteral("Content-Type"), QStringLiteral("Content-Transfer-Encoding"),
};

QString shown(const QByteArray& message)
{
    return QString::fromLatin1(message);
}

// Splits at CR LF, after checking that no CR or LF stands alone and the text ends in CR LF.
QList<QByteArray> crlfLines(const QByteArray& message)
{
    for (qsizetype i = 0; i < message.size(); ++i) {
        const char c = message[i];
        FUZZ_CHECK(uchar(c) < 0x80 && c != '\0', shown(message));
        if (c == '\r')
            FUZZ_CHECK(i + 1 < message.size() && message[i + 1] == '\n', shown(message));
        if (c == '\n')
            FUZZ_CHECK(i > 0 && message[i - 1] == '\r', shown(message));
    }
    FUZZ_CHECK(message.endsWith("\r\n"), shown(message));
    QList<QByteArray> lines = message.chopped(2).split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        FUZZ_CHECK(line.size() <= 998, shown(line));
    }
    return lines;
}

// ISO-2022-JP text that starts in ASCII, switches only between the sets RFC 1468 allows and
// ends back in ASCII.
void checkShifts(const QByteArray& text, const QString& detail)
{
    bool ascii = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\x1b')
            continue;
        const QByteArray designation = text.mid(i + 1, 2);
        FUZZ_CHECK(designation == "(B" || designation == "(J" || designation == "$@" ||
                       designation == "$B",
                   detail);
        ascii = designation == "(B";
        i += 2;
    }
    FUZZ_CHECK(ascii, detail);
}

// Every byte pair between the escapes is a character of its set.
void checkDecodes(const QByteArray& text, const QString& detail)
{
    FUZZ_CHECK(TextCodec::convert(text, "ISO-2022-JP", "UTF-8").has_value(), detail);
}

// A Japanese subject is nothing but encoded words, each standing on its own.
void checkEncodedSubject(const QByteArray& unfolded)
{
    static const QRegularExpression word(
        QStringLiteral("^=\\?ISO-2022-JP\\?B\\?([A-Za-z0-9+/]*={0,2})\\?=$"));
    const QString value = QString::fromLatin1(unfolded.mid(sizeof "Subject:" - 1));
    QByteArray text;
    for (const QString& token : value.split(u' ', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = word.match(token);
        FUZZ_CHECK(match.hasMatch() && token.size() <= 75, value);
        const auto decoded = QByteArray::fromBase64Encoding(
            match.captured(1).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        FUZZ_CHECK(decoded, value);
        checkShifts(*decoded, value);
        text += *decoded;
    }
    checkDecodes(text, value);
}

bool isPrintableAscii(const QString& text)
{
    for (const QChar c : text) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

struct Field {
    QString name;
    QByteArray unfolded; // the whole field without its CR LF breaks
};

QList<Field> headerFields(const QList<QByteArray>& lines, qsizetype blank,
                          const QByteArray& message)
{
    QList<Field> fields;
    for (qsizetype i = 0; i < blank; ++i) {
        const QByteArray& line = lines[i];
        FUZZ_CHECK(!line.contains('\x1b'), shown(message));
        if (line.startsWith(' ') || line.startsWith('\t')) {
            // A folded line holds more than blanks: some readers take a blank one for the end
            // of the header block.
            FUZZ_CHECK(!fields.isEmpty() && !line.trimmed().isEmpty(), shown(message));
            fields.back().unfolded += line;
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        const QString name = QString::fromLatin1(line.left(colon));
        FUZZ_CHECK(colon > 0 && FieldNames.contains(name), shown(message));
        fields.append({name, line});
    }
    return fields;
}

void checkMessage(const QByteArray& message, const MailMessage& mail)
{
    const QList<QByteArray> lines = crlfLines(message);
    const qsizetype blank = lines.indexOf(QByteArray());
    FUZZ_CHECK(blank > 0, shown(message));

    QMap<QString, int> counts;
    QByteArray subject;
    for (const Field& field : headerFields(lines, blank, message)) {
        ++counts[field.name];
        if (field.name == QStringLiteral("Subject"))
            subject = field.unfolded;
    }
    for (const QString& name : FieldNames) {
        const int expected = name == QStringLiteral("To") && mail.to().isEmpty() ? 0 : 1;
        FUZZ_CHECK(counts.value(name) == expected, name + u'\n' + shown(message));
    }
    const QByteArray contentType = QByteArray("Content-Type: ") + MailMessage::kContentType;
    FUZZ_CHECK(lines.contains(contentType), shown(message));

    if (!isPrintableAscii(HeaderEncoding::singleLine(mail.subject())))
        checkEncodedSubject(subject);
    for (qsizetype i = blank + 1; i < lines.size(); ++i)
        checkShifts(lines[i], shown(lines[i]));
    checkDecodes(message.mid(message.indexOf("\r\n\r\n") + 4), shown(message));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    MailMessage mail;
    mail.setFrom(QString::fromUtf8(parts.value(0)));
    mail.setSubject(QString::fromUtf8(parts.value(1)));
    mail.setBody(QString::fromUtf8(parts.value(2)));
    QStringList to;
    for (qsizetype i = 3; i < parts.size(); ++i)
        to.append(QString::fromUtf8(parts[i]));
    mail.setTo(to);
    checkMessage(mail.compose(), mail);
    return 0;
}
