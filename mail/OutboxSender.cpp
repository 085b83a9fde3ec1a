#include "mail/OutboxSender.h"

#include "core/AtomicFile.h"
#include "core/KeptFolder.h"

#include <algorithm>
#include <limits>

OutboxSender::OutboxSender(const Outbox& outbox, Session session, QObject* parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_session(std::move(session))
{
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &OutboxSender::tryNext);
    // A keep() cut short by a kill left its file under a temporary name.
    m_outbox.takeInLeftovers();
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

void OutboxSender::mailKept(const QString& path)
{
    Due& due = m_due[path];
    due.atMs = m_clock.elapsed() + KeptFolder::retryDelayMs(due.attempt++, m_scale);
    if (m_enabled && !isSending())
        m_timer.start(0);
}

void OutboxSender::tryAfter(int delayMs)
{
    m_due.clear(); // every mail is due
    if (m_enabled && !isSending())
        m_timer.start(delayMs);
}

void OutboxSender::failed(const QString& path)
{
    Due& due = m_due[path];
    due.atMs = m_clock.elapsed() + KeptFolder::retryDelayMs(due.attempt++, m_scale);
}

void OutboxSender::setAsideBad(const QString& path, const QString& error)
{
    m_due.remove(path);
    const QString aside = KeptFolder::setAside(path, QStringLiteral(".bad"));
    emit note(QStringLiteral("保存していたメールを読めません (%1): %2")
                  .arg(aside.isEmpty() ? path : aside, error));
    if (!aside.isEmpty())
        m_timer.start(0);
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
    for (auto it = m_due.begin(); it != m_due.end();)
        it = pending.contains(it.key()) ? std::next(it) : m_due.erase(it);
    // The oldest mail whose time has come; the others wait for theirs.
    const qint64 now = m_clock.elapsed();
    QString path;
    qint64 next = std::numeric_limits<qint64>::max();
    for (const QString& candidate : pending) {
        const qint64 at = m_due.value(candidate).atMs;
        if (at <= now) {
            path = candidate;
            break;
        }
        next = std::min(next, at);
    }
    if (path.isEmpty()) {
        if (m_sentInARow > 0)
            emit note(QStringLiteral("保存していたメール %1 通を送信しました。").arg(m_sentInARow));
        m_sentInARow = 0;
        if (!pending.isEmpty())
            m_timer.start(int(std::min<qint64>(next - now, std::numeric_limits<int>::max())));
        return;
    }
    ComposedMail mail;
    QString error;
    if (!Outbox::read(path, &mail, &error) || (m_check && !m_check(mail, &error))) {
        setAsideBad(path, error);
        return;
    }
    SmtpJob job;
    if (!m_session(mail, &job, &error)) {
        failed(path); // the settings cannot send now; they may be fixed meanwhile
        m_timer.start(0);
        return;
    }
    m_abort = std::make_unique<TransferAbort>();
    m_worker = std::make_unique<std::thread>([this, job, mail, path, abort = m_abort.get()] {
        QString why;
        bool mayPass = false;
        QList<RefusedRecipient> refused;
        const bool sent = runSmtpTransfer(job, *abort, &why, &mayPass, &refused);
        QMetaObject::invokeMethod(
            this, [=, this] { finished(path, mail, sent, mayPass, why, refused); },
            Qt::QueuedConnection);
    });
}

void OutboxSender::finished(const QString& path, const ComposedMail& mail, bool sent, bool mayPass,
                            const QString& error, const QList<RefusedRecipient>& refused)
{
    const bool cancelled = m_abort->reason() == TransferAbort::Reason::Cancelled;
    m_worker->join();
    m_worker.reset();
    m_abort.reset();
    if (sent) {
        ++m_sentInARow;
        // Those who got it are done; a deferred recipient stays kept, alone.
        ComposedMail rest = mail;
        rest.rcptTo = deferredRecipients(refused);
        QString why;
        if (!rest.rcptTo.isEmpty() && AtomicFile::replace(path, Outbox::encode(rest), &why))
            failed(path);
        else
            Outbox::remove(path);
        if (!refused.isEmpty())
            emit note(QStringLiteral("保存していたメールは一部の宛先に届きませんでした: %1")
                          .arg(describeRefused(refused).replace(u'\n', QStringLiteral("; "))));
        m_timer.start(0);
    } else if (cancelled) {
        // Given up on purpose (closing): the mail stays kept for the next start.
    } else if (mayPass) {
        failed(path);
        m_timer.start(0); // the others need not wait for this one
    } else {
        m_due.remove(path);
        const QString aside = KeptFolder::setAside(path, QStringLiteral(".refused"));
        emit note(QStringLiteral("保存していたメールは送信を拒否されました: %1").arg(error));
        if (!aside.isEmpty())
            m_timer.start(0);
    }
    emit idle();
}

void OutboxSender::abort()
{
    if (m_abort)
        m_abort->request(TransferAbort::Reason::Cancelled);
}
