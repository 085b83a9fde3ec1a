#include "mail/SmtpClient.h"
#include "support/EventWait.h"
#include "support/MailText.h"
#include "support/SmtpServer.h"
#include "support/TestCertificate.h"

#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <functional>
#include <optional>
#include <sys/stat.h>

namespace {

const QString kFrom = QStringLiteral("監視ボード <board@example.jp>");
const QString kTo = QStringLiteral("Operator <ops@example.jp>");
const QString kContentType = QStringLiteral("text/plain; charset=\"iso-2022-jp\"");

// One alert the way the main window sends it: the connected callback fills in the mail, sends
// and disconnects; the send-start callback sets the final header fields.
struct Alert {
    QString body = QStringLiteral("温度が上限を超えました。\r\nRB1: ON\r\n");
    QString subject = QStringLiteral("温度警報");
    QString to = kTo;
    int priority = -1; // 0, 1, 2 set X-Priority 1, 3, 5
    std::function<void()> atSendStart;
    QString password;
    SmtpClient::Security security = SmtpClient::Security::Auto;
    QString caFile;
};

const QString kUser = QStringLiteral("zarvik-unit");

// What the CAFile setting names: nothing, the test server's certificate (as itself or through a
// link), or a FIFO.
enum class Ca { None, Trusted, Link, Fifo };

// Waits for the end of the mail `start` begins; false when it never came.
bool finish(SmtpClient& client, const std::function<void()>& start, SmtpResult* result)
{
    QObject context;
    bool finished = false;
    QObject::connect(&client, &SmtpClient::finished, &context, [&](const SmtpResult& r) {
        QVERIFY2(!finished, "finished twice");
        finished = true;
        *result = r;
    });
    start();
    return EventWait::until([&] { return finished; }, 30000);
}

// Sends `alert` through `client`; returns the error text, or nothing when it went out (or was
// given up: see `result`).
std::optional<QString> send(SmtpClient& client, const QString& server, const Alert& alert,
                            QStringList* calls = nullptr, SmtpResult* result = nullptr)
{
    client.setHost(server);
    client.setUserId(kUser);
    client.setPassword(alert.password);
    client.setSecurity(alert.security);
    client.setCaFile(alert.caFile);
    client.setConnectedHandler([&] {
        if (calls)
            calls->append(QStringLiteral("connected"));
        client.setBody(alert.body);
        client.addRecipient(alert.to);
        client.setSender(kFrom);
        client.setSubject(alert.subject);
        QVERIFY(client.sendMail());
        if (calls)
            calls->append(QStringLiteral("sent"));
        client.disconnectFromServer();
    });
    client.setSendStartHandler([&] {
        if (calls)
            calls->append(QStringLiteral("send start"));
        if (alert.atSendStart)
            alert.atSendStart();
        client.finalHeaders().set(QStringLiteral("Content-Type"), kContentType);
        if (alert.priority >= 0 && alert.priority <= 2)
            client.finalHeaders().set(QStringLiteral("X-Priority"),
                                      QString::number(alert.priority * 2 + 1));
    });
    SmtpResult ended;
    if (!finish(
            client, [&] { QVERIFY(client.connectToServer()); }, &ended))
        return QStringLiteral("no end of the mail came");
    if (calls)
        calls->append(QStringLiteral("finished"));
    if (result)
        *result = ended;
    if (ended.sent || ended.cancelled)
        return std::nullopt;
    return ended.error;
}

} // namespace

class TestSmtpClient : public QObject {
    Q_OBJECT

private slots:
    void serverText_data();
    void serverText();
    void mailArrives();
    void callbackOrder();
    void twoMailsEachHaveOneRecipient();
    void dotLinesSurvive();
    void emptyUserIdStillGreets();
    void emptyServerFails();
    void noRecipientFails();
    void failures_data();
    void failures();
    void eventsServedWhileWaiting();
    void ipv6Literal();
    void security_data();
    void security();
    void recipients_data();
    void recipients();
    void abortEndsTheSend();
    void refusedRecipientsDoNotStopTheOthers_data();
    void refusedRecipientsDoNotStopTheOthers();
};

void TestSmtpClient::serverText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host"); // empty: refused
    QTest::addColumn<int>("port");

    QTest::newRow("plain host") << "mail.example.jp"
                                << "mail.example.jp" << 25;
    QTest::newRow("blanks trimmed") << "  127.0.0.1:2525 "
                                    << "127.0.0.1" << 2525;
    QTest::newRow("IPv6 with port") << "[::1]:2525"
                                    << "::1" << 2525;
    QTest::newRow("IPv6 without port") << "[::1]"
                                       << "::1" << 25;
    QTest::newRow("bare IPv6") << "::1"
                               << "::1" << 25;
    QTest::newRow("empty") << "   "
                           << "" << 0;
    QTest::newRow("port not a number") << "host:smtp"
                                       << "" << 0;
    QTest::newRow("port out of range") << "host:70000"
                                       << "" << 0;
    QTest::newRow("port zero") << "host:0"
                               << "" << 0;
    QTest::newRow("no host") << ":25"
                             << "" << 0;
    QTest::newRow("path in host") << "host/evil:25"
                                  << "" << 0;
}

void TestSmtpClient::serverText()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);

    SmtpEndpoint endpoint;
    QString error;
    if (host.isEmpty()) {
        QVERIFY(!SmtpEndpoint::parse(text, &endpoint, &error));
        QVERIFY(!error.isEmpty());
        return;
    }
    QVERIFY2(SmtpEndpoint::parse(text, &endpoint, &error), qPrintable(error));
    QCOMPARE(endpoint.host, host);
    QCOMPARE(endpoint.port, port);
}

void TestSmtpClient::mailArrives()
{
    SmtpServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    SmtpClient client;
    Alert alert;
    alert.priority = 0;
    const auto error = send(client, server.hostPort(), alert);
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QVERIFY(server.waitForMails(1));

    const SmtpServer::Mail mail = server.mails().value(0);
    QCOMPARE(mail.mailFrom, "board@example.jp");
    QCOMPARE(mail.rcptTo, QStringList{"ops@example.jp"});
    QCOMPARE(mail.ehlo, "zarvik-unit");
    const ParsedMail parsed(mail.raw);
    for (const char* name : {"Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
                             "Content-Type", "Content-Transfer-Encoding", "X-Priority"})
        QVERIFY2(parsed.count(name) == 1, name);
    QCOMPARE(parsed.fields.size(), 9);
    QCOMPARE(parsed.value("Content-Type"), kContentType.toLatin1());
    QCOMPARE(parsed.value("X-Priority"), "1");
    QCOMPARE(parsed.value("To"), kTo.toLatin1());
    QCOMPARE(parsed.bodyText(), alert.body);
}

void TestSmtpClient::callbackOrder()
{
    SmtpServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    SmtpClient client;
    QStringList calls;
    int mailsAtSendStart = -1;
    Alert alert;
    alert.atSendStart = [&] { mailsAtSendStart = server.mailCount(); };
    QVERIFY(!send(client, server.hostPort(), alert, &calls));
    // sendMail() only starts the session: its end is told afterwards, never inside.
    QCOMPARE(calls, (QStringList{"connected", "send start", "sent", "finished"}));
    QCOMPARE(mailsAtSendStart, 0);
    QCOMPARE(server.mailCount(), 1); // delivered by the time finished() says so
    QVERIFY(!client.isConnected());
    QVERIFY(!client.isSending());
}

void TestSmtpClient::twoMailsEachHaveOneRecipient()
{
    SmtpServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    SmtpClient client;
    Alert first;
    first.priority = 2;
    Alert second;
    second.to = QStringLiteral("second@example.jp");
    second.subject = QStringLiteral("second");
    QVERIFY(!send(client, server.hostPort(), first));
    QVERIFY(client.recipients().isEmpty());
    QVERIFY(client.body().isEmpty() && client.sender().isEmpty() && client.subject().isEmpty());
    QVERIFY(!send(client, server.hostPort(), second));
    QVERIFY(server.waitForMails(2));

    const QList<SmtpServer::Mail> mails = server.mails();
    QCOMPARE(mails[0].rcptTo, QStringList{"ops@example.jp"});
    QCOMPARE(mails[1].rcptTo, QStringList{"second@example.jp"});
    QCOMPARE(ParsedMail(mails[1].raw).value("To"), "second@example.jp");
    QCOMPARE(ParsedMail(mails[0].raw).value("X-Priority"), "5");
    // The final header list starts afresh: no priority left over from the first mail.
    QCOMPARE(ParsedMail(mails[1].raw).count("X-Priority"), 0);
}

void TestSmtpClient::dotLinesSurvive()
{
    SmtpServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    SmtpClient client;
    Alert alert;
    alert.body = QStringLiteral(".\r\n..\r\n.leading dot\r\nlast\r\n.");
    QVERIFY(!send(client, server.hostPort(), alert));
    QVERIFY(server.waitForMails(1));
    QCOMPARE(ParsedMail(server.mails()[0].raw).body, ".\r\n..\r\n.leading dot\r\nlast\r\n.\r\n");
}

void TestSmtpClient::emptyUserIdStillGreets()
{
    SmtpServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    SmtpClient client;
    client.setUserId(QString());
    client.setHost(server.hostPort());
    client.setConnectedHandler([&] {
        client.addRecipient(QStringLiteral("ops@example.jp"));
        client.setSender(QStringLiteral("board@example.jp"));
        client.sendMail();
    });
    SmtpResult result;
    QVERIFY(finish(
        client, [&] { client.connectToServer(); }, &result));
    QVERIFY2(result.sent, qPrintable(result.error));
    QVERIFY(server.waitForMails(1));
    QVERIFY(!server.mails()[0].ehlo.isEmpty());
}

void TestSmtpClient::emptyServerFails()
{
    SmtpClient client;
    bool connected = false;
    client.setHost(QStringLiteral("  "));
    client.setConnectedHandler([&] { connected = true; });
    SmtpResult result;
    QVERIFY(finish(
        client, [&] { client.connectToServer(); }, &result));
    QVERIFY(!connected);
    QVERIFY(!result.sent && !result.mayPass);
    QCOMPARE(result.error, QStringLiteral("No SMTP server is set"));
}

void TestSmtpClient::noRecipientFails()
{
    SmtpServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    SmtpClient client;
    Alert alert;
    alert.to = QStringLiteral("  ");
    const auto error = send(client, server.hostPort(), alert);
    QVERIFY(error);
    QVERIFY2(error->contains(QStringLiteral("recipient")), qPrintable(*error));
    QCOMPARE(server.mailCount(), 0);
}

void TestSmtpClient::failures_data()
{
    QTest::addColumn<QString>("mode"); // "refuse": nothing listens
    QTest::addColumn<QString>("expected");

    QTest::newRow("connection refused") << "refuse"
                                        << "Couldn't connect to server";
    QTest::newRow("greeting 554") << "greeting554"
                                  << "554 5.3.2 Service not available";
    QTest::newRow("MAIL rejected") << "reject-mail"
                                   << "550 5.7.1 Sender address rejected";
    QTest::newRow("RCPT rejected")
        << "reject-rcpt"
        << "RCPT failed: 550 5.1.1 <ops@example.jp>: Recipient address rejected";
    QTest::newRow("DATA rejected") << "reject-data"
                                   << "554 5.7.0";
    QTest::newRow("no greeting") << "hang"
                                 << "timed out";
    QTest::newRow("dropped in DATA") << "drop-in-data"
                                     << "";
    QTest::newRow("no answer to the end of DATA") << "hang-after-data"
                                                  << "did not finish within 3 s";
}

void TestSmtpClient::failures()
{
    QFETCH(QString, mode);
    QFETCH(QString, expected);

    std::optional<SmtpServer> failing;
    QString address = SmtpServer::refusingHostPort();
    if (mode != QLatin1String("refuse")) {
        failing.emplace(mode);
        QVERIFY2(failing->isListening(), qPrintable(failing->errorString()));
        address = failing->hostPort();
    }
    SmtpClient client;
    client.setTimeouts(1000, 3000);
    const auto error = send(client, address, Alert());
    QVERIFY2(error, "no error");
    QVERIFY2(error->contains(expected), qPrintable(*error));
    QVERIFY(client.recipients().isEmpty());
    QVERIFY(!client.isConnected());
    if (failing)
        QCOMPARE(failing->mailCount(), 0);

    // The same client goes on with the next mail to a working server.
    SmtpServer healthy;
    QVERIFY2(healthy.isListening(), qPrintable(healthy.errorString()));
    const auto next = send(client, healthy.hostPort(), Alert());
    QVERIFY2(!next, qPrintable(next.value_or(QString())));
    QVERIFY(healthy.waitForMails(1));
    QCOMPARE(healthy.mails()[0].rcptTo, QStringList{"ops@example.jp"});
}

void TestSmtpClient::eventsServedWhileWaiting()
{
    SmtpServer hanging(QStringLiteral("hang"));
    QVERIFY2(hanging.isListening(), qPrintable(hanging.errorString()));
    SmtpClient client;
    client.setTimeouts(1000, 3000);

    int ticks = 0;
    int tickLevel = -1;
    std::optional<QString> nestedError;
    QTimer timer;
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        tickLevel = QThread::currentThread()->loopLevel();
        // The next alert pass may come while this mail still waits; it must not start another.
        if (ticks == 3) {
            QString error;
            nestedError = client.connectToServer(&error) ? QString() : error;
        }
    });
    int finishedLevel = -1;
    QObject::connect(&client, &SmtpClient::finished, &timer,
                     [&] { finishedLevel = QThread::currentThread()->loopLevel(); });
    timer.start();
    const auto error = send(client, hanging.hostPort(), Alert());
    timer.stop();
    QVERIFY(error);
    QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
    QVERIFY(nestedError);
    QVERIFY2(!nestedError->isEmpty(), "a second session started inside the first");
    // The end is told from the loop the timer runs in, not from one of the client's own.
    QCOMPARE(finishedLevel, tickLevel);
}

void TestSmtpClient::ipv6Literal()
{
    SmtpServer server(QStringLiteral("normal"), QStringLiteral("::1"));
    if (!server.isListening())
        QSKIP("no IPv6 loopback here");
    SmtpClient client;
    QVERIFY(!send(client, server.hostPort(), Alert()));
    QVERIFY(server.waitForMails(1));
    QCOMPARE(server.mails()[0].rcptTo, QStringList{"ops@example.jp"});
}

void TestSmtpClient::security_data()
{
    using Tls = SmtpServer::Tls;
    using Security = SmtpClient::Security;
    QTest::addColumn<int>("serverTls");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<quint16>("port");
    QTest::addColumn<bool>("loginRequired");
    QTest::addColumn<int>("security");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("ca");           // what CAFile names
    QTest::addColumn<QString>("expected"); // empty: delivered, over TLS when the server has it

    const auto row = [](const char* name, Tls tls, Security security, const char* password, Ca ca,
                        const char* expected, const char* mode = "normal", quint16 port = 0) {
        QTest::newRow(name) << int(tls) << QString::fromLatin1(mode) << port << (*password != 0)
                            << int(security) << QString::fromLatin1(password) << int(ca)
                            << QString::fromUtf8(expected);
    };
    row("Auto, plain server", Tls::None, Security::Auto, "", Ca::None, "");
    row("Auto, unverifiable STARTTLS", Tls::StartTls, Security::Auto, "", Ca::None, "");
    row("Auto, 465 is TLS at once", Tls::Implicit, Security::Auto, "", Ca::None, "", "normal", 465);
    row("Auto with a password: STARTTLS and login", Tls::StartTlsRequired, Security::Auto,
        "pa:ss word", Ca::Trusted, "");
    row("Auto with a password, unverifiable", Tls::StartTls, Security::Auto, "pw", Ca::None,
        "certificate");
    row("Auto with a password, no STARTTLS", Tls::None, Security::Auto, "pw", Ca::Trusted,
        "STARTTLS");
    row("Auto, wrong password", Tls::StartTlsRequired, Security::Auto, "wrong", Ca::Trusted, "535");
    row("STARTTLS", Tls::StartTls, Security::StartTls, "", Ca::Trusted, "");
    row("STARTTLS, untrusted", Tls::StartTls, Security::StartTls, "", Ca::None, "certificate");
    row("STARTTLS, not offered", Tls::None, Security::StartTls, "", Ca::Trusted, "STARTTLS");
    row("SSL/TLS", Tls::Implicit, Security::Tls, "pa:ss word", Ca::Trusted, "");
    row("SSL/TLS, plain server", Tls::None, Security::Tls, "", Ca::Trusted, "SSL");
    row("SSL/TLS, dropped in the handshake", Tls::Implicit, Security::Tls, "", Ca::Trusted, "SSL",
        "drop-in-handshake");
    row("None, STARTTLS required", Tls::StartTlsRequired, Security::None, "", Ca::Trusted, "530");
    row("None with a password is refused", Tls::None, Security::None, "pw", Ca::Trusted,
        "Security is \"None\"");
    row("STARTTLS, CA file through a link", Tls::StartTls, Security::StartTls, "", Ca::Link, "");
    // libcurl would wait for the FIFO's writer, out of reach of the session's deadline.
    row("STARTTLS, CA file a FIFO", Tls::StartTls, Security::StartTls, "", Ca::Fifo,
        "not a regular file");
}

// Each choice of Security against real servers, with and without TLS, login and a trusted
// certificate.
void TestSmtpClient::security()
{
    QFETCH(int, serverTls);
    QFETCH(QString, mode);
    QFETCH(quint16, port);
    QFETCH(bool, loginRequired);
    QFETCH(int, security);
    QFETCH(QString, password);
    QFETCH(int, ca);
    QFETCH(QString, expected);

    const TestCertificate& certificate = TestCertificate::shared();
    QVERIFY2(certificate.isValid(), qPrintable(certificate.errorString()));
    SmtpServer::Options options;
    options.mode = mode;
    options.port = port;
    options.tls = SmtpServer::Tls(serverTls);
    options.certificate = &certificate;
    if (loginRequired) {
        options.authUser = kUser;
        options.authPassword = QStringLiteral("pa:ss word");
    }
    SmtpServer server(options);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));

    SmtpClient client;
    client.setTimeouts(2000, 5000);
    Alert alert;
    alert.security = SmtpClient::Security(security);
    alert.password = password;
    QTemporaryDir dir;
    const QString named = dir.filePath(QStringLiteral("ca.pem"));
    if (ca == int(Ca::Trusted))
        alert.caFile = certificate.certPath();
    else if (ca == int(Ca::Link))
        QVERIFY(QFile::link(certificate.certPath(), alert.caFile = named));
    else if (ca == int(Ca::Fifo))
        QCOMPARE(::mkfifo(QFile::encodeName(alert.caFile = named).constData(), 0644), 0);
    const auto error = send(client, server.hostPort(), alert);
    if (!expected.isEmpty()) {
        QVERIFY2(error, "sent although it must not be");
        QVERIFY2(error->contains(expected), qPrintable(*error));
        if (!password.isEmpty())
            QVERIFY2(!error->contains(password), "the password is in the error text");
        QCOMPARE(server.mailCount(), 0);
        return;
    }
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QVERIFY(server.waitForMails(1));
    const SmtpServer::Mail mail = server.mails().value(0);
    QCOMPARE(mail.tls, SmtpServer::Tls(serverTls) != SmtpServer::Tls::None);
    QCOMPARE(mail.authUser, password.isEmpty() ? QString() : kUser);
    // Logging in, EHLO names this machine, not the user.
    QCOMPARE(mail.ehlo == kUser, password.isEmpty());
    QCOMPARE(mail.rcptTo, QStringList{"ops@example.jp"});
}

void TestSmtpClient::recipients_data()
{
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("rcpt"); // empty: refused before connecting
    QTest::addColumn<QString>("expected"); // in the error

    QTest::newRow("two, comma") << "Ops <ops@example.jp>, boss@example.jp"
                                << QStringList{"ops@example.jp", "boss@example.jp"} << "";
    QTest::newRow("three, both separators")
        << "運用 <ops@example.jp>; boss@example.jp, \"Night, shift\" <night@example.jp>"
        << QStringList{"ops@example.jp", "boss@example.jp", "night@example.jp"} << "";
    QTest::newRow("each address once")
        << "ops@example.jp; Ops <ops@example.jp>;" << QStringList{"ops@example.jp"} << "";
    QTest::newRow("Japanese domain in ASCII")
        << "you@例え.jp" << QStringList{"you@xn--r8jz45g.jp"} << "";
    QTest::newRow("extra SMTP parameters")
        << "x@y.org> NOTIFY=SUCCESS ORCPT=rfc822;spy@evil.example" << QStringList()
        << "x@y.org> NOTIFY=SUCCESS";
    QTest::newRow("one bad entry stops all")
        << "ops@example.jp, not an address" << QStringList() << "\"not an address\"";
    QTest::newRow("non-ASCII name without SMTPUTF8")
        << "運用@example.jp" << QStringList() << "SMTPUTF8";
}

void TestSmtpClient::recipients()
{
    QFETCH(QString, to);
    QFETCH(QStringList, rcpt);
    QFETCH(QString, expected);

    SmtpServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    SmtpClient client;
    Alert alert;
    alert.to = to;
    const auto error = send(client, server.hostPort(), alert);
    if (rcpt.isEmpty()) {
        QVERIFY2(error && error->contains(expected), qPrintable(error.value_or("sent")));
        QCOMPARE(server.mailCount(), 0);
        return;
    }
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QVERIFY(server.waitForMails(1));
    QCOMPARE(server.mails()[0].rcptTo, rcpt);
    // The To field keeps every address readable.
    const QByteArray field = ParsedMail(server.mails()[0].raw).value("To");
    for (const QString& address : rcpt)
        QVERIFY2(field.contains(address.toLatin1()), field.constData());
}

void TestSmtpClient::abortEndsTheSend()
{
    SmtpServer silent(QStringLiteral("hang-after-data"));
    QVERIFY2(silent.isListening(), qPrintable(silent.errorString()));
    SmtpClient client;
    // Only the abort can end this send in time for the test.
    client.setTimeouts(60000, 600000);
    QTimer::singleShot(300, [&] { client.abort(); });
    SmtpResult result;
    const auto error = send(client, silent.hostPort(), Alert(), nullptr, &result);
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QVERIFY(result.cancelled && !result.sent);
    QCOMPARE(result.mail.rcptTo, QList<QByteArray>{"ops@example.jp"}); // whole, to keep
    QVERIFY(!client.isSending());
}

void TestSmtpClient::refusedRecipientsDoNotStopTheOthers_data()
{
    QTest::addColumn<QString>("leftReply");
    QTest::addColumn<QString>("boxReply"); // empty: delivered to ops, and nothing to say
    QTest::addColumn<QList<QByteArray>>("keep");
    QTest::addColumn<bool>("mayPass");
    QTest::newRow("550") << "550 5.1.1 user unknown"
                         << "550 5.1.1 user unknown" << QList<QByteArray>() << false;
    QTest::newRow("451") << "451 4.2.2 mailbox full"
                         << "451 4.2.2 mailbox full" << QList<QByteArray>{"left@example.com"}
                         << true;
    QTest::newRow("250") << ""
                         << "" << QList<QByteArray>() << false;
}

void TestSmtpClient::refusedRecipientsDoNotStopTheOthers()
{
    QFETCH(QString, leftReply);
    QFETCH(QString, boxReply);
    QFETCH(QList<QByteArray>, keep);
    QFETCH(bool, mayPass);
    SmtpServer::Options options;
    if (!leftReply.isEmpty())
        options.refuseRcpt[QStringLiteral("left@example.com")] = leftReply;
    SmtpServer server(options);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    SmtpClient client;
    client.setTimeouts(2000, 5000);
    Alert alert;
    alert.to = QStringLiteral("ops@example.com; Left <left@example.com>");
    SmtpResult result;
    const auto error = send(client, server.hostPort(), alert, nullptr, &result);
    QVERIFY(server.waitForMails(1));
    const QStringList got = server.mails().first().rcptTo;
    QCOMPARE(got.first(), QStringLiteral("ops@example.com"));
    QCOMPARE(got.size(), leftReply.isEmpty() ? 2 : 1);
    QCOMPARE(bool(error), !boxReply.isEmpty());
    QCOMPARE(result.sent, !error);
    if (error) {
        QVERIFY2(error->contains(QStringLiteral("left@example.com")) && error->contains(boxReply) &&
                     !error->contains(QStringLiteral("ops@example.com")),
                 qPrintable(*error));
        QCOMPARE(result.mayPass, mayPass);
        QCOMPARE(result.mail.rcptTo, keep);
    }
}

QTEST_GUILESS_MAIN(TestSmtpClient)
#include "tst_smtpclient.moc"
