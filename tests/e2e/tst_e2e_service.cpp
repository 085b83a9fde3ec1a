// The real zarvik-maild from outside: the simulated board, the real SMTP server, a systemd
// notification socket that the test reads, Unix signals, a credentials folder, and the window
// on the same settings file.
#include "support/EventWait.h"
#include "support/HttpSink.h"
#include "support/NotifySocket.h"
#include "support/RealProgram.h"
#include "support/ServiceProcess.h"
#include "support/SettingsFile.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestCertificate.h"
#include "support/TestFiles.h"
#include "support/Unprivileged.h"
#include "web/PasswordHash.h"

#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QString Mail = QStringLiteral("[Mail]\nAddress=%1\nFrom=z@example.com\nTo=ops@example.com\n");

using Daemon = ServiceProcess;

} // namespace

class TestE2eService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void linksNoWidgets();
    void notifiesMailsReArmsReloadsAndStops();
    void recoveredNoticeMailedAndLogged();
    void mutedFromAShellThenAcknowledged();
    void webPasswordFromAPipe_data();
    void webPasswordFromAPipe();
    void keptMailSurvivesSigkill();
    void credentialsLogInAndPush();
    void windowAndServiceOnOneFile_data();
    void windowAndServiceOnOneFile();
    void unreadableSettingsEndIt_data();
    void unreadableSettingsEndIt();
    void reloadKeepsWhatCannotBeTaken_data();
    void reloadKeepsWhatCannotBeTaken();
    void signalBurstsAreTakenOnce_data();
    void signalBurstsAreTakenOnce();
    void credentialThatIsNoPassword_data();
    void credentialThatIsNoPassword();
    void silentSessionBusCostsNoPoll();
    void oneCopyWhoeverStartsIt();

private:
    QString writeSettings(const QString& extra);
    bool start(Daemon& daemon, const QStringList& arguments = {});
    // Started as systemd would, with a notification socket and a watchdog of 0.4 s.
    bool startNotifying(Daemon& daemon, const NotifySocket& notify);

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
    return writeSettingsFile(m_dir->path(), m_sim->port(), extra);
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

bool TestE2eService::startNotifying(Daemon& daemon, const NotifySocket& notify)
{
    m_environment.insert(QStringLiteral("NOTIFY_SOCKET"), notify.path());
    m_environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000"));
    return notify.isListening() && start(daemon);
}

void TestE2eService::notifiesMailsReArmsReloadsAndStops()
{
    SmtpServer server;
    QVERIFY(server.isListening());
    HttpSink ntfy;
    const QString limit30 =
        QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n") + Mail.arg(server.hostPort());
    // A metrics address that works: nothing is wrong with it, so nothing is over either.
    const QString metrics =
        QStringLiteral("[Watch]\nMetrics=%1\n").arg(SmtpServer::refusingHostPort());
    writeSettings(limit30 + QStringLiteral("[Push]\nNtfy=%1\n").arg(ntfy.url()) + metrics);
    NotifySocket notify;
    Daemon daemon;
    QVERIFY(startNotifying(daemon, notify));

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
    const QString path =
        writeSettings(QStringLiteral("[Temp]\nUTemp=40\nCheck_U=1\n") +
                      Mail.arg(server.hostPort()) + QStringLiteral("[Push]\nNtfy=\n") + metrics);
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
    QVERIFY2(!daemon.log.contains(QStringLiteral("problem is over")), "an end of nothing said");
    QCOMPARE(TestFiles::read(path), written); // read, never written
}

// An administrator mutes the running service from a shell, the alert is only logged, ending the
// mute mails it, and SIGUSR2 acknowledges it once.
void TestE2eService::mutedFromAShellThenAcknowledged()
{
    SmtpServer server;
    QVERIFY(server.isListening() && m_sim->setTemperature(20));
    const QString path = writeSettings(QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n") +
                                       Mail.arg(server.hostPort()));
    const QString state = m_dir->filePath(QStringLiteral("state"));
    QVERIFY(QDir().mkpath(state));
    Daemon daemon;
    QVERIFY(start(daemon, {QStringLiteral("--state"), state}));
    QVERIFY(daemon.saw(QStringLiteral("Watching the board")));
    // As an administrator types it, without naming the state folder.
    const auto mute = [&](const QStringList& when) {
        QProcess shell;
        shell.start(qEnvironmentVariable("ZARVIK_MAILD"),
                    QStringList{QStringLiteral("--settings"), path, QStringLiteral("--mute")} +
                        when);
        return shell.waitForFinished(10000) && shell.exitCode() == 0 &&
               shell.readAllStandardOutput().contains("was told");
    };
    QVERIFY(mute({QStringLiteral("until"), QStringLiteral("23:59")}));
    QVERIFY(daemon.saw(QStringLiteral("Muted until")));
    QVERIFY(QFile::exists(state + QStringLiteral("/ZARVIK_Mail.mute")));
    QVERIFY(m_sim->setTemperature(31.5));
    QVERIFY(
        daemon.saw(QStringLiteral("(rules upper; subject \"Over 30C\") - muted, no one notified")));
    QVERIFY(m_sim->waitForRequests(m_sim->requests().size() + 3, 10000));
    QCOMPARE(server.mailCount(), 0);

    QVERIFY(mute({QStringLiteral("off")}));
    QVERIFY(daemon.saw(QStringLiteral("Alert after maintenance: 温度が 30℃を超えました。")));
    QVERIFY(server.waitForMails(1));
    QVERIFY(server.mails().at(0).raw.contains("Subject: Over 30C"));
    daemon.signal(SIGUSR2);
    QVERIFY(daemon.saw(QStringLiteral("Acknowledged: Over 30C at ")));
    QVERIFY(server.waitForMails(2));
    QVERIFY(server.mails().at(1).raw.contains("Subject: Acknowledged: Over 30C\r\n"));
    daemon.signal(SIGUSR2);
    QVERIFY(daemon.saw(QStringLiteral("Nothing to acknowledge (SIGUSR2)")));
    QCOMPARE(daemon.endBy(SIGTERM), 0);
    QCOMPARE(server.mailCount(), 2);
}

void TestE2eService::webPasswordFromAPipe_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("running"); // a service watches the file
    QTest::addColumn<int>("exitCode");
    QTest::newRow("one line") << QByteArray("s3cret pass\n") << false << 0;
    QTest::newRow("no line end, service told") << QByteArray("s3cret pass") << true << 0;
    QTest::newRow("empty line refused") << QByteArray("\n") << false << 2;
    QTest::newRow("nothing refused") << QByteArray() << false << 2;
    QTest::newRow("NUL refused") << QByteArray("s3cret\0pass\n", 12) << false << 2;
}

// An administrator sets the status page's password from a shell: only its hash is kept.
void TestE2eService::webPasswordFromAPipe()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, running);
    QFETCH(int, exitCode);
    const QString path = writeSettings(QStringLiteral("[Watch]\nLog=1\n"));
    const QByteArray before = TestFiles::read(path);
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                            QFile::ReadOther));
    const QFileDevice::Permissions mode = QFile::permissions(path);
    Daemon daemon;
    if (running) {
        QVERIFY(start(daemon));
        QVERIFY(daemon.saw(QStringLiteral("Watching the board")));
    }
    QProcess shell;
    shell.start(qEnvironmentVariable("ZARVIK_MAILD"),
                {QStringLiteral("--settings"), path, QStringLiteral("--web-password")});
    QVERIFY(shell.waitForStarted());
    shell.write(input);
    shell.closeWriteChannel();
    QVERIFY(shell.waitForFinished(10000));
    QCOMPARE(shell.exitCode(), exitCode);
    const QByteArray after = TestFiles::read(path);
    if (exitCode != 0) {
        QVERIFY(!shell.readAllStandardError().isEmpty());
        QCOMPARE(after, before);
        return;
    }
    QVERIFY(shell.readAllStandardOutput().contains(running ? "was told" : "no service runs"));
    const QRegularExpressionMatch hash =
        QRegularExpression(QStringLiteral("\\[Web\\]\r\nPasswordHash=(\\$y\\$[^\r\n]+)\r\n"))
            .match(QString::fromLatin1(after));
    QVERIFY2(hash.hasMatch(), after.constData());
    QVERIFY(PasswordHash::verify(QStringLiteral("s3cret pass"), hash.captured(1)));
    QVERIFY(!after.contains("s3cret"));
    // Every line the file had stays, and its mode: the service's own user must still read it.
    for (const QByteArray& line : before.split('\n'))
        QVERIFY2(after.contains(line), line.constData());
    QCOMPARE(QFile::permissions(path), mode);
    if (running) {
        QVERIFY(daemon.saw(QStringLiteral("Settings re-read")));
        QCOMPARE(daemon.endBy(SIGTERM), 0);
    }
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

// The password and the bot's token from systemd's credentials, not from the file.
void TestE2eService::credentialsLogInAndPush()
{
    HttpSink bot;
    SmtpServer::Options options;
    options.tls = SmtpServer::Tls::StartTlsRequired;
    options.certificate = &TestCertificate::shared();
    options.authUser = QStringLiteral("zarvik");
    options.authPassword = QStringLiteral("s3cret ü");
    SmtpServer server(options);
    QVERIFY(server.isListening());
    writeSettings(
        QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n") + Mail.arg(server.hostPort()) +
        QStringLiteral("User=zarvik\nCAFile=%1\n").arg(TestCertificate::shared().certPath()) +
        QStringLiteral("[Push]\nTelegramToken=\nTelegramChat=42\nTelegramApi=%1\n")
            .arg(bot.url({})));
    QTemporaryDir credentials;
    QVERIFY(TestFiles::write(credentials.filePath(QStringLiteral("smtp-password")),
                             QStringLiteral("s3cret ü\n").toUtf8()));
    QVERIFY(TestFiles::write(credentials.filePath(QStringLiteral("telegram-token")),
                             "123:secret-token\n"));
    QVERIFY(TestFiles::write(credentials.filePath(QStringLiteral("push-webhook")), "\n"));
    m_environment.insert(QStringLiteral("CREDENTIALS_DIRECTORY"), credentials.path());
    Daemon daemon;
    QVERIFY(start(daemon));
    QVERIFY(server.waitForMails(1));
    QCOMPARE(server.mails().at(0).authUser, QStringLiteral("zarvik"));
    QVERIFY(bot.waitForRequests(1));
    QCOMPARE(bot.requests().at(0).path, QStringLiteral("/bot123:secret-token/sendMessage"));
    QVERIFY(daemon.saw(QStringLiteral("[Push] TelegramToken is taken from the credential")));
    QCOMPARE(daemon.endBy(SIGTERM), 0);
    QVERIFY(!daemon.log.contains(QStringLiteral("secret-token")));
    QVERIFY(!daemon.log.contains(QStringLiteral("push-webhook")));
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
    QTest::newRow("a FIFO") << "fifo.ini"
                            << "cannot be read";
    QTest::newRow("empty") << "empty.ini"
                           << "does not name the board";
    QTest::newRow("cut short") << "cut.ini"
                               << "does not name the board";
    QTest::newRow("no board") << "noboard.ini"
                              << "does not name the board";
}

// Never on defaults it was not given: the default board address is a real LAN address.
void TestE2eService::unreadableSettingsEndIt()
{
    QFETCH(QString, name);
    QFETCH(QString, says);
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder.ini")));
    QCOMPARE(::mkfifo(QFile::encodeName(m_dir->filePath(QStringLiteral("fifo.ini"))), 0600), 0);
    QVERIFY(TestFiles::write(m_dir->filePath(QStringLiteral("empty.ini")), {}));
    QVERIFY(TestFiles::write(m_dir->filePath(QStringLiteral("cut.ini")),
                             "[Location]\r\nLeft=0\r\nTop=0\r\n[ZARVIK]\r\nAddress=127.0"));
    QVERIFY(TestFiles::write(m_dir->filePath(QStringLiteral("noboard.ini")),
                             "[Location]\r\nLeft=0\r\nTop=0\r\n"));
    Daemon daemon;
    daemon.process.setProcessEnvironment(m_environment);
    daemon.process.start(qEnvironmentVariable("ZARVIK_MAILD"),
                         {QStringLiteral("--settings"), m_dir->filePath(name)});
    QCOMPARE(daemon.endBy(0), 1);
    QVERIFY2(daemon.log.contains(says), qPrintable(daemon.log));
    QVERIFY(m_sim->requests().isEmpty());
}

void TestE2eService::reloadKeepsWhatCannotBeTaken_data()
{
    QTest::addColumn<QByteArray>("written"); // "FIFO": a FIFO in the file's place
    QTest::addColumn<QString>("says");
    QTest::newRow("cut inside [Mail]")
        << QByteArray("[ZARVIK]\r\nAddress=127.0.0.1\r\nPort=%1\r\n[Temp]\r\nUTemp=30\r\n"
                      "Check_U=1\r\n[Mail]\r\nAddress=%2\r\n")
        << "lacks [Mail] From, [Mail] To";
    QTest::newRow("empty") << QByteArray() << "does not name the board";
    QTest::newRow("a FIFO") << QByteArray("FIFO") << "cannot be read";
}

// An editor writing in place at the moment of a reload: the settings in force stay, and the next
// alert is mailed as before.
void TestE2eService::reloadKeepsWhatCannotBeTaken()
{
    QFETCH(QByteArray, written);
    QFETCH(QString, says);
    SmtpServer server;
    QVERIFY(server.isListening());
    const QString path = writeSettings(QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n") +
                                       Mail.arg(server.hostPort()));
    NotifySocket notify;
    Daemon daemon;
    QVERIFY(startNotifying(daemon, notify));
    QVERIFY(server.waitForMails(1));
    QVERIFY(QFile::remove(path));
    if (written == "FIFO")
        QCOMPARE(::mkfifo(QFile::encodeName(path), 0600), 0);
    else
        QVERIFY(TestFiles::write(
            path,
            QString::fromLatin1(written).arg(m_sim->port()).arg(server.hostPort()).toLatin1()));
    const int before = int(notify.messages().size());
    daemon.signal(SIGHUP);
    QVERIFY(notify.waitFor(QStringLiteral("RELOADING=1"), before));
    QVERIFY(notify.waitFor(QStringLiteral("READY=1"),
                           notify.indexOf(QStringLiteral("RELOADING=1"), before)));
    QVERIFY(daemon.saw(QStringLiteral("the settings in force stay (SIGHUP)")));
    QVERIFY2(daemon.log.contains(says), qPrintable(daemon.log));
    daemon.signal(SIGUSR1);
    QVERIFY(server.waitForMails(2));
    QCOMPARE(daemon.endBy(SIGTERM), 0);
}

void TestE2eService::signalBurstsAreTakenOnce_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QString>("logged");
    QTest::newRow("SIGHUP") << int(SIGHUP) << "Settings re-read";
    QTest::newRow("SIGUSR1") << int(SIGUSR1) << "Reset (SIGUSR1)";
}

// Any number of signals at any rate: each kind is taken at least once, polling and the watchdog
// go on, and a storm of SIGTERM that lasts until the end still ends it with status 0.
void TestE2eService::signalBurstsAreTakenOnce()
{
    QFETCH(int, signalNumber);
    QFETCH(QString, logged);
    constexpr int Burst = 20000;
    writeSettings({});
    NotifySocket notify;
    Daemon daemon;
    QVERIFY(startNotifying(daemon, notify));
    QVERIFY(notify.waitFor(QStringLiteral("READY=1")));
    for (int i = 0; i < Burst; ++i)
        daemon.signal(signalNumber);
    QVERIFY(daemon.saw(logged));
    const int after = int(notify.messages().size());
    QVERIFY(m_sim->waitForRequests(m_sim->requests().size() + 2, 10000));
    QVERIFY(notify.waitFor(QStringLiteral("WATCHDOG=1"), after));
    std::atomic<bool> ended = false;
    const pid_t pid = pid_t(daemon.process.processId());
    std::thread storm([&ended, pid] {
        while (!ended)
            ::kill(pid, SIGTERM);
    });
    const int status = daemon.endBy(0);
    ended = true;
    storm.join();
    QCOMPARE(status, 0);
    QVERIFY(daemon.log.count(logged) < Burst);
}

void TestE2eService::credentialThatIsNoPassword_data()
{
    QTest::addColumn<QByteArray>("content"); // "FIFO": a FIFO in the credential's place
    QTest::addColumn<QString>("says");
    QTest::newRow("a FIFO") << QByteArray("FIFO") << "it is not a regular file";
    QTest::newRow("too long") << QByteArray(5000, 'x') << "larger than 4096 bytes";
}

// Refused with a word in the log, never waited on nor cut; the watching starts all the same.
void TestE2eService::credentialThatIsNoPassword()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, says);
    writeSettings({});
    QTemporaryDir credentials;
    const QString path = credentials.filePath(QStringLiteral("smtp-password"));
    if (content == "FIFO")
        QCOMPARE(::mkfifo(QFile::encodeName(path), 0600), 0);
    else
        QVERIFY(TestFiles::write(path, content));
    m_environment.insert(QStringLiteral("CREDENTIALS_DIRECTORY"), credentials.path());
    Daemon daemon;
    QVERIFY(start(daemon));
    QVERIFY(daemon.saw(QStringLiteral("Watching the board")));
    QVERIFY2(
        daemon.log.contains(QStringLiteral("The credential smtp-password cannot be used (") + says),
        qPrintable(daemon.log));
    QVERIFY(m_sim->waitForRequests(2, 10000));
    QCOMPARE(daemon.endBy(SIGTERM), 0);
}

// A session bus that accepts and never answers: the alert's desktop notification waits for it on
// a thread of its own while the mail goes out and the polls go on.
void TestE2eService::silentSessionBusCostsNoPoll()
{
    QLocalServer bus;
    QVERIFY(bus.listen(m_dir->filePath(QStringLiteral("bus"))));
    SmtpServer server;
    QVERIFY(server.isListening());
    writeSettings(QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n") + Mail.arg(server.hostPort()) +
                  QStringLiteral("[Watch]\nNotify=1\n"));
    m_environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                         QStringLiteral("unix:path=") + bus.fullServerName());
    Daemon daemon;
    QVERIFY(start(daemon));
    QVERIFY(daemon.saw(QStringLiteral("Alert: ")));
    QVERIFY(server.waitForMails(1));
    QVERIFY(m_sim->waitForRequests(m_sim->requests().size() + 2, 6000));
    daemon.signal(SIGUSR1); // a second alert, while the first notification still waits
    QVERIFY(server.waitForMails(2));
    QCOMPARE(daemon.endBy(SIGTERM), 0);
}

// Root's copy must see the lock of a copy that could not lie beside the file (a service whose
// sandbox makes the folder read-only and /tmp its own, here a user who may not write the folder).
void TestE2eService::oneCopyWhoeverStartsIt()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to start the first copy as another user");
    const User user = unprivilegedUser();
    writeSettings({});
    QTemporaryDir state;
    QVERIFY(::chmod(QFile::encodeName(m_dir->path()), 0755) == 0 &&
            ::chmod(QFile::encodeName(m_dir->filePath(QStringLiteral("ZARVIK_Mail.ini"))), 0644) ==
                0 &&
            ::chown(QFile::encodeName(state.path()), user.uid, user.gid) == 0);
    Daemon first;
    first.process.setChildProcessModifier([user] {
        if (::setgid(user.gid) != 0 || ::setuid(user.uid) != 0)
            ::_exit(125);
    });
    QVERIFY(start(first, {QStringLiteral("--state"), state.path()}));
    QVERIFY(first.saw(QStringLiteral("Watching the board")));
    Daemon second;
    QVERIFY(start(second));
    QCOMPARE(second.endBy(0), 1);
    QVERIFY2(second.log.contains(QStringLiteral("は既に起動しています")) &&
                 second.log.contains(QStringLiteral("(zarvik-maild)")),
             qPrintable(second.log));
    QCOMPARE(first.endBy(SIGTERM), 0);
}

QTEST_GUILESS_MAIN(TestE2eService)
#include "tst_e2e_service.moc"
