#include "monitor/MqttDiscovery.h"

#include "alert/AlertRules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <iterator>

namespace MqttDiscovery {

namespace {

// The rules' entity names, in AlertRule bit order.
const char* const RuleTitles[] = {"Upper limit", "Lower limit", "RB1 low", "RB1 high",
                                  "RB0 low",     "RB0 high",    "No reply"};
static_assert(std::size(RuleTitles) == std::size(AlertRuleNames));

struct Button {
    Command command;
    const char* id;
    const char* name;
};
const Button Buttons[] = {
    {Command::Reset, "reset", "Reset"},
    {Command::Acknowledge, "acknowledge", "Acknowledge"},
    {Command::Mute, "mute", "Mute for 1 hour"},
    {Command::Unmute, "unmute", "End mute"},
};

// Readings are there only while the program and the board both are; alerts and buttons while the
// program is, so that a no-reply alert does not vanish as it fires.
enum class Needs { Program, ProgramAndBoard };

QJsonObject entity(const Device& device, const QString& component, const QString& id,
                   const QString& name, Needs needs)
{
    const QString uniqueId = device.nodeId + u'_' + id;
    QJsonArray availability{QJsonObject{{"topic", topic(device.nodeId, QStringLiteral("status"))}}};
    if (needs == Needs::ProgramAndBoard)
        availability.append(QJsonObject{{"topic", topic(device.nodeId, QStringLiteral("board"))}});
    return QJsonObject{
        {"name", name},
        {"unique_id", uniqueId},
        {"default_entity_id", component + u'.' + uniqueId},
        {"availability", availability},
        {"availability_mode", "all"},
        {"payload_available", "online"},
        {"payload_not_available", "offline"},
        {"device", QJsonObject{{"identifiers", QJsonArray{device.nodeId}},
                               {"name", QStringLiteral("ZARVIK %1").arg(device.board)},
                               {"model", "ZARVIK sensor board"},
                               {"sw_version", device.version}}},
        {"origin", QJsonObject{{"name", "ZARVIK Mail"}, {"sw_version", device.version}}},
    };
}

Config config(const Device& device, const QString& component, const QString& id,
              const QJsonObject& object)
{
    return {QStringLiteral("%1/%2/%3_%4/config").arg(device.prefix, component, device.nodeId, id),
            QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

QJsonObject binary(QJsonObject object, const QString& stateTopic, const char* on, const char* off)
{
    object.insert("state_topic", stateTopic);
    object.insert("payload_on", on);
    object.insert("payload_off", off);
    return object;
}

} // namespace

QString newNodeId()
{
    return QStringLiteral("zarvik_%1")
        .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
}

QString topic(const QString& nodeId, const QString& leaf)
{
    return QStringLiteral("zarvik/%1/%2").arg(nodeId, leaf);
}

QList<Config> configs(const Device& device)
{
    const QString node = device.nodeId;
    const QString sensor = QStringLiteral("sensor");
    const QString binarySensor = QStringLiteral("binary_sensor");
    QList<Config> all;

    QJsonObject temperature = entity(device, sensor, QStringLiteral("temperature"),
                                     QStringLiteral("Temperature"), Needs::ProgramAndBoard);
    temperature.insert("state_topic", topic(node, QStringLiteral("temperature")));
    temperature.insert("device_class", "temperature");
    temperature.insert("unit_of_measurement", QStringLiteral("\u00B0C"));
    temperature.insert("state_class", "measurement");
    temperature.insert("suggested_display_precision", 1);
    all << config(device, sensor, QStringLiteral("temperature"), temperature);

    for (const char* input : {"rb1", "rb0"}) {
        const QString id = QString::fromLatin1(input);
        all << config(device, binarySensor, id,
                      binary(entity(device, binarySensor, id, id.toUpper(), Needs::ProgramAndBoard),
                             topic(node, id), "H", "L"));
    }

    QJsonObject link = binary(entity(device, binarySensor, QStringLiteral("board"),
                                     QStringLiteral("Board link"), Needs::Program),
                              topic(node, QStringLiteral("board")), "online", "offline");
    link.insert("device_class", "connectivity");
    link.insert("entity_category", "diagnostic");
    all << config(device, binarySensor, QStringLiteral("board"), link);

    const auto problem = [&](const QString& id, const QString& name, const QString& stateTopic) {
        QJsonObject object =
            binary(entity(device, binarySensor, id, name, Needs::Program), stateTopic, "ON", "OFF");
        object.insert("device_class", "problem");
        all << config(device, binarySensor, id, object);
    };
    problem(QStringLiteral("alert"), QStringLiteral("Alert"), topic(node, QStringLiteral("alert")));
    for (int i = 0; i < int(std::size(AlertRuleNames)); ++i) {
        const QString rule = QString::fromLatin1(AlertRuleNames[i]);
        problem(QStringLiteral("alert_") + rule, QString::fromLatin1(RuleTitles[i]),
                topic(node, QStringLiteral("alert/") + rule));
    }

    if (device.commands) {
        const QString component = QStringLiteral("button");
        for (const Button& button : Buttons) {
            const QString id = QString::fromLatin1(button.id);
            QJsonObject object =
                entity(device, component, id, QString::fromLatin1(button.name), Needs::Program);
            object.insert("command_topic", topic(node, QStringLiteral("command/") + id));
            object.insert("payload_press", PressPayload);
            all << config(device, component, id, object);
        }
    }
    return all;
}

QStringList configTopics(const Device& device)
{
    Device every = device;
    every.commands = true;
    QStringList topics;
    for (const Config& c : configs(every))
        topics << c.topic;
    return topics;
}

std::optional<Command> command(const QString& nodeId, const QString& topicName,
                               const QByteArray& payload)
{
    if (payload != PressPayload)
        return std::nullopt;
    for (const Button& button : Buttons) {
        if (topicName == topic(nodeId, QStringLiteral("command/") + QLatin1String(button.id)))
            return button.command;
    }
    return std::nullopt;
}

} // namespace MqttDiscovery
