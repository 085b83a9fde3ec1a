#include "core/IdlePass.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/MuteMenu.h"
#include "gui/Shell.h"
#include "gui/ToolSettingDlg.h"
#include "mail/MailService.h"
#include "settings/Settings.h"
#include "support/AppHarness.h"
#include "support/BoxWatcher.h"
#include "support/EventWait.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestFiles.h"
#include "support/TestMain.h"
#include "support/WindowFixture.h"

#include <QCheckBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <memory>

using namespace AppHarness;

namespace {

const QString WrongSizeCaption = QStringLiteral("受信したデータに誤りがあります");
const QString WrongSizeText = QStringLiteral("データ数が一致しません");

// A custom event that throws when delivered, like a handler that fails.
class ThrowingObject : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw std::runtime_error("handler failed on purpose");
        return QObject::event(e);
    }
};

} // namespace

class TestMainWindow : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startsWithDesignValues();
    void firstRequestDuringCreationThenEveryTick();
    void repliesUpdateTheDisplay();
    void repliesFromAnySenderAreDecoded();
    void wrongSizeDatagram_data();
    void wrongSizeDatagram();
    void wrongSizeFloodOpensOneBox();
    void errorInHandlerIsReportedAndLoopGoesOn();
    void idlePassesRunInDialogAndMenuNotInBox();
    void unusableBoardAddressSaysWhyOnce();
    void unusableStoredPortShownAtStart();
    void linkFollowsTheDialog();
    void acknowledgeAndMuteWithRealKeys();

private:
    void startShell(const QString& extraSettings = {});
    bool waitForText(QLabel* label, const QString& text);
};

void TestMainWindow::init()
{
    QVERIFY(setUpWindows());
}

void TestMainWindow::cleanup()
{
    QVERIFY2(tearDownWindows(), "a window was left open");
}

void TestMainWindow::startShell(const QString& extraSettings)
{
    openShell(settingsFile(extraSettings));
}

bool TestMainWindow::waitForText(QLabel* label, const QString& text)
{
    return QTest::qWaitFor([&] { return label->text() == text; }, 10000);
}

void TestMainWindow::startsWithDesignValues()
{
    startShell();
    QCOMPARE(m_form->windowTitle(), QStringLiteral("ZARVIK Mail"));
    QCOMPARE(m_form->pos(), QPoint(0, 0));
    QCOMPARE(m_form->NowTemp->text(), QStringLiteral("Now"));
    QVERIFY(!m_form->ChkBoxPB1->isEnabled() && !m_form->ChkBoxPB0->isEnabled());
    QCOMPARE(m_monitor->source().Timer1->interval(), 2000);
    QVERIFY(m_monitor->source().Timer1->isActive());

    const QStringList names = {"ActionMainMenuBar1",
                               "ActionManager1",
                               "ToolSetting",
                               "FileExit1",
                               "Bevel1",
                               "Label1",
                               "NowTemp",
                               "Label7",
                               "Label4",
                               "ChkBoxPB1",
                               "ChkBoxPB0",
                               "EdtMessage",
                               "BtnReset",
                               "StatusBar1"};
    for (const QString& name : names)
        QVERIFY2(m_form->findChild<QObject*>(name), qPrintable(name));
    // The board's link and clock, and the alert mail's client, belong to the watching itself.
    for (const char* name : {"NMUDP1", "Timer1"})
        QVERIFY2(m_monitor->source().findChild<QObject*>(name), name);
    QVERIFY(m_monitor->mail().findChild<QObject*>(QStringLiteral("NMSMTP1")));

    QMenu* file = m_form->ActionMainMenuBar1->findChild<QMenu*>();
    QVERIFY(file);
    QCOMPARE(file->title(), QStringLiteral("ファイル(&F)"));
    const QList<QAction*> items = file->actions();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0]->text(), QStringLiteral("設定(&T)"));
    QCOMPARE(items[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
    QCOMPARE(items[1]->text(), QStringLiteral("終了(&X)"));
    QCOMPARE(items[1]->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));

    // Before any reply the rules see 0.0 and no input bits.
    QCOMPARE(double(m_monitor->readings().NowTempValue), 0.0);
    QCOMPARE(m_monitor->readings().PortBits, 0);
    QVERIFY(m_monitor->alertState().SendFlagUTemp && m_monitor->alertState().SendFlagRB0H);
}

void TestMainWindow::firstRequestDuringCreationThenEveryTick()
{
    m_sim->setSilent(true);
    m_shell = std::make_unique<Shell>(writeSettings(*m_dir, m_sim->port()));
    m_monitor = m_shell->monitor();
    m_form = m_shell->FormZARVIK_Mail();
    QSignalSpy ticks(m_monitor->source().Timer1, &QTimer::timeout);

    QVERIFY(m_sim->waitForRequests(1, 5000));
    QCOMPARE(ticks.count(), 0); // sent during creation, not by the clock
    const SimBoard::Request first = m_sim->requests().first();
    QCOMPARE(first.bytes, QByteArray::fromHex("04a101"));
    QCOMPARE(first.port, m_monitor->source().localPort());

    QVERIFY(m_sim->waitForRequests(3, 10000));
    QVERIFY(ticks.count() >= 2);
    const auto requests = m_sim->requests();
    for (const auto& request : requests)
        QCOMPARE(request.bytes, QByteArray::fromHex("04a101"));
    const qint64 gap = requests[2].ms - requests[1].ms;
    QVERIFY2(gap > 1500 && gap < 2500, qPrintable(QString::number(gap)));
}

void TestMainWindow::repliesUpdateTheDisplay()
{
    QVERIFY(m_sim->setRaw(300));
    QVERIFY(m_sim->setBits(3));
    startShell();
    QVERIFY(waitForText(m_form->NowTemp, QStringLiteral("146.5 ℃")));
    QCOMPARE(m_form->StatusPanel0->text(),
             QStringLiteral("ZARVIK Status : 000 003 000 000 001 02C 000 000 "));
    QVERIFY(m_form->ChkBoxPB1->isChecked());
    QVERIFY(m_form->ChkBoxPB0->isChecked());
    QCOMPARE(double(m_monitor->readings().NowTempValue), 146.484375);

    QVERIFY(m_sim->setRaw(10));
    QVERIFY(m_sim->setBits(2));
    QVERIFY(m_sim->push());
    QVERIFY(waitForText(m_form->NowTemp, QStringLiteral(" 4.9 ℃")));
    QVERIFY(m_form->ChkBoxPB1->isChecked());
    QVERIFY(!m_form->ChkBoxPB0->isChecked());
    QCOMPARE(m_monitor->readings().PrevPortBits, 3);
    QCOMPARE(m_monitor->readings().PortBits, 2);
}

void TestMainWindow::repliesFromAnySenderAreDecoded()
{
    startShell();
    QVERIFY(m_sim->waitForRequests(1, 5000));
    SimBoard other;
    QVERIFY(other.start());
    QVERIFY(other.setRaw(600));
    QVERIFY(other.pushTo(QHostAddress::LocalHost, m_monitor->source().localPort()));
    QVERIFY(waitForText(m_form->NowTemp, QStringLiteral("293.0 ℃")));
}

void TestMainWindow::wrongSizeDatagram_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("7 bytes") << 7;
    QTest::newRow("9 bytes") << 9;
    QTest::newRow("1500 bytes") << 1500;
}

void TestMainWindow::wrongSizeDatagram()
{
    QFETCH(int, size);
    QVERIFY(m_sim->setRaw(300));
    startShell();
    QVERIFY(waitForText(m_form->NowTemp, QStringLiteral("146.5 ℃")));
    const QString status = m_form->StatusPanel0->text();

    QVERIFY(m_sim->setRaw(0));
    QString caption, text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::Critical;
    whenModalOpens([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        caption = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        icon = box->icon();
    });
    QVERIFY(m_sim->push(size));
    QTRY_COMPARE_WITH_TIMEOUT(text, WrongSizeText, 10000);
    QCOMPARE(caption, WrongSizeCaption);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(m_form->NowTemp->text(), QStringLiteral("146.5 ℃"));
    QCOMPARE(m_form->StatusPanel0->text(), status);
    QCOMPARE(double(m_monitor->readings().NowTempValue), 146.484375);
}

void TestMainWindow::wrongSizeFloodOpensOneBox()
{
    QVERIFY(m_sim->setRaw(300));
    startShell();
    QVERIFY(waitForText(m_form->NowTemp, QStringLiteral("146.5 ℃")));

    int mostOpen = 0;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, this, [&] {
        int open = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            open += qobject_cast<QMessageBox*>(w) && w->isVisible();
        mostOpen = std::max(mostOpen, open);
    });
    watcher.start(5);

    bool decodedWhileOpen = false;
    whenModalOpens([&](QWidget*) {
        for (int i = 0; i < 50; ++i)
            m_sim->push(i % 2 ? 9 : 3);
        // A correct reply among them is still decoded while the box is open.
        m_sim->setRaw(600);
        m_sim->push();
        decodedWhileOpen = waitForText(m_form->NowTemp, QStringLiteral("293.0 ℃"));
        QTest::qWait(200);
    });
    QVERIFY(m_sim->push(7));
    QTRY_VERIFY_WITH_TIMEOUT(decodedWhileOpen, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == nullptr, 5000);
    QCOMPARE(mostOpen, 1);
}

void TestMainWindow::errorInHandlerIsReportedAndLoopGoesOn()
{
    startShell();
    ThrowingObject thrower;
    QString reported;
    whenModalOpens([&](QWidget* modal) { reported = messageBoxText(modal); });
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QTRY_COMPARE_WITH_TIMEOUT(reported, QStringLiteral("handler failed on purpose"), 10000);

    // The loop goes on: the next reply is still decoded.
    QVERIFY(m_sim->setRaw(300));
    QVERIFY(m_sim->push());
    QVERIFY(waitForText(m_form->NowTemp, QStringLiteral("146.5 ℃")));
}

void TestMainWindow::idlePassesRunInDialogAndMenuNotInBox()
{
    startShell();
    const IdlePass* passes = m_monitor->idlePass();
    QVERIFY(passes);

    // Inside the modal settings dialog opened by Ctrl+T.
    quint64 inDialog = 0;
    bool wasModal = false;
    whenModalOpens([&](QWidget* modal) {
        wasModal = modal == m_shell->ToolSettingDlg();
        const quint64 before = passes->passCount();
        runEventLoop(300);
        inDialog = passes->passCount() - before;
    });
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form));
    QTest::keyClick(m_form, Qt::Key_T, Qt::ControlModifier);
    QVERIFY(wasModal);
    QVERIFY(inDialog > 0);

    // While the File menu is open.
    QMenu* file = m_form->ActionMainMenuBar1->findChild<QMenu*>();
    file->popup(QPoint(0, 0));
    QVERIFY(QTest::qWaitForWindowExposed(file));
    const quint64 beforeMenu = passes->passCount();
    QVERIFY(m_sim->push());
    QVERIFY(QTest::qWaitFor([&] { return passes->passCount() > beforeMenu; }, 5000));
    file->close();

    // Not while the program's own message box is open, even as replies arrive.
    quint64 inBox = 1;
    whenModalOpens([&](QWidget*) {
        const quint64 before = passes->passCount();
        for (int i = 0; i < 5; ++i) {
            m_sim->push();
            runEventLoop(50);
        }
        inBox = passes->passCount() - before;
    });
    QVERIFY(m_sim->push(5));
    QTRY_COMPARE_WITH_TIMEOUT(inBox, quint64(0), 10000);
}

void TestMainWindow::unusableBoardAddressSaysWhyOnce()
{
    startShell();
    TToolSettingDlg* dialog = m_shell->ToolSettingDlg();
    m_sim->setSilent(true);
    dialog->EdtPicPort->setText(QStringLiteral("70000"));
    m_monitor->source().GetTemp();
    const QString why = m_form->StatusPanel0->text();
    QVERIFY2(why.contains(QStringLiteral("70000")), qPrintable(why));
    m_form->StatusPanel0->clear();
    m_monitor->source().GetTemp();
    QCOMPARE(m_form->StatusPanel0->text(), QString()); // once per change, not per tick

    dialog->EdtPicPort->setText(QString::number(m_sim->port()));
    dialog->EdtPicAddr->setText(QStringLiteral("no-such-host.invalid"));
    m_monitor->source().GetTemp();
    QVERIFY(QTest::qWaitFor(
        [&] { return m_form->StatusPanel0->text().contains(QStringLiteral("no-such-host")); },
        10000));
}

void TestMainWindow::unusableStoredPortShownAtStart()
{
    // The first request goes out before the status bar exists; its problem must still show.
    const QString path = writeSettings(*m_dir, m_sim->port());
    QVERIFY(TestFiles::write(path, "[ZARVIK]\r\nAddress=127.0.0.1\r\nPort=abc\r\n"));
    m_shell = std::make_unique<Shell>(path);
    m_form = m_shell->FormZARVIK_Mail();
    QVERIFY2(m_form->StatusPanel0->text().contains(QStringLiteral("\"abc\"")),
             qPrintable(m_form->StatusPanel0->text()));
}

void TestMainWindow::linkFollowsTheDialog()
{
    startShell();
    QVERIFY(m_sim->waitForRequests(1, 5000));
    SimBoard second;
    QVERIFY(second.start());
    m_shell->ToolSettingDlg()->EdtPicPort->setText(QString::number(second.port()));
    m_shell->ToolSettingDlg()->EdtPicAddr->setText(QStringLiteral("localhost"));
    m_monitor->source().GetTemp();
    QVERIFY(second.waitForRequests(1, 5000));
    QCOMPARE(second.requests().first().bytes, QByteArray::fromHex("04a101"));
}

// The alarm is there from the start: Ctrl+K acknowledges it, and the watch menu mutes by its
// mnemonics, for an hour, until a typed time (a wrong one is refused in a box), and ends it.
void TestMainWindow::acknowledgeAndMuteWithRealKeys()
{
    QVERIFY(m_sim->setTemperature(31.5));
    BoxWatcher boxes(0);
    boxes.setAnswer(BoxWatcher::Answer::Enter);
    SmtpServer server;
    QVERIFY(server.isListening());
    startShell(
        QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n[Mail]\nAddress=%1\nFrom=z@example.com\n"
                       "To=ops@example.com\n")
            .arg(server.hostPort()));
    QVERIFY(EventWait::until([&] { return m_form->BtnAck->isEnabled(); }));
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form));
    QTest::keyClick(m_form, Qt::Key_K, Qt::ControlModifier);
    QVERIFY(!m_form->BtnAck->isEnabled());
    QVERIFY(
        m_form->StatusBar1->currentMessage().endsWith(QStringLiteral("Acknowledged: Over 30C")));

    // Alt+W, then each menu's own letter.
    const auto choose = [&](Qt::Key entry) {
        m_form->activateWindow();
        if (!QTest::qWaitForWindowActive(m_form))
            return false;
        QTest::keyClick(m_form, Qt::Key_W, Qt::AltModifier);
        for (const Qt::Key key : {Qt::Key_N, entry}) {
            if (!QTest::qWaitFor([] { return QApplication::activePopupWidget(); }, 5000))
                return false;
            QTest::keyClick(QApplication::activePopupWidget(), key);
        }
        return true;
    };
    const auto typeTime = [&](const QString& text) {
        if (!choose(Qt::Key_T))
            return false;
        auto* ask = m_form->findChild<QInputDialog*>(QStringLiteral("MuteUntilDialog"));
        if (!ask || !QTest::qWaitFor([&] { return ask->isVisible(); }, 5000))
            return false;
        QTest::keyClicks(ask->focusWidget(), text);
        QTest::keyClick(ask->focusWidget(), Qt::Key_Return);
        return QTest::qWaitFor([&] { return !ask->isVisible(); }, 5000);
    };
    QVERIFY(!m_form->LabelMute->isVisible());
    QVERIFY(choose(Qt::Key_1));
    QVERIFY(m_form->LabelMute->isVisible());
    // With the date only when the end is not today.
    const QString hour =
        QDateTime::fromMSecsSinceEpoch(m_monitor->mutedUntilMs()).toString(QStringLiteral("HH:mm"));
    QVERIFY(m_form->LabelMute->text().startsWith(QStringLiteral("通知停止中: ")) &&
            m_form->LabelMute->text().endsWith(hour + QStringLiteral(" まで")));
    QVERIFY(typeTime(QStringLiteral("25:00")));
    QVERIFY(EventWait::until([&] { return boxes.boxes().size() == 1 && boxes.openNow() == 0; }));
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("'25:00' は時刻ではありません (例 14:30)")});
    QVERIFY(typeTime(QStringLiteral("23:59")));
    QVERIFY2(m_form->LabelMute->text().endsWith(QStringLiteral("23:59 まで")),
             qPrintable(m_form->LabelMute->text()));
    QVERIFY(choose(Qt::Key_E));
    QVERIFY(!m_form->LabelMute->isVisible());
    QCOMPARE(m_monitor->mutedUntilMs(), 0);
    QCOMPARE(boxes.forcedClosures(), 0);
}

ZARVIK_APP_TEST_MAIN(TestMainWindow)

#include "tst_mainwindow.moc"
