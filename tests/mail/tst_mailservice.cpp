// The program's mail service against a real SMTP server: alert and test mails, keeping those
// that may pass, closing mid-send, the keyring's hold, and no nested event loop anywhere.

#include "mail/MailService.h"
#include "mail/Outbox.h"
#include "mail/OutboxSender.h"
#include "support/EventWait.h"
#include "support/MailText.h"
#include "support/SmtpServer.h"
#include "support/TestCertificate.h"
#include "support/TestFiles.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace {

const QString kUser = QStringLiteral("zarvik-unit");
const QString kSubject = QStringLiteral("温度警報");
const QString kBody = QStringLiteral("温度が上限を超えました。\r\nRB1: ON\r\n");

MailSettings settingsFor(const QString& server, bool retry = false)
{
    MailSettings settings;
    settings.server = server;
    settings.user = kUser;
    settings.from = QStringLiteral("監視ボード <board@example.jp>");
    settings.to = QStringLiteral("Operator <ops@example.jp>; boss@example.jp");
    settings.retry = retry;
    return settings;
}

// Every result the service tells, in order.
struct Results {
    explicit Results(MailService& service)
    {
        QObject::connect(&service, &MailService::alertFinished, &context,
                         [this](const MailResult& r) { alerts.append(r); });
        QObject::connect(&service, &MailService::testFinished, &context,
                         [this](const MailResult& r) { tests.append(r); });
    }
    bool waitFor(int alertCount, int testCount = 0)
    {
        return EventWait::until(
            [&] { return alerts.size() >= alertCount && tests.size() >= testCount; }, 30000);
    }
    QObject context;
    QList<MailResult> alerts;
    QList<MailResult> tests;
};

} // namespace

class TestMailService : public QObject {
    Q_OBJECT
private slots:
    void alertArrives_data();
    void alertArrives();
    void failureThatMayPassIsKept_data();
    void failureThatMayPassIsKept();
    void hangingAlertHoldsNoTestMailBackAndIsKeptOnAbort();
    void heldForPasswordWaitsForIt();
    void eventLoopIsNeverNested();
};

void TestMailService::alertArrives_data()
{
    QTest::addColumn<int>("priority");
    QTest::addColumn<QByteArray>("xPriority"); // null: no field
    QTest::newRow("high") << 0 << QByteArray("1");
    QTest::newRow("normal") << 1 << QByteArray("3");
    QTest::newRow("low") << 2 << QByteArray("5");
    QTest::newRow("none") << 3 << QByteArray();
}

void TestMailService::alertArrives()
{
    QFETCH(int, priority);
    QFETCH(QByteArray, xPriority);
    SmtpServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    QTemporaryDir dir;
    MailService service(dir.filePath(QStringLiteral("outbox")));
    MailSettings settings = settingsFor(server.hostPort());
    settings.priority = priority;
    service.setSettings(settings);
    QSignalSpy sending(&service, &MailService::sendingChanged);
    Results results(service);

    service.sendAlert(kSubject, kBody);
    QVERIFY(results.waitFor(1));
    QVERIFY2(results.alerts[0].sent, qPrintable(results.alerts[0].error));
    QCOMPARE(sending.size(), 2);
    QVERIFY(sending[0][0].toBool() && !sending[1][0].toBool());
    QVERIFY(!service.isSending());

    QCOMPARE(server.mailCount(), 1);
    const SmtpServer::Mail mail = server.mails()[0];
    QCOMPARE(mail.mailFrom, QStringLiteral("board@example.jp"));
    QCOMPARE(mail.rcptTo, (QStringList{"ops@example.jp", "boss@example.jp"}));
    CHECK_WIRE(mail.raw);
    const ParsedMail parsed(mail.raw);
    QCOMPARE(parsed.text("Subject"), kSubject);
    QCOMPARE(parsed.bodyText(), kBody);
    QCOMPARE(parsed.value("Content-Type"), "text/plain; charset=\"iso-2022-jp\"");
    QCOMPARE(parsed.value("X-Priority"), xPriority);
    QCOMPARE(parsed.count("X-Priority"), xPriority.isNull() ? 0 : 1);
}

void TestMailService::failureThatMayPassIsKept_data()
{
    QTest::addColumn<bool>("retry");
    QTest::addColumn<bool>("outboxBlocked"); // a file where the outbox folder would be
    QTest::newRow("kept, sent when the server is back") << true << false;
    QTest::newRow("retry off: not kept") << false << false;
    QTest::newRow("cannot be kept: says so") << true << true;
}

void TestMailService::failureThatMayPassIsKept()
{
    QFETCH(bool, retry);
    QFETCH(bool, outboxBlocked);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("outbox"));
    if (outboxBlocked)
        QVERIFY(TestFiles::write(folder, "not a folder"));
    const QString hostPort = SmtpServer::refusingHostPort();
    MailService service(folder);
    service.outboxSender().setDelayScale(0.01);
    service.setSettings(settingsFor(hostPort, retry));
    Results results(service);

    service.sendAlert(kSubject, kBody);
    QVERIFY(results.waitFor(1));
    const MailResult failed = results.alerts[0];
    QVERIFY(!failed.sent && failed.mayPass && !failed.cancelled);
    QVERIFY2(failed.error.contains(QStringLiteral("Couldn't connect to server")),
             qPrintable(failed.error));
    const QString notKept = QStringLiteral("\n送信できなかったメールを保存できませんでした: ");
    QCOMPARE(failed.error.contains(notKept), outboxBlocked);
    QCOMPARE(service.outboxSender().outbox().pending().size(), retry && !outboxBlocked ? 1 : 0);
    if (!retry || outboxBlocked)
        return;

    SmtpServer server(SmtpServer::listeningAt(hostPort));
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    QVERIFY(server.waitForMails(1, 30000));
    QCOMPARE(ParsedMail(server.mails()[0].raw).text("Subject"), kSubject);
    QCOMPARE(server.mails()[0].rcptTo, (QStringList{"ops@example.jp", "boss@example.jp"}));
    QVERIFY(EventWait::until([&] { return service.outboxSender().outbox().pending().isEmpty(); }));
}

// An alert stuck on a silent server: the test mail still goes, and closing keeps the alert and
// the one queued behind it for the next start.
void TestMailService::hangingAlertHoldsNoTestMailBackAndIsKeptOnAbort()
{
    SmtpServer silent(QStringLiteral("hang-after-data"));
    QVERIFY2(silent.isListening(), qPrintable(silent.errorString()));
    SmtpServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    QTemporaryDir dir;
    MailService service(dir.filePath(QStringLiteral("outbox")));
    service.outboxSender().setDelayScale(0.01);
    service.setSettings(settingsFor(silent.hostPort(), true));
    Results results(service);

    service.sendAlert(kSubject, kBody);
    QVERIFY(EventWait::until([&] { return silent.holdsAMail(); }));
    service.sendAlert(QStringLiteral("queued"), kBody);
    service.setSettings(settingsFor(server.hostPort(), true));
    service.sendTest();
    QVERIFY(results.waitFor(0, 1));
    QVERIFY2(results.tests[0].sent, qPrintable(results.tests[0].error));
    QCOMPARE(server.mailCount(), 1);
    QCOMPARE(ParsedMail(server.mails()[0].raw).text("Subject"), QStringLiteral("ZARVIK Mail test"));
    QVERIFY(ParsedMail(server.mails()[0].raw)
                .bodyText()
                .startsWith(QStringLiteral("ZARVIK Mail からのテストメールです。\r\n送信日時: ")));
    QVERIFY(results.alerts.isEmpty() && service.isSending());

    service.abort(); // given up at once: both told before it returns
    QCOMPARE(results.alerts.size(), 2);
    for (const MailResult& r : std::as_const(results.alerts))
        QVERIFY(r.cancelled && !r.sent && r.error.isEmpty());
    QVERIFY(!service.isSending());
    QCOMPARE(service.outboxSender().outbox().pending().size(), 2);

    // Next start: the kept mails go, in their order.
    service.setSettings(settingsFor(server.hostPort(), true));
    QVERIFY(server.waitForMails(3, 30000));
    QCOMPARE(ParsedMail(server.mails()[1].raw).text("Subject"), kSubject);
    QCOMPARE(ParsedMail(server.mails()[2].raw).text("Subject"), QStringLiteral("queued"));
}

// The keyring answers late: mails asked for meanwhile wait, then log in with its password.
void TestMailService::heldForPasswordWaitsForIt()
{
    const TestCertificate& certificate = TestCertificate::shared();
    QVERIFY2(certificate.isValid(), qPrintable(certificate.errorString()));
    SmtpServer::Options options;
    options.tls = SmtpServer::Tls::StartTlsRequired;
    options.certificate = &certificate;
    options.authUser = kUser;
    options.authPassword = QStringLiteral("pa:ss word");
    SmtpServer server(options);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    QTemporaryDir dir;
    MailService service(dir.filePath(QStringLiteral("outbox")));
    MailSettings settings = settingsFor(server.hostPort());
    settings.caFile = certificate.certPath();
    service.setSettings(settings); // no password yet: the server would refuse the mail
    Results results(service);

    service.setHeldForPassword(true);
    service.sendAlert(kSubject, kBody);
    service.sendTest();
    QVERIFY(service.isSending());
    settings.password = options.authPassword;
    service.setSettings(settings);
    service.setHeldForPassword(false);
    QVERIFY(results.waitFor(1, 1));
    QVERIFY2(results.alerts[0].sent, qPrintable(results.alerts[0].error));
    QVERIFY2(results.tests[0].sent, qPrintable(results.tests[0].error));
    QCOMPARE(server.mailCount(), 2);
    for (const SmtpServer::Mail& mail : server.mails())
        QCOMPARE(mail.authUser, kUser);
}

void TestMailService::eventLoopIsNeverNested()
{
    SmtpServer silent(QStringLiteral("hang"));
    QVERIFY2(silent.isListening(), qPrintable(silent.errorString()));
    QTemporaryDir dir;
    MailService service(dir.filePath(QStringLiteral("outbox")));
    service.setTimeouts(1000, 2000);
    service.setSettings(settingsFor(silent.hostPort()));
    int ticks = 0;
    int tickLevel = -1;
    QTimer timer;
    timer.setInterval(20);
    connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        tickLevel = QThread::currentThread()->loopLevel();
    });
    int finishedLevel = -1;
    connect(&service, &MailService::alertFinished, &timer,
            [&] { finishedLevel = QThread::currentThread()->loopLevel(); });
    Results results(service);
    timer.start();

    const int before = QThread::currentThread()->loopLevel();
    service.sendAlert(kSubject, kBody);
    QVERIFY(service.isSending() && results.alerts.isEmpty()); // asked for, not waited for
    QVERIFY(results.waitFor(1));
    timer.stop();
    QVERIFY(!results.alerts[0].sent && results.alerts[0].mayPass);
    QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
    // Told from the very loop the test waits in, one above its own level: never a loop inside.
    QCOMPARE(tickLevel, before + 1);
    QCOMPARE(finishedLevel, tickLevel);
}

QTEST_GUILESS_MAIN(TestMailService)
#include "tst_mailservice.moc"
