// The watching without any window: the simulated board over UDP, the rules, a mail to the real
// SMTP server (kept while the server is away, delivered when it is back), the CSV log and the
// metrics, under QCoreApplication. This executable links no widgets.
#include "core/Clock.h"
#include "device/BoardSource.h"
#include "history/HistoryRecorder.h"
#include "history/ReadingLog.h"
#include "mail/MailService.h"
#include "mail/Outbox.h"
#include "mail/OutboxSender.h"
#include "monitor/Monitor.h"
#include "monitor/Mute.h"
#include "settings/Settings.h"
#include "support/EventWait.h"
#include "support/FreePort.h"
#include "support/PromText.h"
#include "support/SettingsFile.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestClock.h"
#include "support/TestFiles.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

namespace {

QByteArray scrape(QNetworkAccessManager& http, quint16 port)
{
    std::unique_ptr<QNetworkReply> reply(
        http.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)))));
    return EventWait::until([&] { return reply->isFinished(); }) ? reply->readAll() : QByteArray();
}

// A settings file naming the simulated board and a mail server, plus other sections (LF lines).
QString writeSettings(const QTemporaryDir& dir, quint16 boardPort, const QString& mailAt,
                      const QString& extra)
{
    return writeSettingsFile(dir.path(), boardPort,
                             extra + QStringLiteral("[Mail]\nAddress=%1\nFrom=z@example.com\n"
                                                    "To=ops@example.com\n")
                                         .arg(mailAt));
}

// An outlet of the test's own: what every outlet is handed; a record (like a log) when it
// reaches no person.
struct RecordingOutlet : Outlet {
    explicit RecordingOutlet(bool person = true)
        : person(person)
    {
    }
    bool person;
    QList<AlertEvent> events;
    void take(const AlertEvent& event) override { events.append(event); }
    bool notifies() const override { return person; }
    QList<AlertEvent::Kind> kinds() const
    {
        QList<AlertEvent::Kind> k;
        for (const AlertEvent& e : events)
            k << e.kind;
        return k;
    }
};

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void linksNoWidgets();
    void boardToMailOutboxCsvAndMetrics();
    void silenceAndReplyTimesFollowTheClock();
    void reArmsPastTheHysteresisWithOneNotice();
    void mutedFromTheStartThenAcknowledged();
    void offsetCalibratesAllButTheBoardsBytes();
};

// What a service on a machine without a display needs: no Qt Widgets or Gui at all.
void TestHeadless::linksNoWidgets()
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QCoreApplication::applicationFilePath()});
    QVERIFY(ldd.waitForFinished(10000));
    const QByteArray libraries = ldd.readAllStandardOutput();
    QVERIFY2(libraries.contains("libQt6Core"), libraries.constData());
    QVERIFY2(!libraries.contains("libQt6Widgets") && !libraries.contains("libQt6Gui"),
             libraries.constData());
}

void TestHeadless::boardToMailOutboxCsvAndMetrics()
{
    QTemporaryDir dir;
    SimBoard sim;
    QVERIFY(dir.isValid() && sim.start());
    QVERIFY(sim.setRaw(64)); // 31.25 ℃: over the limit from the first reply on
    const QString mailAt = SmtpServer::refusingHostPort();
    const quint16 metricsPort = freePort();
    const QString path =
        writeSettings(dir, sim.port(), mailAt,
                      QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n[Watch]\nRetry=1\nLog=1\n"
                                     "Metrics=127.0.0.1:%1\n")
                          .arg(metricsPort));

    Settings settings;
    QVERIFY(settings.load(path));
    Monitor monitor(settings, path, Clock::system());
    monitor.source().Timer1->setInterval(100);
    monitor.mail().outboxSender().setDelayScale(0.01);
    QSignalSpy problems(&monitor, &Monitor::problem);
    monitor.start();

    // The server is away: the alert mail fails, is told, and is kept.
    QVERIFY(EventWait::until([&] { return problems.size() == 1; }));
    QVERIFY2(problems.at(0).at(0).toString().contains(QStringLiteral("onnect")),
             qPrintable(problems.at(0).at(0).toString()));
    QVERIFY(!monitor.alertState().SendFlagUTemp);
    const QString outbox = Outbox::folderFor(path);
    QCOMPARE(TestFiles::entries(outbox).filter(QStringLiteral(".mail")).size(), 1);

    // Back: the kept mail goes out by itself, once.
    SmtpServer server(SmtpServer::listeningAt(mailAt));
    QVERIFY(server.isListening());
    QVERIFY(server.waitForMails(1, 20000));
    const SmtpServer::Mail mail = server.mails().at(0);
    QCOMPARE(mail.rcptTo, QStringList{QStringLiteral("ops@example.com")});
    QVERIFY(mail.raw.contains("Subject: Over 30C"));
    QVERIFY(EventWait::until(
        [&] { return TestFiles::entries(outbox).filter(QStringLiteral(".mail")).isEmpty(); }));

    // Every reply went into the day's CSV file and into the metrics.
    const QByteArray csv = TestFiles::read(ReadingLog::filePathFor(path, QDate::currentDate()));
    QVERIFY2(csv.count('\n') >= 2, csv.constData());
    QVERIFY(csv.contains("31.3") || csv.contains("31.25"));
    QNetworkAccessManager http;
    const auto samples = PromText::samples(scrape(http, metricsPort));
    QCOMPARE(samples.value("zarvik_temperature_celsius"), QByteArray("31.25"));
    QCOMPARE(samples.value("zarvik_mail_failures_total"), QByteArray("1"));
    QCOMPARE(samples.value("zarvik_alerts_total{rule=\"upper\"}"), QByteArray("1"));
    QCOMPARE(server.mailCount(), 1);
    QCOMPARE(problems.size(), 1);
}

// A minute of silence without waiting a minute; replies stamped with the clock's time.
void TestHeadless::silenceAndReplyTimesFollowTheClock()
{
    QTemporaryDir dir;
    SimBoard sim;
    QVERIFY(dir.isValid() && sim.start());
    QVERIFY(sim.setSilent(true));
    SmtpServer server;
    QVERIFY(server.isListening());
    const QString path = writeSettings(dir, sim.port(), server.hostPort(),
                                       QStringLiteral("[Watch]\nNoReply=1\nNoReplySec=60\n"));
    Settings settings;
    QVERIFY(settings.load(path));
    TestClock clock;
    Monitor monitor(settings, path, clock);
    monitor.source().Timer1->setInterval(50);
    QSignalSpy fired(&monitor, &Monitor::rulesFired);
    monitor.start();

    clock.advance(59999);
    QVERIFY(sim.waitForRequests(3, 5000)); // passes ran meanwhile
    QVERIFY(monitor.alertState().SendFlagNoReply);
    clock.advance(1);
    QVERIFY(EventWait::until([&] { return fired.size() == 1; }));
    QCOMPARE(fired.at(0).at(1).toString(), QStringLiteral("応答がありません (60秒)"));
    QVERIFY(server.waitForMails(1));
    QVERIFY(server.mails().at(0).raw.contains("Subject: No reply 60s"));

    QSignalSpy replies(&monitor, &Monitor::replyReceived);
    QVERIFY(sim.setSilent(false));
    QVERIFY(EventWait::until([&] { return !replies.isEmpty(); }));
    QCOMPARE(replies.at(0).at(0).value<Reading>().timeMs, clock.nowMs());
    QCOMPARE(monitor.history().history().points().back().ms, clock.nowMs());
    QCOMPARE(monitor.source().msSinceLastReply(), 0);
}

// Over the limit, a wobble inside the hysteresis band for minutes, then clear for ReArmSec: one
// alert mail and one recovered notice, nothing for the wobble.
void TestHeadless::reArmsPastTheHysteresisWithOneNotice()
{
    QTemporaryDir dir;
    SimBoard sim;
    QVERIFY(dir.isValid() && sim.start());
    QVERIFY(sim.setTemperature(31.5));
    SmtpServer server;
    QVERIFY(server.isListening());
    const QString path = writeSettings(dir, sim.port(), server.hostPort(),
                                       QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\nHysteresis=1\n"
                                                      "[Watch]\nReArm=1\nReArmSec=60\n"));
    Settings settings;
    QVERIFY(settings.load(path));
    TestClock clock;
    Monitor monitor(settings, path, clock);
    monitor.source().Timer1->setInterval(50);
    QSignalSpy notices(&monitor, &Monitor::noticeSent);
    QSignalSpy replies(&monitor, &Monitor::replyReceived);
    RecordingOutlet outlet;
    monitor.addOutlet(&outlet);
    monitor.start();
    // Waits in the program's own kind of loop, so that its passes run meanwhile.
    const auto mailed = [&](int count) {
        return EventWait::until([&] { return server.mailCount() >= count; });
    };
    const auto polled = [&](int count) {
        const qsizetype seen = sim.requests().size() + count;
        return EventWait::until([&] { return sim.requests().size() >= seen; });
    };
    QVERIFY(mailed(1));
    QVERIFY(server.mails().at(0).raw.contains("Subject: Over 30C"));

    // The clock moves by `ms`, then the board replies `celsius`.
    const auto replyAt = [&](double celsius, qint64 ms) {
        clock.advance(ms);
        replies.clear();
        if (!sim.setTemperature(celsius))
            return false;
        return EventWait::until([&] {
            return !replies.isEmpty() &&
                   std::abs(replies.last().at(0).value<Reading>().temperature - celsius) < 0.2;
        });
    };
    for (const double celsius : {29.6, 30.6, 29.6, 30.6})
        QVERIFY(replyAt(celsius, 60000));
    QVERIFY(replyAt(27.0, 1000));
    QVERIFY(replyAt(27.0, 59999));
    QVERIFY(polled(5));
    QCOMPARE(notices.size(), 0);
    clock.advance(1);
    QVERIFY(mailed(2));
    QVERIFY(server.mails().at(1).raw.contains("Subject: Recovered: Over 30C\r\n"));
    QVERIFY(polled(5));
    QCOMPARE(server.mailCount(), 2);
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices.at(0).at(3).toString(),
             QStringLiteral("温度が 30℃を下回り、正常に戻りました。"));
    QVERIFY(monitor.alertState().SendFlagUTemp);
    // The alert and its recovery, as every outlet took them.
    QCOMPARE(outlet.events.size(), 2);
    const AlertEvent& alert = outlet.events[0];
    QVERIFY(alert.kind == AlertEvent::Kind::Alert && alert.mailDue);
    QCOMPARE(alert.rules, quint8(RuleUpper));
    QCOMPARE(alert.subject, QStringLiteral("Over 30C "));
    QVERIFY(alert.reading.timeMs != 0 && alert.reading.temperature > 30);
    const AlertEvent& recovered = outlet.events[1];
    QVERIFY(recovered.kind == AlertEvent::Kind::Recovered);
    QCOMPARE(recovered.rules, quint8(RuleUpper));
    QCOMPARE(recovered.message, notices.at(0).at(3).toString());
    QCOMPARE(recovered.timeMs, clock.nowMs());
}

// A mute kept from an earlier run holds at start: the alert reaches records only, the input
// that fired and recovered meanwhile is never told, the temperature that still holds is mailed
// once when the mute ends, and acknowledging it is mailed once.
void TestHeadless::mutedFromTheStartThenAcknowledged()
{
    QTemporaryDir dir;
    SimBoard sim;
    QVERIFY(dir.isValid() && sim.start());
    QVERIFY(sim.setTemperature(31.5) && sim.setBits(2));
    SmtpServer server;
    QVERIFY(server.isListening());
    const quint16 metricsPort = freePort();
    const QString path = writeSettings(
        dir, sim.port(), server.hostPort(),
        QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n[Sensor]\nRB1=0\n[Watch]\nReArm=1\n"
                       "ReArmSec=60\nMetrics=127.0.0.1:%1\n")
            .arg(metricsPort));
    TestClock clock;
    const qint64 untilMs = clock.nowMs() + 3600000;
    QString error;
    QVERIFY(Mute::write(Mute::pathFor(path), untilMs, &error));
    Settings settings;
    QVERIFY(settings.load(path));
    Monitor monitor(settings, path, clock);
    monitor.source().Timer1->setInterval(50);
    RecordingOutlet person;
    RecordingOutlet record(false);
    monitor.addOutlet(&person);
    monitor.addOutlet(&record);
    QSignalSpy notes(&monitor, &Monitor::lastingNote);
    monitor.start();
    QCOMPARE(monitor.mutedUntilMs(), untilMs);
    QVERIFY(EventWait::until([&] { return !record.events.isEmpty(); }));
    QVERIFY(record.events[0].muted && record.events[0].rules == (RuleUpper | RuleRb1High));
    QSignalSpy replies(&monitor, &Monitor::replyReceived);
    QVERIFY(sim.setBits(0));
    QVERIFY(EventWait::until(
        [&] { return !replies.isEmpty() && !replies.last().at(0).value<Reading>().rb1; }));
    clock.advance(70000);
    QVERIFY(EventWait::until([&] { return record.events.size() == 2; })); // RB1 recovered
    QNetworkAccessManager http;
    QCOMPARE(PromText::samples(scrape(http, metricsPort)).value("zarvik_muted_until_seconds"),
             QByteArray::number(untilMs / 1000));

    // Waits in the program's own kind of loop, so that its passes run meanwhile.
    const auto mailed = [&](int count) {
        return EventWait::until([&] { return server.mailCount() >= count; });
    };
    clock.advance(3600000);
    QVERIFY(mailed(1));
    QVERIFY(server.mails().at(0).raw.contains("Subject: Over 30C \r\n"));
    QCOMPARE(person.kinds(), QList{AlertEvent::Kind::Alert});
    QVERIFY(person.events[0].late && person.events[0].rules == RuleUpper);
    QCOMPARE(monitor.mutedUntilMs(), 0);
    QVERIFY(!QFile::exists(Mute::pathFor(path)));
    QCOMPARE(PromText::samples(scrape(http, metricsPort)).value("zarvik_muted_until_seconds"),
             QByteArray("0"));

    QCOMPARE(monitor.acknowledge(), quint8(RuleUpper));
    QCOMPARE(monitor.acknowledge(), quint8(0));
    QVERIFY(mailed(2));
    QVERIFY(server.mails().at(1).raw.contains("Subject: Acknowledged: Over 30C\r\n"));
    QCOMPARE(person.kinds(), (QList{AlertEvent::Kind::Alert, AlertEvent::Kind::Acknowledged}));
    QVERIFY(sim.waitForRequests(5, 5000));
    QCOMPARE(server.mailCount(), 2);

    // A kept mute that is no time means no mute, said once however often it is read.
    QFile garbage(Mute::pathFor(path));
    QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write("soon\n") == 5);
    garbage.close();
    notes.clear();
    monitor.readMute();
    monitor.readMute();
    QCOMPARE(monitor.mutedUntilMs(), 0);
    QCOMPARE(notes.size(), 1);
    QVERIFY(notes.at(0).at(1).toString().contains(QStringLiteral("holds no time")));
}

// The offset is added where a reply comes in: the rules, the CSV log, the metrics and every
// outlet see the calibrated temperature, while the reply's bytes (the status bar's) stay the
// board's. A bad offset is told once and 0 goes until it is fixed.
void TestHeadless::offsetCalibratesAllButTheBoardsBytes()
{
    QTemporaryDir dir;
    SimBoard sim;
    QVERIFY(dir.isValid() && sim.start());
    QVERIFY(sim.setRaw(64)); // 31.25 ℃ from the board: under the limit of 32
    QVERIFY(sim.setBits(0));
    SmtpServer server;
    QVERIFY(server.isListening());
    const quint16 metricsPort = freePort();
    const QString path =
        writeSettings(dir, sim.port(), server.hostPort(),
                      QStringLiteral("[Temp]\nUTemp=32\nCheck_U=1\nOffset=1.5\n[Watch]\nLog=1\n"
                                     "Metrics=127.0.0.1:%1\n")
                          .arg(metricsPort));
    Settings settings;
    QVERIFY(settings.load(path));
    Monitor monitor(settings, path, Clock::system());
    monitor.source().Timer1->setInterval(50);
    RecordingOutlet outlet;
    monitor.addOutlet(&outlet);
    QSignalSpy problems(&monitor, &Monitor::problem);
    QSignalSpy replies(&monitor, &Monitor::replyReceived);
    monitor.start(Monitor::Keyring::DoNotAsk);

    // In a real event loop, so that the passes run.
    QVERIFY(EventWait::until([&] { return server.mailCount() >= 1; }));
    QVERIFY(server.mails().at(0).raw.contains("Subject: Over 32C"));
    QCOMPARE(outlet.events.size(), 1);
    QCOMPARE(double(outlet.events.at(0).reading.temperature), 32.75);
    const Reading reading = replies.at(0).at(0).value<Reading>();
    QCOMPARE(double(reading.temperature), 32.75);
    QCOMPARE(reading.raw, QByteArray::fromHex("0000000000400000"));
    QNetworkAccessManager http;
    QCOMPARE(PromText::samples(scrape(http, metricsPort)).value("zarvik_temperature_celsius"),
             QByteArray("32.75"));
    const QString csv = ReadingLog::filePathFor(path, QDate::currentDate());
    QVERIFY2(TestFiles::read(csv).contains(",32.7500,"), TestFiles::read(csv).constData());
    QCOMPARE(problems.size(), 0);

    // Out of range: told once, and the board's own temperature goes meanwhile.
    settings.setValue(Settings::TempOffset, QStringLiteral("25"));
    QVERIFY(EventWait::until(
        [&] { return double(replies.last().at(0).value<Reading>().temperature) == 31.25; }));
    const qsizetype before = replies.size();
    QVERIFY(EventWait::until([&] { return replies.size() >= before + 3; }));
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.at(0).at(0).toString().startsWith(
                 QStringLiteral("'25' is not a valid temperature offset")),
             qPrintable(problems.at(0).at(0).toString()));
    QCOMPARE(monitor.readings().NowTempValue, 31.25L);
    QCOMPARE(PromText::samples(scrape(http, metricsPort)).value("zarvik_temperature_celsius"),
             QByteArray("31.25"));
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
