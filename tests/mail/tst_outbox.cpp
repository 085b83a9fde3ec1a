// Kept mails: the files, the waits between tries, which failures may pass, and the sender
// against a real SMTP server that is down, refuses, or comes back.

#include "core/Clock.h"
#include "core/KeptFolder.h"
#include "mail/Outbox.h"
#include "mail/OutboxSender.h"
#include "mail/SmtpEndpoint.h"
#include "mail/SmtpTransfer.h"
#include "support/EventWait.h"
#include "support/SmtpServer.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/stat.h>

namespace {

ComposedMail mail(const QByteArray& subject)
{
    return {"zarvik@example.com",
            {"a@example.com", "b@example.com"},
            "Subject: " + subject + "\r\n\r\nbody\r\n.\r\n..\r\n"};
}

SmtpJob jobTo(const QString& hostPort, const ComposedMail& m)
{
    SmtpEndpoint server;
    QString error;
    if (!SmtpEndpoint::parse(hostPort, &server, &error))
        qFatal("%s", qPrintable(error));
    SmtpJob job;
    job.host = server.host.toUtf8();
    job.port = server.port;
    job.ehloName = "localhost";
    job.mailFrom = m.mailFrom;
    job.rcptTo = m.rcptTo;
    job.message = m.message;
    job.connectTimeoutMs = 2000;
    job.totalTimeoutMs = 3000;
    return job;
}

// The session of every kept mail: to `hostPort`.
OutboxSender::Session sessionTo(const QString& hostPort)
{
    return [hostPort](const ComposedMail& m, SmtpJob* job, QString*) {
        *job = jobTo(hostPort, m);
        return true;
    };
}

// A sender of the kept mails in `folder` to `server`, on, with its waits cut a hundredfold.
std::unique_ptr<OutboxSender> quickSender(const QString& folder, const SmtpServer& server)
{
    auto sender =
        std::make_unique<OutboxSender>(folder, sessionTo(server.hostPort()), Clock::system());
    sender->setDelayScale(0.01);
    sender->setEnabled(true);
    return sender;
}

// A server that answers RCPT TO:<address> with `reply`.
SmtpServer::Options refusing(const QString& address, const QString& reply)
{
    SmtpServer::Options options;
    options.refuseRcpt[address] = reply;
    return options;
}

// Lets every try under way and due now end, so that nothing more happens unseen.
bool waitForIdle(OutboxSender& sender)
{
    return EventWait::until([&] { return !sender.isSending(); });
}

} // namespace

class TestOutbox : public QObject {
    Q_OBJECT
private slots:
    void keptFileRoundTrips();
    void strayFilesAreNotMails_data();
    void strayFilesAreNotMails();
    void oldestFirstAndBounded();
    void folderThatCannotBeMadeSaysWhy();
    void retryWaits();
    void whichFailuresMayPass_data();
    void whichFailuresMayPass();
    void sendsOnceTheServerIsBack();
    void refusedAndUnreadableAreSetAside();
    void oneStuckMailHoldsNoOtherBack();
    void deferredRecipientStaysKeptAlone();
    void theMailJustKeptIsNeverDropped();
    void leftoversOfAKilledKeepAreSortedOut();
};

void TestOutbox::keptFileRoundTrips()
{
    ComposedMail back;
    QVERIFY(Outbox::decode(Outbox::encode(mail("x")), &back));
    QCOMPARE(back.mailFrom, mail("x").mailFrom);
    QCOMPARE(back.rcptTo, mail("x").rcptTo);
    QCOMPARE(back.message, mail("x").message); // byte for byte, blank lines and dots included
}

void TestOutbox::strayFilesAreNotMails_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no magic") << QByteArray("MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\n\r\nx");
    QTest::newRow("no recipient") << QByteArray("ZARVIK-Outbox 1\r\nMAIL FROM:<a@b>\r\n\r\nx");
    QTest::newRow("no blank line") << QByteArray("ZARVIK-Outbox 1\r\nMAIL FROM:<a@b>\r\nRCPT");
    QTest::newRow("bad rcpt") << QByteArray(
        "ZARVIK-Outbox 1\r\nMAIL FROM:<a@b>\r\nRCPT TO:c\r\n\r\n");
    // Written by hand: each would add to or bend the command it ends up in.
    const auto kept = [](const QByteArray& from, const QByteArray& rcpt) {
        return "ZARVIK-Outbox 1\r\nMAIL FROM:" + from + "\r\nRCPT TO:" + rcpt + "\r\n\r\nx\r\n";
    };
    QTest::newRow("rcpt parameter")
        << kept("<a@b.example>", "<x@example.org> NOTIFY=SUCCESS ORCPT=rfc822;spy@evil.example>");
    QTest::newRow("mail parameter")
        << kept("<a@b.example> AUTH=spoof@example.com>", "<x@example.org>");
    QTest::newRow("bare CR") << kept("<a@b.example>", "<x@exa\rmple.org>");
    QTest::newRow("empty rcpt") << kept("<a@b.example>", "<>");
    QTest::newRow("empty sender") << kept("<>", "<x@example.org>");
    QTest::newRow("not an address") << kept("<a@b.example>", "<x y@example.org>");
    QTest::newRow("twice") << kept("<a@b.example>", "<x@example.org>\r\nRCPT TO:<x@example.org>");
}

void TestOutbox::strayFilesAreNotMails()
{
    QFETCH(QByteArray, bytes);
    ComposedMail out;
    QVERIFY(!Outbox::decode(bytes, &out));
}

void TestOutbox::oldestFirstAndBounded()
{
    QTemporaryDir dir;
    OutboxSender outbox(dir.filePath(QStringLiteral("ZARVIK_Mail.outbox")), {}, Clock::system(), 3);
    QString error;
    int dropped = -1;
    for (int i = 0; i < 5; ++i)
        QVERIFY2(outbox.keep(mail(QByteArray::number(i)), &error, &dropped), qPrintable(error));
    QCOMPARE(dropped, 1);
    const QStringList pending = outbox.outbox().pending();
    QCOMPARE(pending.size(), 3);
    for (int i = 0; i < 3; ++i) {
        ComposedMail kept;
        QVERIFY(Outbox::read(pending[i], &kept, &error));
        QCOMPARE(kept.message, mail(QByteArray::number(i + 2)).message);
    }
    // Nothing but the kept files: no temporary file left behind.
    QCOMPARE(QDir(outbox.outbox().folder()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void TestOutbox::folderThatCannotBeMadeSaysWhy()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZARVIK_Mail.outbox"));
    QVERIFY(TestFiles::write(path, "a file where the folder would be"));
    OutboxSender outbox(path, {}, Clock::system());
    QString error;
    QVERIFY(!outbox.keep(mail("x"), &error));
    QVERIFY2(error.startsWith(path + QStringLiteral(": ")) && error.size() > path.size() + 2,
             qPrintable(error));
    QCOMPARE(Outbox::folderFor(QStringLiteral("/x/ZARVIK_Mail.ini")),
             QStringLiteral("/x/ZARVIK_Mail.outbox"));
}

void TestOutbox::retryWaits()
{
    const QList<int> expected{15'000, 30'000, 60'000, 120'000, 300'000, 300'000};
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(KeptFolder::retryDelayMs(i), expected[i]);
    QCOMPARE(KeptFolder::retryDelayMs(0, 0.01), 150);
}

void TestOutbox::whichFailuresMayPass_data()
{
    QTest::addColumn<QString>("mode"); // empty: nothing listens
    QTest::addColumn<bool>("mayPass");
    QTest::newRow("no connection") << QString() << true;
    QTest::newRow("451 to MAIL") << QStringLiteral("defer-mail") << true;
    QTest::newRow("silent server") << QStringLiteral("hang") << true;
    QTest::newRow("550 to MAIL") << QStringLiteral("reject-mail") << false;
    QTest::newRow("550 to RCPT") << QStringLiteral("reject-rcpt") << false;
    QTest::newRow("554 greeting") << QStringLiteral("greeting554") << false;
}

void TestOutbox::whichFailuresMayPass()
{
    QFETCH(QString, mode);
    QFETCH(bool, mayPass);
    std::unique_ptr<SmtpServer> server;
    QString hostPort = SmtpServer::refusingHostPort();
    if (!mode.isEmpty()) {
        server = std::make_unique<SmtpServer>(mode);
        QVERIFY2(server->isListening(), qPrintable(server->errorString()));
        hostPort = server->hostPort();
    }
    SmtpJob job = jobTo(hostPort, mail("x"));
    job.totalTimeoutMs = 1000;
    TransferAbort abort;
    QString error;
    bool passing = !mayPass;
    QVERIFY(!runSmtpTransfer(job, abort, &error, &passing));
    QVERIFY2(passing == mayPass, qPrintable(error));
}

void TestOutbox::sendsOnceTheServerIsBack()
{
    QTemporaryDir dir;
    const QString hostPort = SmtpServer::refusingHostPort();
    OutboxSender sender(dir.filePath(QStringLiteral("o")), sessionTo(hostPort), Clock::system());
    sender.setDelayScale(0.01);
    sender.setEnabled(true);
    QString error;
    for (const QByteArray subject : {"first", "second"})
        QVERIFY(sender.keep(mail(subject), &error));
    QSignalSpy idle(&sender, &OutboxSender::idle);
    QVERIFY(EventWait::until([&] { return idle.size() >= 2; })); // two failed tries, both kept
    QCOMPARE(sender.outbox().pending().size(), 2);

    SmtpServer server(SmtpServer::listeningAt(hostPort));
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    QSignalSpy notes(&sender, &OutboxSender::note);
    QVERIFY(EventWait::until([&] { return !notes.isEmpty(); }));
    QCOMPARE(server.mailCount(), 2);
    QVERIFY(server.mails()[0].raw.contains("Subject: first"));
    QVERIFY(server.mails()[1].raw.contains("Subject: second"));
    QCOMPARE(server.mails()[1].rcptTo, QStringList({"a@example.com", "b@example.com"}));
    QVERIFY(sender.outbox().pending().isEmpty());
}

void TestOutbox::refusedAndUnreadableAreSetAside()
{
    QTemporaryDir dir;
    SmtpServer server(QStringLiteral("reject-rcpt"));
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const auto quick = quickSender(dir.filePath(QStringLiteral("o")), server);
    OutboxSender& sender = *quick;
    QString error;
    QVERIFY(sender.keep(mail("refused"), &error));
    QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("o/00000000-garbage.mail")), "junk"));
    // A link to a good mail elsewhere, and a FIFO that would block a reader.
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    QVERIFY(TestFiles::write(elsewhere, Outbox::encode(mail("linked"))));
    QVERIFY(QFile::link(elsewhere, dir.filePath(QStringLiteral("o/00000001-link.mail"))));
    QCOMPARE(::mkfifo(qPrintable(dir.filePath(QStringLiteral("o/00000002-fifo.mail"))), 0600), 0);
    QSignalSpy notes(&sender, &OutboxSender::note);
    sender.tryAll();
    QVERIFY(EventWait::until([&] { return notes.size() >= 4; }));
    QVERIFY(sender.outbox().pending().isEmpty());
    const QStringList aside = TestFiles::entries(sender.outbox().folder());
    QCOMPARE(aside.size(), 4);
    QCOMPARE(aside.filter(QStringLiteral(".mail.bad")).size(), 3);
    QCOMPARE(aside.filter(QStringLiteral(".mail.refused")).size(), 1);
    QVERIFY(QFileInfo(elsewhere).isFile());
    QVERIFY(waitForIdle(sender));
    QCOMPARE(notes.size(), 4); // each said once
}

void TestOutbox::oneStuckMailHoldsNoOtherBack()
{
    QTemporaryDir dir;
    SmtpServer server(
        refusing(QStringLiteral("stuck@example.com"), QStringLiteral("451 4.2.0 full")));
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const auto quick = quickSender(dir.filePath(QStringLiteral("o")), server);
    OutboxSender& sender = *quick;
    QString error;
    ComposedMail stuck = mail("stuck");
    stuck.rcptTo = {"stuck@example.com"};
    for (const ComposedMail& m : {stuck, mail("second"), mail("third")})
        QVERIFY(sender.keep(m, &error));
    sender.tryAll();
    // The first keeps failing with its own waits; the others go out meanwhile.
    QVERIFY(server.waitForMails(2));
    QVERIFY(server.mails()[0].raw.contains("Subject: second"));
    QVERIFY(server.mails()[1].raw.contains("Subject: third"));
    QVERIFY(EventWait::until([&] { return sender.outbox().pending().size() == 1; }));
    ComposedMail left;
    QVERIFY(Outbox::read(sender.outbox().pending().first(), &left, &error));
    QCOMPARE(left.message, stuck.message);
}

void TestOutbox::deferredRecipientStaysKeptAlone()
{
    QTemporaryDir dir;
    SmtpServer server(refusing(QStringLiteral("b@example.com"), QStringLiteral("452 4.2.2 full")));
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const auto quick = quickSender(dir.filePath(QStringLiteral("o")), server);
    OutboxSender& sender = *quick;
    QString error;
    QVERIFY(sender.keep(mail("x"), &error));
    QSignalSpy notes(&sender, &OutboxSender::note);
    QSignalSpy idle(&sender, &OutboxSender::idle);
    sender.tryAll();
    // a@ gets it once; b@ is tried again alone, and said once.
    QVERIFY(EventWait::until([&] { return idle.size() >= 3; }));
    QCOMPARE(server.mailCount(), 1);
    QCOMPARE(server.mails()[0].rcptTo, QStringList{"a@example.com"});
    const QStringList pending = sender.outbox().pending();
    QCOMPARE(pending.size(), 1);
    ComposedMail left;
    QVERIFY(Outbox::read(pending.first(), &left, &error));
    QCOMPARE(left.rcptTo, QList<QByteArray>{"b@example.com"});
    QCOMPARE(left.message, mail("x").message);
    QStringList said;
    for (const QList<QVariant>& note : notes)
        said.append(note[0].toString());
    QCOMPARE(said.filter(QStringLiteral("452 4.2.2 full (b@example.com)")).size(), 1);
}

void TestOutbox::theMailJustKeptIsNeverDropped()
{
    // A clock that was once far ahead left a full outbox of names from the future.
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("o"));
    QVERIFY(QDir().mkpath(folder));
    for (int i = 0; i < Outbox::DefaultCapacity; ++i)
        QVERIFY(TestFiles::write(QStringLiteral("%1/20991231-235959-999-%2.mail")
                                     .arg(folder)
                                     .arg(i, 3, 10, QLatin1Char('0')),
                                 Outbox::encode(mail("future"))));
    QString error;
    QString path;
    int dropped = 0;
    OutboxSender outbox(folder, {}, Clock::system());
    QVERIFY2(outbox.keep(mail("new"), &error, &dropped, &path), qPrintable(error));
    QCOMPARE(dropped, 1);
    const QStringList pending = outbox.outbox().pending();
    QCOMPARE(pending.size(), Outbox::DefaultCapacity);
    QVERIFY(!pending.contains(folder + QStringLiteral("/20991231-235959-999-000.mail")));
    QCOMPARE(pending.last(), path);
    ComposedMail kept;
    QVERIFY(Outbox::read(path, &kept, &error));
    QCOMPARE(kept.message, mail("new").message);
}

void TestOutbox::leftoversOfAKilledKeepAreSortedOut()
{
    QTemporaryDir dir;
    SmtpServer server;
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    const QString folder = dir.filePath(QStringLiteral("o"));
    QVERIFY(QDir().mkpath(folder));
    const QByteArray whole = Outbox::encode(mail("whole"));
    QVERIFY(TestFiles::write(
        folder + QStringLiteral("/20261209-010000-000-000.mail.saving-0a1b2c3d"), whole));
    QVERIFY(
        TestFiles::write(folder + QStringLiteral("/20261209-010000-000-001.mail.saving-4e5f6a7b"),
                         whole.chopped(5)));
    OutboxSender sender(folder, sessionTo(server.hostPort()), Clock::system());
    QCOMPARE(TestFiles::entries(folder), QStringList{"20261209-010000-000-000.mail"});
    sender.setEnabled(true);
    QVERIFY(server.waitForMails(1));
    QVERIFY(server.mails()[0].raw.contains("Subject: whole"));
    QVERIFY(EventWait::until([&] { return TestFiles::entries(folder).isEmpty(); }));
}

QTEST_GUILESS_MAIN(TestOutbox)
#include "tst_outbox.moc"
