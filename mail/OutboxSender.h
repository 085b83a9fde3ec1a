#pragma once

#include "mail/Outbox.h"

#include <QObject>
#include <functional>
#include <memory>
#include <thread>

class Clock;
class KeptQueue;
class TransferAbort;

// Keeps alert mails that could not be sent for a reason that may pass, and sends them again,
// oldest first, one session at a time on a worker thread: the window never waits for it. The
// waits are the kept queue's (each mail its own, so one that keeps failing never holds the
// others back); they are kept in memory only, so every mail is due at start-up. A mail the
// server refuses for good is set aside as ".refused", a file that cannot be read or whose
// envelope does not pass the check as ".bad", each said once through note(). Recipients
// refused while others took the mail are said once; those deferred stay kept, alone.
class OutboxSender : public QObject {
    Q_OBJECT
public:
    // `session` turns a kept mail into a session with the mail settings in force (false with
    // the reason when they cannot send); it runs on this object's thread.
    using Session = std::function<bool(const ComposedMail&, SmtpJob* job, QString* error)>;
    // Whether a kept mail may go out with the settings in force (its recipients configured);
    // false with the reason sets it aside.
    using EnvelopeCheck = std::function<bool(const ComposedMail&, QString* error)>;
    OutboxSender(const QString& folder, Session session, const Clock& clock,
                 int capacity = Outbox::DefaultCapacity, QObject* parent = nullptr);
    ~OutboxSender() override;

    const Outbox& outbox() const { return m_outbox; }
    KeptQueue& queue() { return *m_queue; }

    // Keeps `mail`; false with the reason when it could not. When the outbox is full, the
    // oldest other mails are dropped to make room and `dropped` counts them.
    bool keep(const ComposedMail& mail, QString* error, int* dropped = nullptr,
              QString* keptPath = nullptr);

    // Off: nothing is sent and the kept mails stay where they are. Turned on, every kept mail
    // is tried at once.
    void setEnabled(bool enabled);
    // While `held` says so (another mail is on its way), no try starts; poke() once it ends.
    void setHeld(std::function<bool()> held);
    void poke();
    // Lists the outbox anew and tries every kept mail at once.
    void tryAll();
    void setEnvelopeCheck(EnvelopeCheck check) { m_check = std::move(check); }
    // Multiplies every wait; tests shorten them.
    void setDelayScale(double scale);

    // Until idle() says the try under way is over.
    bool isSending() const { return m_worker != nullptr; }
    // Ends a try under way at once; the mail stays kept.
    void abort();

signals:
    // One line for the user about the outbox.
    void note(const QString& text);
    // A try has ended.
    void idle();

private:
    void send(const QString& path);
    void finished(const QString& path, const ComposedMail& mail, bool sent, bool mayPass,
                  const QString& error, const QList<RefusedRecipient>& refused);
    void setAsideBad(const QString& path, const QString& error);

    Outbox m_outbox;
    Session m_session;
    EnvelopeCheck m_check;
    KeptQueue* m_queue;
    std::unique_ptr<TransferAbort> m_abort;
    std::unique_ptr<std::thread> m_worker;
};
