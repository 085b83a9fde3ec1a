#pragma once

#include <QString>
#include <optional>

// Where an MQTT broker is: "mqtt://host[:port]" (1883) or "mqtts://host[:port]" (8883). An
// IPv6 address is written in brackets, as in a URL.
struct MqttAddress {
    QString host; // without brackets
    quint16 port = 0;
    bool tls = false;

    // The address, or nothing with `error` (when given) saying what is wrong with the text.
    static std::optional<MqttAddress> parse(const QString& text, QString* error = nullptr);
};
