// The real zarvik-maild from outside: the simulated board, the real SMTP server, a systemd
// notification socket that the test reads, Unix signals, a credentials folder, and the window
// on the same settings file.
#include "support/EventWait.h"
#include "support/HttpSink.h"
#include "support/NotifySocket.h"
#include "support/RealProgram.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestCertificate.h"
#include "support/TestFiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {

const QString Mail = QStringLiteral("[Mail]\nAddress=%1\nFrom=z@example.com\nTo=ops@example.com\n");

// A running service and what it said on standard error.
struct Daemon {
    QProcess process;
    QString log;

    bool saw(const QString& text)
    {
        return EventWait::until([&] {
            log += QString::fromUtf8(process.readAllStandardError());
            return log.contains(text);
        });
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    // Exit status once it ended by itself or by `number`; -1 when it did not end normally.
    int endBy(int number)
    {
        if (number)
            signal(number);
        const bool ended = process.waitForFinished(10000);
        log += QString::fromUtf8(process.readAllStandardError());
        return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
};

} // namespace

class TestE2eService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void linksNoWidgets();
    void notifiesMailsReArmsReloadsAndStops();
    void recoveredNoticeMailedAndLogged();
    void keptMailSurvivesSigkill();
    void credentialPasswordLogsIn();
    void windowAndServiceOnOneFile_data();
    void windowAndServiceOnOneFile();
    void unreadableSettingsEndIt_data();
    void unreadableSettingsEndIt();

private:
    QString writeSettings(const QString& extra);
    bool start(Daemon& daemon, const QStringList& arguments = {});

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimBoard> m_sim;
    QProcessEnvironment m_environment;
};

void TestE2eService::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_sim = std::make_unique<SimBoard>();
    QVERIFY(m_dir->isValid() && m_sim->start());
    QVERIFY(m_sim->setRaw(64)); // 31.25 ℃
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.remove(QStringLiteral("JOURNAL_STREAM"));
    m_environment.remove(QStringLiteral("NOTIFY_SOCKET"));
}

void TestE2eService::cleanup()
{
    m_sim.reset();
    m_dir.reset();
}

// For the always-on box without a display.
void TestE2eService::linksNoWidgets()
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {qEnvironmentVariable("ZARVIK_MAILD")});
    QVERIFY(ldd.waitForFinished(10000));
    const QByteArray libraries = ldd.readAllStandardOutput();
    QVERIFY2(libraries.contains("libQt6Core") && !libraries.contains("libQt6Widgets") &&
                 !libraries.contains("libQt6Gui") && !libraries.contains("libQt6Charts"),
             libraries.constData());
}

QString TestE2eService::writeSettings(const QString& extra)
{
    const QString path = m_dir->filePath(QStringLiteral("ZARVIK_Mail.ini"));
    QString text =
        QStringLiteral("[ZARVIK]\nAddress=127.0.0.1\nPort=%1\n").arg(m_sim->port()) + extra;
    TestFiles::write(path, text.replace(u'\n', QStringLiteral("\r\n")).toUtf8());
    return path;
}

bool TestE2eService::start(Daemon& daemon, const QStringList& arguments)
{
    daemon.process.setProcessEnvironment(m_environment);
    daemon.process.start(qEnvironmentVariable("ZARVIK_MAILD"),
                         QStringList{QStringLiteral("--settings"),
                                     m_dir->filePath(QStringLiteral("ZARVIK_Mail.ini"))} +
                             arguments);
    return daemon.process.waitForStarted();
}

void TestE2eService::notifiesMailsReArmsReloadsAndStops()
{
    SmtpServer server;
    QVERIFY(server.isListening());
    HttpSink ntfy;
    const QString limit30 =
        QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n") + Mail.arg(server.hostPort());
    writeSettings(limit30 + QStringLiteral("[Push]\nNtfy=%1\n").arg(ntfy.url()));
    NotifySocket notify;
    QVERIFY(notify.isListening());
    m_environment.insert(QStringLiteral("NOTIFY_SOCKET"), notify.path());
    m_environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
    Daemon daemon;
    QVERIFY(start(daemon));

    QVERIFY(notify.waitFor(QStringLiteral("READY=1")));
    QVERIFY(m_sim->waitForRequests(1, 5000)); // the first request went out before READY
    QVERIFY(notify.waitFor(QStringLiteral("WATCHDOG=1"), 0, 2000));
    QVERIFY(EventWait::until(
        [&] { return notify.messages().contains(QStringLiteral("STATUS=31.2 ℃ RB1 L RB0 L")); }));
    QVERIFY(server.waitForMails(1));
    QVERIFY(server.mails().at(0).raw.contains("Subject: Over 30C"));
    QVERIFY(daemon.saw(QStringLiteral("Alert: 温度が 30℃を超えました。")));
    QVERIFY(daemon.saw(QStringLiteral("Alert mail sent to ops@example.com")));
    QVERIFY(daemon.saw(QStringLiteral("Push sent to ntfy")));

    daemon.signal(SIGUSR1); // re-armed, and still over the limit
    QVERIFY(server.waitForMails(2));
    QVERIFY(daemon.saw(QStringLiteral("Reset (SIGUSR1)")));

    // A new limit through SIGHUP: 31 ℃ no longer fires after a Reset, 44 ℃ does.
    const QString path = writeSettings(QStringLiteral("[Temp]\nUTemp=40\nCheck_U=1\n") +
                                       Mail.arg(server.hostPort()));
    const QByteArray written = TestFiles::read(path);
    const int before = int(notify.messages().size());
    daemon.signal(SIGHUP);
    QVERIFY(notify.waitFor(QStringLiteral("RELOADING=1"), before));
    QVERIFY(notify.waitFor(QStringLiteral("READY=1"),
                           notify.indexOf(QStringLiteral("RELOADING=1"), before)));
    daemon.signal(SIGUSR1);
    QVERIFY(daemon.saw(QStringLiteral("Settings re-read")));
    QVERIFY(m_sim->waitForRequests(m_sim->requests().size() + 3, 10000));
    QCOMPARE(server.mailCount(), 2);
    QVERIFY(m_sim->setRaw(90));
    QVERIFY(server.waitForMails(3));
    QVERIFY(server.mails().at(2).raw.contains("Subject: Over 40C"));

    QCOMPARE(daemon.endBy(SIGTERM), 0);
    QVERIFY(notify.waitFor(QStringLiteral("STOPPING=1")));
    QVERIFY(daemon.log.contains(QStringLiteral("Stopping (SIGTERM)")));
    QCOMPARE(TestFiles::read(path), written); // read, never written
}

// Re-arming by itself: the notice goes out as a mail and a line of the log.
void TestE2eService::recoveredNoticeMailedAndLogged()
{
    SmtpServer server;
    QVERIFY(server.isListening());
    writeSettings(QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n[Watch]\nReArm=1\nReArmSec=0\n") +
                  Mail.arg(server.hostPort()));
    Daemon daemon;
    QVERIFY(start(daemon));
    QVERIFY(daemon.saw(QStringLiteral("Alert: 温度が 30℃を超えました。")));
    QVERIFY(m_sim->setRaw(40)); // under 29 ℃
    QVERIFY(daemon.saw(QStringLiteral("Recovered: 温度が 30℃を下回り、正常に戻りました。 (rules "
                                      "upper; subject \"Recovered: Over 30C\")")));
    QVERIFY(server.waitForMails(2));
    QVERIFY(server.mails().at(1).raw.contains("Subject: Recovered: Over 30C\r\n"));
    QCOMPARE(daemon.endBy(SIGTERM), 0);
}

void TestE2eService::keptMailSurvivesSigkill()
{
    const QString mailAt = SmtpServer::refusingHostPort();
    writeSettings(QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n") + Mail.arg(mailAt) +
                  QStringLiteral("[Watch]\nRetry=1\n"));
    QTemporaryDir state;
    const QString outbox = state.filePath(QStringLiteral("ZARVIK_Mail.outbox"));
    Daemon first;
    QVERIFY(start(first, {QStringLiteral("--state"), state.path()}));
    QVERIFY(EventWait::until(
        [&] { return !TestFiles::entries(outbox).filter(QStringLiteral(".mail")).isEmpty(); }));
    QVERIFY(first.saw(QStringLiteral("Alert mail kept")));
    QCOMPARE(first.endBy(SIGKILL), -1);

    QVERIFY(m_sim->setRaw(40)); // 19.5 ℃: only the kept mail goes out now
    SmtpServer server(SmtpServer::listeningAt(mailAt));
    QVERIFY(server.isListening());
    Daemon second;
    QVERIFY(start(second, {QStringLiteral("--state"), state.path()}));
    QVERIFY(server.waitForMails(1));
    QVERIFY(server.mails().at(0).raw.contains("Subject: Over 30C"));
    QVERIFY(EventWait::until(
        [&] { return TestFiles::entries(outbox).filter(QStringLiteral(".mail")).isEmpty(); }));
    QCOMPARE(second.endBy(SIGTERM), 0);
    QCOMPARE(server.mailCount(), 1);
}

void TestE2eService::credentialPasswordLogsIn()
{
    SmtpServer::Options options;
    options.tls = SmtpServer::Tls::StartTlsRequired;
    options.certificate = &TestCertificate::shared();
    options.authUser = QStringLiteral("zarvik");
    options.authPassword = QStringLiteral("s3cret ü");
    SmtpServer server(options);
    QVERIFY(server.isListening());
    writeSettings(
        QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n") + Mail.arg(server.hostPort()) +
        QStringLiteral("User=zarvik\nCAFile=%1\n").arg(TestCertificate::shared().certPath()));
    QTemporaryDir credentials;
    QVERIFY(TestFiles::write(credentials.filePath(QStringLiteral("smtp-password")),
                             QStringLiteral("s3cret ü\n").toUtf8()));
    m_environment.insert(QStringLiteral("CREDENTIALS_DIRECTORY"), credentials.path());
    Daemon daemon;
    QVERIFY(start(daemon));
    QVERIFY(server.waitForMails(1));
    QCOMPARE(server.mails().at(0).authUser, QStringLiteral("zarvik"));
    QCOMPARE(daemon.endBy(SIGTERM), 0);
}

void TestE2eService::windowAndServiceOnOneFile_data()
{
    QTest::addColumn<bool>("serviceFirst");
    QTest::newRow("service first") << true;
    QTest::newRow("window first") << false;
}

void TestE2eService::windowAndServiceOnOneFile()
{
    QFETCH(bool, serviceFirst);
    const QString window = RealProgram::copyInto(m_dir->path());
    QVERIFY(!window.isEmpty());
    writeSettings({});
    Daemon service;
    Daemon program;
    if (serviceFirst) {
        QVERIFY(start(service));
        QVERIFY(service.saw(QStringLiteral("Watching the board")));
        QVERIFY(RealProgram::start(program.process, window));
        QVERIFY(program.saw(QStringLiteral("ZARVIK Mail は既に起動しています。")));
        QVERIFY(program.saw(QStringLiteral("(zarvik-maild)")));
        program.process.kill(); // its box waits for an OK nobody presses here
        QCOMPARE(service.endBy(SIGTERM), 0);
    } else {
        QVERIFY(RealProgram::start(program.process, window));
        QVERIFY(m_sim->waitForRequests(2, 10000)); // up and ticking: SIGTERM is handled by then
        QVERIFY(start(service));
        QCOMPARE(service.endBy(0), 1);
        QVERIFY2(service.log.contains(QStringLiteral("(ZARVIK_Mail)")), qPrintable(service.log));
        QCOMPARE(program.endBy(SIGTERM), 0);
    }
}

void TestE2eService::unreadableSettingsEndIt_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("says");
    QTest::newRow("missing") << "none.ini"
                             << "does not exist";
    QTest::newRow("a folder") << "folder.ini"
                              << "cannot be read";
}

// Never on defaults it was not given: the default board address is a real LAN address.
void TestE2eService::unreadableSettingsEndIt()
{
    QFETCH(QString, name);
    QFETCH(QString, says);
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder.ini")));
    Daemon daemon;
    daemon.process.setProcessEnvironment(m_environment);
    daemon.process.start(qEnvironmentVariable("ZARVIK_MAILD"),
                         {QStringLiteral("--settings"), m_dir->filePath(name)});
    QCOMPARE(daemon.endBy(0), 1);
    QVERIFY2(daemon.log.contains(says), qPrintable(daemon.log));
    QVERIFY(m_sim->requests().isEmpty());
}

QTEST_GUILESS_MAIN(TestE2eService)
#include "tst_e2e_service.moc"
