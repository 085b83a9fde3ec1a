#include "web/EventLog.h"

#include <QtTest>

class TestEventLog : public QObject {
    Q_OBJECT
private slots:
    void since_data();
    void since();
    void textsAreCapped_data();
    void textsAreCapped();
    void kindNames();
};

void TestEventLog::since_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("added");
    QTest::addColumn<quint64>("after");
    QTest::addColumn<QList<quint64>>("ids");
    QTest::newRow("empty") << 50 << 0 << quint64(0) << QList<quint64>{};
    QTest::newRow("all") << 50 << 3 << quint64(0) << QList<quint64>{1, 2, 3};
    QTest::newRow("newer only") << 50 << 3 << quint64(1) << QList<quint64>{2, 3};
    QTest::newRow("nothing new") << 50 << 3 << quint64(3) << QList<quint64>{};
    QTest::newRow("oldest dropped") << 3 << 5 << quint64(0) << QList<quint64>{3, 4, 5};
    QTest::newRow("seen id dropped") << 3 << 5 << quint64(1) << QList<quint64>{3, 4, 5};
    QTest::newRow("within kept") << 3 << 5 << quint64(4) << QList<quint64>{5};
    // A page that outlived a restart of the program: its id was never given out.
    QTest::newRow("unknown id") << 50 << 2 << quint64(900) << QList<quint64>{1, 2};
    QTest::newRow("capacity at least one") << 0 << 2 << quint64(0) << QList<quint64>{2};
}

void TestEventLog::since()
{
    QFETCH(int, capacity);
    QFETCH(int, added);
    QFETCH(quint64, after);
    QFETCH(QList<quint64>, ids);
    EventLog log(capacity);
    const EventKind kinds[] = {EventKind::Alert, EventKind::Mail, EventKind::Recovered};
    for (int i = 0; i < added; ++i)
        QCOMPARE(log.add(1000 + i, kinds[i % 3], QString::number(i)), quint64(i + 1));
    QCOMPARE(log.lastId(), quint64(added));
    QVERIFY(log.size() <= std::max(capacity, 1));
    const QList<LoggedEvent> events = log.since(after);
    QList<quint64> got;
    for (const LoggedEvent& e : events) {
        got.append(e.id);
        // Each keeps what it was added with.
        QCOMPARE(e.ms, qint64(1000 + e.id - 1));
        QCOMPARE(e.kind, kinds[(e.id - 1) % 3]);
        QCOMPARE(e.text, QString::number(e.id - 1));
    }
    QCOMPARE(got, ids);
}

void TestEventLog::textsAreCapped_data()
{
    const qsizetype max = EventLog::MaxTextLength;
    const QString ellipsis(QChar(0x2026));
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("kept");
    QTest::newRow("short") << "Upper limit 30.0 exceeded"
                           << "Upper limit 30.0 exceeded";
    QTest::newRow("at the cap") << QString(max, 'a') << QString(max, 'a');
    QTest::newRow("over the cap") << QString(max + 1, 'a') << QString(max - 1, 'a') + ellipsis;
    // An emoji whose pair would be split at the cut goes as a whole.
    QTest::newRow("surrogate pair at the cut")
        << QString(max - 2, 'a') + QString::fromUtf8("😀😀") << QString(max - 2, 'a') + ellipsis;
}

void TestEventLog::textsAreCapped()
{
    QFETCH(QString, text);
    QFETCH(QString, kept);
    EventLog log;
    log.add(0, EventKind::Push, text);
    QCOMPARE(log.since(0).value(0).text, kept);
}

// The names the page's JSON carries.
void TestEventLog::kindNames()
{
    const QList<std::pair<EventKind, QString>> names = {
        {EventKind::Alert, "alert"},       {EventKind::Recovered, "recovered"},
        {EventKind::Reminder, "reminder"}, {EventKind::Acknowledged, "acknowledged"},
        {EventKind::Mute, "mute"},         {EventKind::Unmute, "unmute"},
        {EventKind::Mail, "mail"},         {EventKind::Push, "push"},
        {EventKind::Rearm, "rearm"},
    };
    for (const auto& [kind, name] : names)
        QCOMPARE(eventKindName(kind), name);
}

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
