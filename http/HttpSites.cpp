#include "http/HttpSites.h"

#include <vector>

namespace {

QString key(const QString& address)
{
    return address.trimmed();
}

} // namespace

HttpSites::HttpSites(QObject* parent)
    : QObject(parent)
{
}

void HttpSites::serve(const QString& name, const Site& site)
{
    m_sites.insert(name, site);
    regroup();
}

quint16 HttpSites::port(const QString& name) const
{
    const HttpServer* server = m_servers.value(key(m_sites.value(name).address));
    return server ? server->serverPort() : 0;
}

void HttpSites::regroup()
{
    QMap<QString, QStringList> namesAt;
    for (auto it = m_sites.cbegin(); it != m_sites.cend(); ++it)
        if (!key(it->address).isEmpty())
            namesAt[key(it->address)].append(it.key());

    for (auto it = m_servers.begin(); it != m_servers.end();) {
        if (namesAt.contains(it.key())) {
            ++it;
            continue;
        }
        delete it.value();
        it = m_servers.erase(it);
    }
    for (auto it = namesAt.cbegin(); it != namesAt.cend(); ++it) {
        const QString& address = it.key();
        const QStringList& names = it.value();
        const Site& first = m_sites[names.first()];
        HttpServer*& server = m_servers[address];
        if (!server) {
            server = new HttpServer(first.subject, first.examplePort, this);
            connect(server, &HttpServer::problem, this, [this, server](const QString& why) {
                // The sites there now, which may be others than when the server was made.
                for (auto site = m_sites.cbegin(); site != m_sites.cend(); ++site)
                    if (m_servers.value(key(site->address)) == server)
                        emit problem(site.key(), why);
            });
        }
        std::vector<HttpHandler> handlers;
        HttpServer::Tls tls;
        for (const QString& name : names) {
            const Site& site = m_sites[name];
            handlers.push_back(site.handler);
            if (tls.certificate.isEmpty())
                tls = site.tls;
        }
        server->setHandler([handlers](const HttpRequest& request) -> std::optional<HttpReply> {
            for (const HttpHandler& handler : handlers)
                if (auto reply = handler ? handler(request) : std::nullopt)
                    return reply;
            return std::nullopt;
        });
        server->listenOn(address, tls);
    }
}
