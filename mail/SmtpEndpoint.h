#pragma once

#include <QByteArray>
#include <QString>

// Where the SMTP client connects: the "SMTP Server" text as "host", "host:port" or
// "[IPv6]:port". A bare IPv6 literal ("::1") is a host on the default port.
struct SmtpEndpoint {
    static constexpr int kDefaultPort = 25;

    QString host; // without brackets
    int port = kDefaultPort;

    // False with the reason when the text is empty, the port is not 1..65535, or the host
    // holds characters that would change the URL.
    static bool parse(const QString& text, SmtpEndpoint* endpoint, QString* error);
};
