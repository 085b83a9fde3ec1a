#include "monitor/WebOutlet.h"

#include "alert/AlertRules.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "device/BoardProtocol.h"
#include "http/HttpServer.h"
#include "http/HttpSites.h"
#include "mail/MailService.h"
#include "monitor/Monitor.h"
#include "monitor/Mute.h"
#include "push/PushChannels.h"
#include "settings/Settings.h"
#include "web/StatusJson.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonArray>
#include <bit>

namespace {

const QString SiteName = QStringLiteral("web");
constexpr qint64 HourMs = 3600 * 1000;
constexpr qint64 DayMs = 24 * HourMs;
constexpr qint64 DayBucketMs = 2 * 60 * 1000;
// A certificate, a key: far less than this.
constexpr qint64 PemLimit = 1024 * 1024;

bool isLoopback(const QString& host)
{
    const QHostAddress address(host);
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           address.isLoopback();
}

// The PEM file's text, or empty with why in `error`. A FIFO or a device is refused unopened: the
// monitor's thread must never wait on a writer.
QByteArray readPem(const QString& path, QString* error)
{
    const AtomicFile::Read file = AtomicFile::read(path, PemLimit);
    if (file.missing)
        *error = QStringLiteral("there is no \"%1\"").arg(path);
    else if (!file.error.isEmpty())
        *error = QStringLiteral("cannot read \"%1\": %2").arg(path, file.error);
    else if (file.bytes.isEmpty() || file.bytes.size() > PemLimit)
        *error = QStringLiteral("\"%1\" is not a PEM file").arg(path);
    return error->isEmpty() ? file.bytes : QByteArray();
}

// The settings' words for a rule that is set, as the window's dialog has them.
QList<WebRule> rulesSet(const Settings& settings)
{
    QList<WebRule> rules;
    const auto add = [&](AlertRule bit, const QString& name) {
        rules.append({QLatin1String(AlertRuleNames[std::countr_zero(unsigned(bit))]), name});
    };
    if (settings.flag(Settings::CheckUpper))
        add(RuleUpper, QStringLiteral("Upper Temp %1℃").arg(settings.text(Settings::UpperLimit)));
    if (settings.flag(Settings::CheckLower))
        add(RuleLower, QStringLiteral("Lower Temp %1℃").arg(settings.text(Settings::LowerLimit)));
    const auto input = [&](Settings::Key key, const char* name, AlertRule high, AlertRule low) {
        const int choice = settings.number(key);
        if (choice == SendOnHigh)
            add(high, QStringLiteral("%1 \"H\"").arg(QLatin1String(name)));
        else if (choice == SendOnLow)
            add(low, QStringLiteral("%1 \"L\"").arg(QLatin1String(name)));
    };
    input(Settings::Rb1, "RB1", RuleRb1High, RuleRb1Low);
    input(Settings::Rb0, "RB0", RuleRb0High, RuleRb0Low);
    if (settings.flag(Settings::NoReply))
        add(RuleNoReply, QCoreApplication::translate("WebOutlet", "応答なし %1 秒")
                             .arg(settings.text(Settings::NoReplySec).trimmed()));
    return rules;
}

std::optional<double> limitOf(const Settings& settings, Settings::Key check, Settings::Key text)
{
    if (!settings.flag(check))
        return std::nullopt;
    const std::optional<int> limit = parseLimit(settings.text(text));
    return limit ? std::optional<double>(*limit) : std::nullopt;
}

} // namespace

WebOutlet::WebOutlet(Monitor& monitor, HttpSites& sites, QObject* parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_sites(sites)
    , m_site(monitor.clock(), actions())
    , m_lastReplySteadyMs(monitor.clock().steadyMs())
{
    connect(&monitor, &Monitor::replyReceived, this, &WebOutlet::keepReading);
    connect(&monitor, &Monitor::linkProblem, this, [this](const QString& why) {
        m_linkProblem = why;
        publish();
    });
    connect(&monitor, &Monitor::firedChanged, this, [this](quint8 fired) {
        const qint64 now = m_monitor.clock().nowMs();
        for (int bit = 0; bit < 7; ++bit)
            if (!(fired & (1 << bit)))
                m_firedSinceMs[bit] = 0;
            else if (m_firedSinceMs[bit] == 0)
                m_firedSinceMs[bit] = now;
        publish();
    });
    connect(&monitor, &Monitor::unacknowledgedChanged, this, &WebOutlet::publish);
    connect(&monitor, &Monitor::muteChanged, this, [this](qint64 untilMs) {
        if (untilMs == 0)
            add(EventKind::Unmute, tr("通知停止を終了しました"));
        else
            add(EventKind::Mute,
                tr("通知停止中: %1 まで")
                    .arg(Mute::untilText(
                        untilMs, QDateTime::fromMSecsSinceEpoch(m_monitor.clock().nowMs()))));
    });
    connect(&monitor, &Monitor::rearmed, this,
            [this] { add(EventKind::Rearm, tr("Reset: 全ルールを再監視します")); });
    connect(&monitor, &Monitor::alertMailFinished, this, [this](const MailResult& result) {
        if (!result.cancelled)
            add(EventKind::Mail, result.sent ? tr("送信しました")
                                             : (result.kept ? tr("送信できません。再送します: %1")
                                                            : tr("送信できません: %1"))
                                                   .arg(result.error));
    });
    connect(&monitor, &Monitor::pushFinished, this, [this](const PushResult& result) {
        add(EventKind::Push, result.sent
                                 ? tr("%1: 送信しました").arg(result.channel)
                                 : QStringLiteral("%1: %2").arg(result.channel, result.error));
    });
    connect(&monitor.settings(), &Settings::changed, this, [this](Settings::Key key) {
        if (key == Settings::WebListen || key == Settings::WebUser ||
            key == Settings::WebPasswordHash || key == Settings::WebCertFile ||
            key == Settings::WebKeyFile)
            follow();
        else
            publish();
    });
    connect(&sites, &HttpSites::problem, this, [this](const QString& site, const QString& why) {
        if (site == SiteName)
            m_monitor.setLastingNote(SiteName, why);
    });
    follow();
}

WebOutlet::~WebOutlet() = default;

void WebOutlet::take(const AlertEvent& event)
{
    QString text = event.message;
    if (event.late)
        text += tr(" (通知停止中に発報)");
    else if (event.muted && event.kind != AlertEvent::Kind::Acknowledged)
        text += tr(" (通知停止中)");
    switch (event.kind) {
    case AlertEvent::Kind::Alert:
        add(EventKind::Alert, text);
        break;
    case AlertEvent::Kind::Recovered:
        add(EventKind::Recovered, text);
        break;
    case AlertEvent::Kind::Reminder:
        add(EventKind::Reminder, text);
        break;
    case AlertEvent::Kind::Acknowledged:
        add(EventKind::Acknowledged, event.message);
        break;
    }
}

void WebOutlet::add(EventKind kind, const QString& text)
{
    if (!m_on)
        return;
    m_events.add(m_monitor.clock().nowMs(), kind, text);
    publish();
}

void WebOutlet::keepReading(const Reading& reading)
{
    m_last = reading;
    m_lastReplySteadyMs = m_monitor.clock().steadyMs();
    if (!m_on)
        return;
    const TrendSvg::Point point{reading.timeMs, double(reading.temperature)};
    m_hour.append(point);
    while (!m_hour.isEmpty() && m_hour.first().ms < point.ms - HourMs)
        m_hour.removeFirst();
    // Each bucket of the day keeps its lowest and highest reading, in time order.
    const qint64 bucket = point.ms / DayBucketMs;
    const qsizetype size = m_day.size();
    const bool sameBucket = size > 0 && m_day.last().ms / DayBucketMs == bucket;
    if (!sameBucket) {
        m_day.append(point);
    } else {
        const bool pair = size > 1 && m_day[size - 2].ms / DayBucketMs == bucket;
        if (!pair) {
            m_day.append(point);
        } else {
            TrendSvg::Point& a = m_day[size - 2];
            TrendSvg::Point& b = m_day[size - 1];
            const double low = std::min({a.celsius, b.celsius, point.celsius});
            const double high = std::max({a.celsius, b.celsius, point.celsius});
            const bool lowFirst = (a.celsius == low) || (point.celsius == high);
            a.celsius = lowFirst ? low : high;
            b = {point.ms, lowFirst ? high : low};
        }
    }
    while (!m_day.isEmpty() && m_day.first().ms < point.ms - DayMs)
        m_day.removeFirst();
    publish();
}

WebStatus WebOutlet::status() const
{
    const Settings& settings = m_monitor.settings();
    WebStatus status;
    status.board = settings.text(Settings::BoardAddress).trimmed() + u':' +
                   settings.text(Settings::BoardPort).trimmed();
    status.hasReading = m_last.timeMs != 0;
    status.celsius = double(m_last.temperature);
    status.temperatureText = BoardProtocol::formatTemperature(m_last.temperature).trimmed();
    status.rb1 = m_last.rb1;
    status.rb0 = m_last.rb0;
    status.lastReplyMs = m_last.timeMs;
    status.linkProblem = m_linkProblem;
    status.rules = rulesSet(settings);
    for (WebRule& rule : status.rules) {
        int bit = 0;
        while (bit < 7 && rule.id != QLatin1String(AlertRuleNames[bit]))
            ++bit;
        rule.fired = m_monitor.fired() & (1 << bit);
        rule.firedSinceMs = rule.fired ? m_firedSinceMs[bit] : 0;
        rule.acknowledged = rule.fired && !(m_monitor.unacknowledged() & (1 << bit));
    }
    status.mutedUntilMs = m_monitor.mutedUntilMs();
    status.upper = limitOf(settings, Settings::CheckUpper, Settings::UpperLimit);
    status.lower = limitOf(settings, Settings::CheckLower, Settings::LowerLimit);
    status.hour = m_hour;
    status.day = m_day;
    status.lastEventId = m_events.lastId();
    return status;
}

void WebOutlet::publish()
{
    if (m_on)
        m_site.publish(status(), m_events, m_lastReplySteadyMs);
}

void WebOutlet::follow()
{
    const Settings& settings = m_monitor.settings();
    const QString text = settings.text(Settings::WebListen).trimmed();
    const QString user = settings.text(Settings::WebUser).trimmed();
    const QString hash = settings.text(Settings::WebPasswordHash).trimmed();
    const QString certFile = settings.text(Settings::WebCertFile).trimmed();
    const QString keyFile = settings.text(Settings::WebKeyFile).trimmed();
    const auto refuse = [&](const QString& why) {
        m_refused = true;
        m_sites.serve(SiteName, {});
        m_monitor.setLastingNote(SiteName, why);
    };
    // A new address ends what was said of the old one; the same one again keeps it.
    if (std::exchange(m_followed, text) != text)
        m_monitor.setLastingNote(SiteName, {});

    m_on = !text.isEmpty();
    if (!m_on) {
        m_events = EventLog();
        m_hour.clear();
        m_day.clear();
        m_sites.serve(SiteName, {});
        return;
    }
    HttpServer::Endpoint endpoint;
    const bool parsed = HttpServer::parseEndpoint(text, &endpoint);
    HttpServer::Tls tls;
    QString why;
    if (!certFile.isEmpty() || !keyFile.isEmpty()) {
        tls = {readPem(certFile, &why), {}};
        if (why.isEmpty())
            tls.key = readPem(keyFile, &why);
        if (!why.isEmpty())
            return refuse(QStringLiteral("Status page: %1 - not served").arg(why));
    }
    const bool loopback = parsed && isLoopback(endpoint.host);
    if (parsed && !loopback && (tls.certificate.isEmpty() || user.isEmpty() || hash.isEmpty()))
        return refuse(QStringLiteral("Status page on %1 is seen beyond this machine: it needs "
                                     "HTTPS ([Web] CertFile and KeyFile) and a login ([Web] User "
                                     "and zarvik-maild --web-password) - not served")
                          .arg(text));
    if (std::exchange(m_refused, false))
        m_monitor.setLastingNote(SiteName, {}); // the refusal is put right
    m_site.configure(
        {user, hash, endpoint.host, endpoint.port, !tls.certificate.isEmpty(), loopback});
    publish();
    m_sites.serve(SiteName, {text, tls, m_site.handler(), QStringLiteral("Status page"), 8080});
}

WebSite::Actions WebOutlet::actions()
{
    const auto told = [this](const QString& what, const QString& from) {
        emit note(QStringLiteral("Status page: %1 (from %2)").arg(what, from));
    };
    WebSite::Actions actions;
    actions.rearm = [this, told](const QString& from) {
        told(QStringLiteral("Reset"), from);
        m_monitor.SendFlagClr();
        return WebSite::Action{true, tr("Reset: 全ルールを再監視します"), {}};
    };
    actions.acknowledge = [this, told](const QString& from) {
        told(QStringLiteral("acknowledged"), from);
        const quint8 rules = m_monitor.acknowledge();
        QJsonArray names;
        for (int bit = 0; bit < 7; ++bit)
            if (rules & (1 << bit))
                names.append(QLatin1String(AlertRuleNames[bit]));
        return WebSite::Action{true,
                               rules ? tr("確認しました") : tr("確認するアラートはありません"),
                               {{"rules", names}}};
    };
    actions.mute = [this, told](const QString& from, const QString& duration,
                                const QString& until) {
        const QDateTime now = QDateTime::fromMSecsSinceEpoch(m_monitor.clock().nowMs());
        QString error;
        std::optional<qint64> untilMs;
        const QDateTime exact = QDateTime::fromString(until, Qt::ISODate);
        if (!until.isEmpty() && exact.isValid() && until.contains(u'T'))
            untilMs = exact.toMSecsSinceEpoch();
        else
            untilMs = Mute::parse(until.isEmpty() ? duration : QStringLiteral("until ") + until,
                                  now, &error);
        if (!untilMs)
            return WebSite::Action{false, error, {}};
        if (*untilMs != 0 && *untilMs <= now.toMSecsSinceEpoch())
            return WebSite::Action{false, QStringLiteral("That time has passed"), {}};
        told(QStringLiteral("mute until %1").arg(StatusJson::time(*untilMs).toString()), from);
        m_monitor.muteUntil(*untilMs);
        const qint64 kept = m_monitor.mutedUntilMs();
        return WebSite::Action{true,
                               kept ? tr("通知停止中: %1 まで").arg(Mute::untilText(kept, now))
                                    : tr("通知停止を終了しました"),
                               {{"until", StatusJson::time(kept)}}};
    };
    actions.unmute = [this, told](const QString& from) {
        told(QStringLiteral("unmute"), from);
        m_monitor.muteUntil(0);
        return WebSite::Action{true, tr("通知停止を終了しました"), {}};
    };
    return actions;
}
