// The alert rules and their mail without a window: the engine on a test clock, a simulated board
// on loopback and a real SMTP server process. What a window would show (the message, the boxes)
// is read from the engine's signals; tests/gui/tst_alertmail keeps what needs the window itself.

#include "alert/AlertRules.h"
#include "core/IdlePass.h"
#include "mail/Outbox.h"
#include "support/EngineFixture.h"
#include "support/MailText.h"
#include "support/SmtpServer.h"
#include "support/TestFiles.h"

#include <QAbstractEventDispatcher>
#include <QtTest>
#include <memory>
#include <optional>

namespace {

const QString From = QStringLiteral("ZARVIK <zarvik@example.com>");
const QString To = QStringLiteral("Admin <admin@example.com>");
const QString UserId = QStringLiteral("zarvik-pc");
const QString UpperMessage = QStringLiteral("温度が 30℃を超えました。");
const QString Upper30 = QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n");

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

class TestRuleMail : public QObject, private EngineFixture {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void upperRuleMailsOnceUntilReset();
    void priorityHeader_data();
    void priorityHeader();
    void bodyRoundTrips_data();
    void bodyRoundTrips();
    void ownWords_data();
    void ownWords();
    void wordsComeIntoForceWhenTheyChange();
    void twoRulesInOnePassMakeOneMail();
    void lowerRuleWaitsForTheFirstReply();
    void inputHighInFirstReplyFiresOnFirstPass();
    void equalTemperatureIsNoCrossing();
    void emptyMemoDisarmsWithoutMail();
    void unselectedRulesStayArmed();
    void edgeWhilePassesArePausedIsKept();
    void silenceIsMailedOncePerReset();
    void badLimitStopsThePassAndIsReportedOnce();
    void unreachableServerIsReportedOncePerPass();
    void keptMailGoesOutOnceAfterARestart();
    void mailThatIsNotKept_data();
    void mailThatIsNotKept();
    void refusedRecipientsDoNotStopTheOthers_data();
    void refusedRecipientsDoNotStopTheOthers();
    void keptMailForNobodyConfiguredIsSetAside();

private:
    void start(const QString& extraSettings) { QVERIFY(startEngine(settingsFile(extraSettings))); }
    // The shared server's mails since this case began.
    int mailCount() const { return m_smtp->mailCount() - m_mailsBefore; }
    QList<SmtpServer::Mail> mails() const { return m_smtp->mails().mid(m_mailsBefore); }
    bool mailed(int count)
    {
        return EventWait::until([&] { return mailCount() >= count; });
    }
    std::optional<ParsedMail> onlyMail() const;
    // The one mail so far has this subject and body, and the engine shows this message.
    void checkOnlyMail(const QString& subject, const QString& body, const QString& message);

    // One for all cases that need a working server: it takes a while to start.
    std::unique_ptr<SmtpServer> m_smtp;
    int m_mailsBefore = 0;
};

#define START(extraSettings)                                                                       \
    do {                                                                                           \
        start(extraSettings);                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

#define CHECK_ONLY_MAIL(subject, body, message)                                                    \
    do {                                                                                           \
        checkOnlyMail(subject, body, message);                                                     \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

void TestRuleMail::initTestCase()
{
    m_smtp = std::make_unique<SmtpServer>();
    QVERIFY2(m_smtp->isListening(), qPrintable(m_smtp->errorString()));
}

void TestRuleMail::cleanupTestCase()
{
    m_smtp.reset();
}

void TestRuleMail::init()
{
    QVERIFY(setUpEngine());
    m_mailsBefore = m_smtp->mailCount();
}

void TestRuleMail::cleanup()
{
    tearDownEngine();
}

std::optional<ParsedMail> TestRuleMail::onlyMail() const
{
    const QList<SmtpServer::Mail> all = mails();
    if (all.size() != 1)
        return std::nullopt;
    return ParsedMail(all.first().raw);
}

void TestRuleMail::checkOnlyMail(const QString& subject, const QString& body,
                                 const QString& message)
{
    const auto mail = onlyMail();
    QVERIFY2(mail, qPrintable(QStringLiteral("%1 mails").arg(mailCount())));
    QCOMPARE(mail->text("Subject"), subject);
    QCOMPARE(mail->bodyText(), body);
    QCOMPARE(shownMessage(), message);
}

void TestRuleMail::upperRuleMailsOnceUntilReset()
{
    QVERIFY(m_sim->setTemperature(31.5));
    START(mailSettings(m_smtp->hostPort()) + Upper30);
    QVERIFY(mailed(1));
    QVERIFY(waitForPolls(2)); // many passes and more readings later
    QCOMPARE(mailCount(), 1);
    QVERIFY(!m_monitor->alertState().SendFlagUTemp);
    QCOMPARE(shownMessage(), UpperMessage);

    const SmtpServer::Mail envelope = mails().first();
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
    QCOMPARE(mail.bodyText(), m_settings->text(Settings::MemoUpper) + QStringLiteral("\r\n"));

    // Reset re-arms the rule; the next mail carries the recipient once, not once per mail so far.
    m_monitor->SendFlagClr();
    QVERIFY(mailed(2));
    const SmtpServer::Mail second = mails().at(1);
    QCOMPARE(second.rcptTo, QStringList{QStringLiteral("admin@example.com")});
    const ParsedMail secondMail(second.raw);
    QCOMPARE(secondMail.count("To"), 1);
    QCOMPARE(secondMail.text("To"), To);
    QCOMPARE(secondMail.text("Subject"), QStringLiteral("Over 30C "));
    QCOMPARE(problems(), QStringList());
}

void TestRuleMail::priorityHeader_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected"); // null: no X-Priority field
    QTest::newRow("high") << 0 << QStringLiteral("1");
    QTest::newRow("normal") << 1 << QStringLiteral("3");
    QTest::newRow("low") << 2 << QStringLiteral("5");
    QTest::newRow("none chosen") << -1 << QString();
}

void TestRuleMail::priorityHeader()
{
    QFETCH(int, index);
    QFETCH(QString, expected);
    QVERIFY(m_sim->setTemperature(31.5));
    START(mailSettings(m_smtp->hostPort(), index) + Upper30);
    QVERIFY(mailed(1));
    const auto mail = onlyMail();
    QVERIFY(mail);
    QCOMPARE(mail->count("X-Priority"), expected.isNull() ? 0 : 1);
    QCOMPARE(mail->text("X-Priority"), expected);
    QCOMPARE(mail->count("Content-Type"), 1);
}

void TestRuleMail::bodyRoundTrips_data()
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

void TestRuleMail::bodyRoundTrips()
{
    QFETCH(QString, memo);
    QFETCH(QString, expected);
    QVERIFY(m_sim->setTemperature(31.5));
    START(mailSettings(m_smtp->hostPort()) + Upper30);
    m_settings->setValue(Settings::MemoUpper, memo);
    QVERIFY(mailed(1));
    const QByteArray raw = mails().first().raw;
    CHECK_WIRE(raw);
    QCOMPARE(ParsedMail(raw).bodyText(), expected);
}

void TestRuleMail::ownWords_data()
{
    QTest::addColumn<QString>("subject");     // [Mail] Subject as the file holds it
    QTest::addColumn<QString>("body");        // [Mail] Body
    QTest::addColumn<QString>("memo");        // the upper rule's
    QTest::addColumn<QString>("mailSubject"); // %1: the board, %2: the time
    QTest::addColumn<QString>("mailBody");
    QTest::addColumn<QString>("told"); // how the one problem starts; empty: none
    const QString memo = QStringLiteral("Message <Upper Temp>");
    QTest::newRow("empty: classic") << ""
                                    << "" << memo << "Over 30C " << memo + "\r\n"
                                    << "";
    QTest::newRow("every placeholder")
        << "[{board}] {subject} {temperature} {rules}"
        << R"({message}\n{memo}\nRB1 {rb1} RB0 {rb0} at {time}\\n{ x }{)" << memo
        << "[%1] Over 30C 31.2 ℃ upper"
        << "温度が 30℃を超えました。\r\nMessage <Upper Temp>\r\nRB1 L RB0 H at %2\\n{ x }{\r\n"
        << "";
    QTest::newRow("unknown placeholder: classic subject")
        << "{subject} {foo}"
        << "{memo}!" << memo << "Over 30C " << memo + "!\r\n"
        << "'{foo}' is not a valid placeholder in [Mail] Subject";
    QTest::newRow("names are lower case") << ""
                                          << "{Memo}" << memo << "Over 30C " << memo + "\r\n"
                                          << "'{Memo}' is not a valid placeholder in [Mail] Body";
    QTest::newRow("line break in the subject") << R"(Hot\nthere)"
                                               << "" << memo << "Over 30C " << memo + "\r\n"
                                               << R"('Hot\nthere' is not a valid subject)";
    // A value never starts a header of its own, nor is taken for a placeholder.
    QTest::newRow("line breaks in values") << "{memo}"
                                           << "{memo}"
                                           << "hot {board}\r\nX-Injected: 1\n"
                                           << "hot {board} X-Injected: 1 "
                                           << "hot {board}\r\nX-Injected: 1\r\n"
                                           << "";
}

void TestRuleMail::ownWords()
{
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QString, memo);
    QFETCH(QString, mailSubject);
    QFETCH(QString, mailBody);
    QFETCH(QString, told);
    QVERIFY(m_sim->setRaw(64)); // 31.25 ℃
    QVERIFY(m_sim->setBits(0x01));
    START(mailSettings(m_smtp->hostPort()) +
          QStringLiteral("Subject=%1\nBody=%2\n").arg(subject, body) + Upper30);
    m_settings->setValue(Settings::MemoUpper, memo);
    QVERIFY(mailed(1));
    QVERIFY(waitForPolls(2)); // many passes later, still told once
    const QString board = QStringLiteral("127.0.0.1:%1").arg(m_sim->port());
    const QString time = QDateTime::fromMSecsSinceEpoch(m_clock.nowMs())
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QByteArray raw = mails().first().raw;
    CHECK_WIRE(raw);
    const ParsedMail mail(raw);
    for (const ParsedMail::Field& field : mail.fields)
        QVERIFY2(QList<QByteArray>({"Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
                                    "Content-Type", "Content-Transfer-Encoding", "X-Priority"})
                     .contains(field.name),
                 field.name.constData());
    CHECK_ONLY_MAIL(QString(mailSubject).replace(QStringLiteral("%1"), board),
                    QString(mailBody).replace(QStringLiteral("%2"), time), UpperMessage);
    QCOMPARE(problems().size(), told.isEmpty() ? 0 : 1);
    if (!told.isEmpty())
        QVERIFY2(problems().first().startsWith(told), qPrintable(problems().first()));
}

// A template comes into force as its key changes: refused, it is told once, at the pass after,
// and the classic text goes until it is fixed.
void TestRuleMail::wordsComeIntoForceWhenTheyChange()
{
    QVERIFY(m_sim->setTemperature(31.5));
    START(mailSettings(m_smtp->hostPort()) + Upper30);
    QVERIFY(mailed(1));
    m_settings->setValue(Settings::MailSubject, QStringLiteral("Boiler: {subject} {nope}"));
    QVERIFY(EventWait::until([&] { return !problems().isEmpty(); }));
    m_monitor->SendFlagClr();
    QVERIFY(mailed(2));
    QCOMPARE(ParsedMail(mails().at(1).raw).text("Subject"), QStringLiteral("Over 30C "));
    m_settings->setValue(Settings::MailSubject, QStringLiteral("Boiler: {subject}"));
    m_monitor->SendFlagClr();
    QVERIFY(mailed(3));
    QCOMPARE(ParsedMail(mails().at(2).raw).text("Subject"), QStringLiteral("Boiler: Over 30C"));
    QCOMPARE(problems().size(), 1);
}

void TestRuleMail::twoRulesInOnePassMakeOneMail()
{
    // The first reply brings both the crossing and RB1's rise, so one pass sees both.
    QVERIFY(m_sim->setTemperature(31.5));
    QVERIFY(m_sim->setBits(0x02));
    START(mailSettings(m_smtp->hostPort()) + Upper30 + QStringLiteral("[Sensor]\nRB1=0\n"));
    QVERIFY(mailed(1));
    QVERIFY(waitForPolls(1));
    CHECK_ONLY_MAIL(QStringLiteral("Over 30C RB1 is \"H\". "),
                    QStringLiteral("Message <Upper Temp>Message <Change RB1>\r\n"),
                    QStringLiteral("RB1が\"H\"になりました"));
    QVERIFY(!m_monitor->alertState().SendFlagUTemp && !m_monitor->alertState().SendFlagRB1H);
    QVERIFY(m_monitor->alertState().SendFlagRB1L);
}

void TestRuleMail::lowerRuleWaitsForTheFirstReply()
{
    // The start value 0.0 is no reading: a silent board gives no "Under 10C".
    QVERIFY(m_sim->setSilent(true));
    QVERIFY(m_sim->setTemperature(5));
    START(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Temp]\nLTemp=10\nCheck_L=1\n"));
    QVERIFY(waitForPolls(3));
    QCOMPARE(mailCount(), 0);
    QVERIFY(m_monitor->alertState().SendFlagLTemp);
    // Once the board answers, a real frost mails.
    QVERIFY(m_sim->setSilent(false));
    QVERIFY(mailed(1));
    CHECK_ONLY_MAIL(QStringLiteral("Under 10C "), QStringLiteral("Message <Lower Temp>\r\n"),
                    QStringLiteral("温度が 10℃より下がりました。"));
}

void TestRuleMail::inputHighInFirstReplyFiresOnFirstPass()
{
    QVERIFY(m_sim->setTemperature(20));
    QVERIFY(m_sim->setBits(0x01));
    START(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Sensor]\nRB0=0\n"));
    // Runs right after each idle pass (connected later, so called later): what did the first
    // pass that saw RB0 at H leave behind?
    std::optional<bool> armedAfterFirstPass;
    QObject watch;
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &watch,
            [&] {
                if (!armedAfterFirstPass && (m_monitor->readings().PortBits & 0x01))
                    armedAfterFirstPass = m_monitor->alertState().SendFlagRB0H;
            });
    QVERIFY(mailed(1));
    QVERIFY(armedAfterFirstPass.has_value());
    QCOMPARE(*armedAfterFirstPass, false);
    QVERIFY(waitForPolls(1)); // RB0 stays at H: no new edge
    CHECK_ONLY_MAIL(QStringLiteral("RB0 is \"H\". "), QStringLiteral("Message <Change RB0>\r\n"),
                    QStringLiteral("RB0が\"H\"になりました"));
}

void TestRuleMail::equalTemperatureIsNoCrossing()
{
    QVERIFY(m_sim->setRaw(512)); // exactly 250.0 degrees
    START(mailSettings(m_smtp->hostPort()) +
          QStringLiteral("[Temp]\nUTemp=250\nLTemp=250\nCheck_U=0\nCheck_L=0\n"));
    // Checked only once the reading is in: the 0.0 before it is below the limit.
    QVERIFY(EventWait::until([&] { return m_monitor->readings().NowTempValue == 250.0; }));
    m_settings->setValue(Settings::CheckUpper, true);
    m_settings->setValue(Settings::CheckLower, true);
    QVERIFY(waitForPolls(1));
    QVERIFY(allArmed(m_monitor->alertState()));
    QCOMPARE(shownMessage(), QString());
    QCOMPARE(mailCount(), 0);
}

void TestRuleMail::emptyMemoDisarmsWithoutMail()
{
    QVERIFY(m_sim->setTemperature(31.5));
    START(mailSettings(m_smtp->hostPort()) + Upper30);
    m_settings->setValue(Settings::MemoUpper, QString());
    QVERIFY(EventWait::until([&] { return !m_monitor->alertState().SendFlagUTemp; }));
    QCOMPARE(shownMessage(), UpperMessage);
    QVERIFY(waitForPolls(1));
    QCOMPARE(mailCount(), 0);
    QCOMPARE(problems(), QStringList());
}

void TestRuleMail::unselectedRulesStayArmed()
{
    // Every rule would fire if it were selected: above the upper limit, below the lower one and
    // both inputs moving both ways.
    QVERIFY(m_sim->setTemperature(100));
    START(mailSettings(m_smtp->hostPort()) +
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
    QCOMPARE(shownMessage(), QString());
    QCOMPARE(mailCount(), 0);
}

void TestRuleMail::edgeWhilePassesArePausedIsKept()
{
    QVERIFY(m_sim->setTemperature(20));
    START(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Sensor]\nRB1=0\n"));
    QVERIFY(waitForPolls(2));
    {
        // As while a box is open or a mail is on its way: replies come, passes wait.
        const IdlePass::Suspension paused;
        QVERIFY(m_sim->setBits(0x02));
        QVERIFY(waitForPolls(3)); // the rise, then replies that stay high
    }
    QVERIFY(mailed(1));
    QCOMPARE(onlyMail()->text("Subject"), QStringLiteral("RB1 is \"H\". "));
}

// A second of silence on the test clock: nothing a millisecond before, one mail at it, and no
// more once the board is back.
void TestRuleMail::silenceIsMailedOncePerReset()
{
    QVERIFY(m_sim->setTemperature(20));
    START(mailSettings(m_smtp->hostPort()) + QStringLiteral("[Watch]\nNoReply=1\nNoReplySec=1\n"));
    QVERIFY(waitForPolls(2));
    QVERIFY(m_sim->setSilent(true));
    QVERIFY(waitForPolls(1)); // the last reply is in before the clock moves
    m_clock.advance(999);
    QVERIFY(waitForPolls(2));
    QCOMPARE(mailCount(), 0);
    QVERIFY(m_monitor->alertState().SendFlagNoReply);
    m_clock.advance(1);
    QVERIFY(mailed(1));
    CHECK_ONLY_MAIL(QStringLiteral("No reply 1s "), QStringLiteral("Message <No Reply>\r\n"),
                    QStringLiteral("応答がありません (1秒)"));

    QSignalSpy replies(m_monitor.get(), &Monitor::replyReceived);
    QVERIFY(m_sim->setSilent(false));
    QVERIFY(EventWait::until([&] { return !replies.isEmpty(); }));
    m_clock.advance(60000);
    QVERIFY(waitForPolls(3));
    QCOMPARE(mailCount(), 1); // once per Reset
}

void TestRuleMail::badLimitStopsThePassAndIsReportedOnce()
{
    // The reading comes first, with both rules off, so one pass sees the crossing and the bad
    // lower limit together.
    QVERIFY(m_sim->setTemperature(31.5));
    START(mailSettings(m_smtp->hostPort()) +
          QStringLiteral("[Temp]\nUTemp=30\nLTemp=abc\nCheck_U=0\nCheck_L=0\n"));
    QVERIFY(EventWait::until([&] { return m_monitor->readings().NowTempValue > 31; }));
    m_settings->setValue(Settings::CheckUpper, true);
    m_settings->setValue(Settings::CheckLower, true);
    const QString report = QStringLiteral("'abc' is not a valid integer value");
    QVERIFY(EventWait::until([&] { return !problems().isEmpty(); }));
    QVERIFY(!m_monitor->alertState().SendFlagUTemp);
    QCOMPARE(shownMessage(), UpperMessage);
    QVERIFY(waitForPolls(2)); // two more readings and many passes
    QCOMPARE(problems(), QStringList{report});
    QCOMPARE(mailCount(), 0);

    m_settings->setValue(Settings::LowerLimit, QStringLiteral("0"));
    QVERIFY(waitForPolls(1));
    QCOMPARE(problems().size(), 1);

    m_settings->setValue(Settings::LowerLimit, QStringLiteral("abc"));
    QVERIFY(EventWait::until([&] { return problems().size() >= 2; }));
    QVERIFY(waitForPolls(1));
    QCOMPARE(problems(), (QStringList{report, report}));
    QCOMPARE(mailCount(), 0);
}

void TestRuleMail::unreachableServerIsReportedOncePerPass()
{
    QVERIFY(m_sim->setTemperature(31.5));
    START(mailSettings(SmtpServer::refusingHostPort()) + Upper30);
    QVERIFY(EventWait::until([&] { return !problems().isEmpty(); }));
    QVERIFY2(problems().first().contains(QStringLiteral("Couldn't connect")),
             qPrintable(problems().first()));
    QVERIFY(!m_monitor->alertState().SendFlagUTemp);
    QVERIFY(waitForPolls(2));
    QCOMPARE(problems().size(), 1);

    m_monitor->SendFlagClr();
    QVERIFY(EventWait::until([&] { return problems().size() >= 2; }));
    QVERIFY(waitForPolls(1));
    QCOMPARE(problems().size(), 2);

    // A working server is not tried until Reset: the failed mail is not sent again.
    m_settings->setValue(Settings::MailServer, m_smtp->hostPort());
    QVERIFY(waitForPolls(1));
    QCOMPARE(mailCount(), 0);
    m_monitor->SendFlagClr();
    QVERIFY(mailed(1));
    QCOMPARE(ParsedMail(mails().first().raw).text("Subject"), QStringLiteral("Over 30C "));
    QCOMPARE(problems().size(), 2);
}

void TestRuleMail::keptMailGoesOutOnceAfterARestart()
{
    const QString down = SmtpServer::refusingHostPort();
    const QString settings =
        settingsFile(mailSettings(down) + Upper30 + QStringLiteral("[Watch]\nRetry=1\n"));
    const Outbox outbox(Outbox::folderFor(settings));
    QVERIFY(m_sim->setTemperature(31.5));
    QVERIFY(startEngine(settings));
    QVERIFY(EngineParts::setRetryDelayScale(*m_monitor, 0.01));
    QVERIFY(EventWait::until([&] { return !problems().isEmpty(); }));
    QCOMPARE(outbox.pending().size(), 1);
    QVERIFY(waitForPolls(3)); // tries meanwhile fail quietly
    QCOMPARE(problems().size(), 1);
    QCOMPARE(outbox.pending().size(), 1);
    stopEngine();

    // The server is back; the next start sends the kept mail, once, as it was composed.
    QVERIFY(m_sim->setTemperature(20));
    SmtpServer back(SmtpServer::listeningAt(down));
    QVERIFY2(back.isListening(), qPrintable(back.errorString()));
    QVERIFY(startEngine(settings));
    QVERIFY(back.waitForMails(1));
    QVERIFY(waitForPolls(3));
    QCOMPARE(back.mailCount(), 1);
    QCOMPARE(ParsedMail(back.mails().first().raw).text("Subject"), QStringLiteral("Over 30C "));
    QVERIFY(outbox.pending().isEmpty());
    QCOMPARE(problems(), QStringList());
}

void TestRuleMail::mailThatIsNotKept_data()
{
    QTest::addColumn<QString>("mode"); // empty: nothing listens
    QTest::addColumn<bool>("folderBlocked");
    QTest::addColumn<QString>("reported");
    QTest::newRow("5xx is final") << QStringLiteral("reject-rcpt") << false
                                  << QStringLiteral("550 5.1.1");
    QTest::newRow("folder unusable")
        << QString() << true << QStringLiteral("送信できなかったメールを保存できませんでした: ");
}

void TestRuleMail::mailThatIsNotKept()
{
    QFETCH(QString, mode);
    QFETCH(bool, folderBlocked);
    QFETCH(QString, reported);
    std::unique_ptr<SmtpServer> server;
    QString hostPort = SmtpServer::refusingHostPort();
    if (!mode.isEmpty()) {
        server = std::make_unique<SmtpServer>(mode);
        hostPort = server->hostPort();
    }
    const QString settings =
        settingsFile(mailSettings(hostPort) + Upper30 + QStringLiteral("[Watch]\nRetry=1\n"));
    const QString folder = Outbox::folderFor(settings);
    if (folderBlocked)
        QVERIFY(TestFiles::write(folder, "a file where the folder would be"));
    QVERIFY(m_sim->setTemperature(31.5));
    QVERIFY(startEngine(settings));
    QVERIFY(EventWait::until([&] { return !problems().isEmpty(); }));
    QVERIFY2(problems().first().contains(reported), qPrintable(problems().first()));
    QVERIFY(Outbox(folder).pending().isEmpty());
}

void TestRuleMail::refusedRecipientsDoNotStopTheOthers_data()
{
    QTest::addColumn<QString>("reply"); // to RCPT TO:<left@example.com>
    QTest::addColumn<bool>("keptForLeft");
    QTest::newRow("550") << QStringLiteral("550 5.1.1 user unknown") << false;
    QTest::newRow("451") << QStringLiteral("451 4.2.2 mailbox full") << true;
}

void TestRuleMail::refusedRecipientsDoNotStopTheOthers()
{
    QFETCH(QString, reply);
    QFETCH(bool, keptForLeft);
    SmtpServer::Options options;
    options.refuseRcpt[QStringLiteral("left@example.com")] = reply;
    SmtpServer server(options);
    QVERIFY2(server.isListening(), qPrintable(server.errorString()));
    QString mail = mailSettings(server.hostPort());
    mail.replace(To, QStringLiteral("ops@example.com; left@example.com"));
    const QString settings = settingsFile(mail + Upper30 + QStringLiteral("[Watch]\nRetry=1\n"));
    QVERIFY(m_sim->setTemperature(31.5));
    QVERIFY(startEngine(settings));
    QVERIFY(EngineParts::setRetryDelayScale(*m_monitor, 100)); // no retry within the test
    QVERIFY(EventWait::until([&] { return server.mailCount() >= 1; }));
    QCOMPARE(server.mails().first().rcptTo, QStringList{"ops@example.com"});
    QVERIFY(EventWait::until([&] { return !problems().isEmpty(); }));
    const QString told = problems().first();
    QVERIFY2(told.contains(QStringLiteral("left@example.com")) && told.contains(reply),
             qPrintable(told));
    QVERIFY(!told.contains(QStringLiteral("ops@example.com")));
    QVERIFY(waitForPolls(3));
    QCOMPARE(problems().size(), 1);
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

void TestRuleMail::keptMailForNobodyConfiguredIsSetAside()
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
    QVERIFY(startEngine(settings));
    QVERIFY(EventWait::until([&] { return Outbox(folder).pending().isEmpty(); }));
    QCOMPARE(TestFiles::entries(folder), QStringList{"20261209-010000-000-000.mail.bad"});
    QVERIFY(waitForPolls(2));
    QCOMPARE(mailCount(), 1);
    QCOMPARE(mails().first().rcptTo, QStringList{"admin@example.com"});
}

QTEST_GUILESS_MAIN(TestRuleMail)
#include "tst_rulemail.moc"
