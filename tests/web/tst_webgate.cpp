// Which names and origins the status page takes as its own: the checks that keep another site
// and a DNS name pointing at the box away from it.
#include "support/TestClock.h"
#include "web/WebGate.h"

#include <QtTest>

class TestWebGate : public QObject {
    Q_OBJECT
private slots:
    void ownHostAndOrigin_data();
    void ownHostAndOrigin();
};

void TestWebGate::ownHostAndOrigin_data()
{
    QTest::addColumn<QString>("listen"); // host the address names
    QTest::addColumn<bool>("loopback");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<bool>("hostOwn");
    QTest::addColumn<bool>("originOwn");
    const auto row = [](const char* name, const char* listen, bool loopback, bool tls,
                        QByteArray host, QByteArray origin, bool hostOwn, bool originOwn) {
        QTest::newRow(name) << QString::fromLatin1(listen) << loopback << tls << host << origin
                            << hostOwn << originOwn;
    };
    row("its address", "127.0.0.1", true, false, "127.0.0.1:8080", "http://127.0.0.1:8080",
        true, true);
    row("no origin: a script", "127.0.0.1", true, false, "127.0.0.1:8080", "", true, true);
    row("localhost on loopback", "127.0.0.1", true, false, "localhost:8080",
        "http://localhost:8080", true, true);
    row("v6 literal", "::1", true, false, "[::1]:8080", "http://[::1]:8080", true, true);
    row("another port", "127.0.0.1", true, false, "127.0.0.1:9090", "", false, true);
    row("default port", "127.0.0.1", true, false, "127.0.0.1", "", false, true);
    row("a foreign name", "127.0.0.1", true, false, "evil.example:8080", "", false, true);
    row("credentials in host", "127.0.0.1", true, false, "a@127.0.0.1:8080", "", false, true);
    row("no host", "127.0.0.1", true, false, "", "", false, true);
    row("foreign origin", "127.0.0.1", true, false, "127.0.0.1:8080", "http://evil.example",
        true, false);
    row("opaque origin", "127.0.0.1", true, false, "127.0.0.1:8080", "null", true, false);
    row("origin of another own name", "127.0.0.1", true, false, "127.0.0.1:8080",
        "http://localhost:8080", true, false);
    row("origin over the other scheme", "box.lan", false, true, "box.lan:8080",
        "http://box.lan:8080", true, false);
    row("its name over HTTPS", "box.lan", false, true, "box.lan:8080", "https://box.lan:8080",
        true, true);
    row("localhost beyond loopback", "0.0.0.0", false, true, "localhost:8080", "", false, true);
    row("any address literal", "0.0.0.0", false, true, "192.168.1.5:8080",
        "https://192.168.1.5:8080", true, true);
}

void TestWebGate::ownHostAndOrigin()
{
    QFETCH(QString, listen);
    QFETCH(bool, loopback);
    QFETCH(bool, tls);
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, origin);
    const TestClock clock;
    WebGate gate(clock);
    gate.configure({QStringLiteral("admin"), {}, listen, 8080, tls, loopback});
    HttpRequest request;
    request.tls = tls;
    if (!host.isEmpty())
        request.headers.insert("host", host);
    if (!origin.isEmpty())
        request.headers.insert("origin", origin);
    QTEST(gate.ownHost(request), "hostOwn");
    QTEST(gate.ownOrigin(request), "originOwn");
}

QTEST_GUILESS_MAIN(TestWebGate)
#include "tst_webgate.moc"
