#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestCertificate;

// A real SMTP server for the tests: tools/smtp_sink.py on loopback, keeping mails in a
// temporary folder. The process is stopped when the object goes.
class SmtpServer {
public:
    struct Mail {
        QByteArray raw; // DATA as received, dot-unstuffed
        QString mailFrom;
        QStringList rcptTo;
        QString ehlo; // the last EHLO: after STARTTLS, the one sent over TLS
        bool tls = false;
        QString authUser;      // empty: not logged in
        bool smtpUtf8 = false; // MAIL FROM asked for SMTPUTF8 (seen with Options::smtpUtf8)
    };

    enum class Tls {
        None,
        StartTls,         // offered; a client may go on in plain text
        StartTlsRequired, // nothing but EHLO, NOOP and QUIT before STARTTLS (530)
        Implicit,         // TLS from the first byte, as on port 465
    };

    struct Options {
        QString mode = QStringLiteral("normal"); // one of smtp_sink.py's --mode values
        QString host = QStringLiteral("127.0.0.1");
        quint16 port = 0; // 0: the system picks a free port
        Tls tls = Tls::None;
        const TestCertificate* certificate = nullptr; // needed with TLS; read at start-up only
        // A user: AUTH PLAIN or LOGIN as this user is required (after STARTTLS when that is
        // offered), other credentials get 535. No ':' in the user.
        QString authUser;
        QString authPassword;
        bool smtpUtf8 = false; // offer SMTPUTF8
        // RCPT TO for these addresses gets this reply ("550 5.1.1 user unknown"); others pass.
        QMap<QString, QString> refuseRcpt;
    };

    // Starts the server and waits (bounded) until it listens.
    explicit SmtpServer(const QString& mode = QStringLiteral("normal"),
                        const QString& host = QStringLiteral("127.0.0.1"), quint16 port = 0);
    explicit SmtpServer(const Options& options);
    ~SmtpServer();
    SmtpServer(const SmtpServer&) = delete;
    SmtpServer& operator=(const SmtpServer&) = delete;

    bool isListening() const { return m_port != 0; }
    QString errorString() const { return m_error; }
    quint16 port() const { return m_port; }
    // The text for the "SMTP Server" field: "127.0.0.1:<port>" ("[::1]:<port>" for IPv6).
    QString hostPort() const;

    // "127.0.0.1:<port>" for a port nothing listens on: connecting there is refused.
    static QString refusingHostPort();
    // Options for a server on that port later: the mail server coming back.
    static Options listeningAt(const QString& hostPort);

    // Waits until at least `count` mails have arrived; false on timeout.
    bool waitForMails(int count, int timeoutMs = 10000);
    int mailCount() const;
    // With "hang-after-data": a mail's whole DATA came in and is being held unanswered.
    bool holdsAMail() const;
    QList<Mail> mails() const;

private:
    QString m_host;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
