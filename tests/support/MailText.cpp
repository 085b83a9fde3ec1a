#include "support/MailText.h"

#include "core/TextCodec.h"

ParsedMail::ParsedMail(const QByteArray& raw)
{
    const qsizetype end = raw.indexOf("\r\n\r\n");
    body = end < 0 ? QByteArray() : raw.mid(end + 4);
    headerLines = raw.left(end < 0 ? raw.size() : end).split('\n');
    for (QByteArray& line : headerLines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    for (const QByteArray& line : std::as_const(headerLines)) {
        if ((line.startsWith(' ') || line.startsWith('\t')) && !fields.isEmpty()) {
            fields.last().value += line;
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        QByteArray value = line.mid(colon + 1);
        if (value.startsWith(' '))
            value.remove(0, 1);
        fields.append({line.left(colon), value});
    }
}

QList<ParsedMail::Field> ParsedMail::named(const QByteArray& name) const
{
    QList<Field> found;
    for (const Field& field : fields) {
        if (field.name.compare(name, Qt::CaseInsensitive) == 0)
            found.append(field);
    }
    return found;
}

QByteArray ParsedMail::value(const QByteArray& name) const
{
    const QList<Field> found = named(name);
    return found.isEmpty() ? QByteArray() : found.first().value;
}

QString ParsedMail::text(const QByteArray& name) const
{
    return count(name) == 0 ? QString() : MailText::decodeWords(value(name));
}

QString ParsedMail::bodyText() const
{
    return MailText::fromJis(body);
}

namespace MailText {

QString fromJis(const QByteArray& bytes)
{
    const auto utf8 = TextCodec::convert(bytes, "ISO-2022-JP", "UTF-8");
    return utf8 ? QString::fromUtf8(*utf8) : QStringLiteral("<undecodable>");
}

const QRegularExpression& encodedWord()
{
    static const QRegularExpression word(
        QStringLiteral("=\\?ISO-2022-JP\\?B\\?([A-Za-z0-9+/=]*)\\?="));
    return word;
}

QString decodeWords(const QByteArray& value)
{
    const QString text = QString::fromLatin1(value);
    QString out;
    qsizetype at = 0;
    bool afterWord = false;
    for (auto it = encodedWord().globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString between = text.mid(at, match.capturedStart() - at);
        if (!(afterWord && between.trimmed().isEmpty()))
            out += between;
        out += fromJis(QByteArray::fromBase64(match.captured(1).toLatin1()));
        at = match.capturedEnd();
        afterWord = true;
    }
    return out + text.mid(at);
}

bool endsInAscii(const QByteArray& jis)
{
    const qsizetype esc = jis.lastIndexOf('\x1b');
    return esc < 0 || jis.mid(esc, 3) == "\x1b(B";
}

void checkWire(const QByteArray& raw)
{
    for (qsizetype i = 0; i < raw.size(); ++i) {
        QVERIFY2(uchar(raw[i]) < 0x80, qPrintable(QStringLiteral("8-bit byte at %1").arg(i)));
        if (raw[i] == '\r')
            QVERIFY2(i + 1 < raw.size() && raw[i + 1] == '\n', "bare CR");
        if (raw[i] == '\n')
            QVERIFY2(i > 0 && raw[i - 1] == '\r', "bare LF");
    }
    QVERIFY(raw.endsWith("\r\n"));
    for (const QByteArray& line : raw.split('\n'))
        QVERIFY2(line.size() - 1 <= 998, qPrintable(QStringLiteral("line of %1").arg(line.size())));
}

} // namespace MailText
