#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QHostAddress;
class QHttpServer;

// Serves GET /metrics over HTTP on one address; everything else answers 404. The text comes
// from `body` at each request.
class MetricsServer : public QObject {
    Q_OBJECT
public:
    struct Endpoint {
        QString host; // an address or a host name, without brackets
        quint16 port = 0;
    };
    // "host:port", "[v6 address]:port"; a port from 1 to 65535. No host is refused rather than
    // taken for every interface: what the readings are shown to must be said.
    static std::optional<Endpoint> parseEndpoint(const QString& text, QString* error);

    explicit MetricsServer(std::function<QByteArray()> body, QObject* parent = nullptr);
    ~MetricsServer() override;

    // Serves on `text` ("host:port") from now on, empty for nowhere. The same text again keeps
    // what is there, so one failure is told once.
    void listenOn(const QString& text);
    // The port listened on; 0 while not listening.
    quint16 serverPort() const;

    // Why `text` cannot be served on, in a line for the status bar.
    std::function<void(const QString& why)> onProblem;

private:
    void stop();
    void listenAt(const QHostAddress& address, quint16 port);
    void report(const QString& why);

    std::function<QByteArray()> m_body;
    QString m_text;
    std::unique_ptr<QHttpServer> m_http;
    int m_lookupId = -1;
};
