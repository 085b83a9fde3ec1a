// The MQTT client against Debian's mosquitto on loopback: logging in plain and over TLS, the
// retained will and the clean close, a broker that restarts, one that never answers, and broker
// texts that cannot be used.
#include "mqtt/MqttAddress.h"
#include "mqtt/MqttClient.h"
#include "support/ChildProcess.h"
#include "support/EventWait.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"
#include "support/TestCertificate.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <optional>

namespace {

// Another client publishes, as Home Assistant presses a button.
bool publishFromOutside(const MqttBroker& broker, const QString& topic, const QByteArray& payload)
{
    QProcess pub;
    pub.setProcessChannelMode(QProcess::ForwardedChannels);
    pub.start(QStringLiteral("mosquitto_pub"),
              broker.clientArguments() +
                  QStringList{QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-t"),
                              topic, QStringLiteral("-m"), QString::fromUtf8(payload)});
    EventWait::until([&] { return pub.state() == QProcess::NotRunning; });
    return pub.exitStatus() == QProcess::NormalExit && pub.exitCode() == 0;
}

QList<QByteArray> payloadsOn(const QList<MqttSubscriber::Message>& messages, const QString& topic)
{
    QList<QByteArray> payloads;
    for (const auto& message : messages) {
        if (message.topic == topic)
            payloads.append(message.payload);
    }
    return payloads;
}

MqttSettings settingsFor(const QString& broker)
{
    MqttSettings settings;
    settings.broker = broker;
    return settings;
}

} // namespace

class TestMqttClient : public QObject {
    Q_OBJECT
private slots:
    void brokerText_data();
    void brokerText();
    void connects_data();
    void connects();
    void statusWhenTheLinkEnds_data();
    void statusWhenTheLinkEnds();
    void reconnectsAfterBrokerRestart();
    void ignoresOversizedMessages();
    void silentBrokerHoldsNothing();
};

void TestMqttClient::brokerText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host"); // empty: refused
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("why");

    QTest::newRow("default port") << "mqtt://broker.lan"
                                  << "broker.lan" << 1883 << false << "";
    QTest::newRow("TLS default port") << "mqtts://broker.lan/"
                                      << "broker.lan" << 8883 << true << "";
    QTest::newRow("scheme in capitals") << " MQTT://10.0.0.2:1884 "
                                        << "10.0.0.2" << 1884 << false << "";
    QTest::newRow("IPv6") << "mqtts://[::1]:8884"
                          << "::1" << 8884 << true << "";
    QTest::newRow("other scheme") << "ftp://x"
                                  << "" << 0 << false << "unknown scheme \"ftp\"";
    QTest::newRow("no scheme") << "broker.lan:1883"
                               << "" << 0 << false << "must start with";
    QTest::newRow("no host") << "mqtt://"
                             << "" << 0 << false << "no host";
    QTest::newRow("port too large") << "mqtt://x:65536"
                                    << "" << 0 << false << "1 to 65535";
    QTest::newRow("port zero") << "mqtt://x:0"
                               << "" << 0 << false << "1 to 65535";
    QTest::newRow("port not a number") << "mqtt://x:1e3"
                                       << "" << 0 << false << "1 to 65535";
    QTest::newRow("colon, no port") << "mqtt://x:"
                                    << "" << 0 << false << "without a port";
    QTest::newRow("path") << "mqtt://x/ha"
                          << "" << 0 << false << "only a host and a port";
    QTest::newRow("credentials") << "mqtt://u:p@x"
                                 << "" << 0 << false << "only a host and a port";
    QTest::newRow("bare IPv6") << "mqtt://::1:1883"
                               << "" << 0 << false << "in brackets";
}

void TestMqttClient::brokerText()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, tls);
    QFETCH(QString, why);

    QString error;
    const auto address = MqttAddress::parse(text, &error);
    QCOMPARE(address.has_value(), !host.isEmpty());
    if (address) {
        QCOMPARE(address->host, host);
        QCOMPARE(address->port, port);
        QCOMPARE(address->tls, tls);
        return;
    }
    QVERIFY2(error.contains(why), qPrintable(error));
    // The client says the same and stays off.
    MqttClient client;
    QSignalSpy states(&client, &MqttClient::stateChanged);
    client.setSettings(settingsFor(text));
    QCOMPARE(states.size(), 1);
    QCOMPARE(states[0][0].toBool(), false);
    QCOMPARE(states[0][1].toString(), error);
}

void TestMqttClient::connects_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("trustTheCertificate");
    QTest::addColumn<QString>("password"); // empty: the broker takes anyone
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("refusal"); // empty: connects
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<QString>("certifiedNames"); // empty: loopback's

    const QString loopback;
    QTest::newRow("plain") << false << false << QString() << QString() << QString() << false
                           << loopback;
    QTest::newRow("TLS, CA file") << true << true << QString() << QString() << QString() << false
                                  << loopback;
    QTest::newRow("password") << false << false << "s3cret"
                              << "s3cret" << QString() << false << loopback;
    QTest::newRow("wrong password")
        << false << false << "s3cret"
        << "guess"
        << "the broker refused: Connection Refused: not authorised" << false << loopback;
    QTest::newRow("TLS, system CAs only") << true << false << QString() << QString()
                                          << "certificate verify failed" << false << loopback;
    QTest::newRow("TLS, certificate for another host")
        << true << true << QString() << QString() << "certificate verify failed" << false
        << "DNS:broker.example";
    QTest::newRow("nothing listens")
        << false << false << QString() << QString() << "Connection refused" << true << loopback;
}

void TestMqttClient::connects()
{
    QFETCH(bool, tls);
    QFETCH(bool, trustTheCertificate);
    QFETCH(QString, password);
    QFETCH(QString, given);
    QFETCH(QString, refusal);
    QFETCH(bool, stopped);
    QFETCH(QString, certifiedNames);

    std::optional<TestCertificate> elsewhere;
    if (!certifiedNames.isEmpty())
        elsewhere.emplace(certifiedNames);
    const TestCertificate& certificate = elsewhere ? *elsewhere : TestCertificate::shared();
    MqttBroker::Options options;
    if (tls)
        options.certificate = &certificate;
    if (!password.isEmpty()) {
        options.allowAnonymous = false;
        options.user = QStringLiteral("zarvik");
        options.password = password;
    }
    MqttBroker broker(options);
    QVERIFY2(broker.isListening(), qPrintable(broker.errorString()));
    if (stopped)
        broker.stop();

    MqttClient client;
    QSignalSpy states(&client, &MqttClient::stateChanged);
    QSignalSpy connected(&client, &MqttClient::connected);
    MqttSettings settings = settingsFor(broker.url());
    if (trustTheCertificate)
        settings.caFile = certificate.certPath();
    if (!given.isEmpty()) {
        settings.user = QStringLiteral("zarvik");
        settings.password = given;
    }
    client.setSettings(settings);
    QVERIFY(EventWait::until([&] { return !states.isEmpty(); }));

    if (!refusal.isEmpty()) {
        QCOMPARE(states[0][0].toBool(), false);
        QVERIFY2(states[0][1].toString().contains(refusal), qPrintable(states[0][1].toString()));
        QVERIFY(!client.isConnected());
        QCOMPARE(connected.size(), 0);
        if (given.isEmpty())
            return;
        // Tried again with the right password, nothing but the one refusal came before.
        settings.password = password;
        client.setSettings(settings);
        QVERIFY(EventWait::until([&] { return connected.size() == 1; }));
        QCOMPARE(states.size(), 2);
        return;
    }
    QCOMPARE(states[0][0].toBool(), true);
    QVERIFY(EventWait::until([&] { return connected.size() == 1; }));
    QVERIFY(client.isConnected());

    client.publish(QStringLiteral("zarvik/state/temperature"), "21.5", true);
    MqttSubscriber subscriber(broker, QStringLiteral("zarvik/#"));
    QVERIFY2(subscriber.isSubscribed(), qPrintable(subscriber.errorString()));
    const auto seen = subscriber.waitFor(QStringLiteral("zarvik/state/temperature"));
    QVERIFY(seen);
    QCOMPARE(seen->payload, QByteArray("21.5"));
    QVERIFY(seen->retained);
}

void TestMqttClient::statusWhenTheLinkEnds_data()
{
    QTest::addColumn<bool>("killed");
    QTest::addColumn<QByteArray>("status"); // what the broker keeps after
    QTest::addColumn<QString>("brokerSaw");

    // The broker hears the socket close without DISCONNECT: it publishes the will.
    QTest::newRow("killed") << true << QByteArray("lost") << "closed its connection";
    // DISCONNECT after the status: the will is dropped.
    QTest::newRow("closed cleanly") << false << QByteArray("offline") << "disconnected.";
}

void TestMqttClient::statusWhenTheLinkEnds()
{
    QFETCH(bool, killed);
    QFETCH(QByteArray, status);
    QFETCH(QString, brokerSaw);

    MqttBroker broker;
    QVERIFY2(broker.isListening(), qPrintable(broker.errorString()));
    const QString topic = QStringLiteral("zarvik/status");
    MqttSubscriber watcher(broker, topic);
    QVERIFY2(watcher.isSubscribed(), qPrintable(watcher.errorString()));

    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    dieWithParent(peer);
    peer.start(qEnvironmentVariable("ZARVIK_MQTT_PEER"),
               {broker.url(), QStringLiteral("zarvik-peer"), topic});
    QByteArray said;
    const auto saidLine = [&](const char* line) {
        return EventWait::until([&] {
                   said += peer.readAllStandardOutput();
                   return said.contains(line) || peer.state() == QProcess::NotRunning;
               }) &&
               said.contains(line);
    };
    QVERIFY2(saidLine("connected"), said.constData());
    QVERIFY(watcher.waitFor(topic));

    if (killed) {
        peer.kill();
    } else {
        peer.write("close\n");
        QVERIFY2(saidLine("closed"), said.constData());
    }
    QVERIFY(EventWait::until([&] { return payloadsOn(watcher.messages(), topic).size() == 2; }));
    QCOMPARE(payloadsOn(watcher.messages(), topic), (QList<QByteArray>{"online", status}));
    QVERIFY(EventWait::until([&] { return broker.log().contains(brokerSaw); }));

    // Kept for whoever comes later.
    MqttSubscriber later(broker, topic);
    const auto kept = later.waitFor(topic);
    QVERIFY(kept);
    QCOMPARE(kept->payload, status);
    QVERIFY(kept->retained);
    peer.waitForFinished(5000);
}

void TestMqttClient::reconnectsAfterBrokerRestart()
{
    MqttBroker broker;
    QVERIFY2(broker.isListening(), qPrintable(broker.errorString()));
    MqttClient client;
    QSignalSpy connected(&client, &MqttClient::connected);
    QSignalSpy states(&client, &MqttClient::stateChanged);
    QSignalSpy messages(&client, &MqttClient::message);
    client.subscribe(QStringLiteral("zarvik/button/#"));
    client.setSettings(settingsFor(broker.url()));
    QVERIFY(EventWait::until([&] { return connected.size() == 1; }));

    broker.kill();
    QVERIFY(EventWait::until([&] { return !client.isConnected(); }));
    QCOMPARE(states.last()[0].toBool(), false);
    // Nothing piles up while the broker is away.
    for (int i = 0; i < 500; ++i)
        client.publish(QStringLiteral("zarvik/queued"), QByteArray::number(i), false);
    QCOMPARE(client.droppedPublishes(), 500u);

    QVERIFY2(broker.start(), qPrintable(broker.errorString()));
    QVERIFY(EventWait::until([&] { return connected.size() == 2; }, 20000));
    QVERIFY(client.isConnected());
    QCOMPARE(states.last()[0].toBool(), true);

    // The subscription was renewed: a press after the restart arrives.
    QVERIFY(publishFromOutside(broker, QStringLiteral("zarvik/button/reset"), "PRESS"));
    QVERIFY(EventWait::until([&] { return messages.size() == 1; }));
    QCOMPARE(messages[0][0].toString(), QStringLiteral("zarvik/button/reset"));
    QCOMPARE(messages[0][1].toByteArray(), QByteArray("PRESS"));
    QCOMPARE(messages[0][2].toBool(), false);

    MqttSubscriber subscriber(broker, QStringLiteral("zarvik/#"));
    QVERIFY2(subscriber.isSubscribed(), qPrintable(subscriber.errorString()));
    client.publish(QStringLiteral("zarvik/after"), "1", false);
    QVERIFY(subscriber.waitFor(QStringLiteral("zarvik/after")));
    QVERIFY(payloadsOn(subscriber.messages(), QStringLiteral("zarvik/queued")).isEmpty());
}

void TestMqttClient::ignoresOversizedMessages()
{
    MqttBroker broker;
    QVERIFY2(broker.isListening(), qPrintable(broker.errorString()));
    MqttClient client;
    QSignalSpy connected(&client, &MqttClient::connected);
    QSignalSpy messages(&client, &MqttClient::message);
    client.setSettings(settingsFor(broker.url()));
    QVERIFY(EventWait::until([&] { return connected.size() == 1; }));
    client.subscribe(QStringLiteral("zarvik/in"));
    // Subscribed once a message published by the client itself comes back.
    QVERIFY(EventWait::until([&] {
        client.publish(QStringLiteral("zarvik/in"), "ready", false);
        return !messages.isEmpty();
    }));

    QVERIFY(publishFromOutside(broker, QStringLiteral("zarvik/in"), QByteArray(5000, 'x')));
    QVERIFY(publishFromOutside(broker, QStringLiteral("zarvik/in"), "small"));
    QVERIFY(EventWait::until([&] { return messages.last()[1].toByteArray() == "small"; }));
    for (const auto& message : std::as_const(messages))
        QVERIFY(message[1].toByteArray().size() < 5000);
    QCOMPARE(client.droppedMessages(), 1u);
}

void TestMqttClient::silentBrokerHoldsNothing()
{
    // Takes connections and never says a word.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    std::unique_ptr<QTcpSocket> accepted;
    connect(&silent, &QTcpServer::newConnection,
            [&] { accepted.reset(silent.nextPendingConnection()); });

    auto client = std::make_unique<MqttClient>();
    QSignalSpy states(client.get(), &MqttClient::stateChanged);
    client->setSettings(
        settingsFor(QStringLiteral("mqtt://127.0.0.1:%1").arg(silent.serverPort())));
    QVERIFY(EventWait::until([&] { return accepted != nullptr; }));

    // The Qt thread goes on while the client waits for its CONNACK.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(1);
    QVERIFY(EventWait::until([&] { return ticks >= 20; }));
    QVERIFY(!client->isConnected());
    QVERIFY(states.isEmpty());
    client->publish(QStringLiteral("zarvik/state"), "x", true);
    QCOMPARE(client->droppedPublishes(), 1u);

    // Gone at once, its connection with it.
    client.reset();
    QVERIFY(
        EventWait::until([&] { return accepted->state() == QAbstractSocket::UnconnectedState; }));
}

QTEST_GUILESS_MAIN(TestMqttClient)
#include "tst_mqttclient.moc"
