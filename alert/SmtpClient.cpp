#include "alert/SmtpClient.h"

#include "alert/HeaderEncoding.h"
#include "alert/MailMessage.h"
#include "alert/SmtpError.h"
#include "alert/SmtpTransfer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <thread>

namespace {

// Runs the session on a worker thread while this thread keeps serving timers, sockets and
// repaints, but no user input that could start another mail or close the window under us.
bool runWhileServingEvents(const SmtpJob& job, QString* error)
{
    std::atomic<bool> abort = false;
    if (!QCoreApplication::instance())
        return runSmtpTransfer(job, abort, error);

    QEventLoop loop;
    std::atomic<bool> done = false;
    bool sent = false;
    std::thread worker([&] {
        sent = runSmtpTransfer(job, abort, error);
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop also ends when the application quits; then the session is given up.
    if (!done)
        abort = true;
    worker.join();
    return sent;
}

QByteArray utf8AddressPart(const QString& text)
{
    return HeaderEncoding::addressPart(text).toUtf8();
}

} // namespace

SmtpClient::SmtpClient() = default;

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

void SmtpClient::sendMail()
{
    if (m_sending)
        throw SmtpError(QStringLiteral("The previous mail is still being sent"));
    if (!m_connected)
        throw SmtpError(QStringLiteral("Not connected to an SMTP server"));
    m_sending = true;
    struct Finish {
        SmtpClient* client;
        ~Finish()
        {
            client->clearParameters();
            client->m_sending = false;
        }
    } finish{this};

    SmtpJob job;
    job.url = m_endpoint.url(m_userId);
    job.mailFrom = utf8AddressPart(m_sender);
    for (const QString& recipient : std::as_const(m_recipients)) {
        const QByteArray address = utf8AddressPart(recipient);
        if (!address.isEmpty())
            job.rcptTo.append(address);
    }
    if (job.rcptTo.isEmpty())
        throw SmtpError(QStringLiteral("No recipient address is set"));
    job.connectTimeoutMs = m_connectTimeoutMs;
    job.totalTimeoutMs = m_totalTimeoutMs;

    MailMessage message;
    message.setFrom(m_sender);
    message.setTo(m_recipients);
    message.setSubject(m_subject);
    message.setBody(m_body);
    m_finalHeaders = message.standardHeaders();
    if (m_onSendStart)
        m_onSendStart();
    job.message = message.compose(m_finalHeaders);

    // Here rather than at construction: it costs start-up time, and only a mail needs it.
    initSmtpTransfers();
    QString error;
    if (!runWhileServingEvents(job, &error))
        throw SmtpError(error);
}
