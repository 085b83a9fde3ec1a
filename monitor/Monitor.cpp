#include "monitor/Monitor.h"

#include "core/Clock.h"
#include "core/IdlePass.h"
#include "core/KeptFolder.h"
#include "device/BoardProtocol.h"
#include "device/BoardSource.h"
#include "history/HistoryRecorder.h"
#include "http/HttpSites.h"
#include "mail/MailService.h"
#include "mail/Outbox.h"
#include "monitor/DesktopOutlet.h"
#include "monitor/MailOutlet.h"
#include "monitor/MailPassword.h"
#include "monitor/MetricsOutlet.h"
#include "monitor/MqttOutlet.h"
#include "monitor/Mute.h"
#include "monitor/PushOutlet.h"
#include "monitor/WebOutlet.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <utility>

namespace {

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
    c.holdSecondsText = s.text(Settings::HoldSec);
    return c;
}

// The memos of `rules` (AlertRule bits), as a pass collects them.
QString memosOf(const Settings& s, quint8 rules)
{
    static const Settings::Key memos[] = {
        Settings::MemoUpper, Settings::MemoLower, Settings::MemoRb1,     Settings::MemoRb1,
        Settings::MemoRb0,   Settings::MemoRb0,   Settings::MemoNoReply,
    };
    QString text;
    for (int i = 0; i < int(std::size(memos)); ++i) {
        if (rules & (1 << i))
            text += s.text(memos[i]);
    }
    return text;
}

constexpr double MaxOffset = 20;

std::optional<double> offsetOf(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (ok && std::isfinite(value) && value >= -MaxOffset && value <= MaxOffset)
        return value;
    return std::nullopt;
}

} // namespace

Monitor::Monitor(Settings& settings, const QString& statePath, const Clock& clock, Trend trend,
                 QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_clock(clock)
    , m_source(new BoardSource(clock, this))
    , m_password(new MailPassword(settings, this))
    , m_history(new HistoryRecorder(statePath, this))
    , m_mail(
          new MailOutlet(settings, *m_password, m_words, Outbox::folderFor(statePath), clock, this))
    , m_push(new PushOutlet(settings, m_words, PushChannels::folderFor(statePath), clock, this))
    , m_http(new HttpSites(this))
    , m_mutePath(Mute::pathFor(statePath))
    , m_statePath(statePath)
{
    takeOffset();
    takeWords(AlertWords::Subject);
    takeWords(AlertWords::Body);
    m_source->setBoard(settings.text(Settings::BoardAddress), settings.text(Settings::BoardPort));
    connect(m_source, &BoardSource::replyReceived, this, &Monitor::takeReply);
    connect(m_source, &BoardSource::wrongSizeReceived, this, &Monitor::wrongSizeReceived);
    connect(m_source, &BoardSource::polled, this, &Monitor::polled);
    connect(m_source, &BoardSource::linkProblem, this, &Monitor::linkProblem);

    connect(m_mail, &MailOutlet::finished, this, &Monitor::mailEnded);
    connect(m_mail, &MailOutlet::testFinished, this, [this](const MailResult& result) {
        if (!m_closed)
            emit testMailFinished(result);
    });
    connect(m_mail, &MailOutlet::note, this, &Monitor::note);
    connect(&m_mail->service(), &MailService::sendingChanged, this, &Monitor::mailSending);
    connect(m_push, &PushOutlet::finished, this, &Monitor::pushEnded);
    connect(m_push, &PushOutlet::testFinished, this, [this](const PushResult& result) {
        if (!m_closed)
            emit testPushFinished(result);
    });
    connect(m_push, &PushOutlet::note, this, &Monitor::note);

    if (trend == Trend::LatestOnly)
        m_history->keepLatestOnly();
    if (settings.flag(Settings::Log))
        m_history->loadLog(clock.nowMs());
    m_history->setLogEnabled(settings.flag(Settings::Log));
    connect(m_history, &HistoryRecorder::logProblem, this, [this](const QString& why) {
        setLastingNote(QStringLiteral("csv"),
                       why.isEmpty() ? QString() : tr("CSV に記録できません: %1").arg(why));
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
    return tr("サーバーがログイン (AUTH) を受け付けないため、パスワードを使わずに送信しました。");
}

MailService& Monitor::mail() const
{
    return m_mail->service();
}

PushChannels& Monitor::push() const
{
    return m_push->channels();
}

quint16 Monitor::metricsPort() const
{
    return m_http->port(QStringLiteral("metrics"));
}

qint64 Monitor::msSinceLastReply() const
{
    return m_source->msSinceLastReply();
}

QString Monitor::currentLinkProblem() const
{
    return m_source->currentLinkProblem();
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
    m_mqtt =
        new MqttOutlet(*this, KeptFolder::beside(m_statePath, QStringLiteral(".mqtt-node")), this);
    connect(m_mqtt, &MqttOutlet::note, this, &Monitor::note);
    connect(m_mqtt, &MqttOutlet::connectionChanged, this, [this](bool up, const QString& why) {
        const bool off = m_settings.text(Settings::MqttBroker).trimmed().isEmpty();
        setLastingNote(QStringLiteral("mqtt"),
                       up || off ? QString() : tr("MQTT に接続できません: %1").arg(why));
        if (up)
            emit note(QStringLiteral("MQTT: connected to %1")
                          .arg(m_settings.text(Settings::MqttBroker).trimmed()));
        emit mqttChanged(up, why);
    });
    m_metrics = new MetricsOutlet(*this, *m_http, this);
    m_web = new WebOutlet(*this, *m_http, this);
    connect(m_web, &WebOutlet::note, this, &Monitor::note);
    // Every alert pass, recovered notice and reminder goes out through each of these, in this
    // order: the mail first, so that its session starts before anything else is done.
    m_ownOutlets.push_back(std::make_unique<DesktopOutlet>(m_settings));
    m_outlets.insert(m_outlets.begin(),
                     {m_mail, m_push, m_ownOutlets.back().get(), m_metrics, m_mqtt, m_web});
    readMute();
    m_idlePass = new IdlePass([this] { MainRoutine(); }, this);
    if (keyring == Keyring::Ask) {
        m_password->ask();
        m_mail->holdWhilePasswordAsked();
    }
}

void Monitor::addOutlet(Outlet* outlet)
{
    m_outlets.push_back(outlet);
}

void Monitor::close()
{
    if (std::exchange(m_closed, true))
        return;
    m_source->stop();
    // Closing never waits on a mail server, nor on a push.
    m_mail->close();
    m_push->close();
    // "offline" and a clean disconnect, finished while the program ends.
    if (m_mqtt)
        m_mqtt->close();
}

void Monitor::followSettings(int key)
{
    if (key == Settings::BoardAddress || key == Settings::BoardPort)
        m_source->setBoard(m_settings.text(Settings::BoardAddress),
                           m_settings.text(Settings::BoardPort));
    else if (key == Settings::Log)
        m_history->setLogEnabled(m_settings.flag(Settings::Log));
    else if (key == Settings::TempOffset)
        takeOffset();
    else if (key == Settings::MailSubject)
        takeWords(AlertWords::Subject);
    else if (key == Settings::MailBody)
        takeWords(AlertWords::Body);
}

void Monitor::takeOffset()
{
    const QString text = m_settings.text(Settings::TempOffset);
    const std::optional<double> offset = offsetOf(text);
    m_offset = offset.value_or(0);
    if (!offset)
        m_toTell << QStringLiteral("'%1' is not a valid temperature offset (degrees, -20 to 20)")
                        .arg(text);
}

void Monitor::takeWords(AlertWords::Part part)
{
    const QString why =
        m_words.set(part, m_settings.text(part == AlertWords::Subject ? Settings::MailSubject
                                                                      : Settings::MailBody));
    if (!why.isEmpty())
        m_toTell << why;
}

void Monitor::takeReply(const Reading& board)
{
    // Everyone hears of the calibrated temperature; the bytes stay the board's own.
    Reading reading = board;
    reading.temperature += m_offset;
    noteNewReply(m_alert, m_readings);
    BoardProtocol::applyReading(m_readings, reading);
    trackHold(m_alert, m_readings, alertConfig(m_settings), m_clock.steadyMs());
    m_lastReading = reading;
    emit replyReceived(reading);
}

void Monitor::SendFlagClr()
{
    ::SendFlagClr(m_alert);
    followFiredRules();
    if (m_idlePass)
        emit rearmed();
}

void Monitor::followFiredRules()
{
    const quint8 fired = ~armedRules(m_alert) & 0x7F;
    m_untold &= fired;
    m_mailed &= fired;
    const quint8 open = fired & ~m_alert.AcknowledgedRules;
    if (std::exchange(m_unacknowledged, open) != open)
        emit unacknowledgedChanged(open);
    if (std::exchange(m_fired, fired) != fired)
        emit firedChanged(fired);
}

quint8 Monitor::acknowledge()
{
    const quint8 seen = ::acknowledge(m_alert);
    if (!seen)
        return 0;
    const QString pieces = rulePieces(seen, alertConfig(m_settings));
    AlertEvent said =
        event(AlertEvent::Kind::Acknowledged, seen, QStringLiteral("Acknowledged: ") + pieces,
              tr("確認済み: %1").arg(pieces));
    // Said where the alert was said: not for rules no person heard of.
    const quint8 told = seen & ~m_untold;
    said.muted = told == 0;
    said.mailDue = told & m_mailed;
    tell(said);
    emit acknowledged(seen, said.subject, said.timeMs);
    followFiredRules();
    return seen;
}

void Monitor::readMute()
{
    const Mute::Read kept = Mute::read(m_mutePath);
    // Lasting, so that a window made after the start still shows it; said once however often
    // the file is read.
    const QString why = kept.problem.isEmpty()
                            ? QString()
                            : tr("通知停止の記録を読めません。通知します: %1").arg(kept.problem);
    if (m_lastingNotes.value(QStringLiteral("mute")) != why)
        setLastingNote(QStringLiteral("mute"), why);
    setMute(kept.untilMs > m_clock.nowMs() ? kept.untilMs : 0);
}

void Monitor::muteUntil(qint64 untilMs)
{
    if (untilMs <= m_clock.nowMs())
        untilMs = 0;
    QString error;
    if (Mute::write(m_mutePath, untilMs, &error))
        setLastingNote(QStringLiteral("mute"), {});
    else
        emit problem(tr("通知停止を記録できません (この実行の間だけ有効です): %1").arg(error));
    setMute(untilMs);
}

void Monitor::setMute(qint64 untilMs)
{
    const qint64 before = std::exchange(m_mutedUntilMs, untilMs);
    if (before == untilMs)
        return;
    emit muteChanged(untilMs);
    if (before != 0 && untilMs == 0)
        tellAfterMute();
}

void Monitor::tellAfterMute()
{
    const AlertConfig config = alertConfig(m_settings);
    const quint8 rules = std::exchange(m_untold, 0) & ~armedRules(m_alert) &
                         holdingRules(m_readings, config, m_source->msSinceLastReply());
    if (!rules)
        return;
    const FiredTexts texts = firedTexts(rules, config);
    AlertEvent alert = event(AlertEvent::Kind::Alert, rules, texts.subject, texts.shown.last());
    alert.mailBody = texts.mailBody;
    alert.mailDue = !texts.mailBody.isEmpty();
    alert.late = true;
    if (alert.mailDue)
        m_mailed |= rules;
    tell(alert);
}

void Monitor::MainRoutine()
{
    // The pass that mailed waits for its mail to be over, as one alert at a time goes out.
    if (m_closed || m_mail->isBusy())
        return;
    if (m_mutedUntilMs != 0 && m_clock.nowMs() >= m_mutedUntilMs) {
        // Over. A file left behind would say so by its time too.
        QString ignored;
        Mute::write(m_mutePath, 0, &ignored);
        setMute(0);
        if (m_mail->isBusy())
            return;
    }
    const quint8 armedBefore = armedRules(m_alert);
    const AlertConfig config = alertConfig(m_settings);
    const qint64 silentMs = m_source->msSinceLastReply();
    QString error;
    const bool mailDue = runAlertPass(m_alert, m_readings, config, silentMs, &error);
    const QList<AlertNotice> notices =
        runFollowUpPass(m_alert, m_readings, config, silentMs, m_clock.steadyMs(), &error);
    // What came into force refused since the last pass is told with the pass's own problems.
    if (!m_toTell.isEmpty()) {
        if (!error.isEmpty())
            m_toTell << error;
        error = m_toTell.join(u'\n');
        m_toTell.clear();
    }
    const QString shown = m_alert.Shown.isEmpty() ? QString() : m_alert.Shown.last();
    const quint8 fired = armedBefore & ~armedRules(m_alert);
    // The outlets first, the mail first among them: it waits for nothing the screen does.
    if (mailDue || fired) {
        AlertEvent alert = event(AlertEvent::Kind::Alert, fired, m_alert.MailSubject, shown);
        alert.mailBody = m_alert.MailBody;
        alert.memo = m_alert.MailBody;
        alert.mailDue = mailDue;
        if (m_mutedUntilMs != 0)
            m_untold |= fired;
        else if (mailDue)
            m_mailed |= fired;
        tell(alert);
    }
    if (!shown.isEmpty())
        emit messageShown(shown);
    if (fired)
        emit rulesFired(fired, shown, m_alert.MailSubject);
    for (const AlertNotice& notice : notices) {
        const bool recovered = notice.kind == NoticeKind::Recovered;
        emit messageShown(notice.message);
        emit noticeSent(notice.kind, notice.rule, notice.subject, notice.message);
        tell(event(recovered ? AlertEvent::Kind::Recovered : AlertEvent::Kind::Reminder,
                   notice.rule, notice.subject, notice.message));
    }
    followFiredRules();
    if (m_mail->isBusy()) {
        // A bad text is told after the results of the mails under way.
        m_afterMail = error;
        return;
    }
    if (!error.isEmpty())
        emit problem(error);
}

AlertEvent Monitor::event(AlertEvent::Kind kind, quint8 rules, const QString& subject,
                          const QString& message) const
{
    AlertEvent e;
    e.kind = kind;
    e.rules = rules;
    e.subject = subject;
    e.message = message;
    e.mailBody = message;
    e.memo = memosOf(m_settings, rules);
    e.reading = m_lastReading;
    e.timeMs = m_clock.nowMs();
    return e;
}

void Monitor::tell(AlertEvent event)
{
    event.muted = event.muted || m_mutedUntilMs != 0;
    for (Outlet* outlet : m_outlets) {
        if (!event.muted || !outlet->notifies())
            outlet->take(event);
    }
}

void Monitor::pushEnded(const PushResult& result)
{
    if (m_closed)
        return;
    emit pushFinished(result);
    if (result.kept)
        emit note(tr("%1 への通知を送信できませんでした。保存して後で再送します: %2")
                      .arg(result.channel, result.error));
    else if (!result.sent)
        emit problem(tr("%1 への通知を送信できませんでした: %2").arg(result.channel, result.error));
}

void Monitor::mailEnded(const MailResult& result)
{
    emit alertMailFinished(result);
    if (m_closed || result.cancelled)
        return;
    if (result.sent && result.withoutLogin && !std::exchange(m_toldWithoutLogin, true))
        emit note(withoutLoginNote());
    if (!result.sent) {
        emit mailFailed(result.error);
        emit problem(result.error);
    }
    if (!m_afterMail.isEmpty() && !m_mail->isBusy())
        emit problem(std::exchange(m_afterMail, QString()));
}

void Monitor::sendTestMail()
{
    m_mail->sendTest(m_lastReading, m_clock.nowMs());
    m_push->sendTest(m_lastReading, m_clock.nowMs());
}
