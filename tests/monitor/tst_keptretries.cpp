// One kept alert mail and one kept push walk their whole schedule of waits on the test clock:
// each try comes when its wait is over, not a millisecond before, against real servers that
// keep answering "try later".
#include "core/KeptFolder.h"
#include "core/KeptQueue.h"
#include "mail/MailService.h"
#include "mail/OutboxSender.h"
#include "push/PushChannels.h"
#include "support/EventWait.h"
#include "support/HttpSink.h"
#include "support/SmtpServer.h"
#include "support/TestClock.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

namespace {

// The waits after the first failure: the five steps, then every 5 minutes.
constexpr int Waits = 11;

struct Channel {
    std::function<int()> tries; // kept tries that have ended
    KeptQueue* queue = nullptr;
};

// Walks the schedule: a wait short by one millisecond starts nothing, the whole wait one try.
void walk(TestClock& clock, const Channel& channel)
{
    for (int i = 0; i < Waits; ++i) {
        clock.advance(KeptFolder::retryDelayMs(i) - 1);
        QCoreApplication::processEvents();
        QCOMPARE(channel.tries(), i);
        QVERIFY(!channel.queue->isSending());
        clock.advance(1);
        QVERIFY2(EventWait::until(
                     [&] { return channel.tries() == i + 1 && !channel.queue->isSending(); }),
                 qPrintable(QStringLiteral("try %1").arg(i + 1)));
    }
}

} // namespace

class TestKeptRetries : public QObject {
    Q_OBJECT
private slots:
    void mailWalksItsWaits();
    void pushWalksItsWaits();
};

void TestKeptRetries::mailWalksItsWaits()
{
    QTemporaryDir dir;
    TestClock clock;
    SmtpServer server(QStringLiteral("defer-mail"));
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    MailService mail(dir.filePath(QStringLiteral("ZARVIK_Mail.outbox")), clock);
    MailSettings settings;
    settings.server = server.hostPort();
    settings.security = 3;
    settings.from = QStringLiteral("z@example.com");
    settings.to = QStringLiteral("ops@example.com");
    settings.retry = true;
    mail.setSettings(settings);
    QSignalSpy finished(&mail, &MailService::alertFinished);
    mail.sendAlert(QStringLiteral("alert "), QStringLiteral("over the limit"));
    QVERIFY(EventWait::until([&] { return !finished.isEmpty(); }));
    QVERIFY(finished[0][0].value<MailResult>().kept);
    QSignalSpy tries(&mail.outboxSender(), &OutboxSender::idle);
    walk(clock, {[&] { return int(tries.size()); }, &mail.outboxSender().queue()});
    QCOMPARE(mail.outboxSender().outbox().pending().size(), 1);
}

void TestKeptRetries::pushWalksItsWaits()
{
    QTemporaryDir dir;
    TestClock clock;
    HttpSink ntfy(QStringLiteral("unavailable"));
    QVERIFY2(ntfy.isListening(), qPrintable(ntfy.errorString()));
    PushChannels push(dir.filePath(QStringLiteral("ZARVIK_Mail.pushbox")), clock);
    push.setUrl(PushChannels::Ntfy, ntfy.url());
    push.setRetry(true);
    QSignalSpy finished(&push, &PushChannels::finished);
    PushNotice notice;
    notice.event = QStringLiteral("alert");
    notice.subject = QStringLiteral("alert");
    notice.message = QStringLiteral("over the limit");
    push.send(notice);
    QVERIFY(EventWait::until([&] { return !finished.isEmpty(); }));
    QVERIFY(finished[0][0].value<PushResult>().kept);
    walk(clock, {[&] { return ntfy.requestCount() - 1; }, &push.queue()});
    QCOMPARE(push.kept().size(), 1);
}

QTEST_GUILESS_MAIN(TestKeptRetries)
#include "tst_keptretries.moc"
