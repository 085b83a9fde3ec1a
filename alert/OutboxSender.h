#pragma once

#include "alert/Outbox.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

class SmtpAbort;

// Sends the kept mails again, oldest first, on a worker thread: the window never waits for it.
// After a failure that may pass it waits 15 s, 30 s, 60 s, 2 min, then 5 min between tries; a
// mail the server refuses for good is set aside as ".refused", a file that cannot be read as
// ".bad", each said once through note().
class OutboxSender : public QObject {
    Q_OBJECT
public:
    // `session` turns a kept mail into a session with the mail settings in force (throwing
    // SmtpError when they cannot send); it runs on this object's thread.
    using Session = std::function<SmtpJob(const ComposedMail&)>;
    OutboxSender(const Outbox& outbox, Session session, QObject* parent = nullptr);
    ~OutboxSender() override;

    Outbox& outbox() { return m_outbox; }

    // Off: nothing is sent and the kept mails stay where they are.
    void setEnabled(bool enabled);
    // While `held` says so (another mail is on its way), no try starts; it is looked at again
    // a second later.
    void setHeld(std::function<bool()> held) { m_held = std::move(held); }
    // Multiplies every wait; tests shorten them.
    void setDelayScale(double scale) { m_scale = scale; }

    // A mail was just kept: the waits start over from the first.
    void mailKept();
    // Tries the kept mails after `delayMs` (at start-up, or when turned on).
    void tryAfter(int delayMs);

    bool isSending() const { return m_worker != nullptr; }
    // Waits, serving events but no user input, until the try under way (if any) is over.
    void waitUntilIdle();
    // Ends a try under way at once; the mail stays kept.
    void abort();

signals:
    // One line for the user about the outbox.
    void note(const QString& text);
    // A try has ended.
    void idle();

private:
    void tryNext();
    void finished(const QString& path, bool sent, bool mayPass, const QString& error);
    void scheduleRetry();

    Outbox m_outbox;
    Session m_session;
    std::function<bool()> m_held;
    QTimer m_timer;
    bool m_enabled = false;
    double m_scale = 1.0;
    int m_attempt = 0; // tries since the last success, for the waits
    int m_sentInARow = 0;
    std::unique_ptr<SmtpAbort> m_abort;
    std::unique_ptr<std::thread> m_worker;
};
