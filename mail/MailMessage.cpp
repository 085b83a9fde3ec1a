#include "mail/MailMessage.h"

#include "mail/HeaderEncoding.h"
#include "mail/Iso2022Jp.h"
#include "mail/MailAddress.h"

#include <QLocale>
#include <QUuid>

namespace {

constexpr int kMaxLineBytes = 998;

} // namespace

MailHeaders MailMessage::standardHeaders(const QDateTime& now) const
{
    MailHeaders headers;
    headers.set(QStringLiteral("Date"), rfc5322Date(now));
    headers.set(QStringLiteral("From"), m_from);
    if (!m_to.isEmpty())
        headers.set(QStringLiteral("To"), m_to.join(QStringLiteral(", ")));
    headers.set(QStringLiteral("Subject"), m_subject);
    headers.set(QStringLiteral("Message-ID"), messageId(now));
    headers.set(QStringLiteral("MIME-Version"), QStringLiteral("1.0"));
    headers.set(QStringLiteral("Content-Type"), QString::fromLatin1(kContentType));
    headers.set(QStringLiteral("Content-Transfer-Encoding"), QStringLiteral("7bit"));
    return headers;
}

QByteArray MailMessage::compose(const MailHeaders& headers) const
{
    MailHeaders all = standardHeaders();
    for (const MailHeader& header : headers.items())
        all.set(header.name, header.value);
    QByteArray out;
    for (const MailHeader& header : all.items())
        out += HeaderEncoding::field(header.name, header.value);
    out += "\r\n";
    out += encodeBody(m_body);
    return out;
}

QByteArray MailMessage::encodeBody(const QString& body)
{
    QString text = body;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (text.endsWith(u'\n'))
        text.chop(1);
    if (text.isEmpty() && body.isEmpty())
        return {};
    QByteArray out;
    for (const QString& line : text.split(u'\n')) {
        for (const QByteArray& piece : Iso2022Jp::encode(line, kMaxLineBytes, kMaxLineBytes))
            out += piece + "\r\n";
    }
    return out;
}

QString MailMessage::rfc5322Date(const QDateTime& time)
{
    const int offset = time.offsetFromUtc() / 60;
    const int minutes = std::abs(offset);
    return QLocale::c().toString(time, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss ")) +
           (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString MailMessage::messageId(const QDateTime& now) const
{
    // The domain of the sender when it is a plain host name, so the id is unique and ours.
    const QString address = HeaderEncoding::addressPart(m_from);
    const qsizetype at = address.lastIndexOf(u'@');
    QString domain = MailAddress::asciiDomain(at < 0 ? QString() : address.mid(at + 1));
    if (domain.startsWith(u'[') || !MailAddress::isHostName(domain))
        domain = QStringLiteral("localhost");
    const QString unique = QString::number(now.toMSecsSinceEpoch(), 36) + u'.' +
                           QUuid::createUuid().toString(QUuid::Id128);
    return u'<' + unique + u'@' + domain + u'>';
}
