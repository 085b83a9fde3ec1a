#pragma once

#include <QByteArray>
#include <QString>

// How to reach the broker and what it keeps of us when the link dies.
struct MqttSettings {
    QString broker; // "mqtt://host[:port]" or "mqtts://host[:port]"; empty: MQTT off
    QString user;   // empty: no login
    QString password;
    QString caFile;         // mqtts: the CAs to trust; empty: the system's (/etc/ssl/certs)
    QString clientId;       // empty: one made up by the library
    QString willTopic;      // empty: no will
    QByteArray willPayload; // published retained by the broker when the link dies unclosed
};
