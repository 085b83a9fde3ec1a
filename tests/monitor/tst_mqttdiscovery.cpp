// What Home Assistant reads to find the board: every config parses, names one device, and holds
// the fields its entity needs; readings need the board, alerts and buttons only the program.
#include "monitor/MqttDiscovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QtTest>

using namespace MqttDiscovery;

namespace {

Device device(bool commands)
{
    return {QStringLiteral("zarvik_0a1b2c3d"), QStringLiteral("homeassistant"),
            QStringLiteral("127.0.0.1:10001"), QStringLiteral("1.0"), commands};
}

// The configs by unique id, parsed.
QMap<QString, QJsonObject> parsed(const QList<Config>& configs)
{
    QMap<QString, QJsonObject> byId;
    for (const Config& c : configs) {
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(c.payload, &error).object();
        if (error.error != QJsonParseError::NoError)
            qWarning() << c.topic << error.errorString();
        byId.insert(object.value("unique_id").toString(), object);
    }
    return byId;
}

} // namespace

class TestMqttDiscovery : public QObject {
    Q_OBJECT
private slots:
    void everyConfigIsOneDevicesEntity();
    void entities_data();
    void entities();
    void buttonsOnlyWithCommands();
    void pressesAreTheButtonsOwn();
};

void TestMqttDiscovery::everyConfigIsOneDevicesEntity()
{
    const QList<Config> configs = MqttDiscovery::configs(device(true));
    const QMap<QString, QJsonObject> byId = parsed(configs);
    QCOMPARE(byId.size(), configs.size()); // unique ids differ
    QSet<QString> devices;
    for (const Config& c : configs) {
        const QJsonObject object = QJsonDocument::fromJson(c.payload).object();
        const QString id = object.value("unique_id").toString();
        QVERIFY(id.startsWith(QStringLiteral("zarvik_0a1b2c3d_")));
        const QString component = c.topic.section(u'/', 1, 1);
        QCOMPARE(c.topic, QStringLiteral("homeassistant/%1/%2/config").arg(component, id));
        QCOMPARE(object.value("default_entity_id").toString(), component + u'.' + id);
        QVERIFY(!object.contains("object_id"));
        QVERIFY(!object.value("name").toString().contains(QStringLiteral("ZARVIK")));
        devices << QString::fromUtf8(QJsonDocument(object.value("device").toObject()).toJson());
    }
    QCOMPARE(devices.size(), 1);
    const QJsonObject one = QJsonDocument::fromJson(devices.values().at(0).toUtf8()).object();
    QCOMPARE(one.value("identifiers").toArray().at(0).toString(),
             QStringLiteral("zarvik_0a1b2c3d"));
    QVERIFY(one.value("name").toString().contains(QStringLiteral("127.0.0.1:10001")));
    QCOMPARE(one.value("sw_version").toString(), QStringLiteral("1.0"));
}

void TestMqttDiscovery::entities_data()
{
    QTest::addColumn<QString>("id");    // after the node id
    QTest::addColumn<QString>("state"); // after "zarvik/<node>/"
    QTest::addColumn<QString>("deviceClass");
    QTest::addColumn<QString>("on"); // payload_on, or the unit
    QTest::addColumn<int>("needs");  // availability topics: 1 the program, 2 and the board
    QTest::newRow("temperature") << "temperature"
                                 << "temperature"
                                 << "temperature"
                                 << "\u00B0C" << 2;
    QTest::newRow("RB1") << "rb1"
                         << "rb1"
                         << ""
                         << "H" << 2;
    QTest::newRow("RB0") << "rb0"
                         << "rb0"
                         << ""
                         << "H" << 2;
    QTest::newRow("board link") << "board"
                                << "board"
                                << "connectivity"
                                << "online" << 1;
    QTest::newRow("any alert") << "alert"
                               << "alert"
                               << "problem"
                               << "ON" << 1;
    QTest::newRow("no reply: does not vanish as it fires") << "alert_no_reply"
                                                           << "alert/no_reply"
                                                           << "problem"
                                                           << "ON" << 1;
    QTest::newRow("upper limit") << "alert_upper"
                                 << "alert/upper"
                                 << "problem"
                                 << "ON" << 1;
}

void TestMqttDiscovery::entities()
{
    QFETCH(QString, id);
    QFETCH(QString, state);
    QFETCH(QString, deviceClass);
    QFETCH(QString, on);
    QFETCH(int, needs);
    const QJsonObject e =
        parsed(configs(device(false))).value(QStringLiteral("zarvik_0a1b2c3d_") + id);
    QCOMPARE(e.value("state_topic").toString(), QStringLiteral("zarvik/zarvik_0a1b2c3d/") + state);
    QCOMPARE(e.value("device_class").toString(), deviceClass);
    QCOMPARE(e.value(id == u"temperature" ? "unit_of_measurement" : "payload_on").toString(), on);
    const QJsonArray availability = e.value("availability").toArray();
    QCOMPARE(availability.size(), needs);
    QCOMPARE(availability.at(0).toObject().value("topic").toString(),
             QStringLiteral("zarvik/zarvik_0a1b2c3d/status"));
    QCOMPARE(e.value("availability_mode").toString(), QStringLiteral("all"));
    if (id == u"temperature") {
        QCOMPARE(e.value("state_class").toString(), QStringLiteral("measurement"));
        QCOMPARE(e.value("suggested_display_precision").toInt(), 1);
    }
    if (id == u"board")
        QCOMPARE(e.value("entity_category").toString(), QStringLiteral("diagnostic"));
}

void TestMqttDiscovery::buttonsOnlyWithCommands()
{
    QCOMPARE(configs(device(true)).size(), configs(device(false)).size() + 4);
    const QJsonObject reset = parsed(configs(device(true))).value("zarvik_0a1b2c3d_reset");
    QCOMPARE(reset.value("command_topic").toString(),
             QStringLiteral("zarvik/zarvik_0a1b2c3d/command/reset"));
    QCOMPARE(reset.value("payload_press").toString(), QStringLiteral("PRESS"));
    QCOMPARE(reset.value("availability").toArray().size(), 1);
    // A node that changes empties every config it may have had, buttons too.
    QCOMPARE(configTopics(device(false)).size(), configs(device(true)).size());
}

void TestMqttDiscovery::pressesAreTheButtonsOwn()
{
    const QString node = QStringLiteral("zarvik_0a1b2c3d");
    QCOMPARE(command(node, topic(node, QStringLiteral("command/reset")), "PRESS"),
             std::optional(Command::Reset));
    QCOMPARE(command(node, topic(node, QStringLiteral("command/acknowledge")), "PRESS"),
             std::optional(Command::Acknowledge));
    QCOMPARE(command(node, topic(node, QStringLiteral("command/reset")), "press"), std::nullopt);
    QCOMPARE(command(node, topic(node, QStringLiteral("command/reset")), ""), std::nullopt);
    QCOMPARE(command(node, topic(QStringLiteral("zarvik_other"), QStringLiteral("command/reset")),
                     "PRESS"),
             std::nullopt);
    QCOMPARE(command(node, topic(node, QStringLiteral("command/shutdown")), "PRESS"), std::nullopt);
    QVERIFY(
        QRegularExpression(QStringLiteral("^zarvik_[0-9a-f]{8}$")).match(newNodeId()).hasMatch());
}

QTEST_GUILESS_MAIN(TestMqttDiscovery)
#include "tst_mqttdiscovery.moc"
