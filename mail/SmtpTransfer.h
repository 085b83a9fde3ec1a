#pragma once

#include "net/Transfer.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One whole SMTP session with libcurl, free of Qt's event machinery so it can run on a worker
// thread.
struct SmtpJob {
    // How long a mail may take to connect (greeting included) and in all.
    static constexpr int DefaultConnectTimeoutMs = 15000;
    static constexpr int DefaultTotalTimeoutMs = 60000;

    enum class Tls {
        Off,           // plain SMTP
        Opportunistic, // STARTTLS when the server offers it
        Required,      // STARTTLS, or the session fails
        Implicit,      // TLS from the first byte (port 465)
    };

    QByteArray host; // without brackets
    int port = 25;
    QByteArray ehloName;
    QByteArray mailFrom;      // envelope addresses, without < >
    QList<QByteArray> rcptTo; // each said once
    QByteArray message;       // CRLF text as composed; libcurl dot-stuffs it on the way
    Tls tls = Tls::Off;
    bool verifyPeer = false;
    QByteArray caFile; // PEM bundle trusted besides the system's store
    QByteArray user;   // logs in when a password is set
    QByteArray password;
    long connectTimeoutMs = DefaultConnectTimeoutMs;
    long totalTimeoutMs = DefaultTotalTimeoutMs;
};

// A mail as it goes over the wire: the envelope and the composed text.
struct ComposedMail {
    QByteArray mailFrom;
    QList<QByteArray> rcptTo;
    QByteArray message;
};

// A recipient the server would not take, with its reply line ("550 5.1.1 <x@y>: unknown").
struct RefusedRecipient {
    QByteArray address;
    QByteArray reply;
    bool mayPass() const { return reply.startsWith('4'); }
};

// Sets up and drops one transfer handle, so the first real one finds libcurl's lazy parts ready
// (on the thread it runs on, too).
void warmUpSmtpTransfer();

// Connects, says EHLO, STARTTLS and AUTH where asked for, MAIL, RCPT, DATA and QUIT. On failure
// `error` gets libcurl's or the TLS library's text with the server's last 4xx/5xx reply line
// where there was one. The whole session ends within totalTimeoutMs. Never throws.
// `mayPass` tells whether the failure may pass by itself (no connection, a time-out, a 4xx
// reply, a TLS handshake that broke off), so that the same mail is worth sending again later.
// A refused recipient does not stop the others: the mail goes to those the server took, and
// `refused` lists the rest (true is returned when at least one took it). When every recipient
// is refused the mail fails, and may pass when one of the refusals was a 4xx.
// `withoutLogin` is set when a password was given but the server offered no AUTH, so the mail
// went without logging in.
bool runSmtpTransfer(const SmtpJob& job, TransferAbort& abort, QString* error,
                     bool* mayPass = nullptr, QList<RefusedRecipient>* refused = nullptr,
                     bool* withoutLogin = nullptr);

// One line per refused recipient, "RCPT failed: <reply>", naming the address where the reply
// does not.
QString describeRefused(const QList<RefusedRecipient>& refused);
// The refused recipients worth another try: those the server put off with a 4xx.
QList<QByteArray> deferredRecipients(const QList<RefusedRecipient>& refused);

// The capabilities the server lists in its EHLO reply (e.g. "SMTPUTF8", "AUTH PLAIN LOGIN"),
// after STARTTLS where the job asks for it; said and left again with QUIT.
bool probeSmtpCapabilities(const SmtpJob& job, TransferAbort& abort,
                           QList<QByteArray>* capabilities, QString* error,
                           bool* mayPass = nullptr);
