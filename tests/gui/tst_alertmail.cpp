// The alert rules and their mail, end to end: the real windows, a simulated board on loopback
// and a real SMTP server process.

#include "alert/AlertRules.h"
#include "core/IdlePass.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/Memo.h"
#include "gui/Shell.h"
#include "gui/ToolSettingDlg.h"
#include "mail/MailService.h"
#include "mail/Outbox.h"
#include "mail/OutboxSender.h"
#include "support/BoxWatcher.h"
#include "support/EventWait.h"
#include "support/HttpSink.h"
#include "support/MailText.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestFiles.h"
#include "support/TestMain.h"
#include "support/WindowFixture.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

const QString From = QStringLiteral("ZARVIK <zarvik@example.com>");
const QString To = QStringLiteral("Admin <admin@example.com>");
const QString UserId = QStringLiteral("zarvik-pc");
// Faster than the program's own, so that waits for more readings stay short.
constexpr int PollMs = 100;
const QString UpperMessage = QStringLiteral("温度が 30℃を超えました。");

QString mailSettings(const QString& server, int priority = 2)
{
    return QStringLiteral("[Mail]\nPriority=%1\nAddress=%2\nUser=%3\nFrom=%4\nTo=%5\n")
        .arg(priority)
        .arg(server, UserId, From, To);
}

bool allArmed(const AlertState& s)
{
    return s.SendFlagUTemp && s.SendFlagLTemp && s.SendFlagRB1L && s.SendFlagRB1H &&
           s.SendFlagRB0L && s.SendFlagRB0H;
}

} // namespace

class TestAlertMail : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void upperRuleMailsOnceUntilReset();
    void priorityHeader_data();
    void priorityHeader();
    void twoRulesInOnePassMakeOneMail();
    void lowerRuleWaitsForTheFirstReply();
    void inputHighInFirstReplyFiresOnFirstPass();
    void equalTemperatureIsNoCrossing();
    void emptyMemoDisarmsWithoutMail();
    void unselectedRulesStayArmed();
    void bodyRoundTrips_data();
    void bodyRoundTrips();
    void badLimitStopsThePassAndIsReportedOnce();
    void unreachableServerIsReportedOncePerPass();
    void slowServerKeepsTheWindowAlive();
    void halfTypedLimitDoesNotFire();
    void edgeWhilePassesArePausedIsKept();
    void silenceIsShownAndMailed();
    void keptMailGoesOutOnceAfterARestart();
    void mailThatIsNotKept_data();
    void mailThatIsNotKept();
    void testMailBoxAnswersRealInput_data();
    void testMailBoxAnswersRealInput();
    void refusedRecipientsDoNotStopTheOthers_data();
    void refusedRecipientsDoNotStopTheOthers();
    void keptMailForNobodyConfiguredIsSetAside();

private:
    // Creates and shows the windows; no idle pass has run when it returns, so the test can still
    // adjust the dialog's controls before the rules first look at them.
    void startShell(const QString& extraSettings);
    std::optional<ParsedMail> onlyMail() const;
    // The one mail so far has this subject and body, and the window shows this message.
    void checkOnlyMail(const QString& subject, const QString& body, const QString& message);

    std::unique_ptr<SmtpServer> m_smtp;
    std::unique_ptr<BoxWatcher> m_boxes;
};

void TestAlertMail::init()
{
    QVERIFY(setUpWindows());
    m_smtp = std::make_unique<SmtpServer>();
    QVERIFY2(m_smtp->isListening(), qPrintable(m_smtp->errorString()));
    m_boxes = std::make_unique<BoxWatcher>(0);
}

void TestAlertMail::cleanup()
{
    m_shell.reset();
    m_boxes.reset();
    m_smtp.reset();
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY2(tearDownWindows(), "a window was left open");
}

void TestAlertMail::startShell(const QString& extraSettings)
{
    openShell(settingsFile(extraSettings), PollMs);
}

std::optional<ParsedMail> TestAlertMail::onlyMail() const
{
    const QList<SmtpServer::Mail> mails = m_smtp->mails();
    if (mails.size() != 1)
        return std::nullopt;
    return ParsedMail(mails.first().raw);
}

void TestAlertMail::checkOnlyMail(const QString& subject, const QString& body,
                                  const QString& message)
{
    const auto mail = onlyMail();
    QVERIFY2(mail, qPrintable(QStringLiteral("%1 mails").arg(m_smtp->mailCount())));
    QCOMPARE(mail->text("Subject"), subject);
    QCOMPARE(mail->bodyText(), body);
    QCOMPARE(m_form->EdtMessage->text(), message);
}

#define CHECK_ONLY_MAIL(subject, body, message)                                                    \
    do {                                                                                           \
        checkOnlyMail(subject, body, message);                                                     \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

void TestAlertMail::upperRuleMailsOnceUntilReset()
{
    QVERIFY(m_sim->setTemperature(31.5));
    startShell(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"));
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    QVERIFY(waitForPolls(2)); // many passes and more readings later
    QCOMPARE(m_smtp->mailCount(), 1);
    QVERIFY(!m_monitor->alertState().SendFlagUTemp);
    QCOMPARE(m_form->EdtMessage->text(), UpperMessage);

    const SmtpServer::Mail envelope = m_smtp->mails().first();
    QCOMPARE(envelope.mailFrom, QStringLiteral("zarvik@example.com"));
    QCOMPARE(envelope.rcptTo, QStringList{QStringLiteral("admin@example.com")});
    QCOMPARE(envelope.ehlo, UserId);

    const ParsedMail mail(envelope.raw);
    for (const char* name : {"Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
                             "Content-Type", "Content-Transfer-Encoding", "X-Priority"})
        QVERIFY2(mail.count(name) == 1, name);
    QCOMPARE(mail.text("Subject"), QStringLiteral("Over 30C "));
    QCOMPARE(mail.text("From"), From);
    QCOMPARE(mail.text("To"), To);
    QCOMPARE(mail.text("Content-Type"), QStringLiteral("text/plain; charset=\"iso-2022-jp\""));
    QCOMPARE(mail.bodyText(), m_dialog->MemoUTemp->text() + QStringLiteral("\r\n"));

    // Reset re-arms the rule; the next mail carries the recipient once, not once per mail so far.
    QTest::mouseClick(m_form->BtnReset, Qt::LeftButton);
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 2; }));
    const SmtpServer::Mail second = m_smtp->mails().at(1);
    QCOMPARE(second.rcptTo, QStringList{QStringLiteral("admin@example.com")});
    const ParsedMail secondMail(second.raw);
    QCOMPARE(secondMail.count("To"), 1);
    QCOMPARE(secondMail.text("To"), To);
    QCOMPARE(secondMail.text("Subject"), QStringLiteral("Over 30C "));
    QCOMPARE(m_boxes->texts(), QStringList());
}

void TestAlertMail::priorityHeader_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected"); // null: no X-Priority field
    QTest::newRow("high") << 0 << QStringLiteral("1");
    QTest::newRow("normal") << 1 << QStringLiteral("3");
    QTest::newRow("low") << 2 << QStringLiteral("5");
    QTest::newRow("none chosen") << -1 << QString();
}

void TestAlertMail::priorityHeader()
{
    QFETCH(int, index);
    QFETCH(QString, expected);
    QVERIFY(m_sim->setTemperature(31.5));
    startShell(mailSettings(m_smtp->hostPort(), index) +
               QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"));
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    const auto mail = onlyMail();
    QVERIFY(mail);
    QCOMPARE(mail->count("X-Priority"), expected.isNull() ? 0 : 1);
    QCOMPARE(mail->text("X-Priority"), expected);
    QCOMPARE(mail->count("Content-Type"), 1);
}

void TestAlertMail::twoRulesInOnePassMakeOneMail()
{
    // The first reply brings both the crossing and RB1's rise, so one pass sees both.
    QVERIFY(m_sim->setTemperature(31.5));
    QVERIFY(m_sim->setBits(0x02));
    startShell(mailSettings(m_smtp->hostPort()) +
               QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n[Sensor]\nRB1=0\n"));
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    QVERIFY(waitForPolls(1));
    CHECK_ONLY_MAIL(QStringLiteral("Over 30C RB1 is \"H\". "),
                    QStringLiteral("Message <Upper Temp>Message <Change RB1>\r\n"),
                    QStringLiteral("RB1が\"H\"になりました"));
    QVERIFY(!m_monitor->alertState().SendFlagUTemp && !m_monitor->alertState().SendFlagRB1H);
    QVERIFY(m_monitor->alertState().SendFlagRB1L);
}

void TestAlertMail::lowerRuleWaitsForTheFirstReply()
{
    // The start value 0.0 is no reading: a silent board gives no "Under 10C".
    QVERIFY(m_sim->setSilent(true));
    QVERIFY(m_sim->setTemperature(5));
    startShell(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Temp]\nLTemp=10\nCheck_L=1\n"));
    QVERIFY(waitForPolls(3));
    QCOMPARE(m_smtp->mailCount(), 0);
    QVERIFY(m_monitor->alertState().SendFlagLTemp);
    // Once the board answers, a real frost mails.
    QVERIFY(m_sim->setSilent(false));
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    CHECK_ONLY_MAIL(QStringLiteral("Under 10C "), QStringLiteral("Message <Lower Temp>\r\n"),
                    QStringLiteral("温度が 10℃より下がりました。"));
}

void TestAlertMail::inputHighInFirstReplyFiresOnFirstPass()
{
    QVERIFY(m_sim->setTemperature(20));
    QVERIFY(m_sim->setBits(0x01));
    startShell(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Sensor]\nRB0=0\n"));
    // Runs right after each idle pass (connected later, so called later): what did the first
    // pass that saw RB0 at H leave behind?
    std::optional<bool> armedAfterFirstPass;
    QObject watch;
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &watch,
            [&] {
                if (!armedAfterFirstPass && (m_monitor->readings().PortBits & 0x01))
                    armedAfterFirstPass = m_monitor->alertState().SendFlagRB0H;
            });
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    QVERIFY(armedAfterFirstPass.has_value());
    QCOMPARE(*armedAfterFirstPass, false);
    QVERIFY(waitForPolls(1)); // RB0 stays at H: no new edge
    CHECK_ONLY_MAIL(QStringLiteral("RB0 is \"H\". "), QStringLiteral("Message <Change RB0>\r\n"),
                    QStringLiteral("RB0が\"H\"になりました"));
}

void TestAlertMail::equalTemperatureIsNoCrossing()
{
    QVERIFY(m_sim->setRaw(512)); // exactly 250.0 degrees
    startShell(mailSettings(m_smtp->hostPort()) +
               QStringLiteral("[Temp]\nUTemp=250\nLTemp=250\nCheck_U=0\nCheck_L=0\n"));
    // Checked only once the reading is in: the 0.0 shown before it is below the limit.
    QVERIFY(EventWait::until([&] { return m_monitor->readings().NowTempValue == 250.0; }));
    m_dialog->ChkBoxUTemp->setChecked(true);
    m_dialog->ChkBoxLTemp->setChecked(true);
    QVERIFY(waitForPolls(1));
    QVERIFY(allArmed(m_monitor->alertState()));
    QCOMPARE(m_form->EdtMessage->text(), QString());
    QCOMPARE(m_smtp->mailCount(), 0);
}

void TestAlertMail::emptyMemoDisarmsWithoutMail()
{
    QVERIFY(m_sim->setTemperature(31.5));
    startShell(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"));
    m_dialog->MemoUTemp->setText(QString());
    QVERIFY(EventWait::until([&] { return !m_monitor->alertState().SendFlagUTemp; }));
    QCOMPARE(m_form->EdtMessage->text(), UpperMessage);
    QVERIFY(waitForPolls(1));
    QCOMPARE(m_smtp->mailCount(), 0);
    QCOMPARE(m_boxes->texts(), QStringList());
}

void TestAlertMail::unselectedRulesStayArmed()
{
    // Every rule would fire if it were selected: above the upper limit, below the lower one and
    // both inputs moving both ways.
    QVERIFY(m_sim->setTemperature(100));
    startShell(mailSettings(m_smtp->hostPort()) +
               QStringLiteral("[Temp]\nUTemp=30\nLTemp=300\nCheck_U=0\nCheck_L=0\n"
                              "[Sensor]\nRB1=2\nRB0=2\n"));
    for (const int bits : {0x03, 0x00, 0x03}) {
        QVERIFY(m_sim->setBits(bits));
        QVERIFY(m_sim->push());
        QVERIFY(EventWait::until([&] { return m_monitor->readings().PortBits == bits; }));
        const quint64 passes = m_monitor->idlePass()->passCount();
        QVERIFY(EventWait::until([&] { return m_monitor->idlePass()->passCount() > passes; }));
    }
    QVERIFY(allArmed(m_monitor->alertState()));
    QCOMPARE(m_form->EdtMessage->text(), QString());
    QCOMPARE(m_smtp->mailCount(), 0);
}

void TestAlertMail::bodyRoundTrips_data()
{
    QTest::addColumn<QString>("memo");
    QTest::addColumn<QString>("expected");
    QTest::newRow("japanese") << QStringLiteral("温度異常です。\r\n至急確認してください①")
                              << QStringLiteral("温度異常です。\r\n至急確認してください1\r\n");
    QTest::newRow("dot lines") << QStringLiteral("before\r\n.\r\n..\r\n.after")
                               << QStringLiteral("before\r\n.\r\n..\r\n.after\r\n");
    QTest::newRow("ends with a dot")
        << QStringLiteral("last\r\n.") << QStringLiteral("last\r\n.\r\n");
}

void TestAlertMail::bodyRoundTrips()
{
    QFETCH(QString, memo);
    QFETCH(QString, expected);
    QVERIFY(m_sim->setTemperature(31.5));
    startShell(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"));
    m_dialog->MemoUTemp->setText(memo);
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    const QByteArray raw = m_smtp->mails().first().raw;
    CHECK_WIRE(raw);
    QCOMPARE(ParsedMail(raw).bodyText(), expected);
}

void TestAlertMail::badLimitStopsThePassAndIsReportedOnce()
{
    // The reading comes first, with both rules off, so one pass sees the crossing and the bad
    // lower limit together.
    QVERIFY(m_sim->setTemperature(31.5));
    startShell(mailSettings(m_smtp->hostPort()) +
               QStringLiteral("[Temp]\nUTemp=30\nLTemp=abc\nCheck_U=0\nCheck_L=0\n"));
    QVERIFY(EventWait::until([&] { return m_monitor->readings().NowTempValue > 31; }));
    m_dialog->ChkBoxUTemp->setChecked(true);
    m_dialog->ChkBoxLTemp->setChecked(true);
    const QString report = QStringLiteral("'abc' is not a valid integer value");
    QVERIFY(EventWait::until([&] { return !m_boxes->texts().isEmpty(); }));
    QVERIFY(!m_monitor->alertState().SendFlagUTemp);
    QCOMPARE(m_form->EdtMessage->text(), UpperMessage);
    QVERIFY(waitForPolls(2)); // two more readings and many passes
    QCOMPARE(m_boxes->texts(), QStringList{report});
    QCOMPARE(m_smtp->mailCount(), 0);

    m_dialog->EditLTemp->setText(QStringLiteral("0"));
    QVERIFY(waitForPolls(1));
    QCOMPARE(m_boxes->texts().size(), 1);

    m_dialog->EditLTemp->setText(QStringLiteral("abc"));
    QVERIFY(EventWait::until([&] { return m_boxes->texts().size() >= 2; }));
    QVERIFY(waitForPolls(1));
    QCOMPARE(m_boxes->texts(), (QStringList{report, report}));
    QCOMPARE(m_smtp->mailCount(), 0);
}

void TestAlertMail::unreachableServerIsReportedOncePerPass()
{
    QVERIFY(m_sim->setTemperature(31.5));
    startShell(mailSettings(SmtpServer::refusingHostPort()) +
               QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"));
    QVERIFY(EventWait::until([&] { return !m_boxes->texts().isEmpty(); }));
    QVERIFY2(m_boxes->texts().first().contains(QStringLiteral("Couldn't connect")),
             qPrintable(m_boxes->texts().first()));
    QVERIFY(!m_monitor->alertState().SendFlagUTemp);
    QVERIFY(waitForPolls(2));
    QCOMPARE(m_boxes->texts().size(), 1);

    QTest::mouseClick(m_form->BtnReset, Qt::LeftButton);
    QVERIFY(EventWait::until([&] { return m_boxes->texts().size() >= 2; }));
    QVERIFY(waitForPolls(1));
    QCOMPARE(m_boxes->texts().size(), 2);

    // A working server is not tried until Reset: the failed mail is not sent again.
    m_dialog->EdtMailSrv->setText(m_smtp->hostPort());
    QVERIFY(waitForPolls(1));
    QCOMPARE(m_smtp->mailCount(), 0);
    QTest::mouseClick(m_form->BtnReset, Qt::LeftButton);
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    QCOMPARE(ParsedMail(m_smtp->mails().first().raw).text("Subject"), QStringLiteral("Over 30C "));
    QCOMPARE(m_boxes->texts().size(), 2);
}

void TestAlertMail::slowServerKeepsTheWindowAlive()
{
    SmtpServer silent(QStringLiteral("hang"));
    QVERIFY2(silent.isListening(), qPrintable(silent.errorString()));
    QVERIFY(m_sim->setTemperature(31.5));
    startShell(mailSettings(silent.hostPort()) + QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"));
    // Several polling periods, so that ticks fall inside the wait.
    m_monitor->mail().setTimeouts(10 * PollMs, 15 * PollMs);

    const MailService& client = m_monitor->mail();
    bool sawSending = false;
    bool decodedWhileSending = false;
    int requestsWhileSending = 0;
    int paintsWhileSending = 0;
    QTimer probe;
    connect(&probe, &QTimer::timeout, this, [&] {
        if (!client.isSending())
            return;
        if (!sawSending) {
            sawSending = true;
            m_sim->setTemperature(45); // the next reply, to a tick, says so
        }
        decodedWhileSending = decodedWhileSending || m_monitor->readings().NowTempValue > 40;
    });
    probe.start(10);
    connect(m_sim.get(), &SimBoard::requestSeen, &probe,
            [&] { requestsWhileSending += client.isSending(); });
    struct PaintCounter : QObject {
        const MailService* client;
        int* count;
        bool eventFilter(QObject*, QEvent* e) override
        {
            *count += e->type() == QEvent::Paint && client->isSending();
            return false;
        }
    } paints;
    paints.client = &client;
    paints.count = &paintsWhileSending;
    m_form->NowTemp->installEventFilter(&paints);

    QVERIFY(EventWait::until([&] { return !m_boxes->texts().isEmpty(); }, 20000));
    probe.stop();
    m_form->NowTemp->removeEventFilter(&paints);
    QVERIFY(sawSending);
    QVERIFY(requestsWhileSending >= 1);
    QVERIFY(decodedWhileSending);
    QVERIFY(paintsWhileSending >= 1);
    QVERIFY2(m_boxes->texts().first().contains(QRegularExpression(
                 QStringLiteral("time.?out|timed out"), QRegularExpression::CaseInsensitiveOption)),
             qPrintable(m_boxes->texts().first()));
    QVERIFY(waitForPolls(1));
    QCOMPARE(m_boxes->texts().size(), 1);
    QVERIFY(!m_monitor->alertState().SendFlagUTemp);
}

void TestAlertMail::halfTypedLimitDoesNotFire()
{
    QVERIFY(m_sim->setTemperature(44.9));
    startShell(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Temp]\nUTemp=100\nCheck_U=1\n"));
    m_dialog->EditUTemp->selectAll();
    QTest::keyClick(m_dialog->EditUTemp, Qt::Key_4); // on the way to 40
    QVERIFY(waitForPolls(3));
    QCOMPARE(m_smtp->mailCount(), 0);
    QCOMPARE(m_boxes->texts(), QStringList());
    QTest::keyClick(m_dialog->EditUTemp, Qt::Key_0);
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    CHECK_ONLY_MAIL(QStringLiteral("Over 40C "),
                    m_dialog->MemoUTemp->text() + QStringLiteral("\r\n"),
                    QStringLiteral("温度が 40℃を超えました。"));
}

void TestAlertMail::edgeWhilePassesArePausedIsKept()
{
    QVERIFY(m_sim->setTemperature(20));
    startShell(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Sensor]\nRB1=0\n"));
    QVERIFY(waitForPolls(2));
    {
        // As while a box is open or a mail is on its way: replies come, passes wait.
        const IdlePass::Suspension paused;
        QVERIFY(m_sim->setBits(0x02));
        QVERIFY(waitForPolls(3)); // the rise, then replies that stay high
    }
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    QCOMPARE(onlyMail()->text("Subject"), QStringLiteral("RB1 is \"H\". "));
}

void TestAlertMail::silenceIsShownAndMailed()
{
    QVERIFY(m_sim->setTemperature(20));
    startShell(mailSettings(m_smtp->hostPort()) +
               QStringLiteral("[Watch]\nNoReply=1\nNoReplySec=1\n"));
    m_form->StaleAfterMs = 300;
    QVERIFY(waitForPolls(2));
    QVERIFY(m_form->NowTemp->isEnabled());
    QVERIFY(m_sim->setSilent(true));
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    QVERIFY(m_form->StatusPanel1->isVisible());
    QVERIFY2(m_form->StatusPanel1->text().startsWith(QStringLiteral("応答なし ")),
             qPrintable(m_form->StatusPanel1->text()));
    QVERIFY(!m_form->NowTemp->isEnabled());
    CHECK_ONLY_MAIL(QStringLiteral("No reply 1s "), QStringLiteral("Message <No Reply>\r\n"),
                    QStringLiteral("応答がありません (1秒)"));

    QVERIFY(m_sim->setSilent(false));
    QVERIFY(EventWait::until([&] { return !m_form->StatusPanel1->isVisible(); }));
    QVERIFY(m_form->NowTemp->isEnabled());
    QVERIFY(waitForPolls(3));
    QCOMPARE(m_smtp->mailCount(), 1); // once per Reset
}

void TestAlertMail::keptMailGoesOutOnceAfterARestart()
{
    const QString down = SmtpServer::refusingHostPort();
    const QString settings =
        settingsFile(mailSettings(down) + QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"
                                                         "[Watch]\nRetry=1\n"));
    const Outbox outbox(Outbox::folderFor(settings));
    QVERIFY(m_sim->setTemperature(31.5));
    openShell(settings, PollMs);
    m_monitor->mail().outboxSender().setDelayScale(0.01);
    QVERIFY(EventWait::until([&] { return !m_boxes->texts().isEmpty(); }));
    QCOMPARE(outbox.pending().size(), 1);
    QVERIFY(waitForPolls(3)); // tries meanwhile fail quietly
    QCOMPARE(m_boxes->texts().size(), 1);
    QCOMPARE(outbox.pending().size(), 1);
    m_shell.reset();

    // The server is back; the next start sends the kept mail, once, as it was composed.
    QVERIFY(m_sim->setTemperature(20));
    SmtpServer back(SmtpServer::listeningAt(down));
    QVERIFY2(back.isListening(), qPrintable(back.errorString()));
    openShell(settings, PollMs);
    QVERIFY(back.waitForMails(1));
    QVERIFY(waitForPolls(3));
    QCOMPARE(back.mailCount(), 1);
    QCOMPARE(ParsedMail(back.mails().first().raw).text("Subject"), QStringLiteral("Over 30C "));
    QVERIFY(outbox.pending().isEmpty());
    QCOMPARE(m_boxes->texts().size(), 1);
}

void TestAlertMail::mailThatIsNotKept_data()
{
    QTest::addColumn<QString>("mode"); // empty: nothing listens
    QTest::addColumn<bool>("folderBlocked");
    QTest::addColumn<QString>("boxSays");
    QTest::newRow("5xx is final") << QStringLiteral("reject-rcpt") << false
                                  << QStringLiteral("550 5.1.1");
    QTest::newRow("folder unusable")
        << QString() << true << QStringLiteral("送信できなかったメールを保存できませんでした: ");
}

void TestAlertMail::mailThatIsNotKept()
{
    QFETCH(QString, mode);
    QFETCH(bool, folderBlocked);
    QFETCH(QString, boxSays);
    std::unique_ptr<SmtpServer> server;
    QString hostPort = SmtpServer::refusingHostPort();
    if (!mode.isEmpty()) {
        server = std::make_unique<SmtpServer>(mode);
        hostPort = server->hostPort();
    }
    const QString settings =
        settingsFile(mailSettings(hostPort) + QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"
                                                             "[Watch]\nRetry=1\n"));
    const QString folder = Outbox::folderFor(settings);
    if (folderBlocked)
        QVERIFY(TestFiles::write(folder, "a file where the folder would be"));
    QVERIFY(m_sim->setTemperature(31.5));
    openShell(settings, PollMs);
    QVERIFY(EventWait::until([&] { return !m_boxes->texts().isEmpty(); }));
    QVERIFY2(m_boxes->texts().first().contains(boxSays), qPrintable(m_boxes->texts().first()));
    QVERIFY(Outbox(folder).pending().isEmpty());
}

void TestAlertMail::testMailBoxAnswersRealInput_data()
{
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<BoxWatcher::Answer>("answer");
    QTest::newRow("sent, Enter") << true << BoxWatcher::Answer::Enter;
    QTest::newRow("failed, click on OK") << false << BoxWatcher::Answer::ClickOk;
}

void TestAlertMail::testMailBoxAnswersRealInput()
{
    QFETCH(bool, serverUp);
    QFETCH(BoxWatcher::Answer, answer);
    // Each push channel gets the test too, each result in a box of its own.
    HttpSink ntfy;
    HttpSink hook(QStringLiteral("refuse"));
    startShell(mailSettings(serverUp ? m_smtp->hostPort() : SmtpServer::refusingHostPort()) +
               QStringLiteral("[Push]\nNtfy=%1\nWebhook=%2\n").arg(ntfy.url(), hook.url()));
    m_boxes->setAnswer(answer);
    QTimer::singleShot(0, m_dialog->BtnTestMail, &QPushButton::click);
    QVERIFY(EventWait::until([&] { return m_boxes->boxes().size() == 3 && !m_boxes->openNow(); }));
    QCOMPARE(m_boxes->forcedClosures(), 0);
    QCOMPARE(m_smtp->mailCount(), serverUp ? 1 : 0);
    const QString texts = m_boxes->texts().join(u'\n');
    QVERIFY2(
        texts.contains(QStringLiteral("ntfy にテスト通知を送信しました")) &&
            texts.contains(QStringLiteral("webhook にテスト通知を送信できませんでした: HTTP 404")),
        qPrintable(texts));
    QCOMPARE(ntfy.requestCount(), 1);
}

void TestAlertMail::refusedRecipientsDoNotStopTheOthers_data()
{
    QTest::addColumn<QString>("reply"); // to RCPT TO:<left@example.com>
    QTest::addColumn<bool>("keptForLeft");
    QTest::newRow("550") << QStringLiteral("550 5.1.1 user unknown") << false;
    QTest::newRow("451") << QStringLiteral("451 4.2.2 mailbox full") << true;
}

void TestAlertMail::refusedRecipientsDoNotStopTheOthers()
{
    QFETCH(QString, reply);
    QFETCH(bool, keptForLeft);
    SmtpServer::Options options;
    options.refuseRcpt[QStringLiteral("left@example.com")] = reply;
    SmtpServer server(options);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    QString mail = mailSettings(server.hostPort());
    mail.replace(To, QStringLiteral("ops@example.com; left@example.com"));
    const QString settings =
        settingsFile(mail + QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n[Watch]\nRetry=1\n"));
    QVERIFY(m_sim->setTemperature(31.5));
    openShell(settings, PollMs);
    m_monitor->mail().outboxSender().setDelayScale(100); // no retry within the test
    QVERIFY(EventWait::until([&] { return server.mailCount() >= 1; }));
    QCOMPARE(server.mails().first().rcptTo, QStringList{"ops@example.com"});
    QVERIFY(EventWait::until([&] { return !m_boxes->texts().isEmpty(); }));
    const QString box = m_boxes->texts().first();
    QVERIFY2(box.contains(QStringLiteral("left@example.com")) && box.contains(reply),
             qPrintable(box));
    QVERIFY(!box.contains(QStringLiteral("ops@example.com")));
    QVERIFY(waitForPolls(3));
    QCOMPARE(m_boxes->texts().size(), 1);
    QCOMPARE(server.mailCount(), 1);
    const QStringList pending = Outbox(Outbox::folderFor(settings)).pending();
    QCOMPARE(pending.size(), keptForLeft ? 1 : 0);
    if (keptForLeft) {
        ComposedMail kept;
        QString error;
        QVERIFY(Outbox::read(pending.first(), &kept, &error));
        QCOMPARE(kept.rcptTo, QList<QByteArray>{"left@example.com"});
        QCOMPARE(kept.message, server.mails().first().raw);
    }
}

void TestAlertMail::keptMailForNobodyConfiguredIsSetAside()
{
    const QString settings =
        settingsFile(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Watch]\nRetry=1\n"));
    const QString folder = Outbox::folderFor(settings);
    QVERIFY(QDir().mkpath(folder));
    const auto plant = [&](const QString& name, const QByteArray& rcpt) {
        const ComposedMail mail{"zarvik@example.com", {rcpt}, "Subject: " + rcpt + "\r\n\r\nx\r\n"};
        return TestFiles::write(folder + u'/' + name, Outbox::encode(mail));
    };
    QVERIFY(plant(QStringLiteral("20261209-010000-000-000.mail"), "spy@evil.example"));
    QVERIFY(plant(QStringLiteral("20261209-010000-000-001.mail"), "admin@example.com"));
    openShell(settings, PollMs);
    QVERIFY(EventWait::until([&] { return Outbox(folder).pending().isEmpty(); }));
    QCOMPARE(TestFiles::entries(folder), QStringList{"20261209-010000-000-000.mail.bad"});
    QVERIFY(waitForPolls(2));
    QCOMPARE(m_smtp->mailCount(), 1);
    QCOMPARE(m_smtp->mails().first().rcptTo, QStringList{"admin@example.com"});
}

ZARVIK_APP_TEST_MAIN(TestAlertMail)

#include "tst_alertmail.moc"
