#include "mail/OutboxSender.h"

#include "core/AtomicFile.h"
#include "core/KeptQueue.h"
#include "net/Transfer.h"

#include <QFileInfo>

OutboxSender::OutboxSender(const QString& folder, Session session, const Clock& clock, int capacity,
                           QObject* parent)
    : QObject(parent)
    , m_outbox(folder)
    , m_session(std::move(session))
    , m_queue(new KeptQueue(
          clock, {folder, Outbox::Suffix, capacity, 0777}, 1, [](const QString&) { return 0; },
          this))
{
    connect(m_queue, &KeptQueue::due, this, &OutboxSender::send);
    connect(m_queue, &KeptQueue::drained, this, [this](int sent) {
        emit note(tr("保存していたメール %n 通を送信しました。", nullptr, sent));
    });
    // A keep() cut short by a kill left its file under a temporary name; composed mails end
    // with a line break, so one that stops short was cut off.
    m_queue->takeInLeftovers([](const QString& path) {
        ComposedMail mail;
        QString error;
        return Outbox::read(path, &mail, &error) && mail.message.endsWith("\r\n");
    });
}

OutboxSender::~OutboxSender()
{
    abort();
    if (m_worker)
        m_worker->join();
}

bool OutboxSender::keep(const ComposedMail& mail, QString* error, int* dropped, QString* keptPath)
{
    QString path;
    if (!m_queue->keep(0, Outbox::encode(mail), &path, error, dropped))
        return false;
    if (keptPath)
        *keptPath = path;
    return true;
}

void OutboxSender::setEnabled(bool enabled)
{
    m_queue->setRunning(enabled);
}

void OutboxSender::setHeld(std::function<bool()> held)
{
    m_queue->setHeld(std::move(held));
}

void OutboxSender::poke()
{
    m_queue->poke();
}

void OutboxSender::tryAll()
{
    m_queue->restart();
}

void OutboxSender::setDelayScale(double scale)
{
    m_queue->setDelayScale(scale);
}

void OutboxSender::setAsideBad(const QString& path, const QString& error)
{
    const QString aside = m_queue->setAside(path, QStringLiteral(".bad"));
    emit note(
        tr("保存していたメールを読めません (%1): %2").arg(aside.isEmpty() ? path : aside, error));
}

void OutboxSender::send(const QString& path)
{
    ComposedMail mail;
    QString error;
    if (!Outbox::read(path, &mail, &error) || (m_check && !m_check(mail, &error))) {
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            m_queue->forget(path); // taken away meanwhile: nothing to say
        else
            setAsideBad(path, error);
        return;
    }
    SmtpJob job;
    if (!m_session(mail, &job, &error)) {
        m_queue->failed(path); // the settings cannot send now; they may be fixed meanwhile
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
        // Those who got it are done; a deferred recipient stays kept, alone.
        ComposedMail rest = mail;
        rest.rcptTo = deferredRecipients(refused);
        QString why;
        if (!rest.rcptTo.isEmpty() && AtomicFile::replace(path, Outbox::encode(rest), &why))
            m_queue->partlyDelivered(path);
        else
            m_queue->delivered(path);
        if (!refused.isEmpty())
            emit note(tr("保存していたメールは一部の宛先に届きませんでした: %1")
                          .arg(describeRefused(refused).replace(u'\n', QStringLiteral("; "))));
    } else if (cancelled) {
        m_queue->stopped(path); // given up on purpose (closing): kept for the next start
    } else if (mayPass) {
        m_queue->failed(path); // the others need not wait for this one
    } else {
        m_queue->setAside(path, QStringLiteral(".refused"));
        emit note(tr("保存していたメールは送信を拒否されました: %1").arg(error));
    }
    emit idle();
}

void OutboxSender::abort()
{
    if (m_abort)
        m_abort->request(TransferAbort::Reason::Cancelled);
}
