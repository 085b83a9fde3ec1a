// A program of its own on the MQTT client, for what a test cannot do to itself: be killed.
//   mqtt-peer <broker> <client id> <status topic>
// It publishes "online" retained on the status topic with the will "lost", prints "connected",
// and on the line "close" from its standard input closes cleanly with "offline", prints "closed"
// and ends.
#include "mqtt/MqttClient.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

namespace {
void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: mqtt-peer <broker> <client id> <status topic>\n");
        return 2;
    }
    const QString status = args[3];
    MqttClient client;
    QObject::connect(&client, &MqttClient::connected, [&] {
        client.publish(status, "online", true);
        say("connected");
    });
    QObject::connect(&client, &MqttClient::closed, [&] {
        say("closed");
        app.quit();
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[64] = {};
        if (::read(STDIN_FILENO, line, sizeof line - 1) <= 0 ||
            QByteArray(line).startsWith("close"))
            client.closeCleanly(status, "offline");
        input.setEnabled(false);
    });
    MqttSettings settings;
    settings.broker = args[1];
    settings.clientId = args[2];
    settings.willTopic = status;
    settings.willPayload = "lost";
    client.setSettings(settings);
    return app.exec();
}
