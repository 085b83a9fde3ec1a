#pragma once

#include "monitor/KeptPassword.h"

// The MQTT broker's password, kept apart from the mail's even for the same user and host.
class MqttPassword : public KeptPassword {
public:
    static constexpr PasswordKeys Keys{Settings::MqttBroker,   Settings::MqttUser,
                                       Settings::MqttPassword, "mqtt:",
                                       "mqtt-password",        "MQTT logs in"};

    explicit MqttPassword(Settings& settings, QObject* parent = nullptr)
        : KeptPassword(settings, Keys, parent)
    {
    }
};
