#pragma once

#include "mail/MailHeaders.h"
#include "mail/SmtpEndpoint.h"
#include "mail/SmtpTransfer.h"

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
// Failures throw SmtpError (an address that is not one fails before any connection);
// exceptions thrown by the callbacks pass through unchanged. While a
// session runs, the calling thread waits in a local event loop that leaves out user input, so
// windows repaint and timers and sockets keep being served.
class SmtpClient {
public:
    SmtpClient();

    // Does once what the first mail of a run would otherwise pay for (libcurl's and the text
    // converters' set-up, the host name). Call it on the main thread when nothing waits on it.
    static void prepare();

    // "host", "host:port" or "[IPv6]:port"; port 25 when none is given. Blanks are trimmed.
    void setHost(const QString& host) { m_host = host; }
    // The name said in EHLO when it is a host name and no password is set; otherwise this
    // machine's host name. With a password, the user name to log in as.
    void setUserId(const QString& userId) { m_userId = userId; }
    // Logs in (AUTH, as the server offers) when not empty; then TLS is required.
    void setPassword(const QString& password) { m_password = password; }

    enum class Security {
        Auto,     // TLS on port 465, else STARTTLS when offered; verified when logging in
        StartTls, // STARTTLS required, certificate verified
        Tls,      // TLS from the first byte, certificate verified
        None,     // plain SMTP; refuses to send a password
    };
    void setSecurity(Security security) { m_security = security; }
    // A PEM bundle trusted besides the system's certificates; empty for none.
    void setCaFile(const QString& path) { m_caFile = path; }
    // Bounds for connecting (greeting included) and for the whole session.
    void setTimeouts(int connectMs, int totalMs);

    // By default the wait for the server leaves out user input. A caller that holds input back
    // itself (letting only a close request through) turns that off.
    void setExcludesUserInput(bool excludes) { m_excludesUserInput = excludes; }

    void setConnectedHandler(std::function<void()> handler) { m_onConnected = std::move(handler); }
    void setSendStartHandler(std::function<void()> handler) { m_onSendStart = std::move(handler); }

    // Checks the server text (throws SmtpError when it is empty or malformed), then calls the
    // connected callback. Everything is over when it returns.
    void connectToServer();
    void disconnectFromServer() { m_connected = false; }
    bool isConnected() const { return m_connected; }

    // The mail parameters, cleared after every sendMail(), whether it succeeded or not.
    void setBody(const QString& body) { m_body = body; }
    // A text as typed: one address or several separated by ',' or ';', each with or without a
    // display name ("Ops <ops@example.com>; boss@example.com"). Each address gets one RCPT.
    void addRecipient(const QString& recipient) { m_recipients.append(recipient); }
    // The From field as typed ("Name <address>" or an address); MAIL FROM uses the address.
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
    // A failure throws SmtpError, telling whether it may pass; lastMail() then holds the mail,
    // its envelope left with the recipients worth another try. Recipients the server refused
    // while it took the mail for others throw too, naming them; the others got it.
    void sendMail();
    // The last mail sendMail() composed, envelope included, and whether abort() gave it up.
    const ComposedMail& lastMail() const { return m_lastMail; }
    bool lastMailCancelled() const { return m_lastMailCancelled; }
    // A password was set, but the server offered no login and took the mail without one.
    bool lastMailWentWithoutLogin() const { return m_lastMailWithoutLogin; }
    // A session for `mail` with this client's server, security, login and bounds, to run with
    // runSmtpTransfer() on any thread. Throws SmtpError when these settings cannot send.
    SmtpJob jobFor(const ComposedMail& mail) const;
    bool isSending() const { return m_sending; }
    // Ends the mail being sent at once (any wait on the server included); sendMail() then
    // returns without raising. Does nothing when no mail is being sent.
    void abort();

private:
    QString m_host;
    QString m_userId;
    QString m_password;
    Security m_security = Security::Auto;
    QString m_caFile;
    int m_connectTimeoutMs = SmtpJob::DefaultConnectTimeoutMs;
    int m_totalTimeoutMs = SmtpJob::DefaultTotalTimeoutMs;
    std::function<void()> m_onConnected;
    std::function<void()> m_onSendStart;
    bool m_excludesUserInput = true;
    bool m_connected = false;
    bool m_sending = false;
    SmtpEndpoint m_endpoint;
    QString m_body;
    QStringList m_recipients;
    QString m_sender;
    QString m_subject;
    MailHeaders m_finalHeaders;
    SmtpAbort* m_abort = nullptr; // the running session's
    ComposedMail m_lastMail;
    bool m_lastMailCancelled = false;
    bool m_lastMailWithoutLogin = false;

    // Server, security, login and bounds of a session from this client's settings.
    void setUpSession(SmtpJob& job, const SmtpEndpoint& endpoint) const;
};
