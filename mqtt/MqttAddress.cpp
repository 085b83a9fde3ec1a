#include "mqtt/MqttAddress.h"

namespace {

std::optional<MqttAddress> refuse(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

std::optional<MqttAddress> MqttAddress::parse(const QString& text, QString* error)
{
    const QString broker = text.trimmed();
    const qsizetype schemeEnd = broker.indexOf(QLatin1String("://"));
    if (schemeEnd < 0)
        return refuse(error, QStringLiteral("the broker must start with mqtt:// or mqtts://"));
    const QString scheme = broker.left(schemeEnd).toLower();
    if (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))
        return refuse(error,
                      QStringLiteral("unknown scheme \"%1\": use mqtt:// or mqtts://").arg(scheme));

    MqttAddress address;
    address.tls = scheme == QLatin1String("mqtts");
    QString rest = broker.mid(schemeEnd + 3);
    if (rest.endsWith(u'/'))
        rest.chop(1);
    for (const QChar c : rest) {
        if (c == u'/' || c == u'@' || c == u'?' || c == u'#' || c.isSpace())
            return refuse(error, QStringLiteral("only a host and a port may follow the scheme"));
    }

    QString portText;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return refuse(error, QStringLiteral("an IPv6 address lacks its closing \"]\""));
        address.host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(u':'))
            return refuse(error, QStringLiteral("only \":port\" may follow an IPv6 address"));
        portText = after.mid(1);
        if (after.startsWith(u':') && portText.isEmpty())
            return refuse(error, QStringLiteral("a \":\" without a port"));
    } else {
        const qsizetype colon = rest.indexOf(u':');
        address.host = rest.left(colon);
        if (colon >= 0) {
            portText = rest.mid(colon + 1);
            if (portText.contains(u':'))
                return refuse(error, QStringLiteral("write an IPv6 address in brackets: [::1]"));
            if (portText.isEmpty())
                return refuse(error, QStringLiteral("a \":\" without a port"));
        }
    }
    if (address.host.isEmpty())
        return refuse(error, QStringLiteral("no host after %1://").arg(scheme));

    if (portText.isEmpty()) {
        address.port = address.tls ? 8883 : 1883;
        return address;
    }
    bool digits = portText.size() <= 5;
    for (const QChar c : portText)
        digits = digits && c >= u'0' && c <= u'9';
    const uint port = digits ? portText.toUInt() : 0;
    if (port < 1 || port > 65535)
        return refuse(
            error,
            QStringLiteral("the port must be a number from 1 to 65535, not \"%1\"").arg(portText));
    address.port = quint16(port);
    return address;
}
