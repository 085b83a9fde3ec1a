#include "mail/SmtpClient.h"

#include "mail/MailAddress.h"
#include "mail/MailMessage.h"
#include "mail/SmtpError.h"
#include "mail/SmtpTransfer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSysInfo>
#include <functional>
#include <thread>

namespace {

// Runs `work` on a worker thread while this thread keeps serving timers, sockets and repaints,
// and no user input unless the caller holds it back itself.
bool runWhileServingEvents(const std::function<bool()>& work, SmtpAbort& abort,
                           bool excludeUserInput)
{
    if (!QCoreApplication::instance())
        return work();

    QEventLoop loop;
    std::atomic<bool> done = false;
    bool result = false;
    std::thread worker([&] {
        result = work();
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(excludeUserInput ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents);
    // The loop also ends when the application quits; then the session is given up.
    if (!done)
        abort.request();
    worker.join();
    return result;
}

// The address of one mailbox as the envelope carries it; throws naming the entry otherwise.
MailAddress::Mailbox mailbox(const QString& entry)
{
    MailAddress::Mailbox box;
    QString error;
    if (!MailAddress::parse(entry, &box, &error))
        throw SmtpError(error);
    return box;
}

QString ehloName(const QString& userId, bool loggingIn)
{
    const QString id = userId.trimmed();
    if (!loggingIn && MailAddress::isHostName(id))
        return id;
    const QString machine = QSysInfo::machineHostName();
    return MailAddress::isHostName(machine) ? machine : QStringLiteral("localhost");
}

void secure(SmtpJob& job, SmtpClient::Security security, bool loggingIn)
{
    using Tls = SmtpJob::Tls;
    switch (security) {
    case SmtpClient::Security::Auto:
        // Without a password a relay's unverifiable certificate or missing STARTTLS must not
        // stop the alert; a password never goes out unless the server is who it says.
        job.tls =
            job.port == 465 ? Tls::Implicit : (loggingIn ? Tls::Required : Tls::Opportunistic);
        job.verifyPeer = loggingIn;
        return;
    case SmtpClient::Security::StartTls:
        job.tls = Tls::Required;
        job.verifyPeer = true;
        return;
    case SmtpClient::Security::Tls:
        job.tls = Tls::Implicit;
        job.verifyPeer = true;
        return;
    case SmtpClient::Security::None:
        if (loggingIn)
            throw SmtpError(QStringLiteral(
                "A password is set, but Security is \"None\": the password would go over the "
                "network unencrypted. Choose Auto, STARTTLS or SSL/TLS."));
        job.tls = Tls::Off;
        return;
    }
}

} // namespace

SmtpClient::SmtpClient() = default;

void SmtpClient::prepare()
{
    initSmtpTransfers();
    warmUpSmtpTransfer();
    ehloName(QString(), true);
    MailAddress::Mailbox box;
    MailAddress::parse(QStringLiteral("監視 <warm-up@例え.jp>"), &box);
    MailMessage message;
    message.setFrom(MailAddress::headerText(box));
    message.setTo({MailAddress::headerText(box)});
    message.setSubject(QStringLiteral("温度"));
    message.setBody(QStringLiteral("温度が上限を超えました。"));
    message.compose();
}

void SmtpClient::setTimeouts(int connectMs, int totalMs)
{
    m_connectTimeoutMs = connectMs;
    m_totalTimeoutMs = totalMs;
}

void SmtpClient::connectToServer()
{
    if (m_sending)
        throw SmtpError(QStringLiteral("The previous mail is still being sent"));
    m_endpoint = SmtpEndpoint::parse(m_host);
    m_connected = true;
    struct Disconnect {
        SmtpClient* client;
        ~Disconnect() { client->disconnectFromServer(); }
    } disconnect{this};
    if (m_onConnected)
        m_onConnected();
}

void SmtpClient::clearParameters()
{
    m_body.clear();
    m_recipients.clear();
    m_sender.clear();
    m_subject.clear();
}

void SmtpClient::abort()
{
    if (m_abort)
        m_abort->request(SmtpAbort::Reason::Cancelled);
}

void SmtpClient::setUpSession(SmtpJob& job, const SmtpEndpoint& endpoint) const
{
    const bool loggingIn = !m_password.isEmpty();
    if (loggingIn && m_userId.trimmed().isEmpty())
        throw SmtpError(QStringLiteral("A password is set, but no User ID to log in as"));
    job.host = endpoint.host.toUtf8();
    job.port = endpoint.port;
    job.ehloName = ehloName(m_userId, loggingIn).toUtf8();
    secure(job, m_security, loggingIn);
    job.caFile = m_caFile.trimmed().toLocal8Bit();
    if (loggingIn) {
        job.user = m_userId.trimmed().toUtf8();
        job.password = m_password.toUtf8();
    }
    job.connectTimeoutMs = m_connectTimeoutMs;
    job.totalTimeoutMs = m_totalTimeoutMs;
}

SmtpJob SmtpClient::jobFor(const ComposedMail& mail) const
{
    SmtpJob job;
    setUpSession(job, SmtpEndpoint::parse(m_host));
    job.mailFrom = mail.mailFrom;
    job.rcptTo = mail.rcptTo;
    job.message = mail.message;
    return job;
}

void SmtpClient::sendMail()
{
    if (m_sending)
        throw SmtpError(QStringLiteral("The previous mail is still being sent"));
    if (!m_connected)
        throw SmtpError(QStringLiteral("Not connected to an SMTP server"));
    m_sending = true;
    SmtpAbort abort;
    m_abort = &abort;
    struct Finish {
        SmtpClient* client;
        ~Finish()
        {
            client->clearParameters();
            client->m_sending = false;
            client->m_abort = nullptr;
        }
    } finish{this};

    // Every address is checked before anything goes out.
    if (m_sender.trimmed().isEmpty())
        throw SmtpError(QStringLiteral("No sender address is set (\"From :\")"));
    const MailAddress::Mailbox sender = mailbox(m_sender);
    // A mailbox name beyond ASCII needs the server's consent, asked for first.
    QString utf8Entry = MailAddress::needsSmtpUtf8(sender) ? m_sender.trimmed() : QString();
    SmtpJob job;
    job.mailFrom = MailAddress::envelope(sender);
    for (const QString& text : std::as_const(m_recipients)) {
        for (const QString& entry : MailAddress::splitList(text)) {
            const MailAddress::Mailbox box = mailbox(entry);
            if (utf8Entry.isEmpty() && MailAddress::needsSmtpUtf8(box))
                utf8Entry = entry.trimmed();
            const QByteArray address = MailAddress::envelope(box);
            if (!job.rcptTo.contains(address))
                job.rcptTo.append(address);
        }
    }
    if (job.rcptTo.isEmpty())
        throw SmtpError(QStringLiteral("No recipient address is set"));

    setUpSession(job, m_endpoint);

    MailMessage message;
    message.setFrom(m_sender);
    message.setTo(m_recipients);
    message.setSubject(m_subject);
    message.setBody(m_body);
    m_finalHeaders = message.standardHeaders();
    if (m_onSendStart)
        m_onSendStart();
    job.message = message.compose(m_finalHeaders);
    m_lastMail = {job.mailFrom, job.rcptTo, job.message};
    m_lastMailCancelled = false;
    m_lastMailWithoutLogin = false;

    initSmtpTransfers();
    QString error;
    bool mayPass = false;
    QList<RefusedRecipient> refused;
    const bool sent = runWhileServingEvents(
        [&] {
            if (!utf8Entry.isEmpty()) {
                QList<QByteArray> capabilities;
                if (!probeSmtpCapabilities(job, abort, &capabilities, &error, &mayPass))
                    return false;
                if (!capabilities.contains("SMTPUTF8")) {
                    error = QStringLiteral("The address \"%1\" has a name that is not ASCII, "
                                           "and the server does not offer SMTPUTF8")
                                .arg(utf8Entry);
                    return false;
                }
            }
            return runSmtpTransfer(job, abort, &error, &mayPass, &refused, &m_lastMailWithoutLogin);
        },
        abort, m_excludesUserInput);
    m_lastMailCancelled = !sent && abort.reason() == SmtpAbort::Reason::Cancelled;
    if (m_lastMailCancelled || (sent && refused.isEmpty()))
        return;
    // A recipient refused for good is not tried again; one deferred is, alone if the others
    // got the mail.
    if (!sent) {
        for (const RefusedRecipient& r : std::as_const(refused)) {
            if (!r.mayPass())
                m_lastMail.rcptTo.removeOne(r.address);
        }
        throw SmtpError(error, mayPass);
    }
    m_lastMail.rcptTo = deferredRecipients(refused);
    throw SmtpError(QStringLiteral("The mail went to the other recipients, but not to these:\n") +
                        describeRefused(refused),
                    !m_lastMail.rcptTo.isEmpty());
}
