#include "support/SmtpServer.h"

#include "support/ChildProcess.h"
#include "support/FreePort.h"
#include "support/TestCertificate.h"
#include "support/TestPaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTest>

namespace {
constexpr int kStartTimeoutMs = 15000;

QString mailPath(const QString& dir, int n, const char* suffix)
{
    return QStringLiteral("%1/mail-%2.%3").arg(dir).arg(n).arg(QLatin1String(suffix));
}

QString tlsFlag(SmtpServer::Tls tls)
{
    switch (tls) {
    case SmtpServer::Tls::None:
        break;
    case SmtpServer::Tls::StartTls:
        return QStringLiteral("starttls");
    case SmtpServer::Tls::StartTlsRequired:
        return QStringLiteral("starttls-required");
    case SmtpServer::Tls::Implicit:
        return QStringLiteral("implicit");
    }
    return {};
}

SmtpServer::Options options(const QString& mode, const QString& host, quint16 port)
{
    SmtpServer::Options result;
    result.mode = mode;
    result.host = host;
    result.port = port;
    return result;
}
} // namespace

SmtpServer::SmtpServer(const QString& mode, const QString& host, quint16 port)
    : SmtpServer(options(mode, host, port))
{
}

SmtpServer::SmtpServer(const Options& options)
    : m_host(options.host)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: ") + m_dir.errorString();
        return;
    }
    QStringList arguments{QStringLiteral("--host"),    options.host,
                          QStringLiteral("--port"),    QString::number(options.port),
                          QStringLiteral("--maildir"), m_dir.path(),
                          QStringLiteral("--mode"),    options.mode};
    if (options.tls != Tls::None) {
        if (!options.certificate || !options.certificate->isValid()) {
            m_error = QStringLiteral("TLS needs a valid certificate: ") +
                      (options.certificate ? options.certificate->errorString()
                                           : QStringLiteral("none given"));
            return;
        }
        arguments << QStringLiteral("--tls") << tlsFlag(options.tls) << QStringLiteral("--tls-cert")
                  << options.certificate->certPath() << QStringLiteral("--tls-key")
                  << options.certificate->keyPath();
    }
    if (!options.authUser.isEmpty()) {
        if (options.authUser.contains(u':')) {
            m_error = QStringLiteral("an AUTH user cannot contain ':'");
            return;
        }
        arguments << QStringLiteral("--auth") << options.authUser + u':' + options.authPassword;
    }
    if (options.smtpUtf8)
        arguments << QStringLiteral("--smtputf8");
    for (auto it = options.refuseRcpt.begin(); it != options.refuseRcpt.end(); ++it)
        arguments << QStringLiteral("--refuse-rcpt") << it.key() + u'=' + it.value();
    m_port = startListeningPeer(m_process, QStringLiteral("smtp_sink.py"), arguments,
                                kStartTimeoutMs, &m_error);
}

SmtpServer::~SmtpServer()
{
    stopProcess(m_process);
}

QString SmtpServer::hostPort() const
{
    const QString host = m_host.contains(u':') ? u'[' + m_host + u']' : m_host;
    return host + u':' + QString::number(m_port);
}

QString SmtpServer::refusingHostPort()
{
    return QStringLiteral("127.0.0.1:%1").arg(freePort());
}

SmtpServer::Options SmtpServer::listeningAt(const QString& hostPort)
{
    Options options;
    options.port = quint16(hostPort.section(u':', -1).toUInt());
    return options;
}

bool SmtpServer::holdsAMail() const
{
    return QFile::exists(m_dir.filePath(QStringLiteral("held")));
}

int SmtpServer::mailCount() const
{
    int n = 0;
    while (QFile::exists(mailPath(m_dir.path(), n + 1, "env")))
        ++n;
    return n;
}

bool SmtpServer::waitForMails(int count, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (mailCount() < count) {
        if (deadline.hasExpired())
            return false;
        m_process.readAllStandardOutput(); // keeps the pipe from filling up
        QTest::qWait(20);
    }
    return true;
}

QList<SmtpServer::Mail> SmtpServer::mails() const
{
    QList<Mail> result;
    for (int n = 1, count = mailCount(); n <= count; ++n) {
        Mail mail;
        QFile eml(mailPath(m_dir.path(), n, "eml"));
        if (eml.open(QIODevice::ReadOnly))
            mail.raw = eml.readAll();
        QFile env(mailPath(m_dir.path(), n, "env"));
        if (env.open(QIODevice::ReadOnly)) {
            // MAIL FROM, the RCPT addresses, "ehlo <name>", then optional "<key> <value>" lines.
            QStringList lines = QString::fromUtf8(env.readAll()).split(u'\n');
            if (!lines.isEmpty() && lines.last().isEmpty())
                lines.removeLast();
            if (!lines.isEmpty())
                mail.mailFrom = lines.takeFirst();
            qsizetype end = 0;
            while (end < lines.size() && !lines[end].startsWith(QStringLiteral("ehlo ")))
                ++end;
            mail.rcptTo = lines.mid(0, end);
            if (end < lines.size())
                mail.ehlo = lines[end].mid(5);
            for (const QString& line : lines.mid(end + 1)) {
                const QString value = line.section(u' ', 1);
                if (line.startsWith(QStringLiteral("tls ")))
                    mail.tls = value == QLatin1String("yes");
                else if (line.startsWith(QStringLiteral("auth ")))
                    mail.authUser = value;
                else if (line.startsWith(QStringLiteral("smtputf8 ")))
                    mail.smtpUtf8 = value == QLatin1String("yes");
            }
        }
        result.append(mail);
    }
    return result;
}
