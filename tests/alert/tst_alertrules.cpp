#include "alert/AlertRules.h"

#include <QtTest>

namespace {

// The settings the rules read, with test values, and what the passes showed.
struct Config : AlertConfig {
    Config()
    {
        upperLimitText = QStringLiteral("100");
        upperMemo = QStringLiteral("U");
        lowerLimitText = QStringLiteral("0");
        lowerMemo = QStringLiteral("L");
        rb1Memo = QStringLiteral("B1");
        rb0Memo = QStringLiteral("B0");
        noReplySecondsText = QStringLiteral("60");
        noReplyMemo = QStringLiteral("N");
    }
    qint64 silentMs = 0;
    QStringList shown;
};

// One pass; its messages are added to config.shown.
bool runAlertPass(AlertState& state, const DeviceReadings& readings, Config& config,
                  QString* error = nullptr)
{
    const bool mail = ::runAlertPass(state, readings, config, config.silentMs, error);
    config.shown << state.Shown;
    return mail;
}

DeviceReadings reading(long double celsius, int bits = 0, int prevBits = 0)
{
    DeviceReadings r;
    r.NowTempValue = celsius;
    r.PortBits = std::uint8_t(bits);
    r.PrevPortBits = std::uint8_t(prevBits);
    r.HaveReply = true;
    return r;
}

// A pass at 50 degrees that fires nothing: whether it reported a bad limit text.
bool reported(AlertState& state, Config& config)
{
    QString error;
    const bool mail = runAlertPass(state, reading(50), config, &error);
    return !mail && error.startsWith(u'\'');
}

AlertState armed()
{
    AlertState state;
    SendFlagClr(state);
    return state;
}

} // namespace

class TestAlertRules : public QObject {
    Q_OBJECT
private slots:
    void parseLimit_data();
    void parseLimit();
    void inputRules_data();
    void inputRules();
    void temperatureRulesAreStrict();
    void rulesAreOneShotUntilReset();
    void twoRulesJoinInTableOrder();
    void emptyMemoDisarmsWithoutMail();
    void uncheckedOrDoNotSendStayArmed();
    void badLowerLimitAfterUpperFired();
    void badLimitReportedOncePerText();
    void limitReadOnlyWhenArmedAndChecked();
    void noTemperatureBeforeTheFirstReply();
    void edgeOfAReplacedReplyIsKept();
    void noReplyRule_data();
    void noReplyRule();
    void followUps_data();
    void followUps();
};

void TestAlertRules::parseLimit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "30" << true << 30;
    QTest::newRow("blanks") << "  -5 " << true << -5;
    QTest::newRow("plus") << "+7" << true << 7;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("overflow") << "2147483648" << false << 0;
    QTest::newRow("underflow") << "-2147483649" << false << 0;
    QTest::newRow("huge") << "99999999999999999999999" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blank") << "   " << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("decimal point") << "30.5" << false << 0;
    QTest::newRow("hex") << "0x1E" << false << 0;
    QTest::newRow("inner blank") << "3 0" << false << 0;
    QTest::newRow("full-width digits") << "３０" << false << 0;
}

void TestAlertRules::parseLimit()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const auto parsed = ::parseLimit(text);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(*parsed, value);
}

void TestAlertRules::inputRules_data()
{
    QTest::addColumn<int>("rb1");
    QTest::addColumn<int>("rb0");
    QTest::addColumn<int>("prev");
    QTest::addColumn<int>("now");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("message");

    QTest::newRow("RB1 rises, send on H") << 0 << 2 << 0 << 2 << "RB1 is \"H\". "
                                          << "RB1が\"H\"になりました";
    QTest::newRow("RB1 falls, send on L") << 1 << 2 << 2 << 0 << "RB1 is \"L\". "
                                          << "RB1が\"L\"になりました";
    QTest::newRow("RB0 rises, send on H") << 2 << 0 << 0 << 1 << "RB0 is \"H\". "
                                          << "RB0が\"H\"になりました";
    QTest::newRow("RB0 falls, send on L") << 2 << 1 << 1 << 0 << "RB0 is \"L\". "
                                          << "RB0が\"L\"になりました";
    QTest::newRow("RB1 rises, send on L") << 1 << 2 << 0 << 2 << ""
                                          << "";
    QTest::newRow("RB1 stays H") << 0 << 2 << 2 << 2 << ""
                                 << "";
    QTest::newRow("RB0 edge, RB1 watched") << 0 << 2 << 0 << 1 << ""
                                           << "";
    QTest::newRow("both fall, both on L") << 1 << 1 << 3 << 0 << "RB1 is \"L\". RB0 is \"L\". "
                                          << "RB0が\"L\"になりました";
    QTest::newRow("other bits ignored") << 0 << 0 << 0 << 0xFC << ""
                                        << "";
}

void TestAlertRules::inputRules()
{
    QFETCH(int, rb1);
    QFETCH(int, rb0);
    QFETCH(int, prev);
    QFETCH(int, now);
    QFETCH(QString, subject);
    QFETCH(QString, message);

    Config config;
    config.rb1Choice = rb1;
    config.rb0Choice = rb0;
    AlertState state = armed();
    const bool mail = runAlertPass(state, reading(20, now, prev), config);
    QCOMPARE(state.MailSubject, subject);
    QCOMPARE(mail, !subject.isEmpty());
    QCOMPARE(config.shown.isEmpty() ? QString() : config.shown.last(), message);
    // Subject pieces are twelve characters each.
    QCOMPARE(subject.size() % 12, 0);
}

void TestAlertRules::temperatureRulesAreStrict()
{
    Config config;
    config.upperChecked = true;
    config.upperLimitText = QStringLiteral("30");
    config.lowerChecked = true;
    config.lowerLimitText = QStringLiteral("10");
    AlertState state = armed();

    QVERIFY(!runAlertPass(state, reading(30.0L), config));
    QVERIFY(!runAlertPass(state, reading(10.0L), config));
    QVERIFY(state.SendFlagUTemp && state.SendFlagLTemp);

    QVERIFY(runAlertPass(state, reading(30.000001L), config));
    QCOMPARE(state.MailSubject, QStringLiteral("Over 30C "));
    QCOMPARE(state.MailBody, QStringLiteral("U"));
    QCOMPARE(config.shown.last(), QStringLiteral("温度が 30℃を超えました。"));

    QVERIFY(runAlertPass(state, reading(9.9L), config));
    QCOMPARE(state.MailSubject, QStringLiteral("Under 10C "));
    QCOMPARE(config.shown.last(), QStringLiteral("温度が 10℃より下がりました。"));
}

void TestAlertRules::rulesAreOneShotUntilReset()
{
    Config config;
    config.upperChecked = true;
    config.upperLimitText = QStringLiteral(" 30 "); // the text goes into the subject as typed
    AlertState state = armed();

    QVERIFY(runAlertPass(state, reading(31.2L), config));
    QCOMPARE(state.MailSubject, QStringLiteral("Over  30 C "));
    QVERIFY(!state.SendFlagUTemp);
    QVERIFY(!runAlertPass(state, reading(40), config));
    QCOMPARE(state.MailSubject, QString());
    QCOMPARE(config.shown.size(), 1);

    SendFlagClr(state);
    QVERIFY(runAlertPass(state, reading(40), config));

    // An edge stays visible until the next reply: after Reset it fires again.
    config.rb1Choice = SendOnHigh;
    QVERIFY(runAlertPass(state, reading(0, 2, 0), config));
    QVERIFY(!runAlertPass(state, reading(0, 2, 0), config));
    SendFlagClr(state);
    state.SendFlagUTemp = false;
    QVERIFY(runAlertPass(state, reading(0, 2, 0), config));
    QCOMPARE(state.MailSubject, QStringLiteral("RB1 is \"H\". "));
}

void TestAlertRules::twoRulesJoinInTableOrder()
{
    Config config;
    config.upperChecked = true;
    config.upperLimitText = QStringLiteral("30");
    config.upperMemo = QStringLiteral("hot\r\n");
    config.rb1Choice = SendOnHigh;
    config.rb1Memo = QStringLiteral("Message <Change RB1>\r\n");
    AlertState state = armed();

    QVERIFY(runAlertPass(state, reading(31.2L, 2, 0), config));
    QCOMPARE(state.MailSubject, QStringLiteral("Over 30C RB1 is \"H\". "));
    QCOMPARE(state.MailBody, QStringLiteral("hot\r\nMessage <Change RB1>\r\n"));
    QCOMPARE(config.shown, QStringList({QStringLiteral("温度が 30℃を超えました。"),
                                        QStringLiteral("RB1が\"H\"になりました")}));
}

void TestAlertRules::emptyMemoDisarmsWithoutMail()
{
    Config config;
    config.upperChecked = true;
    config.upperLimitText = QStringLiteral("30");
    config.upperMemo.clear();
    AlertState state = armed();
    QVERIFY(!runAlertPass(state, reading(50), config));
    QVERIFY(!state.SendFlagUTemp);
    QCOMPARE(state.MailSubject, QStringLiteral("Over 30C "));
    QCOMPARE(config.shown.size(), 1);
}

void TestAlertRules::uncheckedOrDoNotSendStayArmed()
{
    Config config;
    config.upperLimitText = QStringLiteral("30");
    config.lowerLimitText = QStringLiteral("10");
    AlertState state = armed();
    QVERIFY(!runAlertPass(state, reading(50, 3, 0), config));
    QVERIFY(!runAlertPass(state, reading(5, 0, 3), config));
    QVERIFY(state.SendFlagUTemp && state.SendFlagLTemp && state.SendFlagRB1H &&
            state.SendFlagRB1L && state.SendFlagRB0H && state.SendFlagRB0L);
    QVERIFY(config.shown.isEmpty());
}

void TestAlertRules::badLowerLimitAfterUpperFired()
{
    Config config;
    config.upperChecked = true;
    config.upperLimitText = QStringLiteral("30");
    config.lowerChecked = true;
    config.lowerLimitText = QStringLiteral("abc");
    config.rb1Choice = SendOnHigh;
    AlertState state = armed();

    QString error;
    QVERIFY(!runAlertPass(state, reading(31, 2, 0), config, &error));
    QCOMPARE(error, QStringLiteral("'abc' is not a valid integer value"));
    QVERIFY(!state.SendFlagUTemp);
    QVERIFY(state.SendFlagRB1H); // later rules were not evaluated
    QCOMPARE(config.shown, QStringList{QStringLiteral("温度が 30℃を超えました。")});
}

void TestAlertRules::badLimitReportedOncePerText()
{
    Config config;
    config.upperChecked = true;
    config.upperLimitText = QString();
    AlertState state = armed();

    QVERIFY(reported(state, config));
    QString quiet;
    QVERIFY(!runAlertPass(state, reading(50), config, &quiet)); // still no rule fires
    QVERIFY(quiet.isEmpty());
    config.upperLimitText = QStringLiteral("3x");
    QVERIFY(reported(state, config));
    QVERIFY(!runAlertPass(state, reading(50), config));
    QVERIFY(state.SendFlagUTemp);

    // Corrected, then the same mistake again later: reported again.
    config.upperLimitText = QStringLiteral("300");
    QVERIFY(!runAlertPass(state, reading(50), config));
    config.upperLimitText = QStringLiteral("3x");
    QVERIFY(reported(state, config));

    // The lower edit is remembered on its own.
    config.upperLimitText = QStringLiteral("300");
    config.lowerChecked = true;
    config.lowerLimitText = QStringLiteral("3x");
    QVERIFY(reported(state, config));
}

void TestAlertRules::limitReadOnlyWhenArmedAndChecked()
{
    Config config;
    config.upperLimitText = QStringLiteral("bad");
    config.lowerChecked = true;
    config.lowerLimitText = QStringLiteral("10");
    AlertState state = armed();
    QVERIFY(runAlertPass(state, reading(0), config)); // unchecked bad upper text is never read
    config.upperChecked = true;
    state.SendFlagUTemp = false;
    QVERIFY(!runAlertPass(state, reading(0), config)); // disarmed: not read either
}

void TestAlertRules::noTemperatureBeforeTheFirstReply()
{
    AlertState state = armed();
    Config config;
    config.lowerChecked = true;
    config.lowerLimitText = QStringLiteral("5");
    config.upperChecked = true;
    config.upperLimitText = QStringLiteral("-5");
    DeviceReadings start; // 0.0 until a reply is decoded
    QVERIFY(!runAlertPass(state, start, config));
    QVERIFY(state.SendFlagLTemp && state.SendFlagUTemp);
    QVERIFY(config.shown.isEmpty());
    QVERIFY(runAlertPass(state, reading(0), config));
    QCOMPARE(state.MailSubject, QStringLiteral("Over -5C Under 5C "));
}

void TestAlertRules::edgeOfAReplacedReplyIsKept()
{
    AlertState state = armed();
    Config config;
    config.rb1Choice = SendOnHigh;
    // RB1 rises, and the next reply (RB1 still high) comes before any pass.
    const DeviceReadings risen = reading(20, 2, 0);
    noteNewReply(state, risen);
    noteNewReply(state, risen);
    QVERIFY(runAlertPass(state, reading(20, 2, 2), config));
    QCOMPARE(state.MailSubject, QStringLiteral("RB1 is \"H\". "));

    // Seen by a pass, an edge is not kept again: Reset then finds no edge.
    SendFlagClr(state);
    noteNewReply(state, reading(20, 2, 2));
    QVERIFY(!runAlertPass(state, reading(20, 2, 2), config));
}

void TestAlertRules::noReplyRule_data()
{
    QTest::addColumn<QString>("seconds");
    QTest::addColumn<qint64>("silentMs");
    QTest::addColumn<QString>("subject"); // empty: does not fire
    QTest::addColumn<bool>("reported");

    QTest::newRow("not yet") << "60" << qint64(59999) << "" << false;
    QTest::newRow("due") << "60" << qint64(60000) << "Over 30C No reply 60s " << false;
    QTest::newRow("zero") << "0" << qint64(600000) << "" << true;
    QTest::newRow("letters") << "abc" << qint64(600000) << "" << true;
}

// Silence is the last rule of a pass; a bad seconds text stops it alone.
void TestAlertRules::noReplyRule()
{
    QFETCH(QString, seconds);
    QFETCH(qint64, silentMs);
    QFETCH(QString, subject);
    QFETCH(bool, reported);

    AlertState state = armed();
    Config config;
    config.upperChecked = true;
    config.upperLimitText = QStringLiteral("30");
    config.noReplyChecked = true;
    config.noReplySecondsText = seconds;
    config.silentMs = silentMs;
    QString bad;
    QVERIFY(runAlertPass(state, reading(31), config, &bad));
    QCOMPARE(!bad.isEmpty(), reported);
    if (subject.isEmpty()) {
        QCOMPARE(state.MailSubject, QStringLiteral("Over 30C "));
        QVERIFY(state.SendFlagNoReply);
    } else {
        QCOMPARE(state.MailSubject, subject);
        QCOMPARE(state.MailBody, QStringLiteral("UN"));
        QCOMPARE(config.shown.last(), QStringLiteral("応答がありません (60秒)"));
        QVERIFY(!state.SendFlagNoReply);
    }
    // Once per text: the next pass says nothing more.
    bad.clear();
    runAlertPass(state, reading(31), config, &bad);
    QVERIFY(bad.isEmpty());
}

void TestAlertRules::followUps_data()
{
    QTest::addColumn<bool>("reArm");
    QTest::addColumn<QString>("reArmSec");
    QTest::addColumn<QString>("hysteresis");
    QTest::addColumn<QString>("remindMin");
    // "second temperature [inputs] [reset] [ack] [hold=N]; …", "-" for no reply at that second
    QTest::addColumn<QString>("script");
    // "second A:alert subject|second R:recovered subject|second M:reminder subject|
    // second K:acknowledged rules"
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("error");
    const QString none;
    QTest::newRow("classic: one shot") << false << "60"
                                       << "1"
                                       << "0"
                                       << "0 31; 10 20; 100 20; 110 31"
                                       << "0 A:Over 30C" << none;
    QTest::newRow("wobble inside the band") << true << "60"
                                            << "1"
                                            << "0"
                                            << "0 31; 10 29.5; 20 30.5; 30 29; 100 29.5"
                                            << "0 A:Over 30C" << none;
    QTest::newRow("clear for ReArmSec, then again")
        << true << "60"
        << "1"
        << "0"
        << "0 31; 10 28.9; 69 28.9; 70 28.9; 80 31"
        << "0 A:Over 30C|70 R:Recovered: Over 30C|80 A:Over 30C" << none;
    QTest::newRow("a reply in the band restarts the clear run")
        << true << "60"
        << "1"
        << "0"
        << "0 31; 10 28; 40 29.5; 50 28; 100 28; 110 28"
        << "0 A:Over 30C|110 R:Recovered: Over 30C" << none;
    QTest::newRow("decimal hysteresis") << true << "60"
                                        << "0.5"
                                        << "0"
                                        << "0 31; 10 29.4; 70 29.4"
                                        << "0 A:Over 30C|70 R:Recovered: Over 30C" << none;
    QTest::newRow("lower limit") << true << "0"
                                 << "1"
                                 << "0"
                                 << "0 -1; 10 0.5; 20 1.5"
                                 << "0 A:Under 0C|20 R:Recovered: Under 0C" << none;
    QTest::newRow("input back at the other level")
        << true << "60"
        << "1"
        << "0"
        << "0 20 2; 2 20 0; 10 20 2; 40 20 0; 50 20 2; 110 20 2; 120 20 0"
        << "2 A:RB1 is \"L\".|110 R:Recovered: RB1 is \"L\".|120 A:RB1 is \"L\"." << none;
    QTest::newRow("replies come back") << true << "60"
                                       << "1"
                                       << "0"
                                       << "0 20; 12 -; 14 20"
                                       << "12 A:No reply 10s|14 R:Recovered: No reply" << none;
    QTest::newRow("reset re-arms silently") << true << "60"
                                            << "1"
                                            << "0"
                                            << "0 31; 10 28; 20 28 0 reset; 100 28"
                                            << "0 A:Over 30C" << none;
    QTest::newRow("reminders while it holds")
        << false << "60"
        << "1"
        << "1"
        << "0 31; 59 31; 60 31; 90 29; 125 31; 150 31"
        << "0 A:Over 30C|60 M:Reminder: Over 30C|125 M:Reminder: Over 30C" << none;
    QTest::newRow("silence reminded") << false << "60"
                                      << "1"
                                      << "1"
                                      << "0 20; 12 -; 72 -"
                                      << "12 A:No reply 10s|72 M:Reminder: No reply 10s" << none;
    QTest::newRow("no reminder once re-armed")
        << true << "30"
        << "1"
        << "1"
        << "0 31; 60 31; 70 28; 100 28; 200 28"
        << "0 A:Over 30C|60 M:Reminder: Over 30C|100 R:Recovered: Over 30C" << none;
    QTest::newRow("bad seconds: no re-arming")
        << true << "abc"
        << "1"
        << "0"
        << "0 31; 10 20; 100 20"
        << "0 A:Over 30C"
        << "'abc' is not a valid number of seconds (a whole number, 0 or more)";
    QTest::newRow("bad hysteresis: the inputs still re-arm")
        << true << "0"
        << "x"
        << "0"
        << "0 31 2; 2 31 0; 4 20 2"
        << "0 A:Over 30C|2 A:RB1 is \"L\".|4 R:Recovered: RB1 is \"L\"."
        << "'x' is not a valid hysteresis (degrees, 0 or more)";
    QTest::newRow("bad minutes: no reminders")
        << false << "60"
        << "1"
        << "-1"
        << "0 31; 60 31; 120 31"
        << "0 A:Over 30C"
        << "'-1' is not a valid number of minutes (a whole number, 0 or more)";
    QTest::newRow("hold: a spike of one reading is no alert")
        << false << "60"
        << "1"
        << "0"
        << "0 20 0 hold=10; 2 31; 4 29; 6 31; 14 31; 16 31"
        << "16 A:Over 30C" << none;
    QTest::newRow("hold: a missing reply neither breaks nor completes the run")
        << false << "60"
        << "1"
        << "0"
        << "0 20 0 hold=10; 2 31; 6 -; 11 -; 12 31"
        << "12 A:Over 30C" << none;
    QTest::newRow("hold: a door opened for a moment")
        << false << "60"
        << "1"
        << "0"
        << "0 20 2 hold=4; 2 20 0; 4 20 2; 6 20 0; 8 20 0; 10 20 0; 12 20 0"
        << "10 A:RB1 is \"L\"." << none;
    QTest::newRow("hold: a bad text fires at once")
        << false << "60"
        << "1"
        << "0"
        << "0 31 0 hold=x"
        << "0 A:Over 30C"
        << "'x' is not a valid number of seconds (a whole number, 0 or more)";
    QTest::newRow("acknowledged: no reminders, a new firing is not")
        << true << "30"
        << "1"
        << "1"
        << "0 31; 60 31; 61 31 0 ack; 62 31 0 ack; 120 31; 130 28; 170 28; 175 31; 235 31"
        << "0 A:Over 30C|60 M:Reminder: Over 30C|61 K:Over 30C|170 R:Recovered: Over 30C|"
           "175 A:Over 30C|235 M:Reminder: Over 30C"
        << none;
    QTest::newRow("acknowledged: reset forgets it")
        << false << "60"
        << "1"
        << "1"
        << "0 31 0 ack; 10 31 0 reset; 69 31 0 ack; 130 31"
        << "0 A:Over 30C|0 K:Over 30C|10 A:Over 30C|69 K:Over 30C" << none;
}

// Passes at the script's seconds on the steady clock; every bad text is told once in all.
void TestAlertRules::followUps()
{
    QFETCH(bool, reArm);
    QFETCH(QString, reArmSec);
    QFETCH(QString, hysteresis);
    QFETCH(QString, remindMin);
    QFETCH(QString, script);
    QFETCH(QString, expected);
    QFETCH(QString, error);

    Config config;
    config.upperChecked = config.lowerChecked = config.noReplyChecked = true;
    config.upperLimitText = QStringLiteral("30");
    config.noReplySecondsText = QStringLiteral("10");
    config.rb1Choice = SendOnLow;
    config.reArm = reArm;
    config.reArmSecondsText = reArmSec;
    config.hysteresisText = hysteresis;
    config.remindMinutesText = remindMin;
    AlertState state = armed();
    DeviceReadings readings;
    qint64 lastReplyMs = 0;
    QStringList told;
    QString errors;
    for (const QString& step : script.split(u';')) {
        const QStringList words = step.split(u' ', Qt::SkipEmptyParts);
        const qint64 nowMs = words.at(0).toLongLong() * 1000;
        for (const QString& word : words) {
            if (word.startsWith(QStringLiteral("hold=")))
                config.holdSecondsText = word.mid(5);
        }
        if (words.at(1) != u'-') {
            readings = reading(words.at(1).toDouble(), words.value(2).toInt(), readings.PortBits);
            lastReplyMs = nowMs;
            trackHold(state, readings, config, nowMs);
        }
        if (words.contains(QStringLiteral("reset")))
            SendFlagClr(state);
        QString bad;
        if (::runAlertPass(state, readings, config, nowMs - lastReplyMs, &bad))
            told << words.at(0) + QStringLiteral(" A:") + state.MailSubject.trimmed();
        for (const AlertNotice& notice :
             runFollowUpPass(state, readings, config, nowMs - lastReplyMs, nowMs, &bad)) {
            told << words.at(0) +
                        (notice.kind == NoticeKind::Recovered ? QStringLiteral(" R:")
                                                              : QStringLiteral(" M:")) +
                        notice.subject;
            QVERIFY(!notice.message.isEmpty());
        }
        if (words.contains(QStringLiteral("ack"))) {
            if (const std::uint8_t seen = acknowledge(state))
                told << words.at(0) + QStringLiteral(" K:") + rulePieces(seen, config);
        }
        errors += bad;
    }
    QCOMPARE(told.join(u'|'), expected);
    QCOMPARE(errors, error);
}

QTEST_GUILESS_MAIN(TestAlertRules)
#include "tst_alertrules.moc"
