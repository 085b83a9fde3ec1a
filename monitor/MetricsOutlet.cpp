#include "monitor/MetricsOutlet.h"

#include "core/Clock.h"
#include "http/HttpSites.h"
#include "monitor/Monitor.h"
#include "push/PushChannels.h"
#include "settings/Settings.h"

#include <algorithm>

namespace {

const QString SiteName = QStringLiteral("metrics");

} // namespace

MetricsOutlet::MetricsOutlet(Monitor& monitor, HttpSites& sites, QObject* parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_sites(sites)
    , m_lastReplyMs(monitor.clock().steadyMs())
{
    connect(&monitor, &Monitor::replyReceived, this, [this](const Reading& reading) {
        m_lastReplyMs = m_monitor.clock().steadyMs();
        m_metrics.noteReply(reading);
        publish();
    });
    connect(&monitor, &Monitor::wrongSizeReceived, this, [this] {
        m_metrics.noteWrongSize();
        publish();
    });
    connect(&monitor, &Monitor::mailFailed, this, [this] {
        m_metrics.noteMailFailure();
        publish();
    });
    connect(&monitor, &Monitor::pushFinished, this, [this](const PushResult& result) {
        if (result.sent)
            return;
        const auto* names = std::begin(PushChannels::ChannelNames);
        const auto* found =
            std::find_if(names, std::end(PushChannels::ChannelNames),
                         [&](const char* name) { return result.channel == QLatin1String(name); });
        if (found != std::end(PushChannels::ChannelNames))
            m_metrics.notePushFailure(int(found - names));
        publish();
    });
    m_metrics.noteMutedUntil(monitor.mutedUntilMs());
    connect(&monitor, &Monitor::mqttChanged, this, [this](bool connected) {
        m_metrics.noteMqttConnected(connected);
        publish();
    });
    connect(&monitor, &Monitor::muteChanged, this, [this](qint64 untilMs) {
        m_metrics.noteMutedUntil(untilMs);
        publish();
    });
    connect(&sites, &HttpSites::problem, this, [this](const QString& site, const QString& why) {
        if (site == SiteName)
            m_monitor.setLastingNote(QStringLiteral("metrics"), why);
    });
    publish();
    connect(&monitor.settings(), &Settings::changed, this, [this](int key) {
        if (key == Settings::Metrics)
            followAddress();
    });
    followAddress();
}

MetricsOutlet::~MetricsOutlet() = default;

void MetricsOutlet::take(const AlertEvent& event)
{
    // Counted when it fired.
    if (event.late)
        return;
    if (event.kind == AlertEvent::Kind::Alert && event.rules)
        m_metrics.noteRulesFired(event.rules);
    else if (event.kind == AlertEvent::Kind::Recovered)
        m_metrics.noteRecovered(event.rules);
    else
        return;
    publish();
}

void MetricsOutlet::publish()
{
    m_site.publish(m_metrics, m_monitor.clock(), m_lastReplyMs);
}

void MetricsOutlet::followAddress()
{
    // A new address ends what was said of the old one; the same one again keeps it.
    const QString text = m_monitor.settings().text(Settings::Metrics).trimmed();
    if (text != m_addressText)
        m_monitor.setLastingNote(QStringLiteral("metrics"), {});
    m_addressText = text;
    m_sites.serve(SiteName, {text, {}, m_site.handler(), QStringLiteral("Metrics"), 9464});
}
