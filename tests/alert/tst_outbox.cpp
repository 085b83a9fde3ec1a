// Kept mails: the files, the waits between tries, which failures may pass, and the sender
// against a real SMTP server that is down, refuses, or comes back.

#include "alert/Outbox.h"
#include "alert/OutboxSender.h"
#include "alert/SmtpEndpoint.h"
#include "alert/SmtpTransfer.h"
#include "support/EventWait.h"
#include "support/SmtpServer.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

ComposedMail mail(const QByteArray& subject)
{
    return {"zarvik@example.com",
            {"a@example.com", "b@example.com"},
            "Subject: " + subject + "\r\n\r\nbody\r\n.\r\n..\r\n"};
}

SmtpJob jobTo(const QString& hostPort, const ComposedMail& m)
{
    const SmtpEndpoint server = SmtpEndpoint::parse(hostPort);
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
    Outbox outbox(dir.filePath(QStringLiteral("ZARVIK_Mail.outbox")), 3);
    QString error;
    int dropped = -1;
    for (int i = 0; i < 5; ++i)
        QVERIFY2(outbox.keep(mail(QByteArray::number(i)), &error, &dropped), qPrintable(error));
    QCOMPARE(dropped, 1);
    const QStringList pending = outbox.pending();
    QCOMPARE(pending.size(), 3);
    for (int i = 0; i < 3; ++i) {
        ComposedMail kept;
        QVERIFY(Outbox::read(pending[i], &kept, &error));
        QCOMPARE(kept.message, mail(QByteArray::number(i + 2)).message);
    }
    // Nothing but the kept files: no temporary file left behind.
    QCOMPARE(QDir(outbox.folder()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void TestOutbox::folderThatCannotBeMadeSaysWhy()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZARVIK_Mail.outbox"));
    QVERIFY(TestFiles::write(path, "a file where the folder would be"));
    Outbox outbox(path);
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
        QCOMPARE(retryDelayMs(i), expected[i]);
    QCOMPARE(retryDelayMs(0, 0.01), 150);
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
    SmtpAbort abort;
    QString error;
    bool passing = !mayPass;
    QVERIFY(!runSmtpTransfer(job, abort, &error, &passing));
    QVERIFY2(passing == mayPass, qPrintable(error));
}

void TestOutbox::sendsOnceTheServerIsBack()
{
    QTemporaryDir dir;
    const QString hostPort = SmtpServer::refusingHostPort();
    OutboxSender sender(Outbox(dir.filePath(QStringLiteral("o"))),
                        [&](const ComposedMail& m) { return jobTo(hostPort, m); });
    sender.setDelayScale(0.01);
    sender.setEnabled(true);
    QString error;
    for (const QByteArray subject : {"first", "second"})
        QVERIFY(sender.outbox().keep(mail(subject), &error));
    sender.mailKept();
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
    OutboxSender sender(Outbox(dir.filePath(QStringLiteral("o"))),
                        [&](const ComposedMail& m) { return jobTo(server.hostPort(), m); });
    sender.setDelayScale(0.01);
    sender.setEnabled(true);
    QString error;
    QVERIFY(sender.outbox().keep(mail("refused"), &error));
    QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("o/00000000-garbage.mail")), "junk"));
    QSignalSpy notes(&sender, &OutboxSender::note);
    sender.tryAfter(0);
    QVERIFY(EventWait::until([&] { return notes.size() >= 2; }));
    QVERIFY(sender.outbox().pending().isEmpty());
    const QStringList aside = QDir(sender.outbox().folder()).entryList(QDir::Files);
    QCOMPARE(aside.size(), 2);
    QVERIFY(aside.filter(QStringLiteral(".mail.bad")).size() == 1);
    QVERIFY(aside.filter(QStringLiteral(".mail.refused")).size() == 1);
    QCOMPARE(notes.size(), 2); // each said once
}

QTEST_GUILESS_MAIN(TestOutbox)
#include "tst_outbox.moc"
