#include "settings/IniFile.h"
#include "support/TestFiles.h"
#include "support/Unprivileged.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char IniName[] = "ZARVIK_Mail.ini";
// Set by killDuringSave() for the copy of this binary it runs and kills.
const char SaveLoopVariable[] = "ZARVIK_TEST_INI_SAVE_LOOP";
// Set by saveInMountNamespace() for the copy of this binary it runs under its own mounts.
const char SaveOnceVariable[] = "ZARVIK_TEST_INI_SAVE_ONCE";
constexpr int LoopKeys = 800;

// Double-byte text with 0x5C trail bytes makes the file large and catches byte-level parsing.
QString loopValue(int key)
{
    return QStringLiteral("%1:").arg(key) + QString(300, QChar(u'表')) + QString(300, QChar(u'x'));
}

// The child side of killDuringSave(): saves ever newer versions of a large file until it is
// killed. Only the version numbers at its start and end change, so nearly all the time goes
// to saving, where the kills should land.
int saveLoop(const QString& path)
{
    QElapsedTimer running;
    running.start();
    IniFile ini(path);
    int version = ini.readInteger(QStringLiteral("Run"), QStringLiteral("Version"), 0);
    for (int key = 0; key < LoopKeys; ++key)
        ini.writeString(QStringLiteral("Data"), QStringLiteral("Key%1").arg(key), loopValue(key));
    bool announced = false;
    // Bounded, in case the test that should kill it dies first.
    while (running.elapsed() < 60000) {
        ++version;
        ini.writeInteger(QStringLiteral("Run"), QStringLiteral("Version"), version);
        ini.writeInteger(QStringLiteral("End"), QStringLiteral("Version"), version);
        if (QString error; !ini.save(&error)) {
            fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        if (!announced) {
            fputs("saved\n", stdout);
            fflush(stdout);
            announced = true;
        }
    }
    return 0;
}

// The child side of saveInMountNamespace(): one save too large for a small disk. Exits 1 when
// the save failed, after printing the error on stderr and on stdout whether the file is as it
// was and what the folder holds.
int saveOnce(const QString& path)
{
    const QByteArray before = TestFiles::read(path);
    IniFile ini(path);
    ini.writeString(QStringLiteral("Mail"), QStringLiteral("Body"), QString(200000, QChar(u'x')));
    QString error;
    if (ini.save(&error))
        return 0;
    fprintf(stderr, "%s\n", qPrintable(error));
    printf("unchanged=%d\n%s\n", TestFiles::read(path) == before,
           qPrintable(TestFiles::entries(QFileInfo(path).path()).join('/')));
    return 1;
}

struct stat statOf(const QString& path)
{
    struct stat result {};
    if (::lstat(QFile::encodeName(path).constData(), &result) != 0)
        result.st_mode = 0;
    return result;
}

QString linkTarget(const QString& path)
{
    char target[PATH_MAX];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    return size < 0 ? QString() : QFile::decodeName(QByteArray(target, size));
}

void changeOwner(const QString& path)
{
    const User user = unprivilegedUser();
    QVERIFY2(::chown(QFile::encodeName(path).constData(), user.uid, user.gid) == 0,
             qPrintable(path));
}

void changeMode(const QString& path, mode_t mode)
{
    QVERIFY2(::chmod(QFile::encodeName(path).constData(), mode) == 0, qPrintable(path));
}

} // namespace

class TstIniFile : public QObject {
    Q_OBJECT

public:
    // Runs before the test application exists: the child of killDuringSave() only saves.
    static void initMain()
    {
        if (qEnvironmentVariableIsSet(SaveLoopVariable))
            std::exit(saveLoop(qEnvironmentVariable(SaveLoopVariable)));
        if (qEnvironmentVariableIsSet(SaveOnceVariable))
            std::exit(saveOnce(qEnvironmentVariable(SaveOnceVariable)));
    }

private slots:
    // Reading
    void defaultsWhenMissing();
    void readNumbers_data();
    void readNumbers();
    void namesIgnoreCaseAndBlanks();
    void firstDuplicateWins();
    void anyLineEnding();
    void exactlyOneMiBIsRead();

    // Writing
    void cp932RoundTrip();
    void otherContentKept();
    void newKeysAndSectionsInWriteOrder();
    void freshFileHoldsOnlyWhatWasWritten();
    void writtenValuesStayOnOneLine_data();
    void writtenValuesStayOnOneLine();

    // Files that cannot be read cleanly
    void unreadableFile_data();
    void unreadableFile();
    void noReadPermission();
    void utf8WithBomConvertedOnce();
    void fifoNeverBlocks();
    void backupsNeverOverwritten();

    // Where the file lives
    void symlinkChainFollowed();
    void replacedFileKeepsOwnerAndMode_data();
    void replacedFileKeepsOwnerAndMode();

    // Saving that fails or is cut short
    void readOnlyFolder();
    void readOnlyFile_data();
    void readOnlyFile();
    void fullDisk();
    void saveInMountNamespace_data();
    void saveInMountNamespace();
    void killDuringSave();

private:
    QTemporaryDir m_dir;
    QString freshPath();
};

QString TstIniFile::freshPath()
{
    static int count = 0;
    const QString folder = m_dir.filePath(QString::number(++count));
    if (!QDir().mkpath(folder))
        qFatal("cannot create %s", qPrintable(folder));
    return folder + '/' + IniName;
}

void TstIniFile::defaultsWhenMissing()
{
    const QString path = freshPath();
    {
        const IniFile ini(path);
        QCOMPARE(ini.path(), path);
        QCOMPARE(ini.readProblem(), QString());
        QCOMPARE(ini.readString("Mail", "From", "def"), QString("def"));
        QCOMPARE(ini.readInteger("Mail", "Port", 42), 42);
        QCOMPARE(ini.readBool("Mail", "Tls", true), true);
        QCOMPARE(ini.readBool("Mail", "Tls", false), false);
    }
    QVERIFY(!QFile::exists(path));

    QVERIFY(TestFiles::write(path, "[Mail]\r\nFrom=a@example.jp\r\nTo=\r\n"));
    const IniFile ini(path);
    QCOMPARE(ini.readProblem(), QString());
    QCOMPARE(ini.readString("Mail", "From", "def"), QString("a@example.jp"));
    QCOMPARE(ini.readString("Device", "From", "def"), QString("def"));
    QCOMPARE(ini.readString("Mail", "Cc", "def"), QString("def"));
    QCOMPARE(ini.readInteger("Mail", "Port", 25), 25);
    // Present but empty is a value, not a missing key.
    QCOMPARE(ini.readString("Mail", "To", "def"), QString());
}

void TstIniFile::readNumbers_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("integer"); // read with default 77
    QTest::addColumn<bool>("boolDefaultTrue");
    QTest::addColumn<bool>("boolDefaultFalse");

    QTest::newRow("blanks") << QByteArray(" 12 ") << 12 << true << true;
    QTest::newRow("tabs") << QByteArray("\t7\t") << 7 << true << true;
    QTest::newRow("negative") << QByteArray("-3") << -3 << true << true;
    QTest::newRow("plus") << QByteArray("+4") << 4 << true << true;
    QTest::newRow("zero") << QByteArray("0") << 0 << false << false;
    QTest::newRow("leading zeros") << QByteArray("007") << 7 << true << true;
    QTest::newRow("largest") << QByteArray("2147483647") << INT_MAX << true << true;
    QTest::newRow("smallest") << QByteArray("-2147483648") << INT_MIN << true << true;
    QTest::newRow("too large") << QByteArray("2147483648") << 77 << true << false;
    QTest::newRow("too small") << QByteArray("-2147483649") << 77 << true << false;
    QTest::newRow("far too large") << QByteArray("99999999999999999999") << 77 << true << false;
    QTest::newRow("trailing letter") << QByteArray("1x") << 77 << true << false;
    QTest::newRow("empty") << QByteArray("") << 77 << true << false;
    QTest::newRow("sign only") << QByteArray("-") << 77 << true << false;
    QTest::newRow("word") << QByteArray("yes") << 77 << true << false;
    QTest::newRow("hex") << QByteArray("0x10") << 77 << true << false;
    QTest::newRow("inner blank") << QByteArray("1 2") << 77 << true << false;
    QTest::newRow("fraction") << QByteArray("1.5") << 77 << true << false;
    QTest::newRow("full-width digits") << QByteArray("\x82\x50\x82\x51") << 77 << true << false;
}

void TstIniFile::readNumbers()
{
    QFETCH(QByteArray, text);
    QFETCH(int, integer);
    QFETCH(bool, boolDefaultTrue);
    QFETCH(bool, boolDefaultFalse);

    const QString path = freshPath();
    QVERIFY(TestFiles::write(path, "[Num]\r\nValue=" + text + "\r\n"));
    const IniFile ini(path);
    QCOMPARE(ini.readProblem(), QString());
    QCOMPARE(ini.readInteger("Num", "Value", 77), integer);
    QCOMPARE(ini.readBool("Num", "Value", true), boolDefaultTrue);
    QCOMPARE(ini.readBool("Num", "Value", false), boolDefaultFalse);
}

void TstIniFile::namesIgnoreCaseAndBlanks()
{
    const QString path = freshPath();
    QVERIFY(TestFiles::write(path, "  [ Mail Server ]  \r\n"
                                   "\tHost\t= \t smtp.example.jp \t\r\n"
                                   "To=\"a@example.jp\", b@example.jp ; not a comment\r\n"
                                   "Url=http://h/?a=b&c=d\r\n"));
    IniFile ini(path);
    QCOMPARE(ini.readString("mail server", "HOST", "-"), QString("smtp.example.jp"));
    QCOMPARE(ini.readString("MAIL SERVER", "to", "-"),
             QString("\"a@example.jp\", b@example.jp ; not a comment"));
    QCOMPARE(ini.readString("Mail Server", "url", "-"), QString("http://h/?a=b&c=d"));

    // The line keeps its own spelling and layout; only the value changes.
    ini.writeString("MAIL SERVER", "host", "mail.example.jp");
    QVERIFY(ini.save());
    QCOMPARE(TestFiles::read(path),
             QByteArray("  [ Mail Server ]  \r\n"
                        "\tHost\t= \t mail.example.jp\r\n"
                        "To=\"a@example.jp\", b@example.jp ; not a comment\r\n"
                        "Url=http://h/?a=b&c=d\r\n"));
}

void TstIniFile::firstDuplicateWins()
{
    const QString path = freshPath();
    QVERIFY(TestFiles::write(path, "[Mail]\r\n"
                                   "From=first\r\n"
                                   "from=second\r\n"
                                   "[Other]\r\n"
                                   "X=1\r\n"
                                   "[MAIL]\r\n"
                                   "From=third\r\n"
                                   "OnlyHere=yes\r\n"));
    IniFile ini(path);
    QCOMPARE(ini.readString("Mail", "From", "-"), QString("first"));
    // Only the first [Mail] counts, as with Windows.
    QCOMPARE(ini.readString("Mail", "OnlyHere", "-"), QString("-"));

    ini.writeString("Mail", "From", "new");
    ini.writeString("Mail", "OnlyHere", "written");
    QCOMPARE(ini.readString("Mail", "From", "-"), QString("new"));
    QCOMPARE(ini.readString("Mail", "OnlyHere", "-"), QString("written"));
    QVERIFY(ini.save());
    QCOMPARE(TestFiles::read(path), QByteArray("[Mail]\r\n"
                                               "From=new\r\n"
                                               "from=second\r\n"
                                               "OnlyHere=written\r\n"
                                               "[Other]\r\n"
                                               "X=1\r\n"
                                               "[MAIL]\r\n"
                                               "From=third\r\n"
                                               "OnlyHere=yes\r\n"));
}

void TstIniFile::anyLineEnding()
{
    const QString path = freshPath();
    QVERIFY(TestFiles::write(path, "[A]\nx=1\r[B]\r\ny=2\n\n;c\rz=3"));
    IniFile ini(path);
    QCOMPARE(ini.readProblem(), QString());
    QCOMPARE(ini.readString("A", "x", "-"), QString("1"));
    QCOMPARE(ini.readString("B", "y", "-"), QString("2"));
    QCOMPARE(ini.readString("B", "z", "-"), QString("3"));
    QVERIFY(ini.save());
    QCOMPARE(TestFiles::read(path), QByteArray("[A]\r\nx=1\r\n[B]\r\ny=2\r\n\r\n;c\r\nz=3\r\n"));
}

void TstIniFile::exactlyOneMiBIsRead()
{
    const QString path = freshPath();
    QByteArray bytes = "[Mail]\r\nHost=h\r\n;";
    bytes += QByteArray(1024 * 1024 - bytes.size(), 'x');
    QVERIFY(TestFiles::write(path, bytes));
    const IniFile ini(path);
    QCOMPARE(ini.readProblem(), QString());
    QCOMPARE(ini.readString("Mail", "Host", "-"), QString("h"));
}

void TstIniFile::cp932RoundTrip()
{
    const QString path = freshPath();
    // ゾ is 0x83 0x5D, whose trail byte is ']'; 表 and ソ end in 0x5C, the backslash.
    const QString section = QString::fromUtf8("ゾーン表");
    const QString key = QString::fromUtf8("ソフト");
    {
        IniFile ini(path);
        ini.writeString("Mail", "From", QString::fromUtf8("山田 <yamada@example.jp>"));
        ini.writeString(section, key, QString::fromUtf8("C:\\表\\"));
        ini.writeString(section, "Subject", QString::fromUtf8("表"));
        QVERIFY(ini.save());
    }
    QCOMPARE(TestFiles::read(path), QByteArray("[Mail]\r\n"
                                               "From=\x8e\x52\x93\x63 <yamada@example.jp>\r\n"
                                               "[\x83\x5d\x81\x5b\x83\x93\x95\x5c]\r\n"
                                               "\x83\x5c\x83\x74\x83\x67=C:\\\x95\x5c\\\r\n"
                                               "Subject=\x95\x5c\r\n"));

    IniFile ini(path);
    QCOMPARE(ini.readProblem(), QString());
    QCOMPARE(ini.readString("mail", "from", "-"), QString::fromUtf8("山田 <yamada@example.jp>"));
    QCOMPARE(ini.readString(section, key, "-"), QString::fromUtf8("C:\\表\\"));
    QCOMPARE(ini.readString(section, "subject", "-"), QString::fromUtf8("表"));

    // Rewriting a key with a double-byte name replaces its line instead of adding one.
    ini.writeString(section, key, "x");
    QVERIFY(ini.save());
    QCOMPARE(TestFiles::read(path), QByteArray("[Mail]\r\n"
                                               "From=\x8e\x52\x93\x63 <yamada@example.jp>\r\n"
                                               "[\x83\x5d\x81\x5b\x83\x93\x95\x5c]\r\n"
                                               "\x83\x5c\x83\x74\x83\x67=x\r\n"
                                               "Subject=\x95\x5c\r\n"));
}

void TstIniFile::otherContentKept()
{
    const QString path = freshPath();
    QVERIFY(TestFiles::write(path, "; ZARVIK Mail settings\r\n"
                                   "orphan=before any section\r\n"
                                   "\r\n"
                                   "[Mail]\r\n"
                                   "# server\r\n"
                                   "Host = old.example.jp\r\n"
                                   "Unknown=keep me\r\n"
                                   "just some junk without equals\r\n"
                                   "\r\n"
                                   "; about the device\r\n"
                                   "[Device]\r\n"
                                   "Address=127.0.0.1\r\n"));
    IniFile ini(path);
    QCOMPARE(ini.readString("", "orphan", "-"), QString("-"));
    ini.writeString("Mail", "Host", "new.example.jp");
    ini.writeString("Mail", "Port", "25");
    ini.writeString("Device", "Interval", "2000");
    QVERIFY(ini.save());
    QCOMPARE(TestFiles::read(path), QByteArray("; ZARVIK Mail settings\r\n"
                                               "orphan=before any section\r\n"
                                               "\r\n"
                                               "[Mail]\r\n"
                                               "# server\r\n"
                                               "Host = new.example.jp\r\n"
                                               "Unknown=keep me\r\n"
                                               "just some junk without equals\r\n"
                                               "Port=25\r\n"
                                               "\r\n"
                                               "; about the device\r\n"
                                               "[Device]\r\n"
                                               "Address=127.0.0.1\r\n"
                                               "Interval=2000\r\n"));
}

void TstIniFile::newKeysAndSectionsInWriteOrder()
{
    const QString path = freshPath();
    QVERIFY(TestFiles::write(path, "[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\ny=2\r\n"));
    IniFile ini(path);
    ini.writeString("A", "new1", "1");
    ini.writeString("C", "c1", "1");
    ini.writeString("a", "new2", "2");
    ini.writeString("D", "d1", "1");
    ini.writeString("C", "c2", "2");
    QVERIFY(ini.save());
    QCOMPARE(TestFiles::read(path), QByteArray("[A]\r\nx=1\r\nnew1=1\r\nnew2=2\r\n\r\n; about B\r\n"
                                               "[B]\r\ny=2\r\n"
                                               "[C]\r\nc1=1\r\nc2=2\r\n"
                                               "[D]\r\nd1=1\r\n"));
}

void TstIniFile::freshFileHoldsOnlyWhatWasWritten()
{
    const QString path = freshPath();
    IniFile ini(path);
    ini.writeString("Mail", "Host", "h");
    ini.writeInteger("Device", "Port", -5);
    ini.writeBool("Mail", "Tls", true);
    ini.writeBool("Alert", "On", false);
    ini.writeString("Mail", "Host", "h2");
    QVERIFY(!QFile::exists(path));
    QVERIFY(ini.save());
    QCOMPARE(
        TestFiles::read(path),
        QByteArray("[Mail]\r\nHost=h2\r\nTls=1\r\n[Device]\r\nPort=-5\r\n[Alert]\r\nOn=0\r\n"));
    QCOMPARE(TestFiles::entries(QFileInfo(path).path()), QStringList{IniName});
}

void TstIniFile::writtenValuesStayOnOneLine_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("CRLF") << QString("a\r\nb") << QByteArray("a  b");
    QTest::newRow("LF") << QString("one\ntwo") << QByteArray("one two");
    QTest::newRow("CR") << QString("x\ry") << QByteArray("x y");
    QTest::newRow("NUL") << (QString("a") + QChar(0) + "b") << QByteArray("a b");
    QTest::newRow("emoji") << QString::fromUtf8("ok😀!") << QByteArray("ok?!");
    QTest::newRow("emoji after kanji")
        << QString::fromUtf8("山田😀") << QByteArray("\x8e\x52\x93\x63?");
    QTest::newRow("hangul") << QString::fromUtf8("한") << QByteArray("?");
}

// A value can neither break the file into extra lines nor make the save fail.
void TstIniFile::writtenValuesStayOnOneLine()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, written);

    const QString path = freshPath();
    IniFile ini(path);
    ini.writeString("Mail", "Subject", value);
    ini.writeString("Mail", "Next", "n");
    QVERIFY(ini.save());
    QCOMPARE(TestFiles::read(path), "[Mail]\r\nSubject=" + written + "\r\nNext=n\r\n");
    QCOMPARE(IniFile(path).readString("Mail", "Next", "-"), QString("n"));
}

void TstIniFile::unreadableFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QByteArray>("saved"); // after writing Mail/From=new

    QTest::newRow("NUL bytes") << QByteArray("[Mail]\r\nHost=h\r\nFrom=a") + '\0' + "b\r\n"
                               << QString("NUL") << QString("-")
                               << QByteArray("[Mail]\r\nFrom=new\r\n");
    QTest::newRow("over 1 MiB") << "[Mail]\r\nHost=h\r\n;" + QByteArray(1024 * 1024, 'x')
                                << QString("1 MiB") << QString("-")
                                << QByteArray("[Mail]\r\nFrom=new\r\n");
    // Only the bad lines are lost to reading; they are still written back as they were. The
    // bad section header hides its keys rather than lending them to [Mail].
    const QByteArray mixed = "[Mail]\r\n"
                             "Host=h\r\n"
                             "Bad=\x81\x20\r\n"
                             "From=old\r\n"
                             "[\x83\xff]\r\n"
                             "Port=1\r\n"
                             "[Device]\r\n"
                             "Port=9\r\n";
    QByteArray mixedSaved = mixed;
    mixedSaved.replace("From=old", "From=new");
    QTest::newRow("invalid CP932") << mixed << QString("lines 3, 5") << QString("h") << mixedSaved;
}

// Defaults for what could not be read, a reason, and the old file kept on save beside the older
// backup, which is never overwritten.
void TstIniFile::unreadableFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    QFETCH(QString, host);
    QFETCH(QByteArray, saved);

    const QString path = freshPath();
    const QString backup = path + ".bak";
    QVERIFY(TestFiles::write(path, content));
    QVERIFY(TestFiles::write(backup, "an older backup\r\n"));

    IniFile ini(path);
    QVERIFY2(ini.readProblem().contains(path), qPrintable(ini.readProblem()));
    QVERIFY2(ini.readProblem().contains(reason), qPrintable(ini.readProblem()));
    QCOMPARE(ini.readString("Mail", "Host", "-"), host);
    QCOMPARE(ini.readString("Mail", "Bad", "-"), QString("-"));
    QCOMPARE(ini.readInteger("Mail", "Port", -1), -1);

    ini.writeString("Mail", "From", "new");
    QVERIFY(ini.save());
    QCOMPARE(TestFiles::read(backup), QByteArray("an older backup\r\n"));
    const QStringList stamped =
        TestFiles::entries(QFileInfo(path).path())
            .filter(
                QRegularExpression(QStringLiteral("^ZARVIK_Mail\\.ini\\.\\d{8}-\\d{6}\\.bak$")));
    QCOMPARE(stamped.size(), 1);
    const QString kept = QFileInfo(path).dir().filePath(stamped.first());
    QVERIFY(TestFiles::read(kept) == content);
    QVERIFY(TestFiles::read(path) == saved);
    QCOMPARE(IniFile(path).readString("Mail", "From", "-"), QString("new"));

    // A second save must not keep our own file as a backup.
    ini.writeString("Mail", "From", "newer");
    QVERIFY(ini.save());
    QVERIFY(TestFiles::read(kept) == content);
    QCOMPARE(TestFiles::entries(QFileInfo(path).path()).size(), 3);
    QCOMPARE(IniFile(path).readString("Mail", "From", "-"), QString("newer"));
}

void TstIniFile::noReadPermission()
{
    const QString path = freshPath();
    const QString folder = QFileInfo(path).path();
    const QByteArray content = "[Mail]\r\nHost=h\r\n";
    QVERIFY(TestFiles::write(path, content));
    changeMode(m_dir.path(), 0755);
    changeOwner(folder);
    changeOwner(path);
    changeMode(path, 0);
    {
        Unprivileged user;
        if (!user.ok())
            QSKIP("Running as root without the right to act as user nobody, and root ignores "
                  "permission bits");
        IniFile ini(path);
        QVERIFY2(ini.readProblem().contains(path), qPrintable(ini.readProblem()));
        QVERIFY2(ini.readProblem().contains(qt_error_string(EACCES)),
                 qPrintable(ini.readProblem()));
        QCOMPARE(ini.readString("Mail", "Host", "-"), QString("-"));
        // Nor may it be written: it is left as it is, and saving says why.
        ini.writeString("Mail", "From", "new");
        QString error;
        QVERIFY(!ini.save(&error));
        QVERIFY2(error.contains(qt_error_string(EACCES)), qPrintable(error));
    }
    changeMode(path, 0600);
    QCOMPARE(TestFiles::read(path), content);
    QCOMPARE(TestFiles::entries(folder), QStringList{IniName});
}

// Read once as UTF-8, kept as .bak, written back as CP932: the next read is clean.
void TstIniFile::utf8WithBomConvertedOnce()
{
    const QString path = freshPath();
    const QByteArray utf8 = "\xef\xbb\xbf[Location]\r\nLeft=12\r\nTop=34\r\n[Mail]\r\nTo=" +
                            QString::fromUtf8("炉 <a@example.jp>").toUtf8() + "\r\n";
    QVERIFY(TestFiles::write(path, utf8));
    {
        IniFile ini(path);
        QVERIFY(!ini.readProblem().isEmpty());
        QCOMPARE(ini.readInteger("Location", "Left", -1), 12);
        QCOMPARE(ini.readInteger("Location", "Top", -1), 34);
        QCOMPARE(ini.readString("Mail", "To", "-"), QString::fromUtf8("炉 <a@example.jp>"));
        QVERIFY(ini.save());
    }
    QCOMPARE(
        TestFiles::read(path),
        QByteArray("[Location]\r\nLeft=12\r\nTop=34\r\n[Mail]\r\nTo=\x98\x46 <a@example.jp>\r\n"));
    QCOMPARE(TestFiles::read(path + ".bak"), utf8);
    const IniFile again(path);
    QCOMPARE(again.readProblem(), QString());
    QCOMPARE(again.readString("Mail", "To", "-"), QString::fromUtf8("炉 <a@example.jp>"));
}

void TstIniFile::fifoNeverBlocks()
{
    const QString path = freshPath();
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    QString problem;
    QString error;
    bool saved = false;
    // In a thread of its own, so that a blocking open fails the test instead of hanging it.
    std::unique_ptr<QThread> worker(QThread::create([&] {
        IniFile ini(path);
        problem = ini.readProblem();
        ini.writeString("Mail", "To", "a@example.jp");
        saved = ini.save(&error);
    }));
    worker->start();
    if (!worker->wait(QDeadlineTimer(10000))) {
        // Both ends opened and closed: a blocked open returns, then a blocked read sees the end.
        ::close(::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK));
        if (!worker->wait(QDeadlineTimer(10000)))
            qFatal("reading or saving a FIFO blocked for good");
        QFAIL("reading or saving a FIFO blocked");
    }
    QVERIFY(!problem.isEmpty());
    QVERIFY2(saved, qPrintable(error));
    QVERIFY(S_ISREG(statOf(path).st_mode));
    QVERIFY(S_ISFIFO(statOf(path + ".bak").st_mode));
    QCOMPARE(IniFile(path).readString("Mail", "To", "-"), QString("a@example.jp"));
}

void TstIniFile::backupsNeverOverwritten()
{
    const QString path = freshPath();
    const QString folder = QFileInfo(path).path();
    const QRegularExpression stamped("^ZARVIK_Mail\\.ini\\.(\\d{8}-\\d{6})(-\\d+)?\\.bak$");
    const auto unreadable = [](int n) {
        return "[Mail]\r\nFrom=" + QByteArray::number(n) + '\0' + "\r\n";
    };
    const auto saveUnreadable = [&](int n) {
        if (!TestFiles::write(path, unreadable(n)))
            return false;
        IniFile ini(path);
        ini.writeString("Mail", "From", "new");
        return !ini.readProblem().isEmpty() && ini.save();
    };
    // The time-stamped backups' contents, sorted; a name of any other form counts as "?".
    const auto stampedBackups = [&] {
        QList<QByteArray> contents;
        for (const QString& name : TestFiles::entries(folder)) {
            const QRegularExpressionMatch match = stamped.match(name);
            if (match.hasMatch() &&
                QDateTime::fromString(match.captured(1), "yyyyMMdd-HHmmss").isValid())
                contents.append(TestFiles::read(folder + '/' + name));
            else if (name != IniName && name != QString(IniName) + ".bak")
                contents.append("?" + name.toUtf8());
        }
        std::sort(contents.begin(), contents.end());
        return contents;
    };

    QVERIFY(saveUnreadable(0));
    QCOMPARE(TestFiles::read(path + ".bak"), unreadable(0));
    QVERIFY(saveUnreadable(0)); // the same bytes are in the .bak already
    QCOMPARE(stampedBackups(), QList<QByteArray>());
    QVERIFY(saveUnreadable(1));
    QCOMPARE(stampedBackups(), QList<QByteArray>{unreadable(1)});
    QVERIFY(saveUnreadable(1));
    QCOMPARE(stampedBackups(), QList<QByteArray>{unreadable(1)});
    // Within one second the names take numeric suffixes; the oldest go first.
    for (int n = 2; n <= 7; ++n)
        QVERIFY(saveUnreadable(n));
    QCOMPARE(stampedBackups(), (QList<QByteArray>{unreadable(3), unreadable(4), unreadable(5),
                                                  unreadable(6), unreadable(7)}));
    QCOMPARE(TestFiles::read(path + ".bak"), unreadable(0));
}

// ZARVIK_Mail.ini -> link2.ini -> store/real.ini: the last one is replaced, the links stay.
void TstIniFile::symlinkChainFollowed()
{
    const QString folder = QFileInfo(freshPath()).path();
    const QString path = folder + '/' + IniName;
    const QString link2 = folder + "/link2.ini";
    const QString real = folder + "/store/real.ini";
    QVERIFY(QDir().mkpath(folder + "/store"));
    QVERIFY(TestFiles::write(real, "[Mail]\r\nFrom=old\r\n"));
    QCOMPARE(::symlink("store/real.ini", QFile::encodeName(link2).constData()), 0);
    QCOMPARE(::symlink("link2.ini", QFile::encodeName(path).constData()), 0);
    const ino_t before = statOf(real).st_ino;

    IniFile ini(path);
    QCOMPARE(ini.readString("Mail", "From", "-"), QString("old"));
    ini.writeString("Mail", "From", "new");
    QString error;
    QVERIFY2(ini.save(&error), qPrintable(error));
    QCOMPARE(TestFiles::read(real), QByteArray("[Mail]\r\nFrom=new\r\n"));
    // A new file renamed over the old one, not the old one rewritten in place.
    QVERIFY(S_ISREG(statOf(real).st_mode));
    QVERIFY(statOf(real).st_ino != before);
    QCOMPARE(linkTarget(path), QString("link2.ini"));
    QCOMPARE(linkTarget(link2), QString("store/real.ini"));
    QCOMPARE(TestFiles::entries(folder), (QStringList{IniName, "link2.ini", "store"}));
    QCOMPARE(TestFiles::entries(folder + "/store"), QStringList{"real.ini"});
}

void TstIniFile::replacedFileKeepsOwnerAndMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner"); // chowned to the unprivileged user
    QTest::newRow("0640") << 0640 << false;
    QTest::newRow("0600, other owner") << 0600 << true;
    QTest::newRow("0751, other owner") << 0751 << true;
}

void TstIniFile::replacedFileKeepsOwnerAndMode()
{
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    const QString path = freshPath();
    QVERIFY(TestFiles::write(path, "[Mail]\r\nFrom=old\r\n"));
    changeMode(path, mode);
    if (otherOwner)
        changeOwner(path);
    const struct stat before = statOf(path);

    IniFile ini(path);
    ini.writeString("Mail", "From", "new");
    QString error;
    QVERIFY2(ini.save(&error), qPrintable(error));
    const struct stat after = statOf(path);
    QCOMPARE(TestFiles::read(path), QByteArray("[Mail]\r\nFrom=new\r\n"));
    QCOMPARE(after.st_mode & 07777, mode_t(mode));
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
}

void TstIniFile::readOnlyFolder()
{
    const QString path = freshPath();
    const QString folder = QFileInfo(path).path();
    const QByteArray content = "[Mail]\r\nHost=old\r\n";
    QVERIFY(TestFiles::write(path, content));
    changeMode(m_dir.path(), 0755);
    changeMode(folder, 0555);
    const auto writable = qScopeGuard([&] { changeMode(folder, 0755); });
    {
        Unprivileged user;
        if (!user.ok())
            QSKIP("Running as root without the right to act as user nobody, and root ignores "
                  "permission bits");
        IniFile ini(path);
        QCOMPARE(ini.readProblem(), QString());
        ini.writeString("Mail", "Host", "new");
        QString error;
        QVERIFY(!ini.save(&error));
        QVERIFY2(error.contains('"' + path + '"'), qPrintable(error));
        QVERIFY2(error.contains(qt_error_string(EACCES)), qPrintable(error));
    }
    QCOMPARE(TestFiles::read(path), content);
    QCOMPARE(TestFiles::entries(folder), QStringList{IniName});
}

void TstIniFile::readOnlyFile_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("0444") << 0444;
    QTest::newRow("0400") << 0400;
}

// No write bit: even root leaves the file alone.
void TstIniFile::readOnlyFile()
{
    QFETCH(int, mode);
    const QString path = freshPath();
    const QByteArray content = "[Mail]\r\nHost=old\r\n";
    QVERIFY(TestFiles::write(path, content));
    changeMode(path, mode);
    IniFile ini(path);
    QCOMPARE(ini.readProblem(), QString());
    ini.writeString("Mail", "Host", "new");
    QString error;
    QVERIFY(!ini.save(&error));
    QVERIFY2(error.contains('"' + path + '"'), qPrintable(error));
    QVERIFY2(error.contains(qt_error_string(EACCES)), qPrintable(error));
    QCOMPARE(TestFiles::read(path), content);
    QCOMPARE(statOf(path).st_mode & 07777, mode_t(mode));
    QCOMPARE(TestFiles::entries(QFileInfo(path).path()), QStringList{IniName});
}

// A write limit makes the save fail halfway through, as a full disk does.
void TstIniFile::fullDisk()
{
    const QString path = freshPath();
    const QByteArray content = "[Mail]\r\nHost=old\r\n";
    QVERIFY(TestFiles::write(path, content));
    IniFile ini(path);
    ini.writeString("Mail", "Body", QString(200000, QChar(u'x')));

    rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = 64 * 1024;
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    QString error;
    const bool saved = ini.save(&error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);

    QVERIFY(!saved);
    QVERIFY2(error.contains('"' + path + '"'), qPrintable(error));
    QVERIFY2(error.contains(qt_error_string(EFBIG)), qPrintable(error));
    QCOMPARE(TestFiles::read(path), content);
    QCOMPARE(TestFiles::entries(QFileInfo(path).path()), QStringList{IniName});
}

void TstIniFile::saveInMountNamespace_data()
{
    // Run by sh with $2 the file's folder and $3 a copy of the file outside it.
    QTest::addColumn<QString>("mounts");
    QTest::addColumn<int>("reason");
    QTest::newRow("read-only bind mount")
        << "mount --bind \"$2\" \"$2\" && mount -o remount,bind,ro \"$2\"" << EROFS;
    QTest::newRow("full tmpfs")
        << "mount -t tmpfs -o size=64k tmpfs \"$2\" && cp \"$3\" \"$2/ZARVIK_Mail.ini\"" << ENOSPC;
}

// A copy of this binary saves once under mounts of its own.
void TstIniFile::saveInMountNamespace()
{
    QFETCH(QString, mounts);
    QFETCH(int, reason);
    if (QProcess::execute("unshare", {"-m", "--", "true"}) != 0)
        QSKIP("unshare -m is not permitted here");
    const QString path = freshPath();
    const QString folder = QFileInfo(path).path();
    const QByteArray content = "[Mail]\r\nHost=old\r\n";
    QVERIFY(TestFiles::write(path, content));
    QVERIFY(TestFiles::write(folder + ".ini", content));

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(SaveOnceVariable, path);
    child.setProcessEnvironment(environment);
    child.start("unshare",
                {"-m", "--", "sh", "-c", "{ " + mounts + "; } || exit 77; exec \"$1\"", "sh",
                 QCoreApplication::applicationFilePath(), folder, folder + ".ini"});
    QVERIFY(child.waitForFinished(30000));
    const QString errors = QString::fromLocal8Bit(child.readAllStandardError());
    if (child.exitCode() == 77)
        QSKIP(qPrintable("mount is not permitted here: " + errors));
    QCOMPARE(child.exitCode(), 1);
    QVERIFY2(errors.contains('"' + path + '"'), qPrintable(errors));
    QVERIFY2(errors.contains(qt_error_string(reason)), qPrintable(errors));
    QCOMPARE(child.readAllStandardOutput(), QByteArray("unchanged=1\n") + IniName + '\n');
    QCOMPARE(TestFiles::read(path), content);
}

// Kills a process that saves a large file over and over, at random moments: the file must
// always be one complete version.
void TstIniFile::killDuringSave()
{
    const QString path = freshPath();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(SaveLoopVariable, path);
    int lastVersion = 0;
    for (int round = 0; round < 20; ++round) {
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY2(child.waitForStarted(10000), qPrintable(child.errorString()));
        QVERIFY2(child.waitForReadyRead(60000), "the child never saved");
        QThread::msleep(QRandomGenerator::global()->bounded(100));
        child.kill();
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        const IniFile ini(path);
        QVERIFY2(ini.readProblem().isEmpty(), qPrintable(ini.readProblem()));
        const int version = ini.readInteger("Run", "Version", 0);
        QVERIFY2(version > lastVersion, qPrintable(QString::number(version)));
        QCOMPARE(ini.readInteger("End", "Version", 0), version);
        for (int key = 0; key < LoopKeys; ++key)
            QCOMPARE(ini.readString("Data", QStringLiteral("Key%1").arg(key), "-"), loopValue(key));
        lastVersion = version;
    }
}

QTEST_GUILESS_MAIN(TstIniFile)
#include "tst_inifile.moc"
