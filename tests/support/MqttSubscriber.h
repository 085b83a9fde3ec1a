#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <optional>

class MqttBroker;

// Another client of a test broker: mosquitto_sub on a topic filter, keeping every message it
// receives (retained ones first, as the broker sends them on subscribing).
class MqttSubscriber {
public:
    struct Message {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };

    // Starts mosquitto_sub and waits (bounded) until the broker confirmed the subscription.
    MqttSubscriber(const MqttBroker& broker, const QString& filter);
    ~MqttSubscriber();
    MqttSubscriber(const MqttSubscriber&) = delete;
    MqttSubscriber& operator=(const MqttSubscriber&) = delete;

    bool isSubscribed() const { return m_subscribed; }
    QString errorString() const { return m_error; }

    QList<Message> messages();
    // The last message on `topic` within the time; nothing on timeout.
    std::optional<Message> waitFor(const QString& topic, int timeoutMs = 10000);

private:
    void read();

    QProcess m_process;
    QByteArray m_pending;
    QList<Message> m_messages;
    QByteArray m_output;
    bool m_subscribed = false;
    QString m_error;
};
