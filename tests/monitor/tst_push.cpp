// Push channels beside the alert mail, against real HTTP servers on loopback: what ntfy, a
// webhook and a Telegram Bot API receive, what is kept and sent again, what is told once, and that
// a server that hangs or never stops talking holds back neither the mail nor the poll.
#include "core/Clock.h"
#include "device/BoardSource.h"
#include "mail/MailService.h"
#include "monitor/Monitor.h"
#include "push/PushChannels.h"
#include "settings/Settings.h"
#include "support/EventWait.h"
#include "support/HttpSink.h"
#include "support/PromText.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

const QString Token = QStringLiteral("123456:ABC-DEF_ghi");
const QString Chat = QStringLiteral("-1001234567890");

// The simulated board over the limit from its first reply, the real mail server, and a
// monitor whose channels are the given URLs.
struct Rig {
    QTemporaryDir dir;
    SimBoard sim;
    SmtpServer smtp;
    quint16 metricsPort = 0;
    QString mailLines; // more of [Mail], LF lines
    QString path;
    QString telegramApi; // set: the bot posts there, with Token to Chat
    Settings settings;
    std::unique_ptr<Monitor> monitor;

    bool start(const QString& ntfy, const QString& webhook, bool retry, int totalTimeoutMs = 5000)
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        metricsPort = probe.serverPort();
        probe.close();
        if (!dir.isValid() || !sim.start() || !sim.setRaw(64) || !smtp.isListening())
            return false;
        path = dir.filePath(QStringLiteral("ZARVIK_Mail.ini"));
        TestFiles::write(
            path,
            QStringLiteral("[ZARVIK]\r\nAddress=127.0.0.1\r\nPort=%1\r\n"
                           "[Temp]\r\nUTemp=30\r\nCheck_U=1\r\n"
                           "[Mail]\r\nPriority=0\r\nAddress=%2\r\n"
                           "From=z@example.com\r\nTo=ops@example.com\r\n"
                           "%7"
                           "[Watch]\r\nRetry=%3\r\nMetrics=127.0.0.1:%4\r\n"
                           "[Push]\r\nNtfy=%5\r\nWebhook=%6\r\n")
                    .arg(sim.port())
                    .arg(smtp.hostPort())
                    .arg(retry ? 1 : 0)
                    .arg(metricsPort)
                    .arg(ntfy, webhook, QString(mailLines).replace(u'\n', QStringLiteral("\r\n")))
                    .toUtf8() +
                (telegramApi.isEmpty() ? QByteArray()
                                       : QStringLiteral("TelegramToken=%1\r\nTelegramChat=%2\r\n"
                                                        "TelegramApi=%3\r\n")
                                             .arg(Token, Chat, telegramApi)
                                             .toUtf8()));
        if (!settings.load(path))
            return false;
        monitor = std::make_unique<Monitor>(settings, path, Clock::system());
        monitor->source().Timer1->setInterval(100);
        monitor->push().setDelayScale(0.001);
        monitor->push().setTimeouts(2000, totalTimeoutMs);
        return true;
    }

    // In a real event loop, so that the alert passes run meanwhile.
    bool mailed()
    {
        return EventWait::until([&] { return smtp.mailCount() >= 1; });
    }

    QMap<QByteArray, QByteArray> metrics()
    {
        QNetworkAccessManager http;
        std::unique_ptr<QNetworkReply> reply(http.get(
            QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(metricsPort)))));
        return EventWait::until([&] { return reply->isFinished(); })
                   ? PromText::samples(reply->readAll())
                   : QMap<QByteArray, QByteArray>();
    }
};

} // namespace

class TestPush : public QObject {
    Q_OBJECT
private slots:
    void alertGoesToEveryChannelBesidesTheMail();
    void ownWords_data();
    void ownWords();
    void failures_data();
    void failures();
    void stuckServersHoldNothingBack();
    void serversAskingForTimeGetIt_data();
    void serversAskingForTimeGetIt();
    void oneKeptPushAWaveWhileTheServerIsDown();
    void testButtonReachesEveryChannel_data();
    void testButtonReachesEveryChannel();
    void titleBeyondAscii();
    void secretsStayHidden();
};

void TestPush::alertGoesToEveryChannelBesidesTheMail()
{
    HttpSink ntfy;
    HttpSink hook;
    HttpSink bot;
    QVERIFY(ntfy.isListening() && hook.isListening() && bot.isListening());
    Rig rig;
    rig.telegramApi = bot.url(QStringLiteral("/"));
    QVERIFY(
        rig.start(ntfy.url(QStringLiteral("/boiler")), hook.url(QStringLiteral("/hook")), false));
    QSignalSpy problems(rig.monitor.get(), &Monitor::problem);
    QSignalSpy fired(rig.monitor.get(), &Monitor::rulesFired);
    rig.monitor->start(Monitor::Keyring::DoNotAsk);
    QVERIFY(rig.mailed());
    QVERIFY(ntfy.waitForRequests(1) && hook.waitForRequests(1) && bot.waitForRequests(1));

    const QString shown = fired.at(0).at(1).toString(); // Japanese: UTF-8 on the way
    const HttpSink::Request n = ntfy.requests().at(0);
    QCOMPARE(n.method, QStringLiteral("POST"));
    QCOMPARE(n.path, QStringLiteral("/boiler"));
    QCOMPARE(n.headers.value("title"), QByteArray("Over 30C"));
    QCOMPARE(n.headers.value("priority"), QByteArray("5")); // the mail's High
    QCOMPARE(n.headers.value("tags"), QByteArray("warning"));
    QCOMPARE(QString::fromUtf8(n.body), shown);

    const HttpSink::Request h = hook.requests().at(0);
    QCOMPARE(h.headers.value("content-type"), QByteArray("application/json"));
    const QJsonObject json = QJsonDocument::fromJson(h.body).object();
    QCOMPARE(json.value("text").toString(), QStringLiteral("Over 30C ") + shown);
    QCOMPARE(json.value("content").toString(), json.value("text").toString());
    QCOMPARE(json.value("event").toString(), QStringLiteral("alert"));
    QCOMPARE(json.value("rules").toArray(), QJsonArray{QStringLiteral("upper")});
    QCOMPARE(json.value("message").toString(), shown);
    QCOMPARE(json.value("subject").toString(), QStringLiteral("Over 30C"));
    QCOMPARE(json.value("temperature").toDouble(), 31.25);
    QVERIFY(json.value("rb1").isDouble() && json.value("rb0").isDouble());
    QVERIFY2(
        QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(Z|[+-]\d\d:\d\d)$)"))
            .match(json.value("time").toString())
            .hasMatch(),
        qPrintable(json.value("time").toString()));
    QCOMPARE(json.value("board").toString(), QStringLiteral("127.0.0.1:%1").arg(rig.sim.port()));

    const HttpSink::Request t = bot.requests().at(0);
    QCOMPARE(t.path, QStringLiteral("/bot%1/sendMessage").arg(Token));
    QCOMPARE(t.headers.value("content-type"), QByteArray("application/json"));
    const QJsonObject message = QJsonDocument::fromJson(t.body).object();
    QCOMPARE(message.value("chat_id").toDouble(), Chat.toDouble()); // a number, as ids are
    QCOMPARE(message.value("text").toString(), QStringLiteral("Over 30C\n") + shown);
    QCOMPARE(message.size(), 2);
    QCOMPARE(problems.size(), 0);
    QCOMPARE(rig.smtp.mailCount(), 1);
}

void TestPush::ownWords_data()
{
    QTest::addColumn<QString>("subject"); // [Mail] Subject
    QTest::addColumn<QString>("body");    // [Mail] Body
    QTest::addColumn<QString>("memo");    // the upper rule's
    QTest::addColumn<QString>("title");   // ntfy's Title; %1: the board
    QTest::addColumn<QString>("text");    // ntfy's body; null: the message shown
    QTest::newRow("empty: classic") << ""
                                    << ""
                                    << "hot"
                                    << "Over 30C" << QString();
    QTest::newRow("own words") << "{subject} at {board}"
                               << R"({temperature} RB1 {rb1}\n{rules})"
                               << "hot"
                               << "Over 30C at %1"
                               << "31.2 ℃ RB1 L\nupper";
    // Neither a header of its own nor broken JSON, whatever the values hold.
    QTest::newRow("quotes and line breaks in values") << "{memo}"
                                                      << "{memo}"
                                                      << "say \"hi\" \\ {board}\r\nX-Injected: 1"
                                                      << "say \"hi\" \\ {board} X-Injected: 1"
                                                      << "say \"hi\" \\ {board}\r\nX-Injected: 1";
}

// The user's own words are ntfy's title and body and the webhook's text; the webhook's fields
// stay the event's own.
void TestPush::ownWords()
{
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QString, memo);
    QFETCH(QString, title);
    QFETCH(QString, text);
    HttpSink ntfy;
    HttpSink hook;
    QVERIFY(ntfy.isListening() && hook.isListening());
    Rig rig;
    rig.mailLines = QStringLiteral("Subject=%1\nBody=%2\n").arg(subject, body);
    QVERIFY(rig.start(ntfy.url(), hook.url(), false));
    rig.settings.setValue(Settings::MemoUpper, memo);
    QSignalSpy problems(rig.monitor.get(), &Monitor::problem);
    QSignalSpy fired(rig.monitor.get(), &Monitor::rulesFired);
    rig.monitor->start(Monitor::Keyring::DoNotAsk);
    QVERIFY(ntfy.waitForRequests(1) && hook.waitForRequests(1));
    const QString shown = fired.at(0).at(1).toString();
    title.replace(QStringLiteral("%1"), QStringLiteral("127.0.0.1:%1").arg(rig.sim.port()));
    if (text.isNull())
        text = shown;

    const HttpSink::Request n = ntfy.requests().at(0);
    QVERIFY(!n.headers.contains("x-injected"));
    QCOMPARE(QString::fromUtf8(n.headers.value("title")), title);
    QCOMPARE(QString::fromUtf8(n.body), text);
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(hook.requests().at(0).body, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(json.value("text").toString(), title + u' ' + text);
    QCOMPARE(json.value("content").toString(), json.value("text").toString());
    QCOMPARE(json.value("subject").toString(), QStringLiteral("Over 30C"));
    QCOMPARE(json.value("message").toString(), shown);
    QVERIFY(rig.mailed());
    QCOMPARE(problems.size(), 0);
}

void TestPush::failures_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("retry");
    QTest::addColumn<int>("requests"); // in all, once it is over
    QTest::addColumn<QString>("told"); // in the one problem; empty: none
    QTest::addColumn<bool>("sent");    // at the first try
    QTest::addColumn<QString>("channel");
    const QString ntfy = QStringLiteral("ntfy");
    const QString telegram = QStringLiteral("telegram");
    QTest::newRow("429 kept, sent again") << "busy-once" << true << 2 << QString() << false << ntfy;
    QTest::newRow("404 final, told once")
        << "refuse" << true << 1 << "HTTP 404: no such topic" << false << ntfy;
    QTest::newRow("500 without retrying") << "fail" << false << 1 << "HTTP 500" << false << ntfy;
    QTest::newRow("no server yet, kept") << "none" << true << 1 << QString() << false << ntfy;
    // The server took it: what becomes of the rest of its answer does not matter.
    QTest::newRow("200 cut short, sent once") << "short" << true << 1 << QString() << true << ntfy;
    QTest::newRow("200 stalls, sent once") << "stall" << true << 1 << QString() << true << ntfy;
    QTest::newRow("200 trickles, sent once") << "trickle" << true << 1 << QString() << true << ntfy;
    // A wrong token or chat does not pass by itself; a Bot API that is down may.
    QTest::newRow("telegram 401 final, told once")
        << "unauthorized" << true << 1 << "HTTP 401: Unauthorized" << false << telegram;
    QTest::newRow("telegram 503 kept, sent again")
        << "unavailable-once" << true << 2 << QString() << false << telegram;
    QTest::newRow("telegram, no server yet, kept")
        << "none" << true << 1 << QString() << false << telegram;
}

// One channel's failure costs neither the other channel nor the mail.
void TestPush::failures()
{
    QFETCH(QString, mode);
    QFETCH(bool, retry);
    QFETCH(int, requests);
    QFETCH(QString, told);
    QFETCH(bool, sent);
    QFETCH(QString, channel);
    const bool telegram = channel == QLatin1String("telegram");
    std::unique_ptr<HttpSink> ntfy; // the server of the channel under test
    const QString refusing = SmtpServer::refusingHostPort();
    QString ntfyUrl = QStringLiteral("http://%1/alerts").arg(refusing);
    if (mode != QLatin1String("none")) {
        ntfy = std::make_unique<HttpSink>(mode);
        QVERIFY(ntfy->isListening());
        ntfyUrl = ntfy->url();
    }
    HttpSink hook;
    Rig rig;
    if (telegram)
        rig.telegramApi = ntfyUrl;
    // Longer than the wait below: an answer's unread rest must not hold the push.
    QVERIFY(rig.start(telegram ? QString() : ntfyUrl, hook.url(), retry, 60000));
    QSignalSpy problems(rig.monitor.get(), &Monitor::problem);
    QSignalSpy ended(rig.monitor.get(), &Monitor::pushFinished);
    rig.monitor->start(Monitor::Keyring::DoNotAsk);
    QVERIFY(rig.mailed());
    QVERIFY(hook.waitForRequests(1));
    QVERIFY(EventWait::until([&] { return ended.size() == 2; }));
    const PushResult first = ended.at(0).at(0).value<PushResult>().channel == channel
                                 ? ended.at(0).at(0).value<PushResult>()
                                 : ended.at(1).at(0).value<PushResult>();
    QCOMPARE(first.channel, channel);
    QCOMPARE(first.sent, sent);
    QCOMPARE(first.kept, !sent && told.isEmpty());
    if (!ntfy) // the server comes up
        ntfy = std::make_unique<HttpSink>(QStringLiteral("ok"),
                                          quint16(refusing.section(u':', -1).toUInt()));
    QVERIFY(ntfy->waitForRequests(requests));
    // What was kept goes out, and leaves the folder; what was not is never tried again.
    QVERIFY(EventWait::until([&] { return rig.monitor->push().kept().isEmpty(); }));
    QCOMPARE(ntfy->requestCount(), requests);
    QCOMPARE(problems.size(), told.isEmpty() ? 0 : 1);
    if (!told.isEmpty())
        QVERIFY2(problems.at(0).at(0).toString().contains(told),
                 qPrintable(problems.at(0).at(0).toString()));
    const auto samples = rig.metrics();
    for (const char* name : PushChannels::ChannelNames)
        QCOMPARE(samples.value(QByteArray("zarvik_push_failures_total{channel=\"") + name + "\"}"),
                 QByteArray(!sent && channel == QLatin1String(name) ? "1" : "0"));
    QCOMPARE(hook.requestCount(), 1);
    QCOMPARE(rig.smtp.mailCount(), 1);
}

// A server that never answers, one that never stops answering: the mail still goes, the board
// is still asked, and the endless reply is cut short rather than read until the time-out.
void TestPush::stuckServersHoldNothingBack()
{
    HttpSink ntfy(QStringLiteral("hang"));
    HttpSink hook(QStringLiteral("endless"));
    QVERIFY(ntfy.isListening() && hook.isListening());
    Rig rig;
    QVERIFY(rig.start(ntfy.url(), hook.url(), true, 120000));
    QSignalSpy ended(rig.monitor.get(), &Monitor::pushFinished);
    rig.monitor->start(Monitor::Keyring::DoNotAsk);
    QVERIFY(ntfy.waitForRequests(1));
    QVERIFY(rig.mailed());
    rig.sim.clearRequests();
    QVERIFY(rig.sim.waitForRequests(3, 10000));
    QVERIFY(EventWait::until([&] { return ended.size() == 1; }));
    const PushResult endless = ended.at(0).at(0).value<PushResult>();
    QCOMPARE(endless.channel, QStringLiteral("webhook"));
    QVERIFY2(endless.sent, qPrintable(endless.error));

    // Closing does not wait for the silent server; its push is kept for the next start.
    rig.monitor->close();
    rig.monitor.reset();
    QCOMPARE(TestFiles::entries(PushChannels::folderFor(rig.path))
                 .filter(QRegularExpression(QStringLiteral("\\.push$")))
                 .size(),
             1);
}

void TestPush::serversAskingForTimeGetIt_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("retryAfter");
    QTest::addColumn<double>("scale");  // of every wait, Retry-After's too
    QTest::addColumn<int>("asked");     // seconds, as the program takes them
    QTest::addColumn<QString>("told");  // in the note
    QTest::addColumn<bool>("telegram"); // the channel: Telegram's rather than ntfy
    QTest::newRow("429, seconds") << "busy-once"
                                  << "120" << 0.005 << 120 << "120 秒後まで" << false;
    QTest::newRow("503, a date") << "unavailable-once"
                                 << "date:120" << 0.005 << 119 << "秒後まで" << false;
    QTest::newRow("a day, an hour at most") << "busy-once"
                                            << "86400" << 0.0002 << 3600 << "1 時間" << false;
    QTest::newRow("Telegram's 429, its retry_after")
        << "busy-once"
        << "json:120" << 0.005 << 120 << "telegram のサーバーの求めにより" << true;
}

// Neither the kept push nor a new alert reaches the server before the time it asked for.
void TestPush::serversAskingForTimeGetIt()
{
    QFETCH(QString, mode);
    QFETCH(QString, retryAfter);
    QFETCH(double, scale);
    QFETCH(int, asked);
    QFETCH(QString, told);
    QFETCH(bool, telegram);
    HttpSink ntfy(mode, 0, retryAfter);
    QVERIFY(ntfy.isListening());
    QTemporaryDir dir;
    PushChannels push(dir.filePath(QStringLiteral("ZARVIK_Mail.pushbox")));
    push.setDelayScale(scale);
    if (telegram)
        push.setTelegram(Token, Chat, ntfy.url(QString()));
    else
        push.setUrl(PushChannels::Ntfy, ntfy.url());
    push.setRetry(true);
    QSignalSpy ended(&push, &PushChannels::finished);
    QSignalSpy notes(&push, &PushChannels::note);
    push.send(PushNotice());
    QVERIFY(EventWait::until([&] { return ended.size() == 1; }));
    push.send(PushNotice());
    QVERIFY(EventWait::until([&] { return ended.size() == 2; }));
    const PushResult held = ended.at(1).at(0).value<PushResult>();
    QVERIFY2(held.kept && held.error.contains(QStringLiteral("Retry-After")),
             qPrintable(held.error));

    QVERIFY(ntfy.waitForRequests(3));
    QVERIFY(EventWait::until([&] { return push.kept().isEmpty(); }));
    const QList<HttpSink::Request> requests = ntfy.requests();
    const qint64 waitedMs = (requests.at(1).atNs - requests.at(0).atNs) / 1000000;
    QVERIFY2(waitedMs >= qint64(asked * 1000 * scale), qPrintable(QString::number(waitedMs)));
    QCOMPARE(ntfy.requestCount(), 3);
    QVERIFY2(notes.size() >= 1 && notes.at(0).at(0).toString().contains(told),
             qPrintable(notes.value(0).value(0).toString()));
}

// A server that is down gets one of a channel's kept pushes a wave, not all of them; the other
// channel's go meanwhile, and a file that is not a kept push is set aside.
void TestPush::oneKeptPushAWaveWhileTheServerIsDown()
{
    constexpr int Kept = 5;
    const QString nobody = QStringLiteral("http://%1/alerts").arg(SmtpServer::refusingHostPort());
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("ZARVIK_Mail.pushbox"));
    {
        PushChannels keeping(folder);
        keeping.setRetry(true);
        QSignalSpy ended(&keeping, &PushChannels::finished);
        keeping.setUrl(PushChannels::Ntfy, nobody);
        for (int i = 0; i < Kept; ++i)
            keeping.send(PushNotice());
        QVERIFY(EventWait::until([&] { return ended.size() == Kept; }));
        keeping.setUrl(PushChannels::Ntfy, QString());
        keeping.setUrl(PushChannels::Webhook, nobody);
        keeping.send(PushNotice()); // the newest
        QVERIFY(EventWait::until([&] { return ended.size() == Kept + 1; }));
    }
    QVERIFY(TestFiles::write(folder + QStringLiteral("/stray.push"), "not ours"));

    HttpSink down(QStringLiteral("unavailable"));
    HttpSink hook;
    PushChannels push(folder);
    push.setUrl(PushChannels::Ntfy, down.url());
    push.setUrl(PushChannels::Webhook, hook.url());
    push.setRetry(true);
    QVERIFY(hook.waitForRequests(1) && down.waitForRequests(1));
    QVERIFY(EventWait::until([&] { return push.kept().size() == Kept; }));
    QCOMPARE(down.requestCount(), 1);
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/stray.push.bad")));
}

void TestPush::testButtonReachesEveryChannel_data()
{
    QTest::addColumn<QString>("subject"); // [Mail] Subject
    QTest::addColumn<QString>("title");   // ntfy's and the mail's; %1: the board
    QTest::newRow("classic") << ""
                             << "ZARVIK Mail test";
    QTest::newRow("own words") << "[{board}] {subject}"
                               << "[%1] ZARVIK Mail test";
}

void TestPush::testButtonReachesEveryChannel()
{
    QFETCH(QString, subject);
    QFETCH(QString, title);
    HttpSink ntfy;
    HttpSink hook(QStringLiteral("refuse"));
    HttpSink bot;
    Rig rig;
    rig.telegramApi = bot.url(QString());
    rig.mailLines = QStringLiteral("Subject=%1\n").arg(subject);
    QVERIFY(rig.start(ntfy.url(), hook.url(), true));
    title.replace(QStringLiteral("%1"), QStringLiteral("127.0.0.1:%1").arg(rig.sim.port()));
    QVERIFY(rig.sim.setRaw(0)); // nothing fires
    QSignalSpy results(rig.monitor.get(), &Monitor::testPushFinished);
    rig.monitor->start(Monitor::Keyring::DoNotAsk);
    rig.monitor->sendTestMail();
    QVERIFY(EventWait::until([&] { return results.size() == 3; }));
    QVERIFY(rig.mailed());
    QMap<QString, PushResult> byChannel;
    for (const auto& args : results)
        byChannel.insert(args.at(0).value<PushResult>().channel, args.at(0).value<PushResult>());
    QVERIFY(byChannel.value(QStringLiteral("ntfy")).sent);
    QVERIFY(byChannel.value(QStringLiteral("telegram")).sent);
    QVERIFY(QJsonDocument::fromJson(bot.requests().at(0).body)
                .object()
                .value("text")
                .toString()
                .startsWith(title + u'\n')); // the words too
    QVERIFY(byChannel.value(QStringLiteral("webhook")).error.contains(QStringLiteral("404")));
    QVERIFY(rig.monitor->push().kept().isEmpty()); // a test is never kept
    QCOMPARE(QString::fromUtf8(ntfy.requests().at(0).headers.value("title")), title);
    QVERIFY(rig.smtp.mails().at(0).raw.contains("Subject: " + title.toUtf8() + "\r\n"));
}

// HTTP fields are ASCII: a title beyond it goes as RFC 2047 words of whole characters.
void TestPush::titleBeyondAscii()
{
    HttpSink ntfy;
    QTemporaryDir dir;
    PushChannels push(dir.path() + QStringLiteral("/pushbox"));
    push.setUrl(PushChannels::Ntfy, ntfy.url());
    PushNotice notice;
    notice.subject =
        QStringLiteral("温度が上限を超えました: ボイラー室 (地下二階)\r\nX-Injected: 1");
    push.send(notice);
    QVERIFY(ntfy.waitForRequests(1));
    const HttpSink::Request request = ntfy.requests().at(0);
    QVERIFY(!request.headers.contains("x-injected"));
    QString title;
    for (const QByteArray& word : request.headers.value("title").split(' ')) {
        QVERIFY2(word.startsWith("=?UTF-8?B?") && word.endsWith("?=") && word.size() <= 75,
                 word.constData());
        title += QString::fromUtf8(QByteArray::fromBase64(word.mid(10, word.size() - 12)));
    }
    QCOMPARE(title, QString(notice.subject).replace(QStringLiteral("\r\n"), QStringLiteral("  ")));
}

// A bot's token and a webhook's path are secrets: no result, note or kept push holds them, even
// where a server quotes the request's path or libcurl the URL; the host says where it went.
void TestPush::secretsStayHidden()
{
    const QString hookPath = QStringLiteral("/services/T0001/B0002/s3cretHookToken");
    HttpSink bot(QStringLiteral("unauthorized"));
    HttpSink hook(QStringLiteral("unauthorized"));
    QVERIFY(bot.isListening() && hook.isListening());
    QTemporaryDir dir;
    PushChannels push(dir.filePath(QStringLiteral("ZARVIK_Mail.pushbox")));
    push.setDelayScale(0.001);
    push.setRetry(true);
    push.setTelegram(Token, Chat, bot.url(QString()));
    push.setUrl(PushChannels::Webhook, hook.url(hookPath));
    QSignalSpy ended(&push, &PushChannels::finished);
    QSignalSpy notes(&push, &PushChannels::note);
    push.send(PushNotice());
    QVERIFY(EventWait::until([&] { return ended.size() == 2; }));
    QVERIFY(bot.waitForRequests(1) && hook.waitForRequests(1));

    // No server at all: libcurl's own words, and pushes kept.
    const QString nobody = QStringLiteral("http://%1").arg(SmtpServer::refusingHostPort());
    push.setTelegram(Token, Chat, nobody);
    push.setUrl(PushChannels::Webhook, nobody + hookPath);
    push.send(PushNotice());
    QVERIFY(EventWait::until([&] { return ended.size() == 4; }));
    QCOMPARE(push.kept().size(), 2);

    QStringList told;
    for (const auto& args : ended) {
        const PushResult result = args.at(0).value<PushResult>();
        QVERIFY(!result.sent && result.where.startsWith(QLatin1String("http://127.0.0.1:")));
        QVERIFY2(result.error.endsWith(QStringLiteral(" (%1)").arg(result.where)),
                 qPrintable(result.error));
        told << result.error;
    }
    for (const auto& args : notes)
        told << args.at(0).toString();
    QByteArray kept;
    for (const QString& file : push.kept())
        kept += TestFiles::read(file);
    QVERIFY(kept.contains("\"text\":"));
    for (const QString& secret : {Token, QStringLiteral("s3cretHookToken"), hookPath}) {
        QVERIFY2(!told.join(u'\n').contains(secret), qPrintable(told.join(u'\n')));
        QVERIFY2(!kept.contains(secret.toUtf8()), kept.constData());
    }

    // The kept one goes to the bot and chat in force now, not to those it was first meant for.
    HttpSink later;
    push.setTelegram(Token, QStringLiteral("@boiler_room"), later.url(QString()));
    QVERIFY(later.waitForRequests(1));
    const QJsonObject resent = QJsonDocument::fromJson(later.requests().at(0).body).object();
    QCOMPARE(resent.value("chat_id").toString(), QStringLiteral("@boiler_room"));
    QCOMPARE(resent.value("text").toString(), QStringLiteral("ZARVIK Mail"));
}

QTEST_GUILESS_MAIN(TestPush)
#include "tst_push.moc"
