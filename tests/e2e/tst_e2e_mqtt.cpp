// The real zarvik-maild and Home Assistant's side of MQTT: Debian's mosquitto with a login, the
// service's states and discovery configs as another client sees them, button presses from
// outside, the will, a broker restart, Home Assistant's birth message and a broker that never
// answers.
#include "support/EventWait.h"
#include "support/MqttBroker.h"
#include "support/MqttSubscriber.h"
#include "support/ServiceProcess.h"
#include "support/SettingsFile.h"
#include "support/SimBoard.h"
#include "support/TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <vector>

namespace {

const QString Node = QStringLiteral("zarvik_0a1b2c3d");
const QString AlertLine = QStringLiteral("Alert: 温度が 30℃を超えました。");
const QString Upper30 = QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n");

QString state(const QString& leaf)
{
    return QStringLiteral("zarvik/%1/%2").arg(Node, leaf);
}

QString configTopic(const QString& component, const QString& id)
{
    return QStringLiteral("homeassistant/%1/%2_%3/config").arg(component, Node, id);
}

// Every entity the service announces with Commands=1, as component and id.
QList<std::pair<QString, QString>> entities()
{
    QList<std::pair<QString, QString>> all{{"sensor", "temperature"}};
    for (const char* id :
         {"rb1", "rb0", "board", "alert", "alert_upper", "alert_lower", "alert_rb1_low",
          "alert_rb1_high", "alert_rb0_low", "alert_rb0_high", "alert_no_reply"})
        all.emplaceBack(QStringLiteral("binary_sensor"), QString::fromLatin1(id));
    for (const char* id : {"reset", "acknowledge", "mute", "unmute"})
        all.emplaceBack(QStringLiteral("button"), QString::fromLatin1(id));
    return all;
}
const QList<std::pair<QString, QString>> Entities = entities();

QList<QByteArray> payloadsOn(MqttSubscriber& subscriber, const QString& topic)
{
    QList<QByteArray> payloads;
    for (const auto& message : subscriber.messages()) {
        if (message.topic == topic)
            payloads.append(message.payload);
    }
    return payloads;
}

// The last payload on `topic` becomes `payload`.
bool sees(MqttSubscriber& subscriber, const QString& topic, const QByteArray& payload,
          int timeoutMs = 10000)
{
    return EventWait::until(
        [&] {
            const auto last = payloadsOn(subscriber, topic);
            return !last.isEmpty() && last.last() == payload;
        },
        timeoutMs);
}

// Another client publishes, as Home Assistant does.
bool publish(const MqttBroker& broker, const QString& topic, const QByteArray& payload,
             bool retained = false)
{
    QProcess pub;
    pub.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList arguments =
        broker.clientArguments() +
        QStringList{QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-t"), topic};
    if (payload.isEmpty())
        arguments << QStringLiteral("-n");
    else
        arguments << QStringLiteral("-m") << QString::fromUtf8(payload);
    if (retained)
        arguments << QStringLiteral("-r");
    pub.start(QStringLiteral("mosquitto_pub"), arguments);
    EventWait::until([&] { return pub.state() == QProcess::NotRunning; });
    return pub.exitStatus() == QProcess::NormalExit && pub.exitCode() == 0;
}

using Daemon = ServiceProcess;

} // namespace

class TestE2eMqtt : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void discoveryStatesPressesAndWill();
    void rediscoversAfterBrokerRestartAndBirth();
    void silentBrokerCostsNoPoll();

private:
    bool start(Daemon& daemon, const QString& brokerUrl);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimBoard> m_sim;
    std::unique_ptr<MqttBroker> m_broker;
};

void TestE2eMqtt::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_sim = std::make_unique<SimBoard>();
    QVERIFY(m_dir->isValid() && m_sim->start());
    QVERIFY(m_sim->setRaw(64)); // 31.25 ℃
    // The login as an installed broker asks for it, the password from systemd's credential.
    MqttBroker::Options options;
    options.allowAnonymous = false;
    options.user = QStringLiteral("zarvik");
    options.password = QStringLiteral("mq pass ü");
    m_broker = std::make_unique<MqttBroker>(options);
    QVERIFY2(m_broker->isListening(), qPrintable(m_broker->errorString()));
}

void TestE2eMqtt::cleanup()
{
    m_broker.reset();
    m_sim.reset();
    m_dir.reset();
}

bool TestE2eMqtt::start(Daemon& daemon, const QString& brokerUrl)
{
    const QString path = writeSettingsFile(
        m_dir->path(), m_sim->port(),
        Upper30 + QStringLiteral("[Mqtt]\nBroker=%1\nUser=zarvik\nPrefix=homeassistant\nNodeId=%2\n"
                                 "Commands=1\n")
                      .arg(brokerUrl, Node));
    const QString credentials = m_dir->filePath(QStringLiteral("credentials"));
    if (!QDir().mkpath(credentials) ||
        !TestFiles::write(credentials + QStringLiteral("/mqtt-password"),
                          QStringLiteral("mq pass ü\n").toUtf8()))
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("JOURNAL_STREAM"));
    environment.remove(QStringLiteral("NOTIFY_SOCKET"));
    environment.insert(QStringLiteral("CREDENTIALS_DIRECTORY"), credentials);
    daemon.process.setProcessEnvironment(environment);
    daemon.process.start(
        qEnvironmentVariable("ZARVIK_MAILD"),
        {QStringLiteral("--settings"), path, QStringLiteral("--state"), m_dir->path()});
    return daemon.process.waitForStarted();
}

// What Home Assistant sees from one run: the configs, states that follow the board, a press that
// re-arms, a retained press that does not, and the will once the service is killed.
void TestE2eMqtt::discoveryStatesPressesAndWill()
{
    // Left retained on the broker, it would press again at every connection: only logged. (Live,
    // MQTT 3.1.1 delivers it with the retain flag cleared, as any press.)
    const QString reset = state(QStringLiteral("command/reset"));
    QVERIFY(publish(*m_broker, reset, "PRESS", true));
    MqttSubscriber ha(*m_broker, QStringLiteral("#"));
    QVERIFY2(ha.isSubscribed(), qPrintable(ha.errorString()));
    Daemon daemon;
    QVERIFY(start(daemon, m_broker->url()));
    QVERIFY(sees(ha, state(QStringLiteral("status")), "online"));
    QVERIFY(daemon.saw(QStringLiteral("MQTT: %1 ignored").arg(reset)));
    QVERIFY(daemon.saw(AlertLine));
    QVERIFY(publish(*m_broker, reset, {}, true)); // the retained press gone

    // Kept for Home Assistant starting later.
    MqttSubscriber later(*m_broker, QStringLiteral("homeassistant/#"));
    QVERIFY2(later.isSubscribed(), qPrintable(later.errorString()));
    for (const auto& [component, id] : Entities) {
        const auto config = later.waitFor(configTopic(component, id));
        QVERIFY2(config, qPrintable(configTopic(component, id)));
        QVERIFY(config->retained);
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(config->payload, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, config->payload.constData());
        QCOMPARE(object.value("unique_id").toString(), Node + u'_' + id);
        if (component == u"button") {
            QCOMPARE(object.value("command_topic").toString(), state("command/" + id));
            QCOMPARE(object.value("payload_press").toString(), QStringLiteral("PRESS"));
        } else {
            QVERIFY(!object.value("state_topic").toString().isEmpty());
        }
        if (id == u"temperature") {
            QCOMPARE(object.value("unit_of_measurement").toString(), QStringLiteral("\u00B0C"));
            QCOMPARE(object.value("device_class").toString(), QStringLiteral("temperature"));
            QCOMPARE(object.value("state_topic").toString(), state(QStringLiteral("temperature")));
        }
    }

    QVERIFY(sees(ha, state(QStringLiteral("temperature")), "31.25"));
    QVERIFY(sees(ha, state(QStringLiteral("rb1")), "L"));
    QVERIFY(sees(ha, state(QStringLiteral("rb0")), "L"));
    QVERIFY(sees(ha, state(QStringLiteral("alert/upper")), "ON"));
    QVERIFY(sees(ha, state(QStringLiteral("alert")), "ON"));
    QVERIFY(sees(ha, state(QStringLiteral("board")), "online"));
    QVERIFY(m_sim->command(QStringLiteral("rb1 1")) && m_sim->setRaw(66)); // 32.2265625 ℃
    QVERIFY(sees(ha, state(QStringLiteral("rb1")), "H"));
    QVERIFY(EventWait::until([&] {
        const auto last = payloadsOn(ha, state(QStringLiteral("temperature")));
        return !last.isEmpty() && last.last() != "31.25";
    }));
    const QByteArray temperature = payloadsOn(ha, state(QStringLiteral("temperature"))).last();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d+$"))
                     .match(QString::fromLatin1(temperature))
                     .hasMatch() &&
                 qAbs(temperature.toDouble() - 32.2265625) < 0.01,
             temperature.constData());
    QCOMPARE(payloadsOn(ha, state(QStringLiteral("rb0"))).last(), QByteArray("L"));

    // A press as Home Assistant sends it: the upper limit is re-armed and fires again, once.
    QVERIFY(publish(*m_broker, reset, "PRESS"));
    QVERIFY(daemon.saw(QStringLiteral("MQTT: %1 pressed").arg(reset)));
    QVERIFY(daemon.saw(AlertLine, 2));
    QVERIFY(sees(ha, state(QStringLiteral("alert/upper")), "ON"));
    QVERIFY(m_sim->waitForRequests(m_sim->requests().size() + 4, 10000));
    daemon.readLog();
    QCOMPARE(daemon.log.count(AlertLine), 2);
    QCOMPARE(daemon.log.count(QStringLiteral("MQTT: %1 pressed").arg(reset)), 1);

    // Killed: the broker tells the will, and keeps it for whoever comes later.
    QCOMPARE(daemon.endBy(SIGKILL), -1);
    QVERIFY(sees(ha, state(QStringLiteral("status")), "offline"));
    MqttSubscriber afterwards(*m_broker, state(QStringLiteral("status")));
    const auto kept = afterwards.waitFor(state(QStringLiteral("status")));
    QVERIFY(kept && kept->retained);
    QCOMPARE(kept->payload, QByteArray("offline"));
}

// A broker that restarts without keeping anything, and Home Assistant coming up later: each time
// the configs and the status are there again.
void TestE2eMqtt::rediscoversAfterBrokerRestartAndBirth()
{
    Daemon daemon;
    QVERIFY(start(daemon, m_broker->url()));
    const QString temperatureConfig =
        configTopic(QStringLiteral("sensor"), QStringLiteral("temperature"));
    {
        MqttSubscriber ha(*m_broker, QStringLiteral("#"));
        QVERIFY2(ha.isSubscribed(), qPrintable(ha.errorString()));
        QVERIFY(sees(ha, state(QStringLiteral("status")), "online"));
        QVERIFY(ha.waitFor(temperatureConfig));
    }

    m_broker->stop();
    QVERIFY2(m_broker->start(), qPrintable(m_broker->errorString()));
    MqttSubscriber ha(*m_broker, QStringLiteral("#"));
    QVERIFY2(ha.isSubscribed(), qPrintable(ha.errorString()));
    QVERIFY(sees(ha, state(QStringLiteral("status")), "online", 30000));
    for (const auto& [component, id] : Entities)
        QVERIFY2(ha.waitFor(configTopic(component, id)), qPrintable(configTopic(component, id)));
    QVERIFY(sees(ha, state(QStringLiteral("alert/upper")), "ON"));

    // Home Assistant's birth message: every config once more, a few seconds later.
    const qsizetype before = payloadsOn(ha, temperatureConfig).size();
    QVERIFY(publish(*m_broker, QStringLiteral("homeassistant/status"), "online"));
    QVERIFY(EventWait::until(
        [&] {
            for (const auto& [component, id] : Entities) {
                if (payloadsOn(ha, configTopic(component, id)).size() < before + 1)
                    return false;
            }
            return true;
        },
        15000));
    QCOMPARE(daemon.endBy(SIGTERM), 0);
    // Stopped cleanly: "offline" is said before the disconnect, not left to the will.
    QVERIFY(sees(ha, state(QStringLiteral("status")), "offline"));
}

// A broker that takes the connection and never answers: the polls go on at their pace, alerts are
// logged, and the service still ends at once.
void TestE2eMqtt::silentBrokerCostsNoPoll()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<QTcpSocket>> accepted;
    connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection())
            accepted.emplace_back(socket);
    });
    Daemon daemon;
    QVERIFY(start(daemon, QStringLiteral("mqtt://127.0.0.1:%1").arg(silent.serverPort())));
    QVERIFY(EventWait::until([&] { return !accepted.empty(); }));
    QVERIFY(daemon.saw(AlertLine));

    // 250 ms polls: a dozen come well within the bound even on a loaded machine.
    QVERIFY(m_sim->waitForRequests(m_sim->requests().size() + 12, 10000));
    ::kill(pid_t(daemon.process.processId()), SIGUSR1); // re-armed, still over the limit
    QVERIFY(daemon.saw(QStringLiteral("Reset (SIGUSR1)")));
    QVERIFY(daemon.saw(AlertLine, 2));
    QVERIFY(m_sim->waitForRequests(m_sim->requests().size() + 4, 10000));
    QCOMPARE(daemon.endBy(SIGTERM), 0);
}

QTEST_GUILESS_MAIN(TestE2eMqtt)
#include "tst_e2e_mqtt.moc"
