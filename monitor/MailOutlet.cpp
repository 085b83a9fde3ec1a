#include "monitor/MailOutlet.h"

#include "monitor/MailPassword.h"
#include "settings/Settings.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace {

MailSettings mailSettings(const Settings& s)
{
    MailSettings m;
    m.server = s.text(Settings::MailServer);
    m.user = s.text(Settings::MailUser);
    m.password = s.text(Settings::MailPassword);
    m.security = s.number(Settings::MailSecurity);
    m.caFile = s.text(Settings::MailCaFile);
    m.from = s.text(Settings::MailFrom);
    m.to = s.text(Settings::MailTo);
    m.priority = s.number(Settings::Priority);
    m.retry = s.flag(Settings::Retry);
    return m;
}

bool isMailKey(int key)
{
    switch (key) {
    case Settings::MailServer:
    case Settings::MailUser:
    case Settings::MailPassword:
    case Settings::MailSecurity:
    case Settings::MailCaFile:
    case Settings::MailFrom:
    case Settings::MailTo:
    case Settings::Priority:
    case Settings::Retry:
        return true;
    default:
        return false;
    }
}

} // namespace

MailOutlet::MailOutlet(Settings& settings, MailPassword& password, const AlertWords& words,
                       const QString& outboxFolder, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_password(password)
    , m_words(words)
    , m_service(new MailService(outboxFolder, clock, this))
{
    m_service->setObjectName(QStringLiteral("MailOutbox"));
    m_service->setSettings(mailSettings(settings));
    connect(m_service, &MailService::alertFinished, this, [this](const MailResult& result) {
        m_underWay = std::max(0, m_underWay - 1);
        emit finished(result);
    });
    connect(m_service, &MailService::testFinished, this, &MailOutlet::testFinished);
    connect(m_service, &MailService::note, this, &MailOutlet::note);
    connect(&password, &MailPassword::answered, this, &MailOutlet::passwordAnswered);
    connect(&settings, &Settings::changed, this, [this](int key) {
        if (isMailKey(key))
            m_service->setSettings(mailSettings(m_settings));
    });
}

AlertWords::Text MailOutlet::words(const AlertEvent& event, const AlertWords::Text& classic) const
{
    return m_words.apply(event,
                         AlertWords::board(m_settings.text(Settings::BoardAddress),
                                           m_settings.text(Settings::BoardPort)),
                         classic);
}

void MailOutlet::take(const AlertEvent& event)
{
    // Whether a pass mails is the rules' choice (a memo to send), and an acknowledgement follows
    // an alert mail only; the words only say it.
    const bool said =
        event.kind == AlertEvent::Kind::Alert || event.kind == AlertEvent::Kind::Acknowledged;
    if (!said || event.mailDue) {
        const AlertWords::Text text =
            words(event, {event.subject,
                          event.kind == AlertEvent::Kind::Alert ? event.mailBody : event.message});
        SendMail(text.subject, text.body);
    }
}

void MailOutlet::SendMail(const QString& subject, const QString& body)
{
    ++m_underWay;
    holdForPassword();
    m_service->sendAlert(subject, body);
}

void MailOutlet::sendTest(const Reading& reading, qint64 timeMs)
{
    holdForPassword();
    // In the user's own words too, so that the test shows them.
    AlertEvent test;
    test.subject = MailService::testSubject();
    test.message = MailService::testMessage();
    test.reading = reading;
    test.timeMs = timeMs;
    const AlertWords::Text text = words(test, {test.subject, QString()});
    m_service->sendTest(text.subject, m_words.isOwn(AlertWords::Body)
                                          ? std::optional<QString>(text.body)
                                          : std::nullopt);
}

void MailOutlet::close()
{
    m_service->abort();
}

void MailOutlet::holdForPassword()
{
    if (!m_password.isAsking())
        return;
    m_waitsForPassword = true;
    m_service->setHeldForPassword(true);
}

void MailOutlet::holdWhilePasswordAsked()
{
    // Kept mails wait too, so that none goes out without the password the keyring may have.
    if (m_password.isAsking())
        m_service->setHeldForPassword(true);
}

void MailOutlet::passwordAnswered()
{
    m_service->setSettings(mailSettings(m_settings));
    if (std::exchange(m_waitsForPassword, false) && !m_password.keyringAvailable())
        emit note(tr("キーリングからパスワードを読めませんでした。パスワードなしで"
                     "送信します: %1")
                      .arg(m_password.keyringProblem()));
    m_service->setHeldForPassword(false);
}
