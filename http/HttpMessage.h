#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <functional>
#include <optional>

// One request as a site sees it: everything read in, on the server's thread.
struct HttpRequest {
    QByteArray method;
    QByteArray path;                            // without the query
    QList<QPair<QByteArray, QByteArray>> query; // decoded
    QHash<QByteArray, QByteArray> headers;      // names in lower case
    QByteArray body;                            // at most HttpServer::BodyLimit bytes
    QHostAddress peer;
    bool tls = false;

    QByteArray header(const char* lowerName) const { return headers.value(lowerName); }
    QByteArray queryValue(const char* name) const
    {
        for (const auto& [key, value] : query)
            if (key == name)
                return value;
        return {};
    }
};

struct HttpReply {
    unsigned status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    // Work for the server's owner thread (the monitor's): the connection waits, without holding
    // the server thread, for the reply it returns.
    std::function<HttpReply()> onOwnerThread;
};

// A site answers the requests it knows (nullopt: not its path) on the server's thread.
using HttpHandler = std::function<std::optional<HttpReply>(const HttpRequest&)>;
