#pragma once

#include "mail/MailService.h"
#include "monitor/AlertWords.h"
#include "monitor/Outlet.h"

#include <QObject>

class Clock;
class MailPassword;
class Settings;

// Alert mails: the pass's mail and each notice's, with the settings in force and in the user's
// own words when there are any, held while the keyring is being asked for the password.
class MailOutlet : public QObject, public Outlet {
    Q_OBJECT
public:
    MailOutlet(Settings& settings, MailPassword& password, const AlertWords& words,
               const QString& outboxFolder, const Clock& clock, QObject* parent = nullptr);

    void take(const AlertEvent& event) override;
    // Mails what a pass collected, or a notice.
    void SendMail(const QString& subject, const QString& body);
    // The test mail; the user's own words take `reading` and `timeMs`.
    void sendTest(const Reading& reading, qint64 timeMs);
    // Alert mails started and not over yet: the next pass waits for them.
    bool isBusy() const { return m_underWay > 0; }
    void close();
    // The program's start asked the keyring: kept mails wait for its answer too.
    void holdWhilePasswordAsked();
    MailService& service() { return *m_service; }

signals:
    void finished(const MailResult& result);
    void testFinished(const MailResult& result);
    void note(const QString& text);

private:
    void holdForPassword();
    void passwordAnswered();
    AlertWords::Text words(const AlertEvent& event, const AlertWords::Text& classic) const;

    Settings& m_settings;
    MailPassword& m_password;
    const AlertWords& m_words;
    MailService* m_service;
    int m_underWay = 0;
    bool m_waitsForPassword = false;
};
