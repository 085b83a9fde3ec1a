#pragma once

#include "http/HttpServer.h"

#include <QMap>
#include <QObject>
#include <QString>

// The sites the program serves (the metrics, the status page), each on the address its settings
// name. Sites that name the same address share one server and its port; a path no site knows
// answers 404. A site's TLS makes its whole server HTTPS.
class HttpSites : public QObject {
    Q_OBJECT
public:
    struct Site {
        QString address; // "host:port"; empty: not served
        HttpServer::Tls tls;
        HttpHandler handler;
        QString subject;         // what the problems call it ("Metrics")
        quint16 examplePort = 0; // how its address is written in them
    };

    explicit HttpSites(QObject* parent = nullptr);

    // Serves `name` as `site` from now on; the same address again keeps its server.
    void serve(const QString& name, const Site& site);
    // The port the site is served on; 0 while it is not.
    quint16 port(const QString& name) const;

signals:
    // Why the site's address cannot be served on; told to each site sharing it.
    void problem(const QString& name, const QString& why);

private:
    void regroup();

    QMap<QString, Site> m_sites;          // by name, in name order
    QMap<QString, HttpServer*> m_servers; // by address as written
};
