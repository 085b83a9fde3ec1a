// An error that escapes a handler is reported exactly once, whichever way the handler was
// reached, and the loop goes on.
#include "core/IdlePass.h"
#include "support/BoxWatcher.h"
#include "support/EventWait.h"
#include "support/TestMain.h"

#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <stdexcept>

class TestErrorReport : public QObject {
    Q_OBJECT
private slots:
    void oneErrorOneReport_data();
    void oneErrorOneReport();
};

void TestErrorReport::oneErrorOneReport_data()
{
    QTest::addColumn<QString>("via");
    QTest::newRow("timer") << "timer";
    QTest::newRow("idle pass") << "idle";
    QTest::newRow("button") << "button";
}

void TestErrorReport::oneErrorOneReport()
{
    QFETCH(QString, via);
    BoxWatcher boxes(0);
    int calls = 0;
    const auto failOnce = [&] {
        if (calls++ == 0)
            throw std::runtime_error("failed via " + via.toStdString());
    };

    QTimer timer;
    QPushButton button;
    IdlePass passes([&] {
        if (via == u"idle")
            failOnce();
    });
    if (via == u"timer") {
        connect(&timer, &QTimer::timeout, this, failOnce);
        timer.start(1);
    } else if (via == u"button") {
        connect(&button, &QPushButton::clicked, this, failOnce);
        QTimer::singleShot(0, &button, &QPushButton::click);
    }

    QVERIFY(EventWait::until([&] { return !boxes.boxes().isEmpty(); }, 5000));
    // Later events and passes go on, and bring no second report.
    const quint64 seen = passes.passCount();
    const bool repeats = via == u"timer" || via == u"idle";
    QVERIFY(EventWait::until(
        [&] { return passes.passCount() > seen + 3 && (!repeats || calls > 1); }, 5000));
    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes().first().text, "failed via " + via);
    QCOMPARE(boxes.boxes().first().icon, QMessageBox::Critical);
}

ZARVIK_APP_TEST_MAIN(TestErrorReport)

#include "tst_errorreport.moc"
