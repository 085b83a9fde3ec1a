#pragma once

#include "mail/MailHeaders.h"
#include "mail/SmtpEndpoint.h"
#include "mail/SmtpTransfer.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <future>
#include <memory>

// How one mail ended.
struct SmtpResult {
    bool sent = false;         // every recipient took it
    QString error;             // why not, in libcurl's words with the server's reply line
    bool mayPass = false;      // the same mail may go through later (no connection, 4xx...)
    bool cancelled = false;    // abort() gave it up; no error then
    bool withoutLogin = false; // a password was set, but the server took it without a login
    ComposedMail mail;         // as composed, its envelope left with those worth another try
};
Q_DECLARE_METATYPE(SmtpResult)

// Sends mails over SMTP, one at a time, driven by two callbacks:
//
//   client.setHost(server); client.setUserId(user);
//   client.connectToServer();        // calls the connected callback before it returns
//   connected callback: setBody(), addRecipient(), setSender(), setSubject(), sendMail(),
//                       disconnectFromServer()
//   sendMail():                      // calls the send-start callback, which may set fields in
//                                    // finalHeaders(), then starts the SMTP session
//   finished(result)                 // later, on this object's thread
//
// The session runs on a worker thread; nothing here waits for it. Every mail started ends in
// exactly one finished(), failures found before any connection (the server text, an address)
// included, so a caller has one place to look.
class SmtpClient : public QObject {
    Q_OBJECT
public:
    explicit SmtpClient(QObject* parent = nullptr);
    // Gives up a session under way.
    ~SmtpClient() override;

    // Does once what the first mail of a run would otherwise pay for (libcurl's and the text
    // converters' set-up, the host name, a transfer thread with libcurl's paths warm). Call it
    // on the main thread when nothing waits on it.
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

    void setConnectedHandler(std::function<void()> handler) { m_onConnected = std::move(handler); }
    void setSendStartHandler(std::function<void()> handler) { m_onSendStart = std::move(handler); }

    // Calls the connected callback; when the server text is bad it does not, and finished()
    // says why. False with the reason, and nothing more, while a mail is still being sent.
    bool connectToServer(QString* error = nullptr);
    void disconnectFromServer() { m_connected = false; }
    bool isConnected() const { return m_connected; }

    // The mail parameters, cleared by every sendMail(), whether it started or not.
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

    // The header fields of the mail being composed, filled with the standard fields just before
    // the send-start callback runs. MailHeaders::set() there replaces a field of the same name.
    MailHeaders& finalHeaders() { return m_finalHeaders; }

    // Only while connected. Composes the mail and starts its session; finished() tells the end.
    // Recipients the server refused while it took the mail for others make it fail too, naming
    // them; the others got it. False with the reason, and no finished(), when not connected or
    // a mail is still being sent.
    bool sendMail(QString* error = nullptr);
    // Composes the parameters as sendMail() would (send-start callback included) without
    // sending, then clears them: a mail given up before its session still reads the same.
    bool composeMail(ComposedMail* mail, QString* error);
    // A session for `mail` with this client's server, security, login and bounds, to run with
    // runSmtpTransfer() on any thread. False with the reason when these settings cannot send.
    bool jobFor(const ComposedMail& mail, SmtpJob* job, QString* error) const;
    // From sendMail() (or a bad server text) until finished() is emitted.
    bool isSending() const { return m_sending; }
    // Ends the mail being sent at once (any wait on the server included): finished() is
    // emitted before this returns, cancelled unless the session had already ended. Does
    // nothing when no mail is being sent.
    void abort();

signals:
    void finished(const SmtpResult& result);

private:
    // What the worker found; read once it has been joined.
    struct Outcome {
        bool sent = false;
        QString error;
        bool mayPass = false;
        bool withoutLogin = false;
        QList<RefusedRecipient> refused;
    };

    QString m_host;
    QString m_userId;
    QString m_password;
    Security m_security = Security::Auto;
    QString m_caFile;
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

    quint64 m_session = 0; // a finish posted for an earlier session is ignored
    std::unique_ptr<TransferAbort> m_abort;
    std::future<void> m_worker; // the session on its transfer thread
    Outcome m_outcome;
    SmtpResult m_result;

    // Server, security, login and bounds of a session from this client's settings.
    bool setUpSession(SmtpJob& job, const SmtpEndpoint& endpoint, QString* error) const;
    // The envelope from the parameters, each address checked; the entry whose name needs
    // SMTPUTF8, if any.
    bool envelope(SmtpJob& job, QString* utf8Entry, QString* error) const;
    // The text, after the send-start callback has had its say on the header fields.
    void composeText(SmtpJob& job);
    // A mail that ends before any connection: its finished() comes from the event loop, as
    // every other.
    void failSoon(const QString& error);
    void finish(quint64 session);
};
