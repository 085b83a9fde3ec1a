#include "mqtt/MqttClient.h"

#include "mqtt/MqttAddress.h"
#include "mqtt/MqttLink.h"
#include "mqtt/MqttSession.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <mosquitto.h>
#include <mutex>

namespace {
constexpr int kEndWaitMs = MqttSession::kCloseTimeoutMs + 500;

QString offText()
{
    return QStringLiteral("no MQTT broker set");
}
} // namespace

MqttClient::MqttClient(QObject* parent)
    : QObject(parent)
    , m_why(offText())
{
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    m_link = std::make_shared<MqttLink>(
        [this] { QMetaObject::invokeMethod(this, &MqttClient::deliver, Qt::QueuedConnection); });
}

MqttClient::~MqttClient()
{
    m_link->detach();
    retire();
    const QDeadlineTimer deadline(kEndWaitMs);
    for (const auto& session : m_ending) {
        if (!session->waitEnded(int(deadline.remainingTime())))
            break; // let go: its thread ends on its own
    }
}

void MqttClient::setSettings(const MqttSettings& settings)
{
    retire();
    ++m_sessionId;
    if (settings.broker.trimmed().isEmpty()) {
        setState(false, offText());
        return;
    }
    QString error;
    const auto address = MqttAddress::parse(settings.broker, &error);
    if (!address) {
        setState(false, error);
        return;
    }
    m_session = std::make_shared<MqttSession>(m_sessionId, settings, *address, m_link);
    m_session->start();
    if (m_connected)
        setState(false, QStringLiteral("connecting with new settings"));
}

void MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!m_session || !m_session->publish(topic, payload, retain))
        ++m_droppedPublishes;
}

void MqttClient::subscribe(const QString& topicFilter)
{
    m_link->addFilter(topicFilter);
    if (m_session)
        m_session->subscribe(topicFilter);
}

void MqttClient::closeCleanly(const QString& topic, const QByteArray& payload)
{
    if (!m_session) {
        QMetaObject::invokeMethod(this, &MqttClient::closed, Qt::QueuedConnection);
        return;
    }
    m_session->close(topic, payload);
    m_ending.push_back(std::move(m_session));
    m_session.reset();
}

std::uint64_t MqttClient::droppedMessages() const
{
    return m_link->dropped();
}

void MqttClient::deliver()
{
    for (MqttEvent& event : m_link->takeAll()) {
        if (event.kind == MqttEvent::Kind::Closed && event.session != m_sessionId) {
            emit closed(); // a close asked for before the settings changed
            continue;
        }
        if (event.session != m_sessionId)
            continue;
        switch (event.kind) {
        case MqttEvent::Kind::Up:
            setState(true, {});
            emit connected();
            break;
        case MqttEvent::Kind::Down:
            setState(false, event.text);
            break;
        case MqttEvent::Kind::Message:
            emit message(event.text, event.payload, event.retained);
            break;
        case MqttEvent::Kind::Closed:
            setState(false, QStringLiteral("closed"));
            emit closed();
            break;
        }
    }
}

void MqttClient::setState(bool up, const QString& why)
{
    if (up == m_connected && why == m_why)
        return;
    m_connected = up;
    m_why = why;
    emit stateChanged(up, why);
}

void MqttClient::retire()
{
    std::erase_if(m_ending, [](const auto& session) { return session->waitEnded(0); });
    if (m_session) {
        m_session->stop();
        m_ending.push_back(std::move(m_session));
        m_session.reset();
    }
}
