// Every way an alert mail can fail, through the real window: one error report per failed mail,
// the window keeps working while it waits, nothing is retried, and Reset with a working server
// brings the mail through again.
#include "core/IdlePass.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/Shell.h"
#include "gui/ToolSettingDlg.h"
#include "mail/MailService.h"
#include "support/BoxWatcher.h"
#include "support/EventWait.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestMain.h"
#include "support/WindowFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <optional>

namespace {

// Raw 70 is 34.2 C, over the 30 C limit; raw 100 is 48.8 C.
constexpr int HotRaw = 70;
constexpr int HotterRaw = 100;
const QString HotterText = QStringLiteral("48.8 ℃");
constexpr int Rb1High = 2;
// Faster than the program's own, so that waits for more readings stay short.
constexpr int PollMs = 100;

// Upper temperature over 30 C and RB1 going high: both fire in the first pass after the first
// reply, so that pass sends one mail carrying both.
QString alertSettings(const QString& mailServer)
{
    return QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"
                          "[Sensor]\nRB1=0\n"
                          "[Mail]\nPriority=1\nAddress=%1\nUser=zarvik-test\n"
                          "From=ZARVIK <zarvik@example.jp>\nTo=ops@example.jp\n")
        .arg(mailServer);
}

} // namespace

class TestMailFaults : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void failedMailIsReportedOnce_data();
    void failedMailIsReportedOnce();
};

void TestMailFaults::init()
{
    QVERIFY(setUpWindows());
}

void TestMailFaults::cleanup()
{
    QVERIFY2(tearDownWindows(), "a window was left open");
}

void TestMailFaults::failedMailIsReportedOnce_data()
{
    QTest::addColumn<QString>("mode"); // "refuse": nothing listens on the port
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("slow"); // the failure takes long enough to watch the window meanwhile
    // How the user closes the report: with real input, which must reach the box.
    QTest::addColumn<BoxWatcher::Answer>("answer");

    using A = BoxWatcher::Answer;
    QTest::newRow("connection refused") << "refuse"
                                        << "Couldn't connect to server" << false << A::Enter;
    QTest::newRow("greeting 554") << "greeting554"
                                  << "554 5.3.2 Service not available" << false << A::ClickOk;
    QTest::newRow("MAIL rejected")
        << "reject-mail"
        << "MAIL failed: 550 5.7.1 Sender address rejected" << false << A::Enter;
    QTest::newRow("RCPT rejected")
        << "reject-rcpt"
        << "RCPT failed: 550 5.1.1 <ops@example.jp>: Recipient address rejected" << false
        << A::ClickOk;
    QTest::newRow("DATA rejected")
        << "reject-data"
        << "DATA failed: 554 5.7.0 Transaction failed: message refused" << false << A::Enter;
    QTest::newRow("no greeting") << "hang"
                                 << "timed out" << true << A::ClickOk;
    QTest::newRow("dropped in DATA")
        << "drop-in-data"
        << "Failure when receiving data from the peer" << false << A::Enter;
}

void TestMailFaults::failedMailIsReportedOnce()
{
    QFETCH(QString, mode);
    QFETCH(QString, expected);
    QFETCH(bool, slow);
    QFETCH(BoxWatcher::Answer, answer);

    std::optional<SmtpServer> failing;
    QString server = SmtpServer::refusingHostPort();
    if (mode != u"refuse") {
        failing.emplace(mode);
        QVERIFY2(failing->isListening(), qPrintable(failing->errorString()));
        server = failing->hostPort();
    }
    QVERIFY(m_sim->setRaw(HotRaw));
    QVERIFY(m_sim->setBits(Rb1High));

    BoxWatcher boxes(0);
    boxes.setAnswer(answer);
    openShell(settingsFile(alertSettings(server)), PollMs);
    // Long enough for several ticks to fall inside a wait for a silent server.
    m_monitor->mail().setTimeouts(6 * PollMs, 10 * PollMs);

    // While the mail is on its way, a reply pushed by the board must still be shown.
    bool pushedWhileSending = false;
    bool shownWhileSending = false;
    int ticksWhileSending = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
        if (!m_monitor->mail().isSending())
            return;
        if (!pushedWhileSending) {
            pushedWhileSending = true;
            m_sim->setRaw(HotterRaw);
            m_sim->push();
        }
        shownWhileSending = shownWhileSending || m_form->NowTemp->text() == HotterText;
    });
    connect(m_monitor->source().Timer1, &QTimer::timeout, this,
            [&] { ticksWhileSending += m_monitor->mail().isSending(); });
    probe.start(10);

    QVERIFY2(EventWait::until([&] { return !boxes.boxes().isEmpty(); }, 30000), "no error report");
    QVERIFY(EventWait::until([&] { return !m_monitor->mail().isSending(); }, 10000));
    const BoxWatcher::Box report = boxes.boxes().first();
    QVERIFY2(report.text.contains(expected), qPrintable(report.text));
    QVERIFY2(!report.text.trimmed().isEmpty(), "the report says nothing");
    QCOMPARE(report.caption, QCoreApplication::applicationName());
    QCOMPARE(report.icon, QMessageBox::Critical);
    QVERIFY(!m_monitor->alertState().SendFlagUTemp);
    QVERIFY(!m_monitor->alertState().SendFlagRB1H);
    if (slow) {
        QVERIFY2(shownWhileSending, "the window did not show a reply while the mail waited");
        QVERIFY2(ticksWhileSending > 0, "the clock did not tick while the mail waited");
    }

    // Later passes and ticks leave the fired rules alone: no second attempt, no second report.
    const quint64 passes = m_monitor->idlePass()->passCount();
    QVERIFY(m_sim->setRaw(HotterRaw));
    QVERIFY(waitForPolls(1));
    QVERIFY(EventWait::until([&] { return !m_monitor->mail().isSending(); }, 10000));
    QVERIFY(m_monitor->idlePass()->passCount() > passes);
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.mostOpenAtOnce(), 1);
    QCOMPARE(boxes.forcedClosures(), 0);
    if (failing)
        QCOMPARE(failing->mailCount(), 0);
    QCOMPARE(m_form->NowTemp->text(), HotterText);

    // Reset with a working server: the upper rule fires again and its mail goes out.
    SmtpServer healthy;
    QVERIFY2(healthy.isListening(), qPrintable(healthy.errorString()));
    m_shell->ToolSettingDlg()->EdtMailSrv->setText(healthy.hostPort());
    m_form->BtnReset->click();
    QVERIFY(EventWait::until([&] { return healthy.mailCount() >= 1; }, 15000));
    const SmtpServer::Mail mail = healthy.mails().first();
    QVERIFY2(mail.raw.contains("\r\nSubject: Over 30C \r\n"), mail.raw.constData());
    QCOMPARE(mail.rcptTo, QStringList{QStringLiteral("ops@example.jp")});
    // RB1 stays high, so only the temperature rule fires again.
    QVERIFY(!mail.raw.contains("RB1"));
    QVERIFY(m_monitor->alertState().SendFlagRB1H);

    QVERIFY(waitForPolls(1));
    QCOMPARE(healthy.mailCount(), 1);
    QCOMPARE(boxes.boxes().size(), 1);
}

ZARVIK_APP_TEST_MAIN(TestMailFaults)

#include "tst_mailfaults.moc"
