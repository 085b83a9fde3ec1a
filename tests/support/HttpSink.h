#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real HTTP server for the tests: tools/http_sink.py on loopback, keeping each request in a
// temporary folder. The process is stopped when the object goes.
class HttpSink {
public:
    struct Request {
        QString method;
        QString path;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        qint64 atNs = 0; // when it came in whole, on the monotonic clock
    };

    // `mode`: one of http_sink.py's --mode values; port 0 lets the system pick a free one;
    // `retryAfter`: its --retry-after.
    explicit HttpSink(const QString& mode = QStringLiteral("ok"), quint16 port = 0,
                      const QString& retryAfter = {});
    ~HttpSink();
    HttpSink(const HttpSink&) = delete;
    HttpSink& operator=(const HttpSink&) = delete;

    bool isListening() const { return m_port != 0; }
    QString errorString() const { return m_error; }
    // "http://127.0.0.1:<port><path>"
    QString url(const QString& path = QStringLiteral("/alerts")) const;

    // Waits in a real event loop until at least `count` requests came in whole; false on
    // timeout.
    bool waitForRequests(int count, int timeoutMs = 10000);
    int requestCount() const;
    QList<Request> requests() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
