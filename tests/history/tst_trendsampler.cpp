#include "history/ReadingHistory.h"
#include "history/TrendSampler.h"

#include <QtTest>

// Replies as "seconds:celsius:rb1" go through a real history (which flags the silences) and the
// sampler; samples come back as "seconds:celsius:rb1", with "|" before one that starts a line.
class TestTrendSampler : public QObject {
    Q_OBJECT
private slots:
    void samples_data();
    void samples();
};

void TestTrendSampler::samples_data()
{
    QTest::addColumn<qint64>("bucketMs");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("every reply, broken by a silence")
        << qint64(0) << QStringList{"0:20:0", "2:21:0", "10:22:1", "12:23:1"}
        << QStringList{"|0:20:0", "2:21:0", "|10:22:1", "12:23:1"};
    QTest::newRow("a minute keeps its first reply and its extremes in time order")
        << qint64(60000) << QStringList{"0:25:0", "2:24:0", "4:27:0", "6:26:0", "8:25:0"}
        << QStringList{"|0:25:0", "2:24:0", "4:27:0"};
    QTest::newRow("an overtaken extreme goes")
        << qint64(60000) << QStringList{"0:25:0", "2:24:0", "4:27:0", "6:23:0", "8:28:0"}
        << QStringList{"|0:25:0", "6:23:0", "8:28:0"};
    QTest::newRow("a short pulse on an input is kept")
        << qint64(60000) << QStringList{"0:25:0", "2:25:1", "4:25:0", "6:25:0"}
        << QStringList{"|0:25:0", "2:25:1", "4:25:0"};
    QTest::newRow("a new minute and a silence close the open one")
        << qint64(60000) << QStringList{"58:25:0", "60:26:0", "62:27:0", "70:20:0"}
        << QStringList{"|58:25:0", "60:26:0", "62:27:0", "|70:20:0"};
}

void TestTrendSampler::samples()
{
    QFETCH(qint64, bucketMs);
    QFETCH(QStringList, replies);
    QFETCH(QStringList, expected);
    ReadingHistory history;
    TrendSampler sampler(bucketMs);
    QList<TrendSample> out;
    for (const QString& reply : replies) {
        const QStringList f = reply.split(u':');
        sampler.add(history.append(f[0].toLongLong() * 1000, f[1].toDouble(), f[2] == "1", false),
                    out);
    }
    sampler.flush(out);
    QStringList seen;
    for (const TrendSample& s : out)
        seen.append(QStringLiteral("%1%2:%3:%4")
                        .arg(s.startsSegment ? "|" : "")
                        .arg(s.ms / 1000)
                        .arg(s.celsius)
                        .arg(s.rb1 ? 1 : 0));
    QCOMPARE(seen, expected);
}

QTEST_GUILESS_MAIN(TestTrendSampler)
#include "tst_trendsampler.moc"
