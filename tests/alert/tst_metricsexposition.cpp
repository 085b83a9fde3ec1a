#include "alert/AlertRules.h"
#include "alert/MetricsExposition.h"
#include "support/PromText.h"

#include <QtTest>

using PromText::samples;

class TestMetricsExposition : public QObject {
    Q_OBJECT
private slots:
    void beforeTheFirstReply();
    void readingsOfTheLastReply_data();
    void readingsOfTheLastReply();
    void countersAddUp();
    void promtoolAccepts();
};

void TestMetricsExposition::beforeTheFirstReply()
{
    const MetricsExposition metrics(1000);
    const QByteArray text = metrics.text(5250);
    const auto values = samples(text);
    // No reading yet: the series are absent, not 0, while their families are described.
    QVERIFY(!values.contains("zarvik_temperature_celsius"));
    QVERIFY(!values.contains(R"(zarvik_input{input="RB1"})"));
    QVERIFY(!values.contains(R"(zarvik_input{input="RB0"})"));
    QVERIFY(text.contains("# TYPE zarvik_temperature_celsius gauge\n"));
    QVERIFY(text.contains("# TYPE zarvik_input gauge\n"));
    QCOMPARE(values.value("zarvik_last_reply_age_seconds"), "4.25"); // since start-up
    QCOMPARE(values.value("zarvik_replies_total"), "0");
    for (const char* rule :
         {"upper", "lower", "rb1_low", "rb1_high", "rb0_low", "rb0_high", "no_reply"})
        QCOMPARE(values.value(QByteArray("zarvik_alerts_total{rule=\"") + rule + "\"}"), "0");
    QCOMPARE(values.size(), 11);
}

void TestMetricsExposition::readingsOfTheLastReply_data()
{
    QTest::addColumn<double>("celsius");
    QTest::addColumn<int>("bits");
    QTest::addColumn<QByteArray>("temperature");
    QTest::addColumn<QByteArray>("rb1");
    QTest::addColumn<QByteArray>("rb0");
    QTest::newRow("both H") << 146.484375 << 3 << QByteArray("146.484375") << QByteArray("1")
                            << QByteArray("1");
    QTest::newRow("RB1 H") << 25.0 << 2 << QByteArray("25") << QByteArray("1") << QByteArray("0");
    QTest::newRow("RB0 H, other bits")
        << -0.5 << 0xfd << QByteArray("-0.5") << QByteArray("0") << QByteArray("1");
    QTest::newRow("both L") << 0.0 << 0 << QByteArray("0") << QByteArray("0") << QByteArray("0");
}

void TestMetricsExposition::readingsOfTheLastReply()
{
    QFETCH(double, celsius);
    QFETCH(int, bits);
    QFETCH(QByteArray, temperature);
    QFETCH(QByteArray, rb1);
    QFETCH(QByteArray, rb0);

    MetricsExposition metrics(0);
    metrics.noteReply(99.0, 0x03 ^ std::uint8_t(bits), 1000);
    metrics.noteReply(celsius, std::uint8_t(bits), 2000);
    const auto values = samples(metrics.text(2007));
    QCOMPARE(values.value("zarvik_temperature_celsius"), temperature);
    QCOMPARE(values.value(R"(zarvik_input{input="RB1"})"), rb1);
    QCOMPARE(values.value(R"(zarvik_input{input="RB0"})"), rb0);
    QCOMPARE(values.value("zarvik_last_reply_age_seconds"), "0.007");
    QCOMPARE(values.value("zarvik_replies_total"), "2");
}

void TestMetricsExposition::countersAddUp()
{
    MetricsExposition metrics(0);
    metrics.noteRulesFired(RuleUpper | RuleRb0High);
    metrics.noteRulesFired(RuleUpper);
    metrics.noteRulesFired(RuleNoReply | RuleRb1Low);
    metrics.noteWrongSize();
    metrics.noteWrongSize();
    metrics.noteMailFailure();
    const auto values = samples(metrics.text(0));
    const QMap<QByteArray, QByteArray> alerts = {
        {"upper", "2"},   {"lower", "0"},    {"rb1_low", "1"},  {"rb1_high", "0"},
        {"rb0_low", "0"}, {"rb0_high", "1"}, {"no_reply", "1"},
    };
    for (auto it = alerts.cbegin(); it != alerts.cend(); ++it)
        QCOMPARE(values.value("zarvik_alerts_total{rule=\"" + it.key() + "\"}"), it.value());
    QCOMPARE(values.value("zarvik_wrong_size_replies_total"), "2");
    QCOMPARE(values.value("zarvik_mail_failures_total"), "1");
    QCOMPARE(values.value("zarvik_replies_total"), "0"); // a wrong size is no reply
}

void TestMetricsExposition::promtoolAccepts()
{
    MetricsExposition metrics(0);
    QCOMPARE(PromText::promtoolProblems(metrics.text(1)), QString());
    metrics.noteReply(31.25, 2, 10);
    metrics.noteRulesFired(RuleUpper);
    QCOMPARE(PromText::promtoolProblems(metrics.text(123456)), QString());
}

QTEST_GUILESS_MAIN(TestMetricsExposition)
#include "tst_metricsexposition.moc"
