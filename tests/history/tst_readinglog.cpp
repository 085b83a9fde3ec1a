#include "history/HistoryRecorder.h"
#include "history/ReadingHistory.h"
#include "history/ReadingLog.h"
#include "support/TestFiles.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>
#include <ctime>
#include <sys/stat.h>

namespace {

void setTimeZone(const QByteArray& zone)
{
    qputenv("TZ", zone);
    ::tzset();
}

qint64 msAt(const QString& isoWithOffset)
{
    return QDateTime::fromString(isoWithOffset, Qt::ISODate).toMSecsSinceEpoch();
}

} // namespace

class TestReadingLog : public QObject {
    Q_OBJECT
private slots:
    void init() { setTimeZone("Asia/Tokyo"); }

    void historyKeepsTheSpanAndTheCount();
    void latestOnlyStillLogsEveryReply();
    void silenceBreaksTheLine_data();
    void silenceBreaksTheLine();
    void lineFormat_data();
    void lineFormat();
    void damagedLinesAreSkipped();
    void headerOncePerNewFile();
    void loadsTheLastDayFromTwoFiles();
    void writeFailureToldOnceThenPausedUntilNextDay();
    void lineCutShortGetsItsEnd();
    void onlyRegularFilesOfOurOwn_data();
    void onlyRegularFilesOfOurOwn();
};

void TestReadingLog::historyKeepsTheSpanAndTheCount()
{
    ReadingHistory byAge(10000, 100);
    for (qint64 ms = 0; ms <= 20000; ms += 2000)
        byAge.append(ms, double(ms) / 1000, false, false);
    byAge.addMark(5000, 5.0, QStringLiteral("old"));
    byAge.addMark(19000, 19.0, QStringLiteral("new"));
    QCOMPARE(byAge.points().size(), size_t(6)); // 10 s to 20 s
    QCOMPARE(byAge.points().front().ms, 10000);
    QVERIFY(byAge.points().front().afterGap); // nothing before it to join on to
    QCOMPARE(byAge.marks().size(), size_t(1));
    QCOMPARE(byAge.marks().front().message, QStringLiteral("new"));

    ReadingHistory byCount(ReadingHistory::DefaultSpanMs, 3);
    for (qint64 ms = 0; ms < 5 * 2000; ms += 2000)
        byCount.append(ms, 1.0, true, false);
    QCOMPARE(byCount.points().size(), size_t(3));
    QCOMPARE(byCount.points().front().ms, 4000);
    QCOMPARE(byCount.points().back().ms, 8000);
}

// Without a chart (the service): one point and one mark are held, the log is not read back, and
// every reply still gets its line.
void TestReadingLog::latestOnlyStillLogsEveryReply()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ZARVIK_Mail.ini"));
    const QString csv = dir.filePath(QStringLiteral("ZARVIK_Mail-2026-12-08.csv"));
    QVERIFY(TestFiles::write(csv, "time,temperature_celsius,rb1,rb0\n"
                                  "2026-12-08T11:59:00+09:00,10.0000,0,0\n"));
    const qint64 start = msAt(QStringLiteral("2026-12-08T12:00:00+09:00"));
    HistoryRecorder recorder(ini);
    recorder.keepLatestOnly();
    recorder.setLogEnabled(true);
    recorder.loadLog(start);
    QVERIFY(recorder.history().points().empty());
    for (int i = 0; i < 3; ++i)
        recorder.recordReply(start + i * 2000, 20.0 + i, false, true);
    recorder.recordMark(start + 4500, QStringLiteral("a"));
    recorder.recordMark(start + 4600, QStringLiteral("b"));

    const ReadingHistory& history = recorder.history();
    QCOMPARE(history.points().size(), size_t(1));
    QCOMPARE(history.points().back().celsius, 22.0);
    QCOMPARE(history.marks().size(), size_t(1));
    QCOMPARE(history.marks().back().message, QStringLiteral("b"));
    QCOMPARE(history.marks().back().celsius, 22.0);
    QCOMPARE(TestFiles::read(csv), QByteArray("time,temperature_celsius,rb1,rb0\n"
                                              "2026-12-08T11:59:00+09:00,10.0000,0,0\n"
                                              "2026-12-08T12:00:00+09:00,20.0000,0,1\n"
                                              "2026-12-08T12:00:02+09:00,21.0000,0,1\n"
                                              "2026-12-08T12:00:04+09:00,22.0000,0,1\n"));
}

void TestReadingLog::silenceBreaksTheLine_data()
{
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QList<bool>>("gaps");
    QTest::newRow("steady polls") << QList<qint64>{0, 2000, 4000}
                                  << QList<bool>{true, false, false};
    QTest::newRow("three periods is still a line")
        << QList<qint64>{0, 6000} << QList<bool>{true, false};
    QTest::newRow("longer is a gap")
        << QList<qint64>{0, 2000, 8001, 10000} << QList<bool>{true, false, true, false};
    QTest::newRow("clock set back")
        << QList<qint64>{10000, 12000, 5000} << QList<bool>{true, false, true};
}

void TestReadingLog::silenceBreaksTheLine()
{
    QFETCH(QList<qint64>, times);
    QFETCH(QList<bool>, gaps);
    ReadingHistory history;
    for (qint64 ms : times)
        history.append(ms, 20.0, false, false);
    QList<bool> seen;
    for (const HistoryPoint& point : history.points())
        seen.append(point.afterGap);
    QCOMPARE(seen, gaps);
}

void TestReadingLog::lineFormat_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("utc");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<bool>("rb1");
    QTest::addColumn<bool>("rb0");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("Tokyo") << QByteArray("Asia/Tokyo") << "2026-12-08T14:43:49Z" << 31.25 << true
                           << false << QByteArray("2026-12-08T23:43:49+09:00,31.2500,1,0\n");
    QTest::newRow("UTC is +00:00") << QByteArray("UTC") << "2026-12-08T14:43:49Z" << -5.0 << false
                                   << true << QByteArray("2026-12-08T14:43:49+00:00,-5.0000,0,1\n");
    QTest::newRow("half-hour west")
        << QByteArray("America/St_Johns") << "2026-12-08T02:00:00Z" << 146.484375 << true << true
        << QByteArray("2026-12-07T22:30:00-03:30,146.4844,1,1\n");
}

void TestReadingLog::lineFormat()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, utc);
    QFETCH(double, celsius);
    QFETCH(bool, rb1);
    QFETCH(bool, rb0);
    QFETCH(QByteArray, line);
    setTimeZone(zone);
    const HistoryPoint point{msAt(utc), celsius, rb1, rb0};
    QCOMPARE(ReadingLog::formatLine(point), line);
    const std::optional<HistoryPoint> back = ReadingLog::parseLine(line);
    QVERIFY(back);
    QCOMPARE(back->ms, point.ms);
    QCOMPARE(back->celsius, std::round(celsius * 10000) / 10000);
    QCOMPARE(back->rb1, rb1);
    QCOMPARE(back->rb0, rb0);
}

void TestReadingLog::damagedLinesAreSkipped()
{
    for (const char* line :
         {"time,temperature_celsius,rb1,rb0", "", "2026-12-08T23:43:49+09:00",
          "2026-12-08T23:43:49+09:00,hot,1,0", "2026-12-08T23:43:49+09:00,31.25,2,0",
          "2026-13-08T23:43:49+09:00,31.25,1,0", "2026-12-08T23:43:49+09:00,31.25,1,0,extra"})
        QVERIFY2(!ReadingLog::parseLine(line), line);
    // Another program's ISO form still reads.
    QCOMPARE(ReadingLog::parseLine("2026-12-08T14:43:49Z,31.25,1,0")->ms,
             msAt("2026-12-08T23:43:49+09:00"));
}

void TestReadingLog::headerOncePerNewFile()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ZARVIK_Mail.ini"));
    const qint64 evening = msAt("2026-12-08T23:59:58+09:00");
    {
        ReadingLogWriter writer(ini);
        QVERIFY(writer.append({evening, 30.0, false, false}));
    }
    // A restart appends to the same day's file without a second header.
    ReadingLogWriter writer(ini);
    QVERIFY(writer.append({evening + 1000, 30.5, false, true}));
    QVERIFY(writer.append({evening + 3000, 31.0, true, true}));
    QCOMPARE(TestFiles::read(dir.filePath(QStringLiteral("ZARVIK_Mail-2026-12-08.csv"))),
             QByteArray("time,temperature_celsius,rb1,rb0\n"
                        "2026-12-08T23:59:58+09:00,30.0000,0,0\n"
                        "2026-12-08T23:59:59+09:00,30.5000,0,1\n"));
    QCOMPARE(TestFiles::read(dir.filePath(QStringLiteral("ZARVIK_Mail-2026-12-09.csv"))),
             QByteArray("time,temperature_celsius,rb1,rb0\n"
                        "2026-12-09T00:00:01+09:00,31.0000,1,1\n"));
}

void TestReadingLog::loadsTheLastDayFromTwoFiles()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ZARVIK_Mail.ini"));
    QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("ZARVIK_Mail-2026-12-07.csv")),
                             "time,temperature_celsius,rb1,rb0\n"
                             "2026-12-07T10:00:00+09:00,10.0000,0,0\n"
                             "2026-12-07T12:00:01+09:00,11.0000,0,1\n"
                             "2026-12-07T23:59:58+09:00,12.0000,1,0\n"
                             "damaged\n"));
    QVERIFY(TestFiles::write(dir.filePath(QStringLiteral("ZARVIK_Mail-2026-12-08.csv")),
                             "time,temperature_celsius,rb1,rb0\n"
                             "2026-12-08T00:00:00+09:00,13.0000,1,1\n"
                             "2026-12-08T11:59:59+09:00,14.0000,0,0\n"
                             "2026-12-08T12:00:01+09:00,99.0000,0,0"));
    const QList<HistoryPoint> points = ReadingLog::loadRecent(
        ini, msAt("2026-12-08T12:00:00+09:00"), ReadingHistory::DefaultSpanMs);
    QList<double> temperatures;
    for (const HistoryPoint& point : points)
        temperatures.append(point.celsius);
    // The day before the span and anything after now are left out.
    QCOMPARE(temperatures, (QList<double>{11.0, 12.0, 13.0, 14.0}));
    QVERIFY(points[1].rb1 && !points[1].rb0);
}

void TestReadingLog::writeFailureToldOnceThenPausedUntilNextDay()
{
    QTemporaryDir dir;
    // A folder that is a regular file: no one, root included, can create a file in it.
    const QString notAFolder = dir.filePath(QStringLiteral("plain"));
    QVERIFY(TestFiles::write(notAFolder, "x"));
    ReadingLogWriter writer(notAFolder + QStringLiteral("/ZARVIK_Mail.ini"));
    const qint64 noon = msAt("2026-12-08T12:00:00+09:00");
    QString error;
    QVERIFY(!writer.append({noon, 20.0, false, false}, &error));
    QVERIFY2(error.contains(QStringLiteral("plain/ZARVIK_Mail-2026-12-08.csv")), qPrintable(error));
    error.clear();
    QVERIFY(!writer.append({noon + 2000, 20.0, false, false}, &error)); // waits, quietly
    QCOMPARE(error, QString());
    // The next day's file is tried afresh.
    QVERIFY(!writer.append({noon + ReadingHistory::DefaultSpanMs, 20.0, false, false}, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(error.contains(QStringLiteral("ZARVIK_Mail-2026-12-09.csv")));
}

// A disk that filled in the middle of a line: the next line must not be glued to it.
void TestReadingLog::lineCutShortGetsItsEnd()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ZARVIK_Mail.ini"));
    const QString csv = dir.filePath(QStringLiteral("ZARVIK_Mail-2026-12-08.csv"));
    const QByteArray before = "time,temperature_celsius,rb1,rb0\n"
                              "2026-12-08T11:59:56+09:00,20.0000,0,0\n"
                              "2026-12-08T11:59:58+09:00,21.00";
    QVERIFY(TestFiles::write(csv, before));
    const qint64 noon = msAt("2026-12-08T12:00:00+09:00");
    {
        ReadingLogWriter writer(ini);
        QVERIFY(writer.append({noon, 22.0, true, false}));
    }
    QCOMPARE(TestFiles::read(csv), before + "\n2026-12-08T12:00:00+09:00,22.0000,1,0\n");
    QList<double> temperatures;
    for (const HistoryPoint& point :
         ReadingLog::loadRecent(ini, noon, ReadingHistory::DefaultSpanMs))
        temperatures.append(point.celsius);
    QCOMPARE(temperatures, (QList<double>{20.0, 22.0}));
}

// The program makes its log files itself; whatever else lies at a file's name is neither
// followed, nor waited on, nor read: it is a file that cannot be written, said once.
void TestReadingLog::onlyRegularFilesOfOurOwn_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("link to a file") << "link"
                                    << "symbolic link";
    QTest::newRow("link to nowhere") << "dangling"
                                     << "symbolic link";
    QTest::newRow("FIFO") << "fifo"
                          << "not a regular file";
    QTest::newRow("folder") << "folder" << qt_error_string(EISDIR);
}

void TestReadingLog::onlyRegularFilesOfOurOwn()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ZARVIK_Mail.ini"));
    const QString csv = dir.filePath(QStringLiteral("ZARVIK_Mail-2026-12-08.csv"));
    const QString target = dir.filePath(QStringLiteral("elsewhere.csv"));
    const QByteArray other = "time,temperature_celsius,rb1,rb0\n"
                             "2026-12-08T11:00:00+09:00,50.0000,1,1\n";
    QVERIFY(TestFiles::write(target, other));
    if (kind == "link")
        QVERIFY(QFile::link(target, csv));
    else if (kind == "dangling")
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nothing.csv")), csv));
    else if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(csv).constData(), 0644), 0);
    else
        QVERIFY(QDir(dir.path()).mkdir(QFileInfo(csv).fileName()));
    const qint64 noon = msAt("2026-12-08T12:00:00+09:00");

    QVERIFY(ReadingLog::loadRecent(ini, noon, ReadingHistory::DefaultSpanMs).isEmpty());
    ReadingLogWriter writer(ini);
    QString error;
    QVERIFY(!writer.append({noon, 20.0, false, false}, &error));
    QVERIFY2(error.startsWith(csv + ": ") && error.contains(reason), qPrintable(error));
    error.clear();
    QVERIFY(!writer.append({noon + 2000, 20.0, false, false}, &error));
    QCOMPARE(error, QString()); // waits for the next day, quietly
    QCOMPARE(TestFiles::read(target), other);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("nothing.csv"))));
}

QTEST_GUILESS_MAIN(TestReadingLog)
#include "tst_readinglog.moc"
