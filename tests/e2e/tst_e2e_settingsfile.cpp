// The real executable and its settings file: one running copy per file, and a signal when the
// file cannot be saved. Every copy's settings file names the simulated board on 127.0.0.1, and
// the test makes its own network namespace first.
#include "i18n/UiLanguage.h"
#include "support/AppHarness.h"
#include "support/EventWait.h"
#include "support/RealProgram.h"
#include "support/SimBoard.h"
#include "support/SmtpServer.h"
#include "support/TestFiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <vector>

namespace {

// Why the tests cannot run isolated; empty when they can.
QString g_isolationProblem;
// Why no folder can be mounted read-only here; empty when one can.
QString g_mountProblem;

const QString AlreadyRunning = QStringLiteral("ZARVIK Mail は既に起動しています。\n");

// One copy of the program in a folder of its own; its settings file is `ini`.
struct Copy {
    QTemporaryDir dir;
    QString program;
    QString ini; // as the program names it: canonical
    QProcess process;
    QString errors; // what it wrote on standard error so far
    QStringList arguments;
};

// A folder mounted read-only over itself while this lives, as on a read-only medium: permission
// bits do not stop root, who runs these tests. Needs the test's own mount namespace.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& path)
        : m_path(QFile::encodeName(path))
    {
        m_bound = ::mount(m_path.constData(), m_path.constData(), nullptr, MS_BIND, nullptr) == 0;
        m_ok = m_bound && ::mount(nullptr, m_path.constData(), nullptr,
                                  MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyFolder()
    {
        if (m_bound)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    bool ok() const { return m_ok; }

private:
    QByteArray m_path;
    bool m_bound = false;
    bool m_ok = false;
};

} // namespace

class TestE2eSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void secondStartOnTheSameFileRefused_data();
    void secondStartOnTheSameFileRefused();
    void staleLockDoesNotStopAStart();
    void copyInAnotherFolderRunsBeside();
    void specialFileAsLockLeftAlone_data();
    void specialFileAsLockLeftAlone();
    void readOnlyFolderStillOneCopy();
    void sigtermWithFailingSaveEnds();
    void keptMailOutlivesSigkill();

private:
    Copy* install();
    bool start(Copy& copy)
    {
        return RealProgram::start(copy.process, copy.program, {}, copy.arguments);
    }
    static bool waitForErrors(Copy& copy, const QString& text);
    // The same executable again, so on the same settings file; null when it did not start.
    Copy* startSecondCopy(const Copy& first);
    static bool terminate(Copy& copy, int* exitCode);
    // Every request the simulator has seen is reported before it answers a command.
    bool allRequestsIn() { return m_sim->setTemperature(20.0); }

    std::unique_ptr<SimBoard> m_sim;
    std::vector<std::unique_ptr<Copy>> m_copies;
    // The copies' $XDG_RUNTIME_DIR, where a lock goes that cannot lie beside its file.
    QTemporaryDir m_runtime;
};

void TestE2eSettingsFile::initTestCase()
{
    if (!g_isolationProblem.isEmpty())
        QSKIP(qPrintable(g_isolationProblem));
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    // The reasons Qt gives (qt_error_string) read as the program, in its language, writes them.
    UiLanguage::install(*QCoreApplication::instance(), UiLanguage::choose(QString()));
}

void TestE2eSettingsFile::init()
{
    m_sim = std::make_unique<SimBoard>();
    QVERIFY(m_sim->start());
}

void TestE2eSettingsFile::cleanup()
{
    for (const std::unique_ptr<Copy>& copy : m_copies) {
        if (QTest::currentTestFailed())
            qWarning().noquote() << copy->program << copy->process.state() << "stderr:\n"
                                 << copy->errors + copy->process.readAllStandardError();
        copy->process.kill();
        copy->process.waitForFinished(5000);
    }
    m_copies.clear();
    m_sim.reset();
}

Copy* TestE2eSettingsFile::install()
{
    auto copy = std::make_unique<Copy>();
    copy->program = RealProgram::copyInto(copy->dir.path());
    if (copy->program.isEmpty())
        return nullptr;
    copy->ini = QFileInfo(AppHarness::writeSettings(copy->dir, m_sim->port())).canonicalFilePath();
    copy->process.setReadChannel(QProcess::StandardError);
    m_copies.push_back(std::move(copy));
    return m_copies.back().get();
}

Copy* TestE2eSettingsFile::startSecondCopy(const Copy& first)
{
    Copy* second = install();
    if (!second)
        return nullptr;
    second->program = first.program;
    second->arguments = first.arguments;
    return start(*second) ? second : nullptr;
}

bool TestE2eSettingsFile::waitForErrors(Copy& copy, const QString& text)
{
    const QDeadlineTimer deadline(10000);
    // What came while the test waited on something else is read first: no more may follow.
    copy.errors += QString::fromUtf8(copy.process.readAllStandardError());
    while (!copy.errors.contains(text)) {
        if (!copy.process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
        copy.errors += QString::fromUtf8(copy.process.readAllStandardError());
    }
    return true;
}

bool TestE2eSettingsFile::terminate(Copy& copy, int* exitCode)
{
    copy.process.terminate(); // SIGTERM
    if (!copy.process.waitForFinished(10000) || copy.process.exitStatus() != QProcess::NormalExit)
        return false;
    copy.errors += QString::fromUtf8(copy.process.readAllStandardError());
    *exitCode = copy.process.exitCode();
    return true;
}

void TestE2eSettingsFile::secondStartOnTheSameFileRefused_data()
{
    QTest::addColumn<bool>("programHoldsLock"); // else the test holds it
    QTest::newRow("another instance running") << true;
    QTest::newRow("lock held by this test") << false;
}

void TestE2eSettingsFile::secondStartOnTheSameFileRefused()
{
    QFETCH(bool, programHoldsLock);
    Copy* first = install();
    QVERIFY(first);
    QLockFile lock(first->ini + ".lock");
    quint16 firstPort = 0; // the running instance's requests come from here
    if (programHoldsLock) {
        QVERIFY(start(*first));
        QVERIFY(m_sim->waitForRequests(1, 10000));
        firstPort = m_sim->requests().first().port;
        QVERIFY(QFile::exists(first->ini + ".lock"));
    } else {
        QVERIFY(lock.tryLock(0));
    }
    const QByteArray before = TestFiles::read(first->ini);

    Copy* second = startSecondCopy(*first);
    QVERIFY(second);
    QVERIFY2(waitForErrors(*second, AlreadyRunning + first->ini), qPrintable(second->errors));
    // Its box waits for an OK that nobody can press here.
    second->process.kill();
    QVERIFY(second->process.waitForFinished(5000));
    QVERIFY(allRequestsIn());
    for (const SimBoard::Request& request : m_sim->requests())
        QCOMPARE(request.port, firstPort);
    QCOMPARE(TestFiles::read(first->ini), before);

    if (programHoldsLock) {
        int exitCode = -1;
        QVERIFY(terminate(*first, &exitCode));
        QCOMPARE(exitCode, 0);
    }
}

void TestE2eSettingsFile::staleLockDoesNotStopAStart()
{
    Copy* copy = install();
    QVERIFY(copy);
    QProcess dead;
    dead.start(QStringLiteral("true"), {});
    QVERIFY(dead.waitForStarted());
    const qint64 pid = dead.processId();
    QVERIFY(dead.waitForFinished());
    // What QLockFile writes, left behind by a process that is gone.
    QVERIFY(TestFiles::write(copy->ini + ".lock", QByteArray::number(pid) + "\nZARVIK_Mail\n" +
                                                      QSysInfo::machineHostName().toUtf8() + "\n"));
    QVERIFY(start(*copy));
    QVERIFY(m_sim->waitForRequests(2, 10000)); // up and ticking: SIGTERM is handled by then
    int exitCode = -1;
    QVERIFY(terminate(*copy, &exitCode));
    QCOMPARE(exitCode, 0);
    QVERIFY2(!copy->errors.contains(AlreadyRunning), qPrintable(copy->errors));
    QVERIFY(TestFiles::read(copy->ini).contains("[Location]"));
}

void TestE2eSettingsFile::copyInAnotherFolderRunsBeside()
{
    Copy* first = install();
    Copy* second = install();
    QVERIFY(first && second);
    QVERIFY(start(*first));
    QVERIFY(m_sim->waitForRequests(1, 10000));
    const quint16 firstPort = m_sim->requests().first().port;
    QVERIFY(start(*second));
    // Two requests from the copy: it is up and ticking, so SIGTERM is handled.
    const auto fromSecond = [&] {
        const QList<SimBoard::Request> requests = m_sim->requests();
        return std::count_if(requests.cbegin(), requests.cend(),
                             [&](const SimBoard::Request& r) { return r.port != firstPort; });
    };
    // Bounded by time, not by the first copy's requests, which come as often as it polls.
    QVERIFY2(EventWait::until([&] { return fromSecond() >= 2; }, 20000),
             "no requests from the copy");

    for (Copy* copy : {first, second}) {
        int exitCode = -1;
        QVERIFY(terminate(*copy, &exitCode));
        QCOMPARE(exitCode, 0);
        QVERIFY(TestFiles::read(copy->ini).contains("[Location]"));
    }
}

// Whatever lies at the lock's name is neither opened nor read: QLockFile would wait for a FIFO's
// writer, or read /dev/zero for ever. The program says so once and locks elsewhere, so a second
// copy is still kept out.
void TestE2eSettingsFile::specialFileAsLockLeftAlone_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO") << "fifo"
                          << "it is not a regular file";
    QTest::newRow("link to /dev/zero") << "zero"
                                       << "it is a symbolic link";
}

void TestE2eSettingsFile::specialFileAsLockLeftAlone()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    Copy* first = install();
    QVERIFY(first);
    const QString lock = first->ini + ".lock";
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(lock).constData(), 0644), 0);
    else
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), lock));
    QVERIFY(start(*first));
    QVERIFY2(m_sim->waitForRequests(2, 10000), "the start hung"); // polling: SIGTERM is handled
    const QString note = QStringLiteral("Lock file \"%1\": %2.").arg(lock, reason);
    QVERIFY2(waitForErrors(*first, note), qPrintable(first->errors));

    Copy* second = startSecondCopy(*first);
    QVERIFY(second);
    QVERIFY2(waitForErrors(*second, AlreadyRunning + first->ini), qPrintable(second->errors));
    second->process.kill();
    QVERIFY(second->process.waitForFinished(5000));

    int exitCode = -1;
    QVERIFY(terminate(*first, &exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(first->errors.count(note), 1);
    const QFileInfo left(lock);
    QVERIFY(kind == "fifo" ? left.exists() && !left.isFile() : left.isSymLink());
}

// A folder the lock cannot be made in still allows one copy only: two would mail each alert
// twice.
void TestE2eSettingsFile::readOnlyFolderStillOneCopy()
{
    if (!g_mountProblem.isEmpty())
        QSKIP(qPrintable(g_mountProblem));
    Copy* first = install();
    QVERIFY(first);
    const ReadOnlyFolder readOnly(first->dir.path());
    QVERIFY(readOnly.ok());
    // Named: without a folder it may write, the program would keep its settings elsewhere.
    first->arguments = QStringList{QStringLiteral("--settings"), first->ini};
    const qsizetype locks = TestFiles::entries(m_runtime.path()).size();
    QVERIFY(start(*first));
    QVERIFY(m_sim->waitForRequests(1, 10000));
    QVERIFY(!QFile::exists(first->ini + ".lock"));
    QCOMPARE(TestFiles::entries(m_runtime.path()).size(), locks + 1);

    Copy* second = startSecondCopy(*first);
    QVERIFY(second);
    QVERIFY2(waitForErrors(*second, AlreadyRunning + first->ini), qPrintable(second->errors));
    for (Copy* copy : {first, second}) {
        copy->process.kill(); // closing would report the folder it cannot save in
        QVERIFY(copy->process.waitForFinished(5000));
    }
}

// No box at a signal: the error goes to standard error and the program ends.
void TestE2eSettingsFile::sigtermWithFailingSaveEnds()
{
    Copy* copy = install();
    QVERIFY(copy);
    QCOMPARE(::chmod(QFile::encodeName(copy->ini).constData(), 0444), 0);
    const QByteArray before = TestFiles::read(copy->ini);
    QVERIFY(start(*copy));
    QVERIFY(m_sim->waitForRequests(2, 10000)); // up and ticking: SIGTERM is handled by then
    int exitCode = -1;
    QVERIFY2(terminate(*copy, &exitCode), "the program did not end on SIGTERM");
    QCOMPARE(exitCode, 1);
    QVERIFY2(copy->errors.contains('"' + copy->ini + '"'), qPrintable(copy->errors));
    QVERIFY2(copy->errors.contains(qt_error_string(EACCES)), qPrintable(copy->errors));
    QCOMPARE(TestFiles::read(copy->ini), before);
}

void TestE2eSettingsFile::keptMailOutlivesSigkill()
{
    Copy* copy = install();
    QVERIFY(copy);
    const QString down = SmtpServer::refusingHostPort();
    AppHarness::writeSettings(copy->dir, m_sim->port(),
                              QStringLiteral("[Temp]\nUTemp=30\nCheck_U=1\n[Mail]\nAddress=%1\n"
                                             "From=z@example.com\nTo=a@example.com\n"
                                             "[Watch]\nRetry=1\n")
                                  .arg(down));
    const QDir outbox(copy->dir.filePath(QStringLiteral("ZARVIK_Mail.outbox")));
    const auto kept = [&] { return outbox.entryList({QStringLiteral("*.mail")}, QDir::Files); };
    QVERIFY(m_sim->setTemperature(31.5));
    QVERIFY(start(*copy));
    QTRY_COMPARE_WITH_TIMEOUT(kept().size(), 1, 10000);
    copy->process.kill(); // SIGKILL, its error box still open
    QVERIFY(copy->process.waitForFinished(5000));

    QVERIFY(m_sim->setTemperature(20.0));
    SmtpServer back(SmtpServer::listeningAt(down));
    QVERIFY2(back.isListening(), qPrintable(back.errorString()));
    QVERIFY(start(*copy));
    QVERIFY(back.waitForMails(1));
    QTRY_VERIFY_WITH_TIMEOUT(kept().isEmpty(), 5000);
    m_sim->clearRequests();
    QVERIFY(m_sim->waitForRequests(1, 10000)); // a poll later, still one mail
    QCOMPARE(back.mailCount(), 1);
}

int main(int argc, char* argv[])
{
    // Before anything else: the namespace must hold for every process this test starts.
    g_isolationProblem = RealProgram::enterPrivateNetwork();
    g_mountProblem = RealProgram::enterPrivateMounts();
    QCoreApplication app(argc, argv);
    if (g_isolationProblem.isEmpty())
        g_isolationProblem = RealProgram::setUpLoopback();
    TestE2eSettingsFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_settingsfile.moc"
