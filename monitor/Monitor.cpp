#include "monitor/Monitor.h"

#include "monitor/WatchOutputs.h"
#include "core/Clock.h"
#include "core/IdlePass.h"
#include "device/BoardProtocol.h"
#include "device/BoardSource.h"
#include "history/HistoryRecorder.h"
#include "mail/MailService.h"
#include "mail/Outbox.h"
#include "settings/PasswordStore.h"
#include "settings/Settings.h"
#include "push/PushChannels.h"

#include <algorithm>
#include <utility>

namespace {

const QString WithoutLogin = QStringLiteral(
    "サーバーがログイン (AUTH) を受け付けないため、パスワードを使わずに送信しました。");

AlertConfig alertConfig(const Settings& s)
{
    AlertConfig c;
    c.upperChecked = s.flag(Settings::CheckUpper);
    c.upperLimitText = s.text(Settings::UpperLimit);
    c.upperMemo = s.text(Settings::MemoUpper);
    c.lowerChecked = s.flag(Settings::CheckLower);
    c.lowerLimitText = s.text(Settings::LowerLimit);
    c.lowerMemo = s.text(Settings::MemoLower);
    c.rb1Choice = s.number(Settings::Rb1);
    c.rb1Memo = s.text(Settings::MemoRb1);
    c.rb0Choice = s.number(Settings::Rb0);
    c.rb0Memo = s.text(Settings::MemoRb0);
    c.noReplyChecked = s.flag(Settings::NoReply);
    c.noReplySecondsText = s.text(Settings::NoReplySec);
    c.noReplyMemo = s.text(Settings::MemoNoReply);
    c.reArm = s.flag(Settings::ReArm);
    c.reArmSecondsText = s.text(Settings::ReArmSec);
    c.hysteresisText = s.text(Settings::Hysteresis);
    c.remindMinutesText = s.text(Settings::RemindMin);
    return c;
}

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

Monitor::Monitor(Settings& settings, const QString& statePath, const Clock& clock, Trend trend,
                 QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clock(clock)
    , m_source(new BoardSource(clock, this))
    , m_mail(new MailService(Outbox::folderFor(statePath), this))
    , m_passwords(new PasswordStore(this))
    , m_history(new HistoryRecorder(statePath, this))
    , m_push(new PushChannels(PushChannels::folderFor(statePath), this))
{
    m_source->setBoard(settings.text(Settings::BoardAddress), settings.text(Settings::BoardPort));
    connect(m_source, &BoardSource::replyReceived, this, &Monitor::takeReply);
    connect(m_source, &BoardSource::wrongSizeReceived, this, &Monitor::wrongSizeReceived);

    m_mail->setObjectName(QStringLiteral("MailOutbox"));
    m_mail->setSettings(mailSettings(settings));
    connect(m_mail, &MailService::alertFinished, this, &Monitor::alertMailFinished);
    connect(m_mail, &MailService::testFinished, this, [this](const MailResult& result) {
        if (!m_closed)
            emit testMailFinished(result);
    });
    connect(m_mail, &MailService::note, this, &Monitor::note);
    m_push->setObjectName(QStringLiteral("PushChannels"));
    m_push->setUrl(PushChannels::Ntfy, settings.text(Settings::PushNtfy));
    m_push->setUrl(PushChannels::Webhook, settings.text(Settings::PushWebhook));
    m_push->setRetry(settings.flag(Settings::Retry));
    connect(m_push, &PushChannels::finished, this, &Monitor::pushEnded);
    connect(m_push, &PushChannels::testFinished, this, [this](const PushResult& result) {
        if (!m_closed)
            emit testPushFinished(result);
    });
    connect(m_push, &PushChannels::note, this, &Monitor::note);
    connect(m_passwords, &PasswordStore::loaded, this, [this](const QString& password) {
        // What was typed meanwhile wins.
        if (m_settings.text(Settings::MailPassword).isEmpty())
            m_settings.setValue(Settings::MailPassword, password);
    });
    connect(m_passwords, &PasswordStore::answered, this, &Monitor::passwordAnswered);

    if (trend == Trend::LatestOnly)
        m_history->keepLatestOnly();
    if (settings.flag(Settings::Log))
        m_history->loadLog(clock.nowMs());
    m_history->setLogEnabled(settings.flag(Settings::Log));
    connect(m_history, &HistoryRecorder::logProblem, this, [this](const QString& why) {
        setLastingNote(QStringLiteral("csv"),
                       why.isEmpty() ? QString()
                                     : QStringLiteral("CSV に記録できません: %1").arg(why));
    });
    connect(this, &Monitor::replyReceived, m_history, [this](const Reading& reading) {
        m_history->recordReply(reading.timeMs, double(reading.temperature), reading.rb1,
                               reading.rb0);
    });
    connect(this, &Monitor::rulesFired, m_history,
            [this](quint8, const QString& message, const QString&) {
                m_history->recordMark(m_clock.nowMs(), message);
            });
    connect(&settings, &Settings::changed, this, &Monitor::followSettings);
}

Monitor::~Monitor() = default;

QString Monitor::withoutLoginNote()
{
    return WithoutLogin;
}

void Monitor::setLastingNote(const QString& cause, const QString& text)
{
    // Only what was said can be over.
    if (text.isEmpty() && !m_lastingNotes.contains(cause))
        return;
    if (text.isEmpty())
        m_lastingNotes.remove(cause);
    else
        m_lastingNotes.insert(cause, text);
    emit lastingNote(cause, text);
}

void Monitor::start(Keyring keyring)
{
    // The first request before anything slower, so that the board is asked at once.
    m_source->start();
    SendFlagClr();
    m_watch = new WatchOutputs(*this, this);
    m_idlePass = new IdlePass([this] { MainRoutine(); }, this);
    if (keyring == Keyring::Ask)
        askForPassword();
}

void Monitor::close()
{
    if (std::exchange(m_closed, true))
        return;
    m_source->stop();
    // Closing never waits on a mail server, nor on a push.
    m_mail->abort();
    m_push->abort();
}

void Monitor::followSettings(int key)
{
    if (key == Settings::BoardAddress || key == Settings::BoardPort)
        m_source->setBoard(m_settings.text(Settings::BoardAddress),
                           m_settings.text(Settings::BoardPort));
    else if (key == Settings::Log)
        m_history->setLogEnabled(m_settings.flag(Settings::Log));
    else if (key == Settings::PushNtfy)
        m_push->setUrl(PushChannels::Ntfy, m_settings.text(Settings::PushNtfy));
    else if (key == Settings::PushWebhook)
        m_push->setUrl(PushChannels::Webhook, m_settings.text(Settings::PushWebhook));
    if (key == Settings::Retry)
        m_push->setRetry(m_settings.flag(Settings::Retry));
    if (isMailKey(key))
        m_mail->setSettings(mailSettings(m_settings));
}

void Monitor::askForPassword()
{
    // Only a server to log in to has a password worth asking the keyring for.
    const QString server = m_settings.text(Settings::MailServer).trimmed();
    const QString user = m_settings.text(Settings::MailUser).trimmed();
    if (server.isEmpty() || user.isEmpty())
        return;
    m_passwords->load(PasswordStore::keyFor(server, user));
    holdMailForPassword();
}

void Monitor::holdMailForPassword()
{
    if (m_passwords->isLoading())
        m_mail->setHeldForPassword(true);
}

void Monitor::passwordAnswered()
{
    m_mail->setSettings(mailSettings(m_settings));
    if (std::exchange(m_mailWaitsForPassword, false) && !m_passwords->isAvailable())
        emit note(QStringLiteral("キーリングからパスワードを読めませんでした。パスワードなしで"
                                 "送信します: %1")
                      .arg(m_passwords->unavailableWhy()));
    m_mail->setHeldForPassword(false);
}

void Monitor::takeReply(const Reading& reading)
{
    noteNewReply(m_alert, m_readings);
    BoardProtocol::applyReading(m_readings, reading);
    m_lastReading = reading;
    emit replyReceived(reading);
}

void Monitor::SendFlagClr()
{
    ::SendFlagClr(m_alert);
}

void Monitor::MainRoutine()
{
    // The pass that mailed waits for its mail to be over, as one alert at a time goes out.
    if (m_closed || m_alertMailsUnderWay > 0)
        return;
    const quint8 armedBefore = armedRules(m_alert);
    const AlertConfig config = alertConfig(m_settings);
    const qint64 silentMs = m_source->msSinceLastReply();
    QString error;
    const bool mailDue = runAlertPass(m_alert, m_readings, config, silentMs, &error);
    const QList<AlertNotice> notices =
        runFollowUpPass(m_alert, m_readings, config, silentMs, m_clock.steadyMs(), &error);
    if (!m_alert.Shown.isEmpty())
        emit messageShown(m_alert.Shown.last());
    const quint8 fired = announceFired(armedBefore);
    if (mailDue)
        SendMail();
    pushFired(fired);
    for (const AlertNotice& notice : notices)
        announce(notice.kind, notice.rule, notice.subject, notice.message);
    if (m_alertMailsUnderWay > 0) {
        // A bad text is told after the results of the mails under way.
        m_afterMail = error;
        return;
    }
    if (!error.isEmpty())
        emit problem(error);
}

quint8 Monitor::announceFired(quint8 armedBefore)
{
    const quint8 fired = armedBefore & ~armedRules(m_alert);
    if (fired)
        emit rulesFired(fired, m_alert.Shown.isEmpty() ? QString() : m_alert.Shown.last(),
                        m_alert.MailSubject);
    return fired;
}

PushNotice Monitor::notice(const QString& event, quint8 rules, const QString& subject,
                           const QString& message) const
{
    PushNotice n;
    n.event = event;
    n.rules = rules;
    n.subject = subject.trimmed(); // the classic subject ends in a space
    n.message = message;
    n.priority = m_settings.number(Settings::Priority);
    n.reading = m_lastReading;
    n.board = m_settings.text(Settings::BoardAddress).trimmed() + u':' +
              m_settings.text(Settings::BoardPort).trimmed();
    n.timeMs = m_clock.nowMs();
    return n;
}

void Monitor::pushFired(quint8 rules)
{
    if (rules && m_push->isConfigured())
        m_push->send(notice(QStringLiteral("alert"), rules, m_alert.MailSubject,
                            m_alert.Shown.isEmpty() ? QString() : m_alert.Shown.last()));
}

void Monitor::pushEnded(const PushResult& result)
{
    if (m_closed)
        return;
    emit pushFinished(result);
    if (result.kept)
        emit note(QStringLiteral("%1 への通知を送信できませんでした。保存して後で再送します: %2")
                      .arg(result.channel, result.error));
    else if (!result.sent)
        emit problem(QStringLiteral("%1 への通知を送信できませんでした: %2")
                         .arg(result.channel, result.error));
}

void Monitor::announce(NoticeKind kind, quint8 rules, const QString& subject,
                       const QString& message)
{
    emit messageShown(message);
    emit noticeSent(kind, rules, subject, message);
    sendAlertMail(subject, message);
    if (m_push->isConfigured())
        m_push->send(notice(kind == NoticeKind::Recovered ? QStringLiteral("recovered")
                                                          : QStringLiteral("reminder"),
                            rules, subject, message));
}

void Monitor::SendMail()
{
    sendAlertMail(m_alert.MailSubject, m_alert.MailBody);
}

void Monitor::sendAlertMail(const QString& subject, const QString& body)
{
    ++m_alertMailsUnderWay;
    holdMailForPassword();
    m_mailWaitsForPassword = m_mailWaitsForPassword || m_passwords->isLoading();
    m_mail->sendAlert(subject, body);
}

void Monitor::alertMailFinished(const MailResult& result)
{
    m_alertMailsUnderWay = std::max(0, m_alertMailsUnderWay - 1);
    if (m_closed || result.cancelled)
        return;
    if (result.sent && result.withoutLogin && !std::exchange(m_toldWithoutLogin, true))
        emit note(WithoutLogin);
    if (!result.sent) {
        emit mailFailed(result.error);
        emit problem(result.error);
    }
    if (!m_afterMail.isEmpty() && m_alertMailsUnderWay == 0)
        emit problem(std::exchange(m_afterMail, QString()));
}

void Monitor::sendTestMail()
{
    holdMailForPassword();
    m_mailWaitsForPassword = m_mailWaitsForPassword || m_passwords->isLoading();
    m_mail->sendTest();
    m_push->sendTest(notice(QStringLiteral("test"), 0, QStringLiteral("ZARVIK Mail test"),
                            QStringLiteral("ZARVIK Mail からのテスト通知です。")));
}
