#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>

// One whole SMTP session with libcurl, free of Qt's event machinery so it can run on a worker
// thread.
struct SmtpJob {
    // How long a mail may take to connect (greeting included) and in all.
    static constexpr int DefaultConnectTimeoutMs = 15000;
    static constexpr int DefaultTotalTimeoutMs = 60000;

    QByteArray url;           // from SmtpEndpoint::url()
    QByteArray mailFrom;      // address only
    QList<QByteArray> rcptTo; // addresses only
    QByteArray message;       // CRLF text as composed; libcurl dot-stuffs it on the way
    long connectTimeoutMs = DefaultConnectTimeoutMs;
    long totalTimeoutMs = DefaultTotalTimeoutMs;
};

// Initialises libcurl once per process; call it on the main thread before the first transfer.
void initSmtpTransfers();

// Connects, says EHLO, MAIL, RCPT, DATA and QUIT. On failure `error` gets libcurl's error text
// with the server's last 4xx/5xx reply line where there was one. Never throws. Once `abort` is
// set, the transfer ends within about a second.
bool runSmtpTransfer(const SmtpJob& job, const std::atomic<bool>& abort, QString* error);
