#pragma once

#include "http/HttpMessage.h"

#include <QObject>
#include <QString>
#include <memory>

class QHostAddress;
struct MHD_Daemon;

// Serves HTTP (or HTTPS) on one address through libmicrohttpd, answering with the handler set;
// what no handler knows answers 404. The server runs on a thread of its own and is bounded
// whatever its clients do: a few connections at a time, a little memory each, idle ones closed
// after seconds, a small body at most. Work a handler hands to the owner's thread waits there
// without holding the server's thread.
class HttpServer : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype BodyLimit = 4096;

    struct Endpoint {
        QString host; // an address or a host name, without brackets
        quint16 port = 0;
    };
    // "host:port", "[v6 address]:port"; a port from 1 to 65535. No host is refused rather than
    // taken for every interface: what is served must be said where.
    static bool parseEndpoint(const QString& text, Endpoint* endpoint);

    // PEM texts; empty: plain HTTP.
    struct Tls {
        QByteArray certificate;
        QByteArray key;
        bool operator==(const Tls&) const = default;
    };

    // `subject` names what is served in the problems told ("Metrics", "Status page");
    // `examplePort` shows how an address is written.
    HttpServer(const QString& subject, quint16 examplePort, QObject* parent = nullptr);
    ~HttpServer() override;

    // Answers every request from now on; callable while serving.
    void setHandler(HttpHandler handler);
    // Serves on `text` ("host:port") from now on, empty for nowhere. The same text and TLS
    // again keep what is there, so one failure is told once.
    void listenOn(const QString& text, const Tls& tls = {});
    // The port listened on; 0 while not listening.
    quint16 serverPort() const { return m_port; }

signals:
    // Why the address cannot be served on, in a line for the status bar.
    void problem(const QString& why);

public:
    // Shared with the server thread.
    struct Shared;

private:
    struct StopDaemon {
        void operator()(MHD_Daemon* daemon) const;
    };

    void stop();
    void listenAt(const QHostAddress& address, quint16 port);

    QString m_subject;
    quint16 m_examplePort;
    std::shared_ptr<Shared> m_shared;
    QString m_text;
    Tls m_tls;
    std::unique_ptr<MHD_Daemon, StopDaemon> m_daemon;
    quint16 m_port = 0;
    int m_lookupId = -1;
};
