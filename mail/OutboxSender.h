#pragma once

#include "mail/Outbox.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

class TransferAbort;

// Sends the kept mails again, oldest first, one session at a time on a worker thread: the window
// never waits for it. Each mail has its own waits after a failure that may pass (15 s, 30 s,
// 60 s, 2 min, then 5 min), so one that keeps failing never holds the others back; they are
// kept in memory only, so every mail is due at start-up. A mail the server refuses for good is
// set aside as ".refused", a file that cannot be read or whose envelope does not pass the check
// as ".bad", each said once through note(). Recipients refused while others took the mail are
// said once; those deferred stay kept, alone.
class OutboxSender : public QObject {
    Q_OBJECT
public:
    // `session` turns a kept mail into a session with the mail settings in force (false with
    // the reason when they cannot send); it runs on this object's thread.
    using Session = std::function<bool(const ComposedMail&, SmtpJob* job, QString* error)>;
    // Whether a kept mail may go out with the settings in force (its recipients configured);
    // false with the reason sets it aside.
    using EnvelopeCheck = std::function<bool(const ComposedMail&, QString* error)>;
    OutboxSender(const Outbox& outbox, Session session, QObject* parent = nullptr);
    ~OutboxSender() override;

    Outbox& outbox() { return m_outbox; }

    // Off: nothing is sent and the kept mails stay where they are.
    void setEnabled(bool enabled);
    // While `held` says so (another mail is on its way), no try starts; it is looked at again
    // a second later.
    void setHeld(std::function<bool()> held) { m_held = std::move(held); }
    void setEnvelopeCheck(EnvelopeCheck check) { m_check = std::move(check); }
    // Multiplies every wait; tests shorten them.
    void setDelayScale(double scale) { m_scale = scale; }

    // The mail at `path` was just kept: its first wait starts now.
    void mailKept(const QString& path);
    // Tries every kept mail after `delayMs` (at start-up, or when turned on).
    void tryAfter(int delayMs);

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
    struct Due {
        int attempt = 0; // failed tries since it was kept
        qint64 atMs = 0; // on m_clock
    };

    void tryNext();
    void finished(const QString& path, const ComposedMail& mail, bool sent, bool mayPass,
                  const QString& error, const QList<RefusedRecipient>& refused);
    void failed(const QString& path);
    void setAsideBad(const QString& path, const QString& error);

    Outbox m_outbox;
    Session m_session;
    EnvelopeCheck m_check;
    std::function<bool()> m_held;
    QTimer m_timer;
    bool m_enabled = false;
    double m_scale = 1.0;
    QHash<QString, Due> m_due; // mails not listed are due now
    QElapsedTimer m_clock;
    int m_sentInARow = 0;
    std::unique_ptr<TransferAbort> m_abort;
    std::unique_ptr<std::thread> m_worker;
};
