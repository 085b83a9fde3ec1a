// The alert rules and their mail as the window shows and drives them: the real windows, a
// simulated board on loopback and a real SMTP server process. The rules and the mail themselves
// are tested without a window, on a test clock, in tests/monitor/tst_rulemail.

#include "gui/FormZARVIK_Mail.h"
#include "gui/Memo.h"
#include "gui/Shell.h"
#include "gui/ToolSettingDlg.h"
#include "mail/MailService.h"
#include "support/BoxWatcher.h"
#include "support/EventWait.h"
#include "support/HttpSink.h"
#include "support/MailText.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestMain.h"
#include "support/WindowFixture.h"

#include <QCheckBox>
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

} // namespace

class TestAlertMail : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void resetButtonRearmsTheRule();
    void badLimitIsReportedInOneBox();
    void slowServerKeepsTheWindowAlive();
    void halfTypedLimitDoesNotFire();
    void silenceIsShown();
    void testMailBoxAnswersRealInput_data();
    void testMailBoxAnswersRealInput();

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

void TestAlertMail::resetButtonRearmsTheRule()
{
    QVERIFY(m_sim->setTemperature(31.5));
    startShell(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n"));
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 1; }));
    QVERIFY(waitForPolls(1));
    // The dialog's memo is what is mailed; the window shows the rule's message.
    CHECK_ONLY_MAIL(QStringLiteral("Over 30C "),
                    m_dialog->MemoUTemp->text() + QStringLiteral("\r\n"), UpperMessage);

    QTest::mouseClick(m_form->BtnReset, Qt::LeftButton);
    QVERIFY(EventWait::until([&] { return m_smtp->mailCount() >= 2; }));
    QCOMPARE(ParsedMail(m_smtp->mails().at(1).raw).text("Subject"), QStringLiteral("Over 30C "));
    QCOMPARE(m_boxes->texts(), QStringList());
}

void TestAlertMail::badLimitIsReportedInOneBox()
{
    // The reading comes first, with both rules off, so one pass sees the crossing and the bad
    // lower limit together once the dialog's boxes are ticked.
    QVERIFY(m_sim->setTemperature(31.5));
    startShell(mailSettings(m_smtp->hostPort()) +
               QStringLiteral("[Temp]\nUTemp=30\nLTemp=abc\nCheck_U=0\nCheck_L=0\n"));
    QVERIFY(EventWait::until([&] { return m_monitor->readings().NowTempValue > 31; }));
    m_dialog->ChkBoxUTemp->setChecked(true);
    m_dialog->ChkBoxLTemp->setChecked(true);
    QVERIFY(EventWait::until([&] { return !m_boxes->texts().isEmpty(); }));
    QCOMPARE(m_form->EdtMessage->text(), UpperMessage);
    QVERIFY(waitForPolls(2));
    QCOMPARE(m_boxes->texts(), QStringList{QStringLiteral("'abc' is not a valid integer value")});
    QCOMPARE(m_smtp->mailCount(), 0);
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

void TestAlertMail::silenceIsShown()
{
    QVERIFY(m_sim->setTemperature(20));
    startShell(mailSettings(m_smtp->hostPort()));
    m_form->StaleAfterMs = 300;
    QVERIFY(waitForPolls(2));
    QVERIFY(m_form->NowTemp->isEnabled());
    QVERIFY(!m_form->StatusPanel1->isVisible());
    QVERIFY(m_sim->setSilent(true));
    QVERIFY(EventWait::until([&] { return m_form->StatusPanel1->isVisible(); }));
    QVERIFY2(m_form->StatusPanel1->text().startsWith(QStringLiteral("応答なし ")),
             qPrintable(m_form->StatusPanel1->text()));
    QVERIFY(!m_form->NowTemp->isEnabled());

    QVERIFY(m_sim->setSilent(false));
    QVERIFY(EventWait::until([&] { return !m_form->StatusPanel1->isVisible(); }));
    QVERIFY(m_form->NowTemp->isEnabled());
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

ZARVIK_APP_TEST_MAIN(TestAlertMail)

#include "tst_alertmail.moc"
