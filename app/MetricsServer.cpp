#include "app/MetricsServer.h"

#include "alert/MetricsExposition.h"
#include "device/UdpEndpoint.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QTcpServer>

std::optional<MetricsServer::Endpoint> MetricsServer::parseEndpoint(const QString& text,
                                                                    QString* error)
{
    const QString trimmed = text.trimmed();
    const qsizetype colon = trimmed.lastIndexOf(QLatin1Char(':'));
    QString host = trimmed.left(std::max<qsizetype>(colon, 0));
    const QString portText = colon < 0 ? QString() : trimmed.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        host.clear(); // an IPv6 address needs its brackets, or the port is a guess

    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (host.isEmpty() || !ok || port < 1 || port > 65535) {
        if (error)
            *error = tr("Metrics address \"%1\" is not host:port (say 127.0.0.1:9464) - not "
                        "served")
                         .arg(trimmed);
        return std::nullopt;
    }
    return Endpoint{host, quint16(port)};
}

MetricsServer::MetricsServer(std::function<QByteArray()> body, QObject* parent)
    : QObject(parent)
    , m_body(std::move(body))
{
}

MetricsServer::~MetricsServer()
{
    stop();
}

quint16 MetricsServer::serverPort() const
{
    if (!m_http || m_http->servers().isEmpty())
        return 0;
    return m_http->servers().first()->serverPort();
}

void MetricsServer::stop()
{
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(std::exchange(m_lookupId, -1));
    m_http.reset();
}

void MetricsServer::listenOn(const QString& text)
{
    if (text.trimmed() == m_text)
        return;
    m_text = text.trimmed();
    stop();
    if (m_text.isEmpty())
        return;
    QString error;
    const std::optional<Endpoint> endpoint = parseEndpoint(m_text, &error);
    if (!endpoint) {
        report(error);
        return;
    }
    QHostAddress address;
    if (address.setAddress(endpoint->host)) {
        listenAt(address, endpoint->port);
        return;
    }
    const QString wanted = m_text;
    m_lookupId = QHostInfo::lookupHost(
        endpoint->host, this, [this, wanted, endpoint](const QHostInfo& info) {
            if (wanted != m_text)
                return;
            m_lookupId = -1;
            // One address, as for the board: "localhost" serves on 127.0.0.1.
            const QHostAddress chosen = preferredAddress(info.addresses());
            if (chosen.isNull())
                report(tr("Metrics host \"%1\" cannot be resolved: %2 - not served")
                           .arg(endpoint->host, info.errorString()));
            else
                listenAt(chosen, endpoint->port);
        });
}

void MetricsServer::listenAt(const QHostAddress& address, quint16 port)
{
    auto http = std::make_unique<QHttpServer>();
    auto* tcp = new QTcpServer(http.get());
    if (!tcp->listen(address, port)) {
        report(tr("Cannot serve metrics on %1 port %2: %3")
                   .arg(address.toString())
                   .arg(port)
                   .arg(tcp->errorString()));
        return;
    }
    http->route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get, [this] {
        return QHttpServerResponse(QByteArray(MetricsExposition::ContentType), m_body());
    });
    http->bind(tcp);
    m_http = std::move(http);
}

void MetricsServer::report(const QString& why)
{
    if (onProblem)
        onProblem(why);
}
