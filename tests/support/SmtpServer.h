#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real SMTP server for the tests: tools/smtp_sink.py on loopback, keeping mails in a
// temporary folder. The process is stopped when the object goes.
class SmtpServer {
public:
    struct Mail {
        QByteArray raw; // DATA as received, dot-unstuffed
        QString mailFrom;
        QStringList rcptTo;
        QString ehlo;
    };

    // Starts the server and waits (bounded) until it listens. `mode` is one of smtp_sink.py's
    // --mode values; port 0 lets the system pick a free port.
    explicit SmtpServer(const QString& mode = QStringLiteral("normal"),
                        const QString& host = QStringLiteral("127.0.0.1"), quint16 port = 0);
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

    // Waits until at least `count` mails have arrived; false on timeout.
    bool waitForMails(int count, int timeoutMs = 10000);
    int mailCount() const;
    QList<Mail> mails() const;

private:
    QString m_host;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};
