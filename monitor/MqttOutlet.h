#pragma once

#include "monitor/MqttDiscovery.h"
#include "monitor/Outlet.h"

#include <QObject>
#include <QString>
#include <optional>

class Monitor;
class MqttClient;

// The board in Home Assistant (and whatever reads the same messages): retained states under
// "zarvik/<node>/", discovery configs under the prefix, and, when commands are on, buttons that
// do what the window's controls do. The client runs beside the watching and never holds it up;
// states are records, so a mute does not stop them.
class MqttOutlet : public QObject, public Outlet {
    Q_OBJECT
public:
    // The node id, when the settings have none, is kept in `nodeIdPath` (the service never writes
    // its settings file) and put in the settings, where the window saves it.
    MqttOutlet(Monitor& monitor, const QString& nodeIdPath, QObject* parent = nullptr);
    ~MqttOutlet() override;

    void take(const AlertEvent& event) override;
    bool notifies() const override { return false; }
    // "offline" and a clean disconnect, without waiting on the broker.
    void close();
    bool isConnected() const;

signals:
    // Connected or not, once per change: the metrics and the lasting note follow it.
    void connectionChanged(bool connected, const QString& why);
    // A press taken or ignored, with its topic: worth a line in the log.
    void note(const QString& text);

private:
    void followSettings(int key);
    void ensureNodeId();
    void connectToBroker();
    void connected();
    void publishDiscovery();
    void publishStates(bool evenUnchanged);
    void publishReading(bool evenUnchanged);
    void publishBoard();
    void publishAlerts();
    void received(const QString& topic, const QByteArray& payload, bool retained);
    void press(MqttDiscovery::Command command, const QString& topic);
    MqttDiscovery::Device device() const;
    void publish(const QString& leaf, const QByteArray& payload);

    Monitor& m_monitor;
    MqttClient* m_client;
    QString m_nodeIdPath;
    QString m_nodeId;
    QString m_publishedNode; // whose configs the broker holds
    struct Sent {
        QByteArray temperature, rb1, rb0, board;
        qint64 readingMs = -1; // steady ms of the last reading sent
        std::optional<quint8> fired;
    } m_sent;
    bool m_discoveryDue = false;
};
