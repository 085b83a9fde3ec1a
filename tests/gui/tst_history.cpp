#include "gui/FormChart.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/Shell.h"
#include "gui/ToolSettingDlg.h"
#include "history/HistoryRecorder.h"
#include "history/ReadingLog.h"
#include "support/EventWait.h"
#include "support/TestFiles.h"
#include "support/TestMain.h"
#include "support/WindowFixture.h"

#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QMenuBar>
#include <QScatterSeries>
#include <QStatusBar>
#include <QTabWidget>
#include <QtTest>

namespace {

const QString LogOn = QStringLiteral("[Watch]\nLog=1\n");
constexpr int PollMs = 100;

QList<QByteArray> csvRows(const QString& settingsPath)
{
    QList<QByteArray> lines =
        TestFiles::read(ReadingLog::filePathFor(settingsPath, QDate::currentDate())).split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

// Every point the chart holds on its temperature lines, oldest first.
QList<QPointF> chartTemperatures(const FormChart* chart)
{
    QList<QPointF> points;
    for (const FormChart::Segment& segment : chart->segments())
        points += segment.temp->points().mid(segment.joined ? 1 : 0);
    return points;
}

} // namespace

class TestHistory : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init() { QVERIFY(setUpWindows()); }
    void cleanup() { QVERIFY2(tearDownWindows(), "a window was left open"); }

    void logOffWritesNoFile();
    void everyReplyLoggedAndBackAfterRestart();
    void unwritableLogToldOnceAndPollingGoesOn();
    void chartOpensFromTheMenuAndFollowsReplies();
    void chartDrawsLimitsMarksAndSilences();

private:
    FormChart* openChartWithCtrlG();
};

void TestHistory::logOffWritesNoFile()
{
    openShell(settingsFile(), PollMs);
    QVERIFY(waitForPolls(3));
    QVERIFY(m_monitor->history().history().points().size() >= 3);
    QCOMPARE(TestFiles::entries(m_dir->path()).filter(QStringLiteral(".csv")), QStringList());
}

void TestHistory::everyReplyLoggedAndBackAfterRestart()
{
    const QString ini = settingsFile(LogOn);
    QVERIFY(m_sim->setTemperature(31.25));
    QVERIFY(m_sim->setBits(2)); // RB1 high, RB0 low
    openShell(ini, PollMs);
    QVERIFY(m_dialog->ChkBoxLog->isChecked());
    QVERIFY(waitForPolls(3));
    QVERIFY(m_sim->setBits(1));
    QVERIFY(waitForPolls(2));
    m_monitor->source().Timer1->stop();

    const auto& points = m_monitor->history().history().points();
    QList<QByteArray> rows = csvRows(ini);
    QCOMPARE(rows.value(0), QByteArray("time,temperature_celsius,rb1,rb0"));
    rows.removeFirst();
    QCOMPARE(size_t(rows.size()), points.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const HistoryPoint& point = points[size_t(i)];
        QCOMPARE(rows[i], ReadingLog::formatLine(point).chopped(1));
        QVERIFY(rows[i].contains(point.rb1 ? ",31.2500,1,0" : ",31.2500,0,1"));
    }
    QVERIFY(rows.first().endsWith(",31.2500,1,0"));
    QVERIFY(rows.last().endsWith(",31.2500,0,1"));

    const QList<qint64> seconds = [&] {
        QList<qint64> s;
        for (const HistoryPoint& point : points)
            s.append(point.ms / 1000);
        return s;
    }();
    m_shell.reset();
    openShell(ini, PollMs);
    m_monitor->source().Timer1->stop();
    const auto& loaded = m_monitor->history().history().points();
    QVERIFY(loaded.size() >= size_t(seconds.size()));
    for (qsizetype i = 0; i < seconds.size(); ++i) {
        QCOMPARE(loaded[size_t(i)].ms / 1000, seconds[i]);
        QCOMPARE(loaded[size_t(i)].celsius, 31.25);
    }
}

void TestHistory::unwritableLogToldOnceAndPollingGoesOn()
{
    const QString ini = settingsFile(LogOn);
    // A folder in the way of today's file.
    QVERIFY(QDir().mkpath(ReadingLog::filePathFor(ini, QDate::currentDate())));
    openShell(ini, PollMs);
    // Said beside the readings for as long as it holds, the reply dump still in view.
    const QLabel* note = m_form->LabelNotes;
    QVERIFY(EventWait::until([&] { return note->isVisible(); }));
    QVERIFY2(note->toolTip().startsWith(QStringLiteral("CSV に記録できません: ")),
             qPrintable(note->toolTip()));
    const size_t before = m_monitor->history().history().points().size();
    QVERIFY(waitForPolls(3));
    QVERIFY(note->isVisible());
    QCOMPARE(m_form->StatusBar1->currentMessage(), QString());
    QVERIFY(m_monitor->history().history().points().size() >= before + 2);

    // Turning the log off ends it.
    m_dialog->show();
    m_dialog->PageCtrl1->setCurrentWidget(m_dialog->TabWatch);
    QTest::mouseClick(m_dialog->ChkBoxLog, Qt::LeftButton, {}, QPoint(5, 8));
    QVERIFY(!m_dialog->ChkBoxLog->isChecked());
    QVERIFY(EventWait::until([&] { return !note->isVisible(); }));
    QTest::keyClick(m_dialog, Qt::Key_Escape);
}

FormChart* TestHistory::openChartWithCtrlG()
{
    // From the message box, whose own keys would otherwise come first.
    m_form->activateWindow();
    if (!QTest::qWaitForWindowActive(m_form))
        return nullptr;
    m_form->EdtMessage->setFocus();
    QTest::keyClick(m_form->windowHandle(), Qt::Key_G, Qt::ControlModifier);
    return m_shell->Chart();
}

void TestHistory::chartOpensFromTheMenuAndFollowsReplies()
{
    openShell(settingsFile(), PollMs);
    // After "ファイル(&F)", holding the one item; "監視(&W)" follows.
    const QList<QAction*> menus = m_form->ActionMainMenuBar1->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus[1]->text(), QStringLiteral("表示(&V)"));
    QCOMPARE(menus[1]->menu()->actions(), QList<QAction*>{m_form->ViewChart});
    QCOMPARE(m_form->ViewChart->text(), QStringLiteral("グラフ(&G)"));
    QCOMPARE(m_form->ViewChart->shortcut(), QKeySequence(QStringLiteral("Ctrl+G")));

    QVERIFY(m_sim->setTemperature(20.0));
    QVERIFY(waitForPolls(3));
    FormChart* chart = openChartWithCtrlG();
    QVERIFY(chart);
    QVERIFY(chart->isVisible());
    QCOMPARE(chart->objectName(), QStringLiteral("FormChart"));
    QCOMPARE(chart->windowTitle(), QStringLiteral("ZARVIK Mail - グラフ"));
    QVERIFY(!chart->isModal());
    QCOMPARE(chartTemperatures(chart).size(),
             qsizetype(m_monitor->history().history().points().size()));

    // Live replies are appended; the inputs step on their own axis.
    QVERIFY(m_sim->setTemperature(40.0));
    QVERIFY(m_sim->setBits(2));
    QVERIFY(waitForPolls(2));
    const QList<QPointF> temps = chartTemperatures(chart);
    QCOMPARE(temps.size(), qsizetype(m_monitor->history().history().points().size()));
    QCOMPARE(temps.last().y(), double(m_monitor->readings().NowTempValue));
    QVERIFY(std::abs(temps.last().y() - 40.0) < 0.5);
    QCOMPARE(temps.last().x(), double(m_monitor->history().history().points().back().ms));
    const FormChart::Segment& line = chart->segments().back();
    QCOMPARE(line.rb1->points().last().y(), 1.0);
    QCOMPARE(line.rb0->points().last().y(), 0.0);
    QCOMPARE(line.rb1->attachedAxes().last()->objectName(), QStringLiteral("AxisBits"));
    for (QAbstractSeries* series : chart->Chart->series())
        QVERIFY2(!series->objectName().isEmpty(), qPrintable(series->name()));

    // Another view is built from the history alone.
    chart->CmbChartSpan->setCurrentIndex(FormChart::OneDay);
    QVERIFY(!chartTemperatures(chart).isEmpty());
    QCOMPARE(chartTemperatures(chart).first().y(),
             m_monitor->history().history().points().front().celsius);
    chart->close();
    QVERIFY(chart->segments().empty()); // nothing kept while closed
    QVERIFY(m_form->isVisible());
}

void TestHistory::chartDrawsLimitsMarksAndSilences()
{
    openShell(settingsFile(), PollMs);
    QVERIFY(waitForPolls(2));
    m_monitor->source().Timer1->stop();
    m_form->ViewChart->trigger();
    FormChart* chart = m_shell->Chart();
    QVERIFY(chart && chart->isVisible());

    QVERIFY(!chart->UpperLimitLine->isVisible());
    m_dialog->EditUTemp->setText(QStringLiteral("35"));
    m_dialog->ChkBoxUTemp->setChecked(true);
    // The chart draws the limits in force: a text set by the program is, once events are served.
    QTRY_VERIFY(chart->UpperLimitLine->isVisible());
    QTRY_COMPARE(chart->UpperLimitLine->points().first().y(), 35.0);
    m_dialog->EditUTemp->setText(QStringLiteral("abc")); // not a limit the rules use
    QTRY_VERIFY(!chart->UpperLimitLine->isVisible());
    m_dialog->EditLTemp->setText(QStringLiteral("-5"));
    m_dialog->ChkBoxLTemp->setChecked(true);
    QTRY_COMPARE(chart->LowerLimitLine->points().last().y(), -5.0);

    emit m_monitor->rulesFired(RuleUpper, QStringLiteral("温度が 35℃を超えました。"),
                               QStringLiteral("Over 35C "));
    QCOMPARE(chart->RuleMarkers->count(), 1);
    QCOMPARE(chart->markTexts().front(), QStringLiteral("温度が 35℃を超えました。"));

    // A reply after more than three poll periods of silence starts a new line.
    const qsizetype segments = qsizetype(chart->segments().size());
    const qint64 last = m_monitor->history().history().points().back().ms;
    m_monitor->history().recordReply(last + 7000, 21.0, false, false);
    m_monitor->history().recordReply(last + 9000, 21.5, false, false);
    QCOMPARE(qsizetype(chart->segments().size()), segments + 1);
    QCOMPARE(chart->segments().back().temp->count(), 2);
    chart->close();
}

ZARVIK_APP_TEST_MAIN(TestHistory)
#include "tst_history.moc"
