#pragma once

#include "metrics/MetricsExposition.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class Clock;
class QHostAddress;
struct MHD_Daemon;

// Serves GET /metrics over HTTP on one address; everything else answers 404. The server runs on
// a thread of its own (libmicrohttpd) and is bounded whatever its clients do: a few connections
// at a time, a little memory each, idle ones closed after seconds, no request body ever read.
// What it serves is the last snapshot published from the main thread.
class MetricsServer : public QObject {
    Q_OBJECT
public:
    struct Endpoint {
        QString host; // an address or a host name, without brackets
        quint16 port = 0;
    };
    // "host:port", "[v6 address]:port"; a port from 1 to 65535. No host is refused rather than
    // taken for every interface: what the readings are shown to must be said.
    static bool parseEndpoint(const QString& text, Endpoint* endpoint, QString* error);

    explicit MetricsServer(QObject* parent = nullptr);
    ~MetricsServer() override;

    // What scrapes show from now on. The reply age is as of each scrape: `clock`'s steady time
    // (read on the server thread) since `lastReplyMs`, the last correct reply or start-up.
    void publish(const MetricsExposition& values, const Clock& clock, qint64 lastReplyMs);

    // Serves on `text` ("host:port") from now on, empty for nowhere. The same text again keeps
    // what is there, so one failure is told once.
    void listenOn(const QString& text);
    // The port listened on; 0 while not listening.
    quint16 serverPort() const { return m_port; }

signals:
    // Why the address cannot be served on, in a line for the status bar.
    void problem(const QString& why);

public:
    // Shared with the server thread.
    struct Snapshot;

private:
    struct StopDaemon {
        void operator()(MHD_Daemon* daemon) const;
    };

    void stop();
    void listenAt(const QHostAddress& address, quint16 port);
    void report(const QString& why);

    std::unique_ptr<Snapshot> m_snapshot;
    QString m_text;
    std::unique_ptr<MHD_Daemon, StopDaemon> m_daemon;
    quint16 m_port = 0;
    int m_lookupId = -1;
};
