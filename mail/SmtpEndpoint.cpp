#include "mail/SmtpEndpoint.h"

#include "mail/SmtpError.h"

namespace {

[[noreturn]] void invalid(const QString& text, const char* why)
{
    throw SmtpError(QStringLiteral("Invalid SMTP server \"%1\": %2").arg(text, QLatin1String(why)));
}

int parsePort(const QString& text, const QString& portText)
{
    bool ok = !portText.isEmpty() && portText.size() <= 5;
    for (const QChar c : portText)
        ok = ok && c >= u'0' && c <= u'9';
    const int port = ok ? portText.toInt() : 0;
    if (port < 1 || port > 65535)
        invalid(text, "the port must be a number from 1 to 65535");
    return port;
}

} // namespace

SmtpEndpoint SmtpEndpoint::parse(const QString& text)
{
    const QString server = text.trimmed();
    if (server.isEmpty())
        throw SmtpError(QStringLiteral("No SMTP server is set"));

    SmtpEndpoint endpoint;
    if (server.startsWith(u'[')) {
        const qsizetype close = server.indexOf(u']');
        if (close < 0)
            invalid(server, "missing ]");
        endpoint.host = server.mid(1, close - 1);
        const QString rest = server.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            invalid(server, "unexpected text after ]");
        if (!rest.isEmpty())
            endpoint.port = parsePort(server, rest.mid(1));
    } else if (server.count(u':') == 1) {
        const qsizetype colon = server.indexOf(u':');
        endpoint.host = server.left(colon);
        endpoint.port = parsePort(server, server.mid(colon + 1));
    } else {
        endpoint.host = server;
    }

    if (endpoint.host.isEmpty())
        invalid(server, "no host name");
    for (const QChar c : endpoint.host) {
        if (c.isSpace() || c.unicode() < 0x20 || QStringLiteral("/?#@[]\\%<>\"'").contains(c))
            invalid(server, "the host name holds characters a host name cannot have");
    }
    return endpoint;
}
