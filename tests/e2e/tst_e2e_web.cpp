// The status page and its API from outside: the real zarvik-maild and the simulated board, and
// requests written byte for byte as a script, a browser or a hostile client sends them, over
// HTTP on loopback and over HTTPS on an address beyond it (in a network of the test's own).
#include "support/EventWait.h"
#include "support/FreePort.h"
#include "support/HttpExchange.h"
#include "support/RealProgram.h"
#include "support/ServiceProcess.h"
#include "support/SettingsFile.h"
#include "support/SimBoard.h"
#include "support/TestCertificate.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/stat.h>

using HttpExchange::Answer;
using HttpExchange::Request;

namespace {

QString g_isolationProblem;
const QString Lan = QStringLiteral("10.11.12.13");
const QString Password = QStringLiteral("s3cret pass ü");
const QString Upper30 = QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n");

QJsonObject json(const Answer& answer)
{
    return QJsonDocument::fromJson(answer.body).object();
}

QByteArray tokenIn(const QByteArray& page)
{
    const QRegularExpression token(QStringLiteral("data-token=\"([0-9a-f]*)\""));
    return token.match(QString::fromUtf8(page)).captured(1).toLatin1();
}

} // namespace

class TestE2eWeb : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void readsFreelyOnLoopbackAndActsWithTheLogin();
    void refusedActionsChangeNothing();
    void wrongPasswordsSlowTheAddressDown();
    void beyondLoopbackOnlyWithHttpsAndALogin_data();
    void beyondLoopbackOnlyWithHttpsAndALogin();

private:
    // The service watching the board, its page on `listen` ("" : loopback) with `web` keys added
    // to [Web]; the password set through --web-password when `login` is true.
    bool start(ServiceProcess& service, const QString& web = {}, bool login = true,
               const QString& extra = {});
    Answer send(Request request, const QString& caFile = {});
    Answer asAdmin(Request request);
    QJsonObject status();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimBoard> m_sim;
    quint16 m_port = 0;
    QString m_address = QStringLiteral("127.0.0.1");
};

void TestE2eWeb::init()
{
    QVERIFY2(g_isolationProblem.isEmpty(), qPrintable(g_isolationProblem));
    m_dir = std::make_unique<QTemporaryDir>();
    m_sim = std::make_unique<SimBoard>();
    QVERIFY(m_dir->isValid() && m_sim->start());
    QVERIFY(m_sim->setRaw(64)); // 31.25 ℃: over the limit of 30
    m_port = freePort();
    m_address = QStringLiteral("127.0.0.1");
}

void TestE2eWeb::cleanup()
{
    m_sim.reset();
    m_dir.reset();
}

bool TestE2eWeb::start(ServiceProcess& service, const QString& web, bool login,
                       const QString& extra)
{
    const QString path = writeSettingsFile(m_dir->path(), m_sim->port(),
                                           Upper30 + extra +
                                               QStringLiteral("[Web]\nListen=%1:%2\nUser=admin\n%3")
                                                   .arg(m_address)
                                                   .arg(m_port)
                                                   .arg(web));
    if (login) {
        QProcess setter;
        setter.start(qEnvironmentVariable("ZARVIK_MAILD"),
                     {QStringLiteral("--settings"), path, QStringLiteral("--web-password")});
        setter.write((Password + u'\n').toUtf8());
        setter.closeWriteChannel();
        if (!setter.waitForFinished(10000) || setter.exitCode() != 0)
            return false;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("JOURNAL_STREAM"));
    environment.remove(QStringLiteral("NOTIFY_SOCKET"));
    service.process.setProcessEnvironment(environment);
    service.process.start(
        qEnvironmentVariable("ZARVIK_MAILD"),
        {QStringLiteral("--settings"), path, QStringLiteral("--state"), m_dir->path()});
    return service.process.waitForStarted() && service.saw(QStringLiteral("Watching the board"));
}

Answer TestE2eWeb::send(Request request, const QString& caFile)
{
    return HttpExchange::send(m_port, request, caFile, m_address);
}

Answer TestE2eWeb::asAdmin(Request request)
{
    request.user = QStringLiteral("admin");
    request.password = Password;
    return send(request);
}

QJsonObject TestE2eWeb::status()
{
    return json(send({"GET", "/api/status"}));
}

// A person on the box reads without a login; the page tells the reading and the fired rule, and
// every action a script sends with the login is done, said and listed.
void TestE2eWeb::readsFreelyOnLoopbackAndActsWithTheLogin()
{
    ServiceProcess service;
    // The metrics on the same address share the port and answer as before.
    QVERIFY(
        start(service, {}, true, QStringLiteral("[Watch]\nMetrics=127.0.0.1:%1\n").arg(m_port)));
    QVERIFY(
        EventWait::until([&] { return status()["rules"].toArray().first()["fired"].toBool(); }));
    const Answer metrics = send({"GET", "/metrics"});
    QCOMPARE(metrics.status, 200);
    QCOMPARE(metrics.headers.value("content-type"), "text/plain; version=0.0.4; charset=utf-8");
    QVERIFY(metrics.body.contains("zarvik_temperature_celsius 31.25"));
    const QJsonObject now = status();
    QCOMPARE(now["reading"]["temperature"].toDouble(), 31.25);
    QCOMPARE(now["board"].toString(), QStringLiteral("127.0.0.1:%1").arg(m_sim->port()));
    QCOMPARE(now["limits"]["upper"].toDouble(), 30.0);

    const Answer page = send({"GET", "/"});
    QCOMPARE(page.status, 200);
    QVERIFY(page.headers.value("content-security-policy").startsWith("default-src 'none'"));
    QCOMPARE(page.headers.value("x-content-type-options"), "nosniff");
    QCOMPARE(page.headers.value("cache-control"), "no-store");
    QVERIFY(page.body.contains("<tr data-rule=\"upper\" class=\"fired\"><td>Upper Temp 30℃"));
    QVERIFY(page.body.contains("<svg"));
    // Without the login the page carries no token and offers to log in.
    QVERIFY(tokenIn(page.body).isEmpty() && page.body.contains("id=\"login\""));
    const QByteArray token = tokenIn(asAdmin({"GET", "/"}).body);
    QCOMPARE(token.size(), 64);

    const quint64 before = quint64(status()["lastEventId"].toInteger());
    Answer done = asAdmin({"POST", "/api/ack"});
    QCOMPARE(done.status, 200);
    QCOMPARE(json(done)["rules"].toArray(), QJsonArray{QStringLiteral("upper")});
    QVERIFY(status()["rules"].toArray().first()["acknowledged"].toBool());
    QVERIFY(service.saw(QStringLiteral("Status page: acknowledged (from 127.0.0.1)")));

    const QString inTwoHours = QDateTime::currentDateTimeUtc().addSecs(7200).toString(Qt::ISODate);
    const struct {
        Request request;
        int status;
        bool muted;
    } mutes[] = {
        {{"POST", "/api/mute", {}, {}, "for=1h"}, 200, true},
        {{"POST",
          "/api/mute",
          {},
          {{"Content-Type", "application/json"}},
          "{\"until\":\"" + inTwoHours.toLatin1() + "\"}"},
         200,
         true},
        {{"POST", "/api/mute", {}, {}, "for=soon"}, 400, true},
        {{"POST", "/api/mute"}, 400, true},
        {{"POST", "/api/unmute"}, 200, false},
    };
    for (const auto& mute : mutes) {
        QCOMPARE(asAdmin(mute.request).status, mute.status);
        QCOMPARE(status()["mutedUntil"].isString(), mute.muted);
    }
    QCOMPARE(status()["mutedUntil"], QJsonValue());

    // The page's own button: its token, its origin.
    QVERIFY(m_sim->setTemperature(20.0));
    QVERIFY(EventWait::until(
        [&] { return status().value("reading")["temperature"].toDouble() < 30.0; }));
    const QByteArray origin = "http://127.0.0.1:" + QByteArray::number(m_port);
    QCOMPARE(
        asAdmin({"POST", "/api/rearm", {}, {{"Origin", origin}, {"X-Zarvik-Token", token}}}).status,
        200);
    QVERIFY(
        EventWait::until([&] { return status()["rules"].toArray().first()["armed"].toBool(); }));

    const QJsonObject events =
        json(send({"GET", "/api/events?since=" + QByteArray::number(before)}));
    QStringList kinds;
    for (const QJsonValue& event : events["events"].toArray()) {
        QVERIFY(quint64(event["id"].toInteger()) > before);
        kinds.append(event["kind"].toString());
    }
    for (const char* kind : {"acknowledged", "mute", "unmute", "rearm"})
        QVERIFY2(kinds.contains(QLatin1String(kind)), qPrintable(kinds.join(u' ')));
    QCOMPARE(asAdmin({"POST", "/api/ack", {}, {}, QByteArray(8192, 'x')}).status, 413);
}

// Whatever is missing or foreign, the action is refused and the alert stays as it was.
void TestE2eWeb::refusedActionsChangeNothing()
{
    QByteArray oldToken;
    {
        ServiceProcess earlier;
        QVERIFY(start(earlier));
        oldToken = tokenIn(asAdmin({"GET", "/"}).body);
        QCOMPARE(earlier.endBy(SIGTERM), 0);
    }
    ServiceProcess service;
    QVERIFY(start(service, {}, true, QStringLiteral("[Mail]\nAddress=<script>x</script>\n")));
    QVERIFY(
        EventWait::until([&] { return status()["rules"].toArray().first()["fired"].toBool(); }));
    const QByteArray token = tokenIn(asAdmin({"GET", "/"}).body);
    QVERIFY(!token.isEmpty() && token != oldToken);
    const QByteArray origin = "http://127.0.0.1:" + QByteArray::number(m_port);
    const QByteArray host = "127.0.0.1:" + QByteArray::number(m_port);

    const struct {
        const char* name;
        Request request;
        bool login;
        int status;
    } refusals[] = {
        {"no login", {"POST", "/api/ack"}, false, 401},
        {"wrong password", {"POST", "/api/ack", {}, {}, {}, "admin", "wrong"}, false, 401},
        {"page without login",
         {"POST", "/api/ack", {}, {{"Origin", origin}, {"X-Zarvik-Token", token}}},
         false,
         401},
        {"foreign origin",
         {"POST", "/api/rearm", {}, {{"Origin", "http://evil.example"}}},
         true,
         403},
        {"wrong host",
         {"POST", "/api/ack", "evil.example:" + QByteArray::number(m_port)},
         true,
         403},
        {"as a GET", {"GET", "/api/ack"}, true, 405},
        {"another run's token",
         {"POST", "/api/ack", host, {{"Origin", origin}, {"X-Zarvik-Token", oldToken}}},
         true,
         403},
        {"page without its token", {"POST", "/api/ack", host, {{"Origin", origin}}}, true, 403},
    };
    for (const auto& refusal : refusals) {
        const Answer answer = refusal.login ? asAdmin(refusal.request) : send(refusal.request);
        QVERIFY2(answer.status == refusal.status,
                 qPrintable(QStringLiteral("%1: %2").arg(refusal.name).arg(answer.status)));
        QVERIFY2(json(answer)["error"].isString(), refusal.name);
    }
    const QJsonObject rule = status()["rules"].toArray().first().toObject();
    QVERIFY(rule["fired"].toBool() && !rule["acknowledged"].toBool());
    service.readLog();
    QVERIFY(!service.log.contains(QStringLiteral("Status page:")));

    // A server's words reach the page as text.
    QVERIFY(EventWait::until([&] { return send({"GET", "/"}).body.contains("&lt;script&gt;x"); }));
    QVERIFY(!send({"GET", "/"}).body.contains("<script>x"));
}

void TestE2eWeb::wrongPasswordsSlowTheAddressDown()
{
    ServiceProcess service;
    QVERIFY(start(service));
    const Request wrong{"GET", "/api/status", {}, {}, {}, "admin", "guess"};
    int refused = 0;
    while (send(wrong).status == 401 && refused < 20)
        ++refused;
    QVERIFY2(refused >= 3 && refused < 20, qPrintable(QString::number(refused)));
    // Even the right password waits its turn, then gets in.
    const Answer slowed = asAdmin({"GET", "/api/status"});
    QCOMPARE(slowed.status, 429);
    QVERIFY(slowed.headers.value("retry-after").toInt() >= 1);
    QVERIFY(EventWait::until([&] { return asAdmin({"GET", "/api/status"}).status == 200; }));
}

void TestE2eWeb::beyondLoopbackOnlyWithHttpsAndALogin_data()
{
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("login");
    // Where the key comes from: its file, the credential systemd hands over, or a FIFO, which
    // must be refused rather than waited on.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("refusal"); // what the log says; empty: served
    const QString beyond = QStringLiteral("is seen beyond this machine");
    QTest::newRow("neither") << false << false << "file" << beyond;
    QTest::newRow("login without HTTPS") << false << true << "file" << beyond;
    QTest::newRow("HTTPS without login") << true << false << "file" << beyond;
    QTest::newRow("HTTPS and login") << true << true << "file" << QString();
    QTest::newRow("HTTPS, its key a credential") << true << true << "credential" << QString();
    QTest::newRow("HTTPS, its key a FIFO") << true << true << "fifo"
                                           << "cannot read";
}

void TestE2eWeb::beyondLoopbackOnlyWithHttpsAndALogin()
{
    QFETCH(bool, tls);
    QFETCH(bool, login);
    QFETCH(QString, key);
    QFETCH(QString, refusal);
    const TestCertificate certificate(QStringLiteral("IP:") + Lan);
    QVERIFY2(certificate.isValid(), qPrintable(certificate.errorString()));
    m_address = Lan;
    QString keyPath = certificate.keyPath();
    if (key == QLatin1String("credential")) {
        const QString credentials = m_dir->filePath(QStringLiteral("credentials"));
        QVERIFY(QDir().mkpath(credentials));
        QVERIFY(QFile::copy(keyPath, credentials + QStringLiteral("/web-key")));
        qputenv("CREDENTIALS_DIRECTORY", QFile::encodeName(credentials));
        keyPath = QStringLiteral("/nonexistent/key.pem");
    } else if (key == QLatin1String("fifo")) {
        keyPath = m_dir->filePath(QStringLiteral("key.fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(keyPath), 0600), 0);
    }
    const auto unset = qScopeGuard([] { qunsetenv("CREDENTIALS_DIRECTORY"); });
    ServiceProcess service;
    const QString files =
        QStringLiteral("CertFile=%1\nKeyFile=%2\n").arg(certificate.certPath(), keyPath);
    QVERIFY(start(service, tls ? files : QString(), login));
    const QString ca = certificate.certPath();
    if (!refusal.isEmpty()) {
        QVERIFY(service.saw(refusal));
        QCOMPARE(send({"GET", "/api/status"}, tls ? ca : QString()).status, 0);
        return;
    }
    QVERIFY(EventWait::until([&] { return send({"GET", "/api/status"}, ca).status == 401; }));
    Request read{"GET", "/api/status", {}, {}, {}, "admin", Password};
    const Answer answer = send(read, ca);
    QCOMPARE(answer.status, 200);
    QVERIFY(json(answer)["reading"].isObject());
    QCOMPARE(send(read).status, 0); // plain HTTP is not spoken there
}

int main(int argc, char* argv[])
{
    // Before anything else: the namespace must hold for every process this test starts.
    g_isolationProblem = RealProgram::enterPrivateNetwork();
    QCoreApplication app(argc, argv);
    if (g_isolationProblem.isEmpty())
        g_isolationProblem = RealProgram::setUpLoopback({Lan + QStringLiteral("/32")});
    TestE2eWeb test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_web.moc"
