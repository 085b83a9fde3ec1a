// Metrics served to a scraper: the real windows, the simulated board over UDP and a real HTTP
// client, all on loopback. This test has no session bus, as a machine without a desktop.

#include "app/FormZARVIK_Mail.h"
#include "app/MetricsServer.h"
#include "app/Shell.h"
#include "app/WatchOutputs.h"
#include "settings/Memo.h"
#include "settings/ToolSettingDlg.h"
#include "support/BoxWatcher.h"
#include "support/EventWait.h"
#include "support/PromText.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestMain.h"
#include "support/WindowFixture.h"

#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QtTest>
#include <memory>

using PromText::samples;

namespace {

constexpr int PollMs = 100;

struct Response {
    int status = 0; // 0: no HTTP answer at all (refused)
    QByteArray contentType;
    QByteArray body;
};

// A port that was free a moment ago on 127.0.0.1.
quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString metricsAt(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

} // namespace

class TestWatchOutputs : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void servesReadingsAndCounts();
    void absentBeforeTheFirstReplyAndOnlyGetMetrics();
    void followsTheEditOnceTypingSettles();
    void unusableAddressIsToldOnceAndPollingGoesOn_data();
    void unusableAddressIsToldOnceAndPollingGoesOn();

private:
    void startShell(const QString& extraSettings);
    Response get(quint16 port, const QString& path = QStringLiteral("/metrics"),
                 const QByteArray& verb = "GET");
    quint16 servedPort() const { return m_shell->watchOutputs()->metricsServer().serverPort(); }

    QNetworkAccessManager m_http;
    std::unique_ptr<BoxWatcher> m_boxes;
};

void TestWatchOutputs::init()
{
    QVERIFY(setUpWindows());
    m_boxes = std::make_unique<BoxWatcher>(0);
}

void TestWatchOutputs::cleanup()
{
    m_shell.reset();
    m_boxes.reset();
    QVERIFY2(tearDownWindows(), "a window was left open");
}

void TestWatchOutputs::startShell(const QString& extraSettings)
{
    openShell(settingsFile(extraSettings), PollMs);
}

Response TestWatchOutputs::get(quint16 port, const QString& path, const QByteArray& verb)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)));
    std::unique_ptr<QNetworkReply> reply(m_http.sendCustomRequest(request, verb));
    if (!EventWait::until([&] { return reply->isFinished(); }))
        return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), reply->readAll()};
}

void TestWatchOutputs::servesReadingsAndCounts()
{
    const quint16 port = freePort();
    QVERIFY(m_sim->setRaw(64)); // 31.25 ℃
    startShell(QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n[Sensor]\nRB1=0\n"
                              "[Mail]\nAddress=%1\nFrom=z@example.com\nTo=a@example.com\n"
                              "[Watch]\nMetrics=%2\nNotify=1\n")
                   .arg(SmtpServer::refusingHostPort(), metricsAt(port)));
    QSignalSpy replies(m_form, &TFormZARVIK_Mail::replyDecoded);
    // The upper limit mails and the mail fails; RB1 going H fires with no text, so no mail.
    QVERIFY(EventWait::until([&] { return m_boxes->texts().size() == 1; }));
    m_dialog->MemoChgRB1->setText(QString());
    QVERIFY(m_sim->setBits(2));
    QVERIFY(EventWait::until([&] { return !m_form->alertState().SendFlagRB1H; }));
    for (int size : {7, 9}) {
        const qsizetype boxes = m_boxes->texts().size();
        QVERIFY(m_sim->push(size));
        QVERIFY(EventWait::until([&] { return m_boxes->texts().size() > boxes; }));
    }
    QVERIFY(m_sim->setSilent(true));
    QVERIFY(waitForPolls(1));
    // The mail's and the two datagrams' boxes; notifications, with no session bus here, none.
    QCOMPARE(m_boxes->texts().size(), 3);

    const Response response = get(port);
    QCOMPARE(response.status, 200);
    QCOMPARE(response.contentType, "text/plain; version=0.0.4; charset=utf-8");
    const auto values = samples(response.body);
    QCOMPARE(values.value("zarvik_temperature_celsius"), "31.25");
    QCOMPARE(values.value(R"(zarvik_input{input="RB1"})"), "1");
    QCOMPARE(values.value(R"(zarvik_input{input="RB0"})"), "0");
    QCOMPARE(values.value("zarvik_replies_total"), QByteArray::number(replies.count()));
    QVERIFY(replies.count() >= 2);
    QCOMPARE(values.value("zarvik_wrong_size_replies_total"), "2");
    QCOMPARE(values.value(R"(zarvik_alerts_total{rule="upper"})"), "1");
    QCOMPARE(values.value(R"(zarvik_alerts_total{rule="rb1_high"})"), "1");
    QCOMPARE(values.value(R"(zarvik_alerts_total{rule="lower"})"), "0");
    QCOMPARE(values.value("zarvik_mail_failures_total"), "1");
    const double age = values.value("zarvik_last_reply_age_seconds").toDouble();
    QVERIFY2(age > 0 && age < 60, values.value("zarvik_last_reply_age_seconds"));
    QCOMPARE(PromText::promtoolProblems(response.body), QString());
}

void TestWatchOutputs::absentBeforeTheFirstReplyAndOnlyGetMetrics()
{
    const quint16 port = freePort();
    QVERIFY(m_sim->setSilent(true));
    startShell(
        QStringLiteral("[Watch]\nNoReply=1\nNoReplySec=1\nMetrics=%1\n").arg(metricsAt(port)));
    m_dialog->MemoNoReply->setText(QString());
    QVERIFY(EventWait::until([&] { return !m_form->alertState().SendFlagNoReply; }));

    const Response response = get(port);
    QCOMPARE(response.status, 200);
    const auto values = samples(response.body);
    QVERIFY(!values.contains("zarvik_temperature_celsius"));
    QVERIFY(!values.contains(R"(zarvik_input{input="RB1"})"));
    QCOMPARE(values.value("zarvik_replies_total"), "0");
    QCOMPARE(values.value(R"(zarvik_alerts_total{rule="no_reply"})"), "1");
    QVERIFY(values.value("zarvik_last_reply_age_seconds").toDouble() >= 1.0); // since start-up
    QCOMPARE(PromText::promtoolProblems(response.body), QString());

    QCOMPARE(get(port, QStringLiteral("/")).status, 404);
    QCOMPARE(get(port, QStringLiteral("/metrics/x")).status, 404);
    QCOMPARE(get(port, QStringLiteral("/metrics"), "POST").status, 404);
    QCOMPARE(get(port, QStringLiteral("/metrics"), "DELETE").status, 404);
}

void TestWatchOutputs::followsTheEditOnceTypingSettles()
{
    const quint16 first = freePort();
    startShell({});
    QCOMPARE(servedPort(), 0); // off by default
    QCOMPARE(get(first).status, 0);

    m_dialog->EdtMetrics->setText(metricsAt(first));
    QVERIFY(EventWait::until([&] { return get(first).status == 200; }));

    // Typed text counts once typing pauses; until then the old address serves.
    const quint16 second = freePort();
    QVERIFY(second != first);
    m_dialog->EdtMetrics->selectAll();
    QTest::keyClicks(m_dialog->EdtMetrics, metricsAt(second));
    QCOMPARE(servedPort(), first);
    QTest::keyClick(m_dialog->EdtMetrics, Qt::Key_Return);
    QVERIFY(EventWait::until([&] { return servedPort() == second; }));
    QCOMPARE(get(second).status, 200);
    QCOMPARE(get(first).status, 0);

    // A host name is looked up; "localhost" serves on 127.0.0.1.
    m_dialog->EdtMetrics->setText(QStringLiteral("localhost:%1").arg(first));
    QVERIFY(EventWait::until([&] { return servedPort() == first; }));
    QCOMPARE(get(first).status, 200);

    m_dialog->EdtMetrics->clear();
    QVERIFY(EventWait::until([&] { return servedPort() == 0; }));
    QCOMPARE(get(first).status, 0);
    QCOMPARE(m_boxes->texts(), QStringList());
}

void TestWatchOutputs::unusableAddressIsToldOnceAndPollingGoesOn_data()
{
    QTest::addColumn<bool>("portInUse");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("said");
    QTest::newRow("port in use") << true << QString() << "in use";
    QTest::newRow("no host") << false << ":9464"
                             << "not host:port";
}

void TestWatchOutputs::unusableAddressIsToldOnceAndPollingGoesOn()
{
    QFETCH(bool, portInUse);
    QFETCH(QString, text);
    QFETCH(QString, said);
    QTcpServer taken;
    if (portInUse) {
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        text = metricsAt(taken.serverPort());
    }
    startShell(QStringLiteral("[Watch]\nMetrics=%1\n").arg(text));
    const QString note = m_form->StatusBar1->currentMessage();
    QVERIFY2(note.contains(said, Qt::CaseInsensitive), qPrintable(note));
    QCOMPARE(servedPort(), 0);

    QSignalSpy notes(m_form->StatusBar1, &QStatusBar::messageChanged);
    m_dialog->open();
    m_dialog->close(); // settles the texts again
    QVERIFY(waitForPolls(3));
    for (const QList<QVariant>& shown : notes)
        QVERIFY2(shown.first().toString().isEmpty(), qPrintable(shown.first().toString()));
    QVERIFY(m_form->readings().HaveReply);
    QCOMPARE(m_boxes->texts(), QStringList());
}

ZARVIK_APP_TEST_MAIN(TestWatchOutputs)
#include "tst_watchoutputs.moc"
