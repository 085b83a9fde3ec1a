#pragma once

#include "core/Clock.h"
#include "mail/SmtpClient.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <optional>

class OutboxSender;

struct MailSettings {
    QString server; // "host", "host:port", "[v6]:port"
    QString user;
    QString password; // empty: no login
    int security = 0; // 0 auto, 1 STARTTLS, 2 SSL/TLS, 3 none (the dialog's combo index)
    QString caFile;
    QString from;
    QString to;         // as typed: several separated by ',' or ';'
    int priority = 2;   // 0 High "1", 1 Normal "3", 2 Low "5", other: no X-Priority
    bool retry = false; // keep alert mails that may pass later, and send kept mails
};

struct MailResult {
    bool sent = false; // every recipient took it
    QString error;     // what the user is told when !sent, with why it was not kept
    bool mayPass = false;
    bool cancelled = false;    // abort() gave it up
    bool withoutLogin = false; // a password was set but the server took it without a login
    bool kept = false;         // in the outbox, to be sent again
};
Q_DECLARE_METATYPE(MailResult)

// The program's mail: alert mails, the settings dialog's test mail and the kept mails sent
// again, one on the wire at a time (an alert's or the test mail's first). Nothing here waits:
// every sendAlert() ends in one alertFinished(), every sendTest() in one testFinished().
class MailService : public QObject {
    Q_OBJECT
public:
    // Kept mails live in `outboxFolder` (Outbox::folderFor(settingsPath)); their waits and the
    // test mail's time are read from `clock`.
    explicit MailService(const QString& outboxFolder, const Clock& clock = Clock::system(),
                         QObject* parent = nullptr);
    ~MailService() override;

    // In force for every mail started from now on, and for kept mails' envelope check and
    // sessions. Turning retry on tries kept mails at once.
    void setSettings(const MailSettings& settings);
    const MailSettings& settings() const { return m_settings; }
    // Bounds of every session from now on (SmtpClient::setTimeouts()).
    void setTimeouts(int connectMs, int totalMs);
    // While true (the keyring is still being asked for the password), alert and test mails
    // wait, queued, and no kept mail is tried; false lets them go with the settings by then.
    void setHeldForPassword(bool held);
    // The alert mail of one pass. It goes after a kept mail's try under way has ended; one
    // alert mail at a time, the others queued.
    void sendAlert(const QString& subject, const QString& body);
    // The settings dialog's test mail: its own client, so an alert meanwhile still gets its own.
    // Without a body of the caller's, the classic one: testMessage() and the time it is sent.
    void sendTest(const QString& subject = testSubject(),
                  const std::optional<QString>& body = std::nullopt);
    static QString testSubject();
    static QString testMessage();
    // An alert or test mail queued or on the wire (kept mails' tries aside).
    bool isSending() const;
    // Closing: everything under way is given up at once. An alert mail under way or queued is
    // kept (when retry is on); kept mails are not tried again until retry is turned on anew.
    void abort();
    OutboxSender& outboxSender() { return *m_outbox; }

signals:
    void alertFinished(const MailResult& result);
    void testFinished(const MailResult& result);
    void sendingChanged(bool sending);
    // Status-bar lines: the outbox's notes, and mails dropped to keep a new one.
    void note(const QString& text);

private:
    struct Alert {
        QString subject;
        QString body;
    };
    struct Test {
        QString subject;
        std::optional<QString> body;
    };

    const Clock& m_clock;
    MailSettings m_settings;
    int m_connectTimeoutMs = SmtpJob::DefaultConnectTimeoutMs;
    int m_totalTimeoutMs = SmtpJob::DefaultTotalTimeoutMs;
    bool m_heldForPassword = false;
    bool m_wasSending = false;
    SmtpClient* NMSMTP1;
    SmtpClient* m_testSmtp;
    OutboxSender* m_outbox;
    QList<Alert> m_alerts; // waiting for their turn
    Alert m_alert;         // the one NMSMTP1Connect() fills in
    QList<Test> m_tests;   // waiting for their turn
    Test m_test;           // the one fillTest() fills in

    void configure(SmtpClient& client) const;
    bool envelopeConfigured(const ComposedMail& mail, QString* error) const;
    // Starts what may go now.
    void pump();
    void NMSMTP1Connect();
    void NMSMTP1SendStart();
    void fillAlert();
    void fillTest();
    void setFinalHeaders(SmtpClient& client) const;
    void alertSent(const SmtpResult& sent);
    void testSent(const SmtpResult& sent);
    // Keeps a mail that may pass later, when retrying is on; false when it is not kept, with
    // the reason when it could not be.
    bool keep(const ComposedMail& mail, QString* error = nullptr);
    void updateSending();
};
