#include "monitor/MailOutlet.h"

#include "monitor/MailPassword.h"
#include "settings/Settings.h"

#include <algorithm>
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

MailOutlet::MailOutlet(Settings& settings, MailPassword& password, const QString& outboxFolder,
                       const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_password(password)
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

void MailOutlet::take(const AlertEvent& event)
{
    if (event.kind == AlertEvent::Kind::Acknowledged) {
        // Said where the alert was said: only after an alert mail.
        if (event.mailDue)
            SendMail(event.subject, event.message);
    } else if (event.kind != AlertEvent::Kind::Alert)
        SendMail(event.subject, event.message);
    else if (event.mailDue)
        SendMail(event.subject, event.mailBody);
}

void MailOutlet::SendMail(const QString& subject, const QString& body)
{
    ++m_underWay;
    holdForPassword();
    m_service->sendAlert(subject, body);
}

void MailOutlet::sendTest()
{
    holdForPassword();
    m_service->sendTest();
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
        emit note(QStringLiteral("キーリングからパスワードを読めませんでした。パスワードなしで"
                                 "送信します: %1")
                      .arg(m_password.keyringProblem()));
    m_service->setHeldForPassword(false);
}
