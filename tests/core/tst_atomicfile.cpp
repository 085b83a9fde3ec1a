// AtomicFile on its own: reading what may be no regular file without ever blocking, and replacing
// a file so that a failure leaves the old one, complete, and nothing beside it.
#include "core/AtomicFile.h"
#include "support/TestFiles.h"
#include "support/Unprivileged.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString NotRegular = QStringLiteral("it is not a regular file");
const QString Link = QStringLiteral("it is a symbolic link");

QByteArray name(const QString& path)
{
    return QFile::encodeName(path);
}

mode_t modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(name(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

class TestAtomicFile : public QObject {
    Q_OBJECT
private slots:
    void init();

    void readsWhatIsARegularFileOnly_data();
    void readsWhatIsARegularFileOnly();
    void largeFileIsToldWithoutReadingItAll();
    void replaceKeepsModeOwnerAndLinks();
    void failedReplaceLeavesTheOldFileAlone_data();
    void failedReplaceLeavesTheOldFileAlone();
    void permissionsAreToldInTheSystemsWords();

private:
    QString path(const QString& entry) const { return m_dir->filePath(entry); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAtomicFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // So that an unprivileged user gets as far as the entries themselves.
    QVERIFY(::chmod(name(m_dir->path()).constData(), 0755) == 0);
}

// Each kind of entry through read() and notRegularFile(). A FIFO that were opened for reading
// would block this test until its time-out.
void TestAtomicFile::readsWhatIsARegularFileOnly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("refuseLinks");
    QTest::addColumn<bool>("missing");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("readError");
    QTest::addColumn<QString>("checkError"); // notRegularFile()'s
    const QString isFolder = qt_error_string(EISDIR);
    QTest::newRow("file") << "file" << false << false << QByteArray("abc") << QString()
                          << QString();
    QTest::newRow("empty file") << "empty" << false << false << QByteArray() << QString()
                                << QString();
    QTest::newRow("missing") << "missing" << false << true << QByteArray() << QString()
                             << QString();
    QTest::newRow("folder") << "folder" << false << false << QByteArray() << isFolder << isFolder;
    QTest::newRow("FIFO") << "fifo" << false << false << QByteArray() << NotRegular << NotRegular;
    QTest::newRow("device") << "device" << false << false << QByteArray() << NotRegular
                            << NotRegular;
    QTest::newRow("link followed")
        << "link" << false << false << QByteArray("abc") << QString() << QString();
    QTest::newRow("link refused") << "link" << true << false << QByteArray() << Link << Link;
    QTest::newRow("dangling link, followed")
        << "dangling" << false << true << QByteArray() << QString() << QString();
    QTest::newRow("dangling link, refused")
        << "dangling" << true << false << QByteArray() << Link << Link;
}

void TestAtomicFile::readsWhatIsARegularFileOnly()
{
    QFETCH(QString, kind);
    QFETCH(bool, refuseLinks);
    QFETCH(bool, missing);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, readError);
    QFETCH(QString, checkError);
    QString entry = path(QStringLiteral("entry"));
    if (kind == u"file")
        QVERIFY(TestFiles::write(entry, "abc"));
    else if (kind == u"empty")
        QVERIFY(TestFiles::write(entry, {}));
    else if (kind == u"folder")
        QVERIFY(QDir().mkdir(entry));
    else if (kind == u"fifo")
        QVERIFY(::mkfifo(name(entry).constData(), 0644) == 0);
    else if (kind == u"device")
        entry = QStringLiteral("/dev/zero"); // read without end, were it read
    else if (kind == u"link" || kind == u"dangling") {
        if (kind == u"link")
            QVERIFY(TestFiles::write(path(QStringLiteral("target")), "abc"));
        QVERIFY(::symlink("target", name(entry).constData()) == 0);
    }
    const auto links = refuseLinks ? AtomicFile::Links::Refuse : AtomicFile::Links::Follow;

    const AtomicFile::Read read = AtomicFile::read(entry, 1024, links);
    QCOMPARE(read.missing, missing);
    QCOMPARE(read.bytes, bytes);
    QCOMPARE(read.error, readError);
    QCOMPARE(AtomicFile::notRegularFile(entry, 1024, links), checkError);
}

// One byte more than the limit comes back, so the caller can tell; a large file is not read.
void TestAtomicFile::largeFileIsToldWithoutReadingItAll()
{
    constexpr qint64 Limit = 1000;
    constexpr qint64 Size = 8 << 20;
    const QString file = path(QStringLiteral("large"));
    QVERIFY(TestFiles::write(file, QByteArray(Size, 'x')));
    const AtomicFile::Read read = AtomicFile::read(file, Limit);
    QCOMPARE(read.error, QString());
    QCOMPARE(read.bytes.size(), Limit + 1);
    QCOMPARE(AtomicFile::notRegularFile(file, Limit),
             QStringLiteral("it is larger than 1000 bytes"));
    QCOMPARE(AtomicFile::notRegularFile(file, Size), QString());
    QCOMPARE(AtomicFile::read(file, Size).bytes.size(), Size);
}

void TestAtomicFile::replaceKeepsModeOwnerAndLinks()
{
    QString error;
    const QString file = path(QStringLiteral("settings.ini"));
    QVERIFY2(AtomicFile::replace(file, "first", &error), qPrintable(error));
    QCOMPARE(TestFiles::read(file), QByteArray("first"));

    // The owner (when we may give it away) and the mode stay; write-only gains read.
    const User other = unprivilegedUser();
    const bool root = ::geteuid() == 0;
    if (root)
        QVERIFY(::chown(name(file).constData(), other.uid, other.gid) == 0);
    QVERIFY(::chmod(name(file).constData(), 0220) == 0);
    QVERIFY2(AtomicFile::replace(file, "second", &error), qPrintable(error));
    QCOMPARE(TestFiles::read(file), QByteArray("second"));
    QCOMPARE(modeOf(file), mode_t(0620));
    if (root)
        QCOMPARE(QFileInfo(file).ownerId(), other.uid);

    // Through the end of a chain of links, each link stays one.
    const QString first = path(QStringLiteral("first-link"));
    const QString second = path(QStringLiteral("second-link"));
    QVERIFY(::symlink("settings.ini", name(second).constData()) == 0);
    QVERIFY(::symlink("second-link", name(first).constData()) == 0);
    QCOMPARE(AtomicFile::resolveLinks(first), file);
    QVERIFY2(AtomicFile::replace(AtomicFile::resolveLinks(first), "third", &error),
             qPrintable(error));
    QVERIFY(QFileInfo(first).isSymLink() && QFileInfo(second).isSymLink());
    QCOMPARE(TestFiles::read(first), QByteArray("third"));
    QCOMPARE(TestFiles::entries(m_dir->path()),
             (QStringList{"first-link", "second-link", "settings.ini"}));
}

void TestAtomicFile::failedReplaceLeavesTheOldFileAlone_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("error");
    // The temporary file is written in full before the rename fails.
    QTest::newRow("a folder at the name") << "folder" << qt_error_string(EISDIR);
    // The write itself fails midway.
    QTest::newRow("file size limit") << "size" << qt_error_string(EFBIG);
    QTest::newRow("no folder") << "no folder" << qt_error_string(ENOENT);
}

void TestAtomicFile::failedReplaceLeavesTheOldFileAlone()
{
    QFETCH(QString, failure);
    QFETCH(QString, error);
    QString target = path(QStringLiteral("settings.ini"));
    QVERIFY(TestFiles::write(path(QStringLiteral("other")), "old"));
    if (failure == u"folder") {
        QVERIFY(QDir().mkdir(target));
        QVERIFY(TestFiles::write(target + QStringLiteral("/inside"), "old"));
    } else if (failure == u"size") {
        QVERIFY(TestFiles::write(target, "old"));
    } else {
        target = path(QStringLiteral("gone/settings.ini"));
    }
    const QStringList before = TestFiles::entries(m_dir->path());

    bool replaced = false;
    QString told;
    {
        rlimit limit{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const auto restore = qScopeGuard([&] {
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_DFL);
        });
        if (failure == u"size") {
            ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails rather than kills
            rlimit small = limit;
            small.rlim_cur = 4096;
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        }
        replaced = AtomicFile::replace(target, QByteArray(1 << 16, 'n'), &told);
    }
    QVERIFY(!replaced);
    QCOMPARE(told, error);
    QCOMPARE(TestFiles::entries(m_dir->path()), before);
    QCOMPARE(TestFiles::read(path(QStringLiteral("other"))), QByteArray("old"));
    if (failure == u"folder")
        QCOMPARE(TestFiles::entries(target), QStringList{"inside"});
    if (failure == u"size")
        QCOMPARE(TestFiles::read(target), QByteArray("old"));
}

// The system's own reason, for a file we may not read and a folder we may not write in.
void TestAtomicFile::permissionsAreToldInTheSystemsWords()
{
    const QString denied = qt_error_string(EACCES);
    const QString file = path(QStringLiteral("settings.ini"));
    QVERIFY(TestFiles::write(file, "old"));
    QVERIFY(::chmod(name(file).constData(), 0444) == 0);
    // Not even root replaces a file that nobody may write.
    QString error;
    QVERIFY(!AtomicFile::mayReplace(file, &error));
    QCOMPARE(error, denied);

    QVERIFY(::chmod(name(file).constData(), 0) == 0);
    QVERIFY(::chmod(name(m_dir->path()).constData(), 0555) == 0);
    const auto writable = qScopeGuard([&] { ::chmod(name(m_dir->path()).constData(), 0755); });
    {
        Unprivileged user;
        if (!user.ok())
            QSKIP("Running as root without the right to act as user nobody, and root ignores "
                  "permission bits");
        const AtomicFile::Read read = AtomicFile::read(file, 1024);
        QVERIFY(!read.missing);
        QCOMPARE(read.error, denied);
        QVERIFY(!AtomicFile::replace(path(QStringLiteral("new.ini")), "new", &error));
        QCOMPARE(error, denied);
    }
    QCOMPARE(TestFiles::entries(m_dir->path()), QStringList{"settings.ini"});
    QVERIFY(::chmod(name(file).constData(), 0644) == 0);
    QCOMPARE(TestFiles::read(file), QByteArray("old"));
}

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicfile.moc"
