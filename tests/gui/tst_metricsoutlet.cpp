// Metrics served to a scraper: the real windows, the simulated board over UDP and a real HTTP
// client, all on loopback; against hostile clients, the real program in a process of its own.
// This test has no session bus, as a machine without a desktop.

#include "gui/FormZARVIK_Mail.h"
#include "gui/Memo.h"
#include "gui/Shell.h"
#include "gui/ToolSettingDlg.h"
#include "http/HttpSites.h"
#include "support/BoxWatcher.h"
#include "support/ChildProcess.h"
#include "support/EventWait.h"
#include "support/FreePort.h"
#include "support/PromText.h"
#include "support/RealProgram.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestMain.h"
#include "support/WindowFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>
#include <sys/resource.h>
#include <vector>

using PromText::samples;

namespace {

constexpr int PollMs = 100;

struct Response {
    int status = 0; // 0: no HTTP answer at all (refused)
    QByteArray contentType;
    QByteArray body;
};

QString metricsAt(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"), -1 when not there.
qint64 statusKiB(qint64 pid, const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// This process's hard limit on open files.
rlim_t hardOpenFileLimit()
{
    rlimit limit{};
    return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_max : 0;
}

// Sets this process's soft limit on open files, which children inherit.
bool setOpenFileLimit(rlim_t soft)
{
    const rlimit limit{soft, hardOpenFileLimit()};
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

} // namespace

class TestMetricsOutlet : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void servesReadingsAndCounts();
    void absentBeforeTheFirstReplyAndOnlyGetMetrics();
    void followsTheEditOnceTypingSettles();
    void unusableAddressIsToldOnceAndPollingGoesOn_data();
    void unusableAddressIsToldOnceAndPollingGoesOn();
    void hostileClientsNeitherStopTheWatchingNorTheServing();

private:
    void startShell(const QString& extraSettings);
    Response get(quint16 port, const QString& path = QStringLiteral("/metrics"),
                 const QByteArray& verb = "GET");
    quint16 servedPort() const { return m_monitor->metricsPort(); }

    QNetworkAccessManager m_http;
    std::unique_ptr<BoxWatcher> m_boxes;
};

void TestMetricsOutlet::init()
{
    QVERIFY(setUpWindows());
    m_boxes = std::make_unique<BoxWatcher>(0);
}

void TestMetricsOutlet::cleanup()
{
    m_shell.reset();
    m_boxes.reset();
    QVERIFY2(tearDownWindows(), "a window was left open");
}

void TestMetricsOutlet::startShell(const QString& extraSettings)
{
    openShell(settingsFile(extraSettings), PollMs);
}

Response TestMetricsOutlet::get(quint16 port, const QString& path, const QByteArray& verb)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)));
    std::unique_ptr<QNetworkReply> reply(m_http.sendCustomRequest(request, verb));
    if (!EventWait::until([&] { return reply->isFinished(); }))
        return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), reply->readAll()};
}

void TestMetricsOutlet::servesReadingsAndCounts()
{
    const quint16 port = freePort();
    QVERIFY(m_sim->setRaw(64)); // 31.25 ℃
    startShell(QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n[Sensor]\nRB1=0\n"
                              "[Mail]\nAddress=%1\nFrom=z@example.com\nTo=a@example.com\n"
                              "[Watch]\nMetrics=%2\nNotify=1\n")
                   .arg(SmtpServer::refusingHostPort(), metricsAt(port)));
    QSignalSpy replies(m_monitor, &Monitor::replyReceived);
    // The upper limit mails and the mail fails; RB1 going H fires with no text, so no mail.
    QVERIFY(EventWait::until([&] { return m_boxes->texts().size() == 1; }));
    m_dialog->MemoChgRB1->setText(QString());
    QVERIFY(m_sim->setBits(2));
    QVERIFY(EventWait::until([&] { return !m_monitor->alertState().SendFlagRB1H; }));
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

void TestMetricsOutlet::absentBeforeTheFirstReplyAndOnlyGetMetrics()
{
    const quint16 port = freePort();
    QVERIFY(m_sim->setSilent(true));
    startShell(
        QStringLiteral("[Watch]\nNoReply=1\nNoReplySec=1\nMetrics=%1\n").arg(metricsAt(port)));
    m_dialog->MemoNoReply->setText(QString());
    QVERIFY(EventWait::until([&] { return !m_monitor->alertState().SendFlagNoReply; }));

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

void TestMetricsOutlet::followsTheEditOnceTypingSettles()
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

void TestMetricsOutlet::unusableAddressIsToldOnceAndPollingGoesOn_data()
{
    QTest::addColumn<bool>("portInUse");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("said");
    QTest::newRow("port in use") << true << QString() << "in use";
    QTest::newRow("no host") << false << ":9464"
                             << "not host:port";
}

void TestMetricsOutlet::unusableAddressIsToldOnceAndPollingGoesOn()
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
    // Said beside the readings, not over the reply dump, and for as long as it holds.
    const QLabel* lasting = m_form->LabelNotes;
    QVERIFY(lasting->isVisible());
    QVERIFY2(lasting->toolTip().contains(said, Qt::CaseInsensitive),
             qPrintable(lasting->toolTip()));
    QCOMPARE(m_form->StatusBar1->currentMessage(), QString());
    QCOMPARE(servedPort(), 0);

    QSignalSpy notes(m_form->StatusBar1, &QStatusBar::messageChanged);
    m_dialog->open();
    m_dialog->close(); // settles the texts again
    QVERIFY(waitForPolls(3));
    QCOMPARE(notes.size(), 0);
    QVERIFY(lasting->isVisible());
    QVERIFY(m_monitor->readings().HaveReply);
    QVERIFY(m_form->StatusPanel0->text().startsWith(QStringLiteral("ZARVIK Status")));
    QCOMPARE(m_boxes->texts(), QStringList());

    // A usable address ends the note.
    m_dialog->show();
    m_dialog->PageCtrl1->setCurrentWidget(m_dialog->TabWatch);
    m_dialog->EdtMetrics->setFocus();
    m_dialog->EdtMetrics->selectAll();
    QTest::keyClicks(m_dialog->EdtMetrics, metricsAt(freePort()));
    QTest::keyClick(m_dialog->EdtMetrics, Qt::Key_Escape);
    QVERIFY(EventWait::until([&] { return servedPort() != 0; }));
    QVERIFY(!lasting->isVisible());
}

void TestMetricsOutlet::hostileClientsNeitherStopTheWatchingNorTheServing()
{
    constexpr int IdleClients = 1100;
    constexpr qint64 HugeHeader = 40 << 20;
    SmtpServer smtp;
    QVERIFY2(smtp.isListening(), qPrintable(smtp.errorString()));
    QVERIFY(m_sim->setTemperature(20.0));
    const quint16 port = freePort();
    const QString program = RealProgram::copyInto(m_dir->path());
    QVERIFY(!program.isEmpty());
    settingsFile(QStringLiteral("Cycle=200\n[Temp]\nUTemp=30\nCheck_U=1\n"
                                "[Mail]\nAddress=%1\nFrom=z@example.com\nTo=a@example.com\n"
                                "[Watch]\nMetrics=%2\n")
                     .arg(smtp.hostPort(), metricsAt(port)));
    // The program starts with the 1,024 descriptors a desktop session gives; this test needs
    // more for its clients.
    const rlim_t hard = hardOpenFileLimit();
    if (hard < IdleClients + 100)
        QSKIP("the hard limit on open files is too low for this test's clients");
    QVERIFY(setOpenFileLimit(1024));
    QProcess process;
    const bool started = RealProgram::start(process, program);
    QVERIFY(setOpenFileLimit(hard));
    QVERIFY(started);
    const auto stop = qScopeGuard([&] { stopProcess(process); });
    QVERIFY(waitForPolls(2));
    QVERIFY(EventWait::until([&] { return get(port).status == 200; }));
    const qint64 rssBefore = statusKiB(process.processId(), "VmRSS");

    QTcpSocket huge;
    huge.connectToHost(QHostAddress::LocalHost, port);
    huge.write("GET /metrics HTTP/1.1\r\nX-Filler: " + QByteArray(HugeHeader, 'a'));
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    int reached = 0;
    for (int i = 0; i < IdleClients; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        connect(idle.back().get(), &QTcpSocket::connected, this, [&reached] { ++reached; });
        idle.back()->connectToHost(QHostAddress::LocalHost, port);
        idle.back()->write("GET /metr");
    }
    // About as many as 1,024 descriptors hold, and the whole header sent or refused.
    QVERIFY(EventWait::until(
        [&] {
            return reached >= 1000 && (huge.bytesToWrite() == 0 ||
                                       huge.error() != QAbstractSocket::UnknownSocketError);
        },
        60000));

    QVERIFY(m_sim->setTemperature(35.0)); // over the upper limit: a mail
    QVERIFY(smtp.waitForMails(1, 20000));
    QVERIFY(waitForPolls(3));
    const qint64 peak = statusKiB(process.processId(), "VmHWM");
    QVERIFY2(peak - rssBefore < 50 * 1024,
             qPrintable(QStringLiteral("%1 KiB before, peak %2 KiB").arg(rssBefore).arg(peak)));

    idle.clear();
    huge.abort();
    const Response response = get(port);
    QCOMPARE(response.status, 200);
    QCOMPARE(samples(response.body).value(R"(zarvik_alerts_total{rule="upper"})"), "1");
    QCOMPARE(PromText::promtoolProblems(response.body), QString());
    // And the program took what room it may have: its soft limit is the hard one.
    QFile limits(QStringLiteral("/proc/%1/limits").arg(process.processId()));
    QVERIFY(limits.open(QIODevice::ReadOnly));
    const QByteArray text = limits.readAll();
    const qsizetype at = text.indexOf("Max open files");
    const QList<QByteArray> openFiles =
        text.mid(at, text.indexOf('\n', at) - at).simplified().split(' ');
    QVERIFY2(at >= 0 && openFiles.value(3) == openFiles.value(4), text.constData());
}

ZARVIK_APP_TEST_MAIN(TestMetricsOutlet)
#include "tst_metricsoutlet.moc"
