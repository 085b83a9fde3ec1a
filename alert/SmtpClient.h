#pragma once

#include "alert/MailHeaders.h"
#include "alert/SmtpEndpoint.h"
#include "alert/SmtpTransfer.h"

#include <QString>
#include <QStringList>
#include <functional>

// Sends alert mails over SMTP, one at a time, driven by two callbacks:
//
//   client.setHost(server); client.setUserId(user);
//   client.connectToServer();        // calls the connected callback before it returns
//   connected callback: setBody(), addRecipient(), setSender(), setSubject(), sendMail(),
//                       disconnectFromServer()
//   sendMail():                      // calls the send-start callback, which may set fields in
//                                    // finalHeaders(), then runs the whole SMTP session
//
// Failures throw SmtpError; exceptions thrown by the callbacks pass through unchanged. While a
// session runs, the calling thread waits in a local event loop that leaves out user input, so
// windows repaint and timers and sockets keep being served.
class SmtpClient {
public:
    SmtpClient();

    // "host", "host:port" or "[IPv6]:port"; port 25 when none is given. Blanks are trimmed.
    void setHost(const QString& host) { m_host = host; }
    // The name said in EHLO; when empty, libcurl's default (this machine's host name).
    void setUserId(const QString& userId) { m_userId = userId; }
    // Bounds for connecting (greeting included) and for the whole session.
    void setTimeouts(int connectMs, int totalMs);

    void setConnectedHandler(std::function<void()> handler) { m_onConnected = std::move(handler); }
    void setSendStartHandler(std::function<void()> handler) { m_onSendStart = std::move(handler); }

    // Checks the server text (throws SmtpError when it is empty or malformed), then calls the
    // connected callback. Everything is over when it returns.
    void connectToServer();
    void disconnectFromServer() { m_connected = false; }
    bool isConnected() const { return m_connected; }

    // The mail parameters, cleared after every sendMail(), whether it succeeded or not.
    void setBody(const QString& body) { m_body = body; }
    // One entry as typed, e.g. "Name <user@example.com>"; RCPT TO uses its address part.
    void addRecipient(const QString& recipient) { m_recipients.append(recipient); }
    // The From field as typed; MAIL FROM uses its address part.
    void setSender(const QString& sender) { m_sender = sender; }
    void setSubject(const QString& subject) { m_subject = subject; }
    const QString& body() const { return m_body; }
    const QStringList& recipients() const { return m_recipients; }
    const QString& sender() const { return m_sender; }
    const QString& subject() const { return m_subject; }
    void clearParameters();

    // The header fields of the mail being sent, filled with the standard fields just before the
    // send-start callback runs. MailHeaders::set() there replaces a field of the same name.
    MailHeaders& finalHeaders() { return m_finalHeaders; }

    // Only while connected. Composes the mail, runs the SMTP session and waits for its end.
    void sendMail();
    bool isSending() const { return m_sending; }

private:
    QString m_host;
    QString m_userId;
    int m_connectTimeoutMs = SmtpJob::DefaultConnectTimeoutMs;
    int m_totalTimeoutMs = SmtpJob::DefaultTotalTimeoutMs;
    std::function<void()> m_onConnected;
    std::function<void()> m_onSendStart;
    bool m_connected = false;
    bool m_sending = false;
    SmtpEndpoint m_endpoint;
    QString m_body;
    QStringList m_recipients;
    QString m_sender;
    QString m_subject;
    MailHeaders m_finalHeaders;
};
