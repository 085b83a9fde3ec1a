#include "mail/SmtpEndpoint.h"

namespace {

bool invalid(const QString& text, const char* why, QString* error)
{
    *error = QStringLiteral("Invalid SMTP server \"%1\": %2").arg(text, QLatin1String(why));
    return false;
}

bool parsePort(const QString& text, const QString& portText, int* port, QString* error)
{
    bool ok = !portText.isEmpty() && portText.size() <= 5;
    for (const QChar c : portText)
        ok = ok && c >= u'0' && c <= u'9';
    *port = ok ? portText.toInt() : 0;
    if (*port < 1 || *port > 65535)
        return invalid(text, "the port must be a number from 1 to 65535", error);
    return true;
}

} // namespace

bool SmtpEndpoint::parse(const QString& text, SmtpEndpoint* endpoint, QString* error)
{
    const QString server = text.trimmed();
    if (server.isEmpty()) {
        *error = QStringLiteral("No SMTP server is set");
        return false;
    }

    SmtpEndpoint parsed;
    if (server.startsWith(u'[')) {
        const qsizetype close = server.indexOf(u']');
        if (close < 0)
            return invalid(server, "missing ]", error);
        parsed.host = server.mid(1, close - 1);
        const QString rest = server.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return invalid(server, "unexpected text after ]", error);
        if (!rest.isEmpty() && !parsePort(server, rest.mid(1), &parsed.port, error))
            return false;
    } else if (server.count(u':') == 1) {
        const qsizetype colon = server.indexOf(u':');
        parsed.host = server.left(colon);
        if (!parsePort(server, server.mid(colon + 1), &parsed.port, error))
            return false;
    } else {
        parsed.host = server;
    }

    if (parsed.host.isEmpty())
        return invalid(server, "no host name", error);
    for (const QChar c : parsed.host) {
        if (c.isSpace() || c.unicode() < 0x20 || QStringLiteral("/?#@[]\\%<>\"'").contains(c))
            return invalid(server, "the host name holds characters a host name cannot have", error);
    }
    *endpoint = parsed;
    return true;
}
