#include "alert/AlertRules.h"
#include "device/BoardProtocol.h"
#include "metrics/MetricsExposition.h"
#include "support/PromText.h"

#include <QtTest>

using PromText::samples;

class TestMetricsExposition : public QObject {
    Q_OBJECT
private slots:
    void beforeTheFirstReply();
    void lastReplyAndCounts();
};

void TestMetricsExposition::beforeTheFirstReply()
{
    const MetricsExposition metrics;
    const QByteArray text = metrics.text(4250);
    const auto values = samples(text);
    // No reading yet: the series are absent, not 0, while their families are described.
    QVERIFY(text.contains("# TYPE zarvik_temperature_celsius gauge\n"));
    QVERIFY(text.contains("# TYPE zarvik_input gauge\n"));
    QCOMPARE(values.value("zarvik_last_reply_age_seconds"), "4.25"); // since start-up
    for (const char* rule :
         {"upper", "lower", "rb1_low", "rb1_high", "rb0_low", "rb0_high", "no_reply"})
        for (const char* family : {"zarvik_alerts_total", "zarvik_recoveries_total"})
            QCOMPARE(values.value(QByteArray(family) + "{rule=\"" + rule + "\"}"), "0");
    QCOMPARE(values.value("zarvik_replies_total"), "0");
    QCOMPARE(values.value(R"(zarvik_push_failures_total{channel="ntfy"})"), "0");
    QCOMPARE(values.value(R"(zarvik_push_failures_total{channel="telegram"})"), "0");
    QCOMPARE(values.value("zarvik_muted_until_seconds"), "0");
    QCOMPARE(values.value("zarvik_mqtt_connected"), "0");
    QCOMPARE(values.size(), 23); // age, 3 counters, 7 alert rules, 7 recovered, 3 push, muted, mqtt
}

void TestMetricsExposition::lastReplyAndCounts()
{
    MetricsExposition metrics;
    metrics.noteReply(BoardProtocol::decodeReply(QByteArray::fromHex("0002000000510000")));
    // RB0 H, RB1 L, other bits set
    metrics.noteReply(BoardProtocol::decodeReply(QByteArray::fromHex("00fd0000012c0000")));
    metrics.noteRulesFired(RuleUpper | RuleRb0High);
    metrics.noteRulesFired(RuleUpper);
    metrics.noteRulesFired(RuleNoReply | RuleRb1Low);
    metrics.noteWrongSize();
    metrics.noteMailFailure();
    metrics.noteRecovered(RuleUpper);
    metrics.noteRecovered(RuleUpper);
    metrics.noteRecovered(RuleNoReply);
    metrics.notePushFailure(1);
    metrics.notePushFailure(1);
    metrics.notePushFailure(2);
    const auto values = samples(metrics.text(7));
    QCOMPARE(values.value("zarvik_temperature_celsius"), "146.484375");
    QCOMPARE(values.value(R"(zarvik_input{input="RB1"})"), "0");
    QCOMPARE(values.value(R"(zarvik_input{input="RB0"})"), "1");
    QCOMPARE(values.value("zarvik_last_reply_age_seconds"), "0.007");
    QCOMPARE(values.value("zarvik_replies_total"), "2");
    QCOMPARE(values.value("zarvik_wrong_size_replies_total"), "1");
    QCOMPARE(values.value("zarvik_mail_failures_total"), "1");
    QCOMPARE(values.value(R"(zarvik_push_failures_total{channel="ntfy"})"), "0");
    QCOMPARE(values.value(R"(zarvik_push_failures_total{channel="webhook"})"), "2");
    QCOMPARE(values.value(R"(zarvik_push_failures_total{channel="telegram"})"), "1");
    const QList<QPair<QByteArray, QByteArray>> alerts = {
        {"upper", "2"},   {"lower", "0"},    {"rb1_low", "1"},  {"rb1_high", "0"},
        {"rb0_low", "0"}, {"rb0_high", "1"}, {"no_reply", "1"},
    };
    for (const auto& [rule, count] : alerts)
        QCOMPARE(values.value("zarvik_alerts_total{rule=\"" + rule + "\"}"), count);
    QCOMPARE(values.value(R"(zarvik_recoveries_total{rule="upper"})"), "2");
    QCOMPARE(values.value(R"(zarvik_recoveries_total{rule="lower"})"), "0");
    QCOMPARE(values.value(R"(zarvik_recoveries_total{rule="no_reply"})"), "1");
}

QTEST_GUILESS_MAIN(TestMetricsExposition)
#include "tst_metricsexposition.moc"
