#pragma once

#include "mqtt/MqttSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class MqttLink;
class MqttSession;

// A connection to one MQTT broker that keeps itself up: it connects in the background, tries
// again after growing waits (up to a minute), renews its subscriptions after each reconnect and
// tells the Qt thread what happened through signals. No call blocks the Qt thread for long.
class MqttClient : public QObject {
    Q_OBJECT
public:
    explicit MqttClient(QObject* parent = nullptr);
    // Waits a little for the connection to end (a close under way to finish), then lets go.
    ~MqttClient() override;

    // (Re)connects with these settings in the background; an empty broker disconnects. A broker
    // text that cannot be used is said in stateChanged(false, why).
    void setSettings(const MqttSettings& settings);
    // QoS 1. Dropped (and counted) while not connected: nothing piles up meanwhile.
    void publish(const QString& topic, const QByteArray& payload, bool retain);
    // Kept for the client's life and subscribed again after every reconnect (QoS 1).
    void subscribe(const QString& topicFilter);
    // Publishes `payload` retained, waits (bounded) for the broker to take it, then disconnects
    // without the will. The client stays off until the next setSettings(); closed() says when
    // this is over, whether or not the payload could be sent.
    void closeCleanly(const QString& topic, const QByteArray& payload);
    bool isConnected() const { return m_connected; }

    // Incoming messages ignored for their size or because the Qt thread lagged behind.
    std::uint64_t droppedMessages() const;
    // Publishes dropped while not connected or with too many awaiting the broker's answer.
    std::uint64_t droppedPublishes() const { return m_droppedPublishes; }

signals:
    // After every (re)connect, once the subscriptions are renewed.
    void connected();
    // Once per change; `why` says what is wrong while not connected.
    void stateChanged(bool connected, const QString& why);
    void message(const QString& topic, const QByteArray& payload, bool retained);
    void closed();

private:
    void deliver();
    void setState(bool up, const QString& why);
    void retire();

    std::shared_ptr<MqttLink> m_link;
    std::shared_ptr<MqttSession> m_session;
    std::vector<std::shared_ptr<MqttSession>> m_ending; // told to stop or close
    std::uint64_t m_sessionId = 0;
    bool m_connected = false;
    QString m_why;
    std::uint64_t m_droppedPublishes = 0;
};
