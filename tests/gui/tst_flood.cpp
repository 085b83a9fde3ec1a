// A flood of datagrams of every size at the real window: it must keep one error box at most,
// keep serving events, still decode the correct replies among the junk and not grow without
// bound.
#include "gui/FormZARVIK_Mail.h"
#include "gui/Shell.h"
#include "support/AppHarness.h"
#include "support/BoxWatcher.h"
#include "support/EventWait.h"
#include "support/SimBoard.h"
#include "support/TestMain.h"
#include "support/WindowFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

#ifdef ZARVIK_SANITIZED
constexpr int Datagrams = 20000; // still far more than the queue holds
#else
constexpr int Datagrams = 100000;
#endif
constexpr int ValidEvery = 1000;
constexpr int ValidRaw = 123; // 60.1 C
const QString ValidText = QStringLiteral("60.1 ℃");
constexpr int FloodSeconds = 60;
constexpr qint64 MaxGapMs = 2000;     // liveness: the loop must come round within this
constexpr qint64 MaxGrowthKb = 51200; // resident memory growth allowed over the flood

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QString floodTool()
{
    return qEnvironmentVariable("ZARVIK_TOOLS_BIN", QStringLiteral("tools")) +
           QStringLiteral("/udp-flood");
}

} // namespace

class TestFlood : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void floodLeavesTheWindowUsable_data();
    void floodLeavesTheWindowUsable();
};

void TestFlood::init()
{
    QVERIFY(setUpWindows());
}

void TestFlood::cleanup()
{
    QVERIFY2(tearDownWindows(), "a window was left open");
}

void TestFlood::floodLeavesTheWindowUsable_data()
{
    QTest::addColumn<int>("rate");         // datagrams per second; 0: as fast as the sender can
    QTest::addColumn<int>("closeAfterMs"); // how long each error box stays open
    QTest::newRow("unpaced, box left open") << 0 << -1;
    QTest::newRow("paced, boxes closed and reopened") << 25000 << 300;
}

void TestFlood::floodLeavesTheWindowUsable()
{
    QFETCH(int, rate);
    QFETCH(int, closeAfterMs);
    QVERIFY2(QFile::exists(floodTool()), qPrintable(floodTool() + " is missing: build udp-flood"));

    // The board stays quiet, so only the flood's correct replies can change the display.
    QVERIFY(m_sim->setSilent(true));
    openShell(settingsFile());
    QVERIFY(m_sim->waitForRequests(1, 5000));
    AppHarness::runEventLoop(200);
    const qint64 memoryBefore = residentKb();
    QVERIFY(memoryBefore > 0);

    BoxWatcher boxes(closeAfterMs);
    QElapsedTimer clock;
    clock.start();
    qint64 lastBeat = 0;
    qint64 largestGap = 0;
    QTimer heartbeat;
    connect(&heartbeat, &QTimer::timeout, this, [&] {
        const qint64 now = clock.elapsed();
        largestGap = std::max(largestGap, now - lastBeat);
        lastBeat = now;
    });
    heartbeat.start(50);

    QProcess flood;
    flood.start(floodTool(),
                {QStringLiteral("--port"), QString::number(m_monitor->source().localPort()),
                 QStringLiteral("--count"), QString::number(Datagrams), QStringLiteral("--sockets"),
                 QStringLiteral("4"), QStringLiteral("--max-size"), QStringLiteral("1500"),
                 QStringLiteral("--valid-every"), QString::number(ValidEvery),
                 QStringLiteral("--valid-raw"), QString::number(ValidRaw), QStringLiteral("--rate"),
                 QString::number(rate), QStringLiteral("--seconds"),
                 QString::number(FloodSeconds)});
    QVERIFY2(flood.waitForStarted(5000), qPrintable(flood.errorString()));
    // A box may hold the waiting loop below its own, so the boxes are closed from a timer: once
    // the flood is over and what arrived has been handled.
    QElapsedTimer sinceEnd;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (flood.state() != QProcess::NotRunning)
            return;
        if (!sinceEnd.isValid())
            sinceEnd.start();
        if (sinceEnd.elapsed() >= 500)
            boxes.closeAll();
    });
    closer.start(20);
    const bool ended = EventWait::until(
        [&] { return sinceEnd.isValid() && sinceEnd.elapsed() >= 500 && boxes.openNow() == 0; },
        (FloodSeconds + 30) * 1000);
    closer.stop();
    heartbeat.stop();
    if (!ended) {
        flood.kill();
        flood.waitForFinished(5000);
        boxes.closeAll();
    }
    QVERIFY2(ended, "the flood did not end by itself");
    const QString summary = QString::fromUtf8(flood.readAllStandardOutput()).trimmed();
    QCOMPARE(flood.exitCode(), 0);
    QVERIFY2(summary.startsWith(QStringLiteral("sent %1 ").arg(Datagrams)), qPrintable(summary));

    QVERIFY(!boxes.boxes().isEmpty());
    QCOMPARE(boxes.mostOpenAtOnce(), 1);
    QVERIFY2(largestGap < MaxGapMs,
             qPrintable(QStringLiteral("the event loop stalled for %1 ms").arg(largestGap)));
    QCOMPARE(m_form->NowTemp->text(), ValidText);
    const qint64 growth = residentKb() - memoryBefore;
#ifndef __SANITIZE_ADDRESS__ // AddressSanitizer keeps freed memory in quarantine on purpose
    QVERIFY2(growth < MaxGrowthKb, qPrintable(QStringLiteral("grew by %1 kB").arg(growth)));
#endif

    // Afterwards the board's own replies are shown again.
    QVERIFY(m_sim->setSilent(false));
    QVERIFY(m_sim->setRaw(300));
    QVERIFY(m_sim->push());
    QVERIFY(QTest::qWaitFor([&] { return m_form->NowTemp->text() == u"146.5 ℃"; }, 5000));
    qInfo().noquote() << summary << "- boxes:" << boxes.boxes().size()
                      << "largest gap:" << largestGap << "ms, memory growth:" << growth << "kB";
}

ZARVIK_APP_TEST_MAIN(TestFlood)

#include "tst_flood.moc"
