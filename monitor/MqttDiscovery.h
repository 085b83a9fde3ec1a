#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// What Home Assistant (and openHAB, Domoticz) reads to find the board by itself: one retained
// config per entity under "<prefix>/<component>/<unique_id>/config", all naming one device, with
// the states under "zarvik/<node>/". Pure: the outlet publishes what this returns.
namespace MqttDiscovery {

struct Device {
    QString nodeId;        // "zarvik_0a1b2c3d"
    QString prefix;        // "homeassistant"
    QString board;         // "192.168.1.200:10001"
    QString version;       // the program's
    bool commands = false; // buttons offered
};

// A node id made once: "zarvik_" and 8 random hex digits.
QString newNodeId();

// "zarvik/<node>/<leaf>": "status", "board", "temperature", "rb1", "rb0", "alert",
// "alert/<rule>", "command/<button>".
QString topic(const QString& nodeId, const QString& leaf);

struct Config {
    QString topic;
    QByteArray payload; // JSON
};
// Every entity's config; buttons only with commands on.
QList<Config> configs(const Device& device);
// Every config topic the node may have had, buttons included: emptied when the node changes.
QStringList configTopics(const Device& device);

// What a button press asks for.
enum class Command { Reset, Acknowledge, Mute, Unmute };
// The command a message on `topic` with `payload` presses, if it is one of the node's buttons
// with its press payload.
std::optional<Command> command(const QString& nodeId, const QString& topic,
                               const QByteArray& payload);
// "PRESS": what each button sends.
inline constexpr const char* PressPayload = "PRESS";

} // namespace MqttDiscovery
