#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

// One HTTP request written byte for byte, as a hostile client or a script would send it, over
// TCP or TLS, and its answer. Every wait is bounded.
namespace HttpExchange {

struct Answer {
    int status = 0;                        // 0: no HTTP answer (refused, reset, bad TLS)
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

struct Request {
    Request(QByteArray method = "GET", QByteArray path = "/", QByteArray host = {},
            QList<QPair<QByteArray, QByteArray>> headers = {}, QByteArray body = {},
            QString user = {}, QString password = {})
        : method(std::move(method))
        , path(std::move(path))
        , host(std::move(host))
        , headers(std::move(headers))
        , body(std::move(body))
        , user(std::move(user))
        , password(std::move(password))
    {
    }

    QByteArray method;
    QByteArray path;
    QByteArray host; // empty: "<address>:<port>"
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QString user; // with a password: HTTP Basic
    QString password;
};

// `caFile` set: over TLS, trusting only that CA.
Answer send(quint16 port, const Request& request, const QString& caFile = {},
            const QString& address = QStringLiteral("127.0.0.1"));

} // namespace HttpExchange
