// Desktop notifications, end to end: the real windows and simulated board, and a notification
// server of the test's own on a private session bus (the test runs under dbus-run-session).

#include "alert/AlertRules.h"
#include "gui/FormZARVIK_Mail.h"
#include "gui/Memo.h"
#include "gui/Shell.h"
#include "gui/ToolSettingDlg.h"
#include "monitor/DesktopNotifier.h"
#include "support/BoxWatcher.h"
#include "support/EventWait.h"
#include "support/SimBoard.h"
#include "support/TestMain.h"
#include "support/WindowFixture.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <optional>

namespace {

constexpr int PollMs = 100;

// org.freedesktop.Notifications on a connection of its own, keeping every Notify call. Only a
// call with the interface's own argument types (susssasa{sv}i) reaches Notify.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Note {
        QString appName;
        QString summary;
        QString body;
        int urgency = -1; // the hint, or -1 without one
    };

    ~NotificationServer() override { stop(); }

    bool start()
    {
        m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, ConnectionName);
        return m_bus->isConnected() &&
               m_bus->registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                     QDBusConnection::ExportAllSlots) &&
               m_bus->registerService(QStringLiteral("org.freedesktop.Notifications"));
    }

    void stop()
    {
        if (!m_bus)
            return;
        m_bus.reset();
        QDBusConnection::disconnectFromBus(ConnectionName);
    }

    QList<Note> notes;

public slots:
    uint Notify(const QString& appName, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int)
    {
        const QVariant urgency = hints.value(QStringLiteral("urgency"));
        notes << Note{appName, summary, body, urgency.isValid() ? urgency.toInt() : -1};
        return uint(notes.size());
    }

private:
    static inline const QString ConnectionName = QStringLiteral("test-notification-server");
    std::optional<QDBusConnection> m_bus;
};

} // namespace

class TestNotifications : public QObject, private WindowFixture {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void onePerFiredPass();
    void offUntilTicked();
    void withoutAServerNothingHappens();
    void recoveredNoticesAreNormal();

private:
    // Over the upper limit with RB0 H from the first reply; the rules fire without mailing.
    void startShell(const QString& watchLines);
    // The rules fired in `passes` passes so far, and the server has had one notification for
    // each from pass `firstShown` (0-based) on.
    void checkOnePerPass(int passes, int firstShown = 0);

    std::unique_ptr<NotificationServer> m_server;
    std::unique_ptr<BoxWatcher> m_boxes;
    std::unique_ptr<QSignalSpy> m_fired;
};

void TestNotifications::initTestCase()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(),
             "no session bus: run under dbus-run-session");
}

void TestNotifications::init()
{
    QVERIFY(setUpWindows());
    m_server = std::make_unique<NotificationServer>();
    m_boxes = std::make_unique<BoxWatcher>(0);
}

void TestNotifications::cleanup()
{
    m_fired.reset();
    m_shell.reset();
    m_boxes.reset();
    m_server.reset();
    QVERIFY2(tearDownWindows(), "a window was left open");
}

void TestNotifications::startShell(const QString& watchLines)
{
    QVERIFY(m_sim->setTemperature(31.5));
    QVERIFY(m_sim->setBits(1));
    openShell(
        settingsFile(QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n[Sensor]\nRB0=0\n") + watchLines),
        PollMs);
    m_fired = std::make_unique<QSignalSpy>(m_monitor, &Monitor::rulesFired);
    m_dialog->MemoUTemp->setText(QString());
    m_dialog->MemoChgRB0->setText(QString());
}

void TestNotifications::checkOnePerPass(int passes, int firstShown)
{
    const int shown = passes - firstShown;
    QVERIFY(EventWait::until([&] { return m_fired->count() >= passes; }));
    QVERIFY(EventWait::until([&] { return m_server->notes.size() >= shown; }));
    QVERIFY(waitForPolls(3));
    QCOMPARE(m_fired->count(), passes);
    QCOMPARE(m_server->notes.size(), shown);
    for (int i = 0; i < shown; ++i) {
        const NotificationServer::Note& note = m_server->notes.at(i);
        const QList<QVariant>& pass = m_fired->at(firstShown + i);
        QCOMPARE(note.appName, QString::fromLatin1(DesktopNotifier::AppName));
        QCOMPARE(note.summary, pass.at(1).toString());
        QCOMPARE(note.body, pass.at(2).toString());
        QCOMPARE(note.urgency, 2); // an alert stays until dismissed
    }
}

void TestNotifications::onePerFiredPass()
{
    QVERIFY(m_server->start());
    startShell(QStringLiteral("[Watch]\nNotify=1\n"));
    // Two rules in the first pass: one notification.
    checkOnePerPass(1);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(m_fired->first().at(0).toInt(), RuleUpper | RuleRb0High);
    QVERIFY(!m_server->notes.first().summary.isEmpty());
    QCOMPARE(m_server->notes.first().body, QStringLiteral("Over 30C RB0 is \"H\". "));

    // Reset: the limit fires again, RB0 stays H and does not.
    QTest::mouseClick(m_form->BtnReset, Qt::LeftButton);
    checkOnePerPass(2);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(m_server->notes.last().body, QStringLiteral("Over 30C "));
    QCOMPARE(m_boxes->texts(), QStringList());
}

void TestNotifications::offUntilTicked()
{
    QVERIFY(m_server->start());
    startShell({});
    QVERIFY(EventWait::until([&] { return m_fired->count() == 1; }));
    QVERIFY(waitForPolls(3));
    QCOMPARE(m_server->notes.size(), 0);

    m_dialog->ChkBoxNotify->setChecked(true);
    QTest::mouseClick(m_form->BtnReset, Qt::LeftButton);
    checkOnePerPass(2, 1);
}

void TestNotifications::withoutAServerNothingHappens()
{
    startShell(QStringLiteral("[Watch]\nNotify=1\n"));
    QVERIFY(EventWait::until([&] { return m_fired->count() == 1; }));
    QVERIFY(waitForPolls(3));
    QCOMPARE(m_boxes->texts(), QStringList());

    // Nothing was kept back for a server that comes later: the next pass brings one.
    QVERIFY(m_server->start());
    QTest::mouseClick(m_form->BtnReset, Qt::LeftButton);
    checkOnePerPass(2, 1);
}

// Both rules clear and re-arm by themselves: one normal notification each, after the alert's.
void TestNotifications::recoveredNoticesAreNormal()
{
    QVERIFY(m_server->start());
    startShell(QStringLiteral("[Watch]\nNotify=1\nReArm=1\nReArmSec=0\n"));
    checkOnePerPass(1);
    QVERIFY(m_sim->setTemperature(20));
    QVERIFY(m_sim->setBits(0));
    QVERIFY(EventWait::until([&] { return m_server->notes.size() == 3; }));
    QStringList bodies;
    for (const NotificationServer::Note& note : m_server->notes.mid(1)) {
        QCOMPARE(note.urgency, 1);
        bodies << note.body;
    }
    bodies.sort();
    QCOMPARE(bodies, (QStringList{QStringLiteral("Recovered: Over 30C"),
                                  QStringLiteral("Recovered: RB0 is \"H\".")}));
    QCOMPARE(m_form->EdtMessage->text().endsWith(QStringLiteral("に戻りました")) ||
                 m_form->EdtMessage->text().endsWith(QStringLiteral("戻りました。")),
             true);
}

ZARVIK_APP_TEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
