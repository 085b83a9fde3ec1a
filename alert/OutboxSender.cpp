#include "alert/OutboxSender.h"

#include "alert/SmtpError.h"

#include <QEventLoop>

OutboxSender::OutboxSender(const Outbox& outbox, Session session, QObject* parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_session(std::move(session))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &OutboxSender::tryNext);
}

OutboxSender::~OutboxSender()
{
    abort();
    if (m_worker)
        m_worker->join();
}

void OutboxSender::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (!enabled)
        m_timer.stop();
}

void OutboxSender::mailKept()
{
    m_attempt = 0;
    if (!isSending())
        scheduleRetry();
}

void OutboxSender::tryAfter(int delayMs)
{
    if (m_enabled && !isSending())
        m_timer.start(delayMs);
}

void OutboxSender::scheduleRetry()
{
    if (m_enabled)
        m_timer.start(retryDelayMs(m_attempt++, m_scale));
}

void OutboxSender::tryNext()
{
    if (!m_enabled || isSending())
        return;
    if (m_held && m_held()) {
        m_timer.start(int(1000 * m_scale));
        return;
    }
    const QStringList pending = m_outbox.pending();
    if (pending.isEmpty()) {
        if (m_sentInARow > 0)
            emit note(QStringLiteral("保存していたメール %1 通を送信しました。").arg(m_sentInARow));
        m_sentInARow = 0;
        m_attempt = 0;
        return;
    }
    const QString path = pending.first();
    ComposedMail mail;
    QString error;
    if (!Outbox::read(path, &mail, &error)) {
        const QString aside = Outbox::setAside(path, QStringLiteral(".bad"));
        emit note(QStringLiteral("保存していたメールを読めません (%1): %2")
                      .arg(aside.isEmpty() ? path : aside, error));
        if (!aside.isEmpty())
            m_timer.start(0);
        return;
    }
    SmtpJob job;
    try {
        job = m_session(mail);
    } catch (const SmtpError&) {
        scheduleRetry(); // the settings cannot send now; they may be fixed meanwhile
        return;
    }
    m_abort = std::make_unique<SmtpAbort>();
    m_worker = std::make_unique<std::thread>([this, job, path, abort = m_abort.get()] {
        QString why;
        bool mayPass = false;
        const bool sent = runSmtpTransfer(job, *abort, &why, &mayPass);
        QMetaObject::invokeMethod(
            this, [=, this] { finished(path, sent, mayPass, why); }, Qt::QueuedConnection);
    });
}

void OutboxSender::finished(const QString& path, bool sent, bool mayPass, const QString& error)
{
    const bool cancelled = m_abort->reason() == SmtpAbort::Reason::Cancelled;
    m_worker->join();
    m_worker.reset();
    m_abort.reset();
    if (sent) {
        Outbox::remove(path);
        ++m_sentInARow;
        m_attempt = 0;
        m_timer.start(0);
    } else if (cancelled) {
        // Given up on purpose (closing): the mail stays kept for the next start.
    } else if (mayPass) {
        scheduleRetry();
    } else {
        const QString aside = Outbox::setAside(path, QStringLiteral(".refused"));
        emit note(QStringLiteral("保存していたメールは送信を拒否されました: %1").arg(error));
        if (!aside.isEmpty())
            m_timer.start(0);
    }
    emit idle();
}

void OutboxSender::waitUntilIdle()
{
    if (!isSending())
        return;
    QEventLoop loop;
    connect(this, &OutboxSender::idle, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void OutboxSender::abort()
{
    if (m_abort)
        m_abort->request(SmtpAbort::Reason::Cancelled);
}
