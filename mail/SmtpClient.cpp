#include "mail/SmtpClient.h"

#include "mail/MailAddress.h"
#include "mail/MailMessage.h"
#include "mail/SmtpTransfer.h"
#include "net/TransferThreads.h"

#include <QSysInfo>

namespace {

const QString Busy = QStringLiteral("The previous mail is still being sent");

QString ehloName(const QString& userId, bool loggingIn)
{
    const QString id = userId.trimmed();
    if (!loggingIn && MailAddress::isHostName(id))
        return id;
    const QString machine = QSysInfo::machineHostName();
    return MailAddress::isHostName(machine) ? machine : QStringLiteral("localhost");
}

bool secure(SmtpJob& job, SmtpClient::Security security, bool loggingIn, QString* error)
{
    using Tls = SmtpJob::Tls;
    switch (security) {
    case SmtpClient::Security::Auto:
        // Without a password a relay's unverifiable certificate or missing STARTTLS must not
        // stop the alert; a password never goes out unless the server is who it says.
        job.tls =
            job.port == 465 ? Tls::Implicit : (loggingIn ? Tls::Required : Tls::Opportunistic);
        job.verifyPeer = loggingIn;
        return true;
    case SmtpClient::Security::StartTls:
        job.tls = Tls::Required;
        job.verifyPeer = true;
        return true;
    case SmtpClient::Security::Tls:
        job.tls = Tls::Implicit;
        job.verifyPeer = true;
        return true;
    case SmtpClient::Security::None:
        if (loggingIn) {
            *error = QStringLiteral(
                "A password is set, but Security is \"None\": the password would go over the "
                "network unencrypted. Choose Auto, STARTTLS or SSL/TLS.");
            return false;
        }
        job.tls = Tls::Off;
        return true;
    }
    return true;
}

} // namespace

SmtpClient::SmtpClient(QObject* parent)
    : QObject(parent)
{
}

SmtpClient::~SmtpClient()
{
    if (m_abort)
        m_abort->request(TransferAbort::Reason::Cancelled);
    if (m_worker.valid())
        m_worker.wait();
}

void SmtpClient::prepare()
{
    Transfer::init();
    // On a kept transfer thread, which the first alert's session then finds waiting.
    TransferThreads::run(warmUpSmtpTransfer);
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

bool SmtpClient::connectToServer(QString* error)
{
    if (m_sending) {
        if (error)
            *error = Busy;
        return false;
    }
    QString why;
    if (!SmtpEndpoint::parse(m_host, &m_endpoint, &why)) {
        failSoon(why);
        return true;
    }
    m_connected = true;
    struct Disconnect {
        SmtpClient* client;
        ~Disconnect() { client->disconnectFromServer(); }
    } disconnect{this};
    if (m_onConnected)
        m_onConnected();
    return true;
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
    if (!m_sending)
        return;
    if (m_abort)
        m_abort->request(TransferAbort::Reason::Cancelled);
    finish(m_session);
}

bool SmtpClient::setUpSession(SmtpJob& job, const SmtpEndpoint& endpoint, QString* error) const
{
    const bool loggingIn = !m_password.isEmpty();
    if (loggingIn && m_userId.trimmed().isEmpty()) {
        *error = QStringLiteral("A password is set, but no User ID to log in as");
        return false;
    }
    job.host = endpoint.host.toUtf8();
    job.port = endpoint.port;
    job.ehloName = ehloName(m_userId, loggingIn).toUtf8();
    if (!secure(job, m_security, loggingIn, error))
        return false;
    job.caFile = m_caFile.trimmed().toLocal8Bit();
    if (loggingIn) {
        job.user = m_userId.trimmed().toUtf8();
        job.password = m_password.toUtf8();
    }
    job.connectTimeoutMs = m_connectTimeoutMs;
    job.totalTimeoutMs = m_totalTimeoutMs;
    return true;
}

bool SmtpClient::jobFor(const ComposedMail& mail, SmtpJob* job, QString* error) const
{
    SmtpEndpoint endpoint;
    SmtpJob session;
    if (!SmtpEndpoint::parse(m_host, &endpoint, error) || !setUpSession(session, endpoint, error))
        return false;
    session.mailFrom = mail.mailFrom;
    session.rcptTo = mail.rcptTo;
    session.message = mail.message;
    *job = session;
    return true;
}

bool SmtpClient::envelope(SmtpJob& job, QString* utf8Entry, QString* error) const
{
    // Every address is checked before anything goes out.
    if (m_sender.trimmed().isEmpty()) {
        *error = QStringLiteral("No sender address is set (\"From :\")");
        return false;
    }
    MailAddress::Mailbox sender;
    if (!MailAddress::parse(m_sender, &sender, error))
        return false;
    // A mailbox name beyond ASCII needs the server's consent, asked for first.
    *utf8Entry = MailAddress::needsSmtpUtf8(sender) ? m_sender.trimmed() : QString();
    job.mailFrom = MailAddress::envelope(sender);
    for (const QString& text : std::as_const(m_recipients)) {
        for (const QString& entry : MailAddress::splitList(text)) {
            MailAddress::Mailbox box;
            if (!MailAddress::parse(entry, &box, error))
                return false;
            if (utf8Entry->isEmpty() && MailAddress::needsSmtpUtf8(box))
                *utf8Entry = entry.trimmed();
            const QByteArray address = MailAddress::envelope(box);
            if (!job.rcptTo.contains(address))
                job.rcptTo.append(address);
        }
    }
    if (job.rcptTo.isEmpty()) {
        *error = QStringLiteral("No recipient address is set");
        return false;
    }
    return true;
}

void SmtpClient::composeText(SmtpJob& job)
{
    MailMessage message;
    message.setFrom(m_sender);
    message.setTo(m_recipients);
    message.setSubject(m_subject);
    message.setBody(m_body);
    m_finalHeaders = message.standardHeaders();
    if (m_onSendStart)
        m_onSendStart();
    job.message = message.compose(m_finalHeaders);
}

bool SmtpClient::composeMail(ComposedMail* mail, QString* error)
{
    SmtpJob job;
    QString utf8Entry;
    const bool ok = envelope(job, &utf8Entry, error);
    if (ok) {
        composeText(job);
        *mail = {job.mailFrom, job.rcptTo, job.message};
    }
    clearParameters();
    return ok;
}

void SmtpClient::failSoon(const QString& error)
{
    m_result = SmtpResult();
    m_result.error = error;
    m_sending = true;
    const quint64 session = ++m_session;
    QMetaObject::invokeMethod(
        this, [this, session] { finish(session); }, Qt::QueuedConnection);
}

bool SmtpClient::sendMail(QString* error)
{
    if (m_sending || !m_connected) {
        clearParameters();
        if (error)
            *error = m_sending ? Busy : QStringLiteral("Not connected to an SMTP server");
        return false;
    }
    SmtpJob job;
    QString utf8Entry;
    QString why;
    if (!envelope(job, &utf8Entry, &why) || !setUpSession(job, m_endpoint, &why)) {
        clearParameters();
        failSoon(why);
        return true;
    }
    composeText(job);
    clearParameters();

    m_result = SmtpResult();
    m_result.mail = {job.mailFrom, job.rcptTo, job.message};
    m_outcome = Outcome();
    m_sending = true;
    const quint64 session = ++m_session;
    Transfer::init();
    m_abort = std::make_unique<TransferAbort>();
    m_worker = TransferThreads::run(
        [this, job, utf8Entry, session, abort = m_abort.get(), outcome = &m_outcome] {
            const auto run = [&] {
                if (!utf8Entry.isEmpty()) {
                    QList<QByteArray> capabilities;
                    if (!probeSmtpCapabilities(job, *abort, &capabilities, &outcome->error,
                                               &outcome->mayPass))
                        return false;
                    if (!capabilities.contains("SMTPUTF8")) {
                        outcome->error =
                            QStringLiteral("The address \"%1\" has a name that is not ASCII, "
                                           "and the server does not offer SMTPUTF8")
                                .arg(utf8Entry);
                        return false;
                    }
                }
                return runSmtpTransfer(job, *abort, &outcome->error, &outcome->mayPass,
                                       &outcome->refused, &outcome->withoutLogin);
            };
            outcome->sent = run();
            QMetaObject::invokeMethod(
                this, [this, session] { finish(session); }, Qt::QueuedConnection);
        });
    return true;
}

void SmtpClient::finish(quint64 session)
{
    if (session != m_session || !m_sending)
        return;
    SmtpResult result = m_result;
    if (m_worker.valid()) {
        m_worker.wait();
        m_worker = {};
        const Outcome& outcome = m_outcome;
        result.withoutLogin = outcome.withoutLogin;
        if (!outcome.sent && m_abort->reason() == TransferAbort::Reason::Cancelled) {
            result.cancelled = true;
        } else if (outcome.sent && outcome.refused.isEmpty()) {
            result.sent = true;
        } else if (!outcome.sent) {
            // A recipient refused for good is not tried again.
            for (const RefusedRecipient& r : outcome.refused) {
                if (!r.mayPass())
                    result.mail.rcptTo.removeOne(r.address);
            }
            result.error = outcome.error;
            result.mayPass = outcome.mayPass;
        } else {
            // The others got it: one deferred is tried again alone.
            result.mail.rcptTo = deferredRecipients(outcome.refused);
            result.error =
                QStringLiteral("The mail went to the other recipients, but not to these:\n") +
                describeRefused(outcome.refused);
            result.mayPass = !result.mail.rcptTo.isEmpty();
        }
        m_abort.reset();
    }
    m_sending = false;
    emit finished(result);
}
