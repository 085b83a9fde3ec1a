// The program installed under a root-owned prefix, as a package puts it, and started by an
// ordinary user on a display: the settings, the lock and the log go to the user's own folders.
// The test makes its own network namespace first; every settings file names 127.0.0.1.
#include "support/ChildProcess.h"
#include "support/RealProgram.h"
#include "support/SimBoard.h"
#include "support/TestFiles.h"
#include "support/Unprivileged.h"
#include "support/VirtualDisplay.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <unistd.h>

namespace {

QString g_isolationProblem;

const QString AlreadyRunning = QStringLiteral("ZARVIK Mail は既に起動しています。");

QByteArray settingsText(quint16 boardPort, const QString& extra = {})
{
    QString text = QStringLiteral("[ZARVIK]\nAddress=127.0.0.1\nPort=%1\n").arg(boardPort) + extra;
    return text.replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toUtf8();
}

} // namespace

class TestE2eInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void settingsPath_data();
    void settingsPath();
    void settingsInTheUsersFolders();

private:
    // Runs `program` as the ordinary user (or as root) with the user's environment.
    void start(QProcess& process, const QString& program, const QStringList& arguments = {},
               const QString& display = {}, bool asUser = true);
    QString seed() const
    {
        return m_root.filePath(QStringLiteral("xdg/zarvik-mail/ZARVIK_Mail.ini"));
    }
    bool chown(const QString& path) const
    {
        return ::chown(QFile::encodeName(path), m_user.uid, m_user.gid) == 0;
    }

    QTemporaryDir m_root;
    QString m_home;
    QString m_program; // the installed window's executable
    User m_user = unprivilegedUser();
    std::unique_ptr<SimBoard> m_sim;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

void TestE2eInstall::initTestCase()
{
    if (!g_isolationProblem.isEmpty())
        QSKIP(qPrintable(g_isolationProblem));
    if (::geteuid() != 0)
        QSKIP("needs root: a root-owned prefix and another user to run the program");
    QVERIFY(m_root.isValid());
    // The user must reach the prefix and its own home through the test's folder.
    QVERIFY(QFile::setPermissions(m_root.path(), QFile::permissions(m_root.path()) |
                                                     QFile::ReadOther | QFile::ExeOther));
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(
        qEnvironmentVariable("ZARVIK_CMAKE"),
        {"--install", qEnvironmentVariable("ZARVIK_BUILD"), "--prefix", m_root.filePath("prefix")});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    m_program = m_root.filePath("prefix/bin/ZARVIK_Mail");
    QVERIFY(QFileInfo(m_program).isExecutable());

    m_home = m_root.filePath("home");
    QVERIFY(QDir().mkpath(m_home + "/own") && QDir().mkpath(m_home + "/run"));
    for (const QString& folder : {m_home, m_home + "/own", m_home + "/run"})
        QVERIFY(
            chown(folder) &&
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // A copy in a folder of the user's own: the classic rule.
    QVERIFY(QFile::copy(m_program, m_home + "/own/ZARVIK_Mail"));
    QVERIFY(chown(m_home + "/own/ZARVIK_Mail"));
    QVERIFY(QDir().mkpath(QFileInfo(seed()).path()));
}

void TestE2eInstall::cleanup()
{
    for (const std::unique_ptr<QProcess>& process : m_processes) {
        if (QTest::currentTestFailed())
            qWarning().noquote() << process->program() << process->arguments()
                                 << process->readAllStandardError();
        process->kill();
        process->waitForFinished(5000);
    }
    m_processes.clear();
    m_sim.reset();
}

void TestE2eInstall::start(QProcess& process, const QString& program, const QStringList& arguments,
                           const QString& display, bool asUser)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME"})
        environment.remove(QString::fromLatin1(name));
    environment.insert("HOME", m_home);
    environment.insert("XDG_RUNTIME_DIR", m_home + "/run");
    environment.insert("XDG_CONFIG_DIRS", m_root.filePath("xdg"));
    environment.insert("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
    environment.insert("DISPLAY", display);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(m_home);
    dieWithParent(process);
    if (asUser)
        process.start("setpriv", QStringList{QStringLiteral("--reuid=%1").arg(m_user.uid),
                                             QStringLiteral("--regid=%1").arg(m_user.gid),
                                             "--clear-groups", "--", program} +
                                     arguments);
    else
        process.start(program, arguments);
}

void TestE2eInstall::settingsPath_data()
{
    QTest::addColumn<bool>("asUser");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    const QString own = m_home + "/own/ZARVIK_Mail";
    QTest::newRow("installed") << true << m_program << QStringList()
                               << m_home + "/.config/zarvik-mail/ZARVIK_Mail.ini";
    QTest::newRow("own folder") << true << own << QStringList() << own + ".ini";
    QTest::newRow("root may write the prefix")
        << false << m_program << QStringList() << m_program + ".ini";
    QTest::newRow("named file") << true << m_program << QStringList{"--settings", "a/b.ini"}
                                << m_home + "/a/b.ini";
}

void TestE2eInstall::settingsPath()
{
    QFETCH(bool, asUser);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QProcess process;
    start(process, program, arguments + QStringList{"--print-settings-path"}, {}, asUser);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(process.readAllStandardOutput()), expected + "\n");
    QVERIFY(!QFileInfo::exists(expected)); // saying where makes nothing
}

void TestE2eInstall::settingsInTheUsersFolders()
{
    if (!VirtualDisplay::available())
        QSKIP("Xvfb not found");
    m_sim = std::make_unique<SimBoard>();
    QVERIFY(m_sim->start());

    // Every user starts from the system-wide file until saving makes one of their own.
    QVERIFY(TestFiles::write(seed(), settingsText(m_sim->port(), "[Watch]\nLog=1\n")));
    const QString own = m_home + "/.config/zarvik-mail/ZARVIK_Mail.ini";
    const QString state = m_home + "/.local/state/zarvik-mail";
    auto display = std::make_unique<VirtualDisplay>();
    QVERIFY2(display->start(), qPrintable(display->errorString()));
    auto* first = m_processes.emplace_back(std::make_unique<QProcess>()).get();
    start(*first, m_program, {}, display->display());
    QVERIFY(m_sim->waitForRequests(1, 15000));
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(state).entryList({"ZARVIK_Mail-*.csv"}).isEmpty(), 10000);
    QVERIFY(QFileInfo::exists(own + ".lock"));

    auto* second = m_processes.emplace_back(std::make_unique<QProcess>()).get();
    start(*second, m_program, {}, display->display());
    QString said;
    QTRY_VERIFY_WITH_TIMEOUT(
        (said += QString::fromUtf8(second->readAllStandardError())).contains(AlreadyRunning),
        10000);

    first->terminate();
    QVERIFY(first->waitForFinished(10000));
    QCOMPARE(first->exitCode(), 0);
    QCOMPARE(QFileInfo(own).ownerId(), m_user.uid);
    QVERIFY(!QFileInfo::exists(m_program + ".ini"));

    // The user's file, not the system's, at the next start.
    QVERIFY(TestFiles::write(seed(), settingsText(9))); // nothing answers there
    second->kill();
    second->waitForFinished(5000);
    display = std::make_unique<VirtualDisplay>();
    QVERIFY2(display->start(), qPrintable(display->errorString()));
    m_sim->clearRequests();
    auto* again = m_processes.emplace_back(std::make_unique<QProcess>()).get();
    start(*again, m_program, {}, display->display());
    QVERIFY(m_sim->waitForRequests(1, 15000));
}

int main(int argc, char* argv[])
{
    // Before anything else: the namespace must hold for every process this test starts.
    g_isolationProblem = RealProgram::enterPrivateNetwork();
    QCoreApplication app(argc, argv);
    if (g_isolationProblem.isEmpty())
        g_isolationProblem = RealProgram::setUpLoopback();
    TestE2eInstall test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_install.moc"
