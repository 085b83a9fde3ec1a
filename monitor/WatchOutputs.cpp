#include "monitor/WatchOutputs.h"

#include "monitor/Monitor.h"
#include "core/Clock.h"
#include "settings/Settings.h"
#include "monitor/DesktopNotifier.h"
#include "metrics/MetricsServer.h"
#include "push/PushChannels.h"

WatchOutputs::WatchOutputs(Monitor& monitor, QObject* parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_server(new MetricsServer(this))
    , m_lastReplyMs(monitor.clock().steadyMs())
{
    connect(&monitor, &Monitor::replyReceived, this, [this](const Reading& reading) {
        m_lastReplyMs = m_monitor.clock().steadyMs();
        m_metrics.noteReply(reading);
        publishMetrics();
    });
    connect(&monitor, &Monitor::wrongSizeReceived, this, [this] {
        m_metrics.noteWrongSize();
        publishMetrics();
    });
    connect(&monitor, &Monitor::mailFailed, this, [this] {
        m_metrics.noteMailFailure();
        publishMetrics();
    });
    connect(&monitor, &Monitor::pushFinished, this, [this](const PushResult& result) {
        if (result.sent)
            return;
        m_metrics.notePushFailure(
            result.channel == QLatin1String(PushChannels::ChannelNames[PushChannels::Ntfy])
                ? PushChannels::Ntfy
                : PushChannels::Webhook);
        publishMetrics();
    });
    connect(&monitor, &Monitor::rulesFired, this,
            [this](quint8 rules, const QString& message, const QString& subject) {
                m_metrics.noteRulesFired(rules);
                publishMetrics();
                if (m_monitor.settings().flag(Settings::Notify))
                    DesktopNotifier::notify(message, subject, DesktopNotifier::Urgency::Critical);
            });
    connect(&monitor, &Monitor::noticeSent, this,
            [this](NoticeKind kind, quint8 rules, const QString& subject, const QString& message) {
                const bool recovered = kind == NoticeKind::Recovered;
                if (recovered) {
                    m_metrics.noteRecovered(rules);
                    publishMetrics();
                }
                // A reminder is of an alert that still holds.
                if (m_monitor.settings().flag(Settings::Notify))
                    DesktopNotifier::notify(message, subject,
                                            recovered ? DesktopNotifier::Urgency::Normal
                                                      : DesktopNotifier::Urgency::Critical);
            });

    connect(m_server, &MetricsServer::problem, this, [this](const QString& why) {
        m_monitor.setLastingNote(QStringLiteral("metrics"), why);
    });
    publishMetrics();
    connect(&monitor.settings(), &Settings::changed, this, [this](int key) {
        if (key == Settings::Metrics)
            followMetricsAddress();
    });
    followMetricsAddress();
}

WatchOutputs::~WatchOutputs() = default;

void WatchOutputs::publishMetrics()
{
    m_server->publish(m_metrics, m_monitor.clock(), m_lastReplyMs);
}

void WatchOutputs::followMetricsAddress()
{
    // A new address ends what was said of the old one; the same one again keeps it.
    const QString text = m_monitor.settings().text(Settings::Metrics).trimmed();
    if (text != m_metricsText)
        m_monitor.setLastingNote(QStringLiteral("metrics"), {});
    m_metricsText = text;
    m_server->listenOn(text);
}
