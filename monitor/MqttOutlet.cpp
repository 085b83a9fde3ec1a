#include "monitor/MqttOutlet.h"

#include "alert/AlertRules.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "device/BoardSource.h"
#include "monitor/Monitor.h"
#include "mqtt/MqttClient.h"
#include "mqtt/MqttSettings.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTimer>
#include <iterator>

namespace {

// The readings go out on a change, and at least this often: not every poll.
constexpr qint64 ReadingEveryMs = 60000;
// Home Assistant just started: the configs go again after a short wait, spread so that many
// devices do not answer at once.
constexpr int RediscoverMinMs = 1000;
constexpr int RediscoverMaxMs = 5000;
constexpr qint64 MaxNodeIdFileSize = 64;

QByteArray onOff(bool on)
{
    return on ? "ON" : "OFF";
}

// The board is off while the no-reply rule's condition holds (its seconds when it is on, the
// program's silence otherwise).
qint64 silentAfterMs(const Settings& s)
{
    const auto seconds = parseLimit(s.text(Settings::NoReplySec));
    if (s.flag(Settings::NoReply) && seconds && *seconds > 0)
        return qint64(*seconds) * 1000;
    return BoardSource::SilentAfterMs;
}

QString keptNodeId(const QString& path)
{
    const AtomicFile::Read file = AtomicFile::read(path, MaxNodeIdFileSize);
    return file.error.isEmpty() ? QString::fromLatin1(file.bytes).trimmed() : QString();
}

} // namespace

MqttOutlet::MqttOutlet(Monitor& monitor, const QString& nodeIdPath, QObject* parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_client(new MqttClient(this))
    , m_nodeIdPath(nodeIdPath)
{
    Settings& settings = monitor.settings();
    m_nodeId = settings.text(Settings::MqttNodeId).trimmed();
    connect(m_client, &MqttClient::connected, this, &MqttOutlet::connected);
    connect(m_client, &MqttClient::stateChanged, this, &MqttOutlet::connectionChanged);
    connect(m_client, &MqttClient::message, this, &MqttOutlet::received);
    connect(&monitor, &Monitor::replyReceived, this, [this] { publishReading(false); });
    connect(&monitor, &Monitor::polled, this, &MqttOutlet::publishBoard);
    connect(&monitor, &Monitor::firedChanged, this, &MqttOutlet::publishAlerts);
    connect(&settings, &Settings::changed, this, &MqttOutlet::followSettings);
    connectToBroker();
}

MqttOutlet::~MqttOutlet() = default;

bool MqttOutlet::isConnected() const
{
    return m_client->isConnected();
}

void MqttOutlet::take(const AlertEvent&)
{
    // The alert states follow the fired rules themselves (firedChanged).
}

void MqttOutlet::close()
{
    m_client->closeCleanly(MqttDiscovery::topic(m_nodeId, QStringLiteral("status")), "offline");
}

MqttDiscovery::Device MqttOutlet::device() const
{
    const Settings& s = m_monitor.settings();
    return {m_nodeId, s.text(Settings::MqttPrefix).trimmed(),
            s.text(Settings::BoardAddress).trimmed() + u':' + s.text(Settings::BoardPort).trimmed(),
            QCoreApplication::applicationVersion(), s.flag(Settings::MqttCommands)};
}

void MqttOutlet::followSettings(int key)
{
    switch (key) {
    case Settings::MqttBroker:
    case Settings::MqttUser:
    case Settings::MqttCaFile:
    case Settings::MqttPassword:
        connectToBroker();
        return;
    case Settings::MqttNodeId: {
        const QString fresh = m_monitor.settings().text(Settings::MqttNodeId).trimmed();
        if (fresh.isEmpty() || fresh == m_nodeId)
            return;
        // The old node's configs go first, so that Home Assistant keeps no ghost device.
        if (isConnected()) {
            for (const QString& topic : MqttDiscovery::configTopics(device()))
                m_client->publish(topic, QByteArray(), true);
            publish(QStringLiteral("status"), "offline");
        }
        m_nodeId = fresh;
        connectToBroker();
        return;
    }
    case Settings::MqttPrefix:
    case Settings::MqttCommands:
    case Settings::BoardAddress:
    case Settings::BoardPort:
        if (isConnected())
            publishDiscovery();
        return;
    default:
        return;
    }
}

void MqttOutlet::ensureNodeId()
{
    if (!m_nodeId.isEmpty())
        return;
    m_nodeId = keptNodeId(m_nodeIdPath);
    if (m_nodeId.isEmpty()) {
        m_nodeId = MqttDiscovery::newNodeId();
        QString ignored; // made again next time, and said by the new configs
        AtomicFile::replace(m_nodeIdPath, m_nodeId.toLatin1() + '\n', &ignored);
    }
    m_monitor.settings().setValue(Settings::MqttNodeId, m_nodeId);
}

void MqttOutlet::connectToBroker()
{
    // Made once, with the first broker: the window saves it, the service keeps it beside its
    // state.
    if (!m_monitor.settings().text(Settings::MqttBroker).trimmed().isEmpty())
        ensureNodeId();
    const Settings& s = m_monitor.settings();
    MqttSettings settings;
    settings.broker = s.text(Settings::MqttBroker).trimmed();
    settings.user = s.text(Settings::MqttUser);
    settings.password = s.text(Settings::MqttPassword);
    settings.caFile = s.text(Settings::MqttCaFile);
    settings.clientId = m_nodeId;
    settings.willTopic = MqttDiscovery::topic(m_nodeId, QStringLiteral("status"));
    settings.willPayload = "offline";
    m_sent = {};
    m_client->setSettings(settings);
}

void MqttOutlet::connected()
{
    const QString node = m_nodeId;
    m_client->subscribe(m_monitor.settings().text(Settings::MqttPrefix).trimmed() +
                        QStringLiteral("/status"));
    m_client->subscribe(MqttDiscovery::topic(node, QStringLiteral("command/+")));
    publish(QStringLiteral("status"), "online");
    publishDiscovery();
    publishStates(true);
}

void MqttOutlet::publishDiscovery()
{
    m_discoveryDue = false;
    for (const MqttDiscovery::Config& config : MqttDiscovery::configs(device()))
        m_client->publish(config.topic, config.payload, true);
    // Buttons turned off: their configs go.
    if (!m_monitor.settings().flag(Settings::MqttCommands)) {
        MqttDiscovery::Device all = device();
        all.commands = true;
        const QList<MqttDiscovery::Config> with = MqttDiscovery::configs(all);
        for (qsizetype i = MqttDiscovery::configs(device()).size(); i < with.size(); ++i)
            m_client->publish(with[i].topic, QByteArray(), true);
    }
}

void MqttOutlet::publishStates(bool evenUnchanged)
{
    if (evenUnchanged)
        m_sent = {};
    publishBoard();
    publishReading(true);
    publishAlerts();
}

void MqttOutlet::publish(const QString& leaf, const QByteArray& payload)
{
    m_client->publish(MqttDiscovery::topic(m_nodeId, leaf), payload, true);
}

void MqttOutlet::publishReading(bool evenUnchanged)
{
    const DeviceReadings& r = m_monitor.readings();
    if (!isConnected() || !r.HaveReply)
        return;
    const qint64 now = m_monitor.clock().steadyMs();
    const bool due =
        evenUnchanged || m_sent.readingMs < 0 || now - m_sent.readingMs >= ReadingEveryMs;
    const QByteArray temperature = QByteArray::number(double(r.NowTempValue), 'g', 6);
    const QByteArray rb1 = (r.PortBits & 0x02) ? "H" : "L";
    const QByteArray rb0 = (r.PortBits & 0x01) ? "H" : "L";
    const std::pair<QByteArray*, std::pair<const char*, QByteArray>> states[] = {
        {&m_sent.temperature, {"temperature", temperature}},
        {&m_sent.rb1, {"rb1", rb1}},
        {&m_sent.rb0, {"rb0", rb0}},
    };
    for (const auto& [sent, state] : states) {
        if (due || *sent != state.second) {
            publish(QString::fromLatin1(state.first), state.second);
            *sent = state.second;
        }
    }
    if (due)
        m_sent.readingMs = now;
}

void MqttOutlet::publishBoard()
{
    if (!isConnected())
        return;
    const QByteArray board =
        m_monitor.msSinceLastReply() >= silentAfterMs(m_monitor.settings()) ? "offline" : "online";
    if (board != m_sent.board) {
        publish(QStringLiteral("board"), board);
        m_sent.board = board;
    }
}

void MqttOutlet::publishAlerts()
{
    if (!isConnected())
        return;
    const quint8 fired = m_monitor.fired();
    const quint8 changed = m_sent.fired ? quint8(fired ^ *m_sent.fired) : quint8(0x7F);
    for (int i = 0; i < int(std::size(AlertRuleNames)); ++i) {
        if (changed & (1 << i))
            publish(QStringLiteral("alert/") + QLatin1String(AlertRuleNames[i]),
                    onOff(fired & (1 << i)));
    }
    if (!m_sent.fired || bool(*m_sent.fired) != bool(fired))
        publish(QStringLiteral("alert"), onOff(fired));
    m_sent.fired = fired;
}

void MqttOutlet::received(const QString& topic, const QByteArray& payload, bool retained)
{
    const Settings& s = m_monitor.settings();
    if (topic == s.text(Settings::MqttPrefix).trimmed() + QStringLiteral("/status")) {
        if (payload == "online" && !std::exchange(m_discoveryDue, true))
            QTimer::singleShot(
                QRandomGenerator::global()->bounded(RediscoverMinMs, RediscoverMaxMs), this,
                [this] {
                    if (m_discoveryDue && isConnected())
                        publishDiscovery();
                });
        return;
    }
    const auto command = MqttDiscovery::command(m_nodeId, topic, payload);
    QString ignored;
    if (!s.flag(Settings::MqttCommands))
        ignored = QStringLiteral("commands are off");
    else if (retained)
        ignored = QStringLiteral("a retained message is no press");
    else if (!command)
        ignored = QStringLiteral("not a button's press");
    if (!ignored.isEmpty()) {
        emit note(QStringLiteral("MQTT: %1 ignored (%2)").arg(topic, ignored));
        return;
    }
    press(*command, topic);
}

void MqttOutlet::press(MqttDiscovery::Command command, const QString& topic)
{
    emit note(QStringLiteral("MQTT: %1 pressed").arg(topic));
    switch (command) {
    case MqttDiscovery::Command::Reset:
        m_monitor.SendFlagClr();
        return;
    case MqttDiscovery::Command::Acknowledge:
        m_monitor.acknowledge();
        return;
    case MqttDiscovery::Command::Mute:
        m_monitor.muteUntil(m_monitor.clock().nowMs() + 3600000);
        return;
    case MqttDiscovery::Command::Unmute:
        m_monitor.muteUntil(0);
        return;
    }
}
