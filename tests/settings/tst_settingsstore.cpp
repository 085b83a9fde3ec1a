#include "settings/Memo.h"
#include "settings/RadioGroup.h"
#include "settings/SettingsStore.h"
#include "settings/ToolSettingDlg.h"
#include "support/TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString JapaneseFrom = QStringLiteral("山田 太郎 <yamada@example.jp>");
// The same in CP932.
const QByteArray JapaneseFromCp932("\x8e\x52\x93\x63 \x91\xbe\x98\x59 <yamada@example.jp>");

const QByteArray DesignFile = "[Location]\r\n"
                              "Left=0\r\n"
                              "Top=0\r\n"
                              "[ZARVIK]\r\n"
                              "Address=192.168.1.200\r\n"
                              "Port=10001\r\n"
                              "Cycle=5000\r\n"
                              "[Temp]\r\n"
                              "UTemp=100\r\n"
                              "LTemp=0\r\n"
                              "Check_U=0\r\n"
                              "Check_L=0\r\n"
                              "[Sensor]\r\n"
                              "RB1=2\r\n"
                              "RB0=2\r\n"
                              "[Mail]\r\n"
                              "Priority=2\r\n"
                              "Address=\r\n"
                              "User=\r\n"
                              "From=\r\n"
                              "To=\r\n";

// Every stored control's value, in one order: address, port, cycle, upper and lower limit and
// their boxes, RB1, RB0, priority, server, user, From, To.
QStringList storedValues(const TToolSettingDlg& dlg)
{
    return {dlg.EdtPicAddr->text(),
            dlg.EdtPicPort->text(),
            dlg.EdtRdCycle->text(),
            dlg.EditUTemp->text(),
            dlg.EditLTemp->text(),
            QString::number(dlg.ChkBoxUTemp->isChecked()),
            QString::number(dlg.ChkBoxLTemp->isChecked()),
            QString::number(dlg.RGrpRB1->itemIndex()),
            QString::number(dlg.RGrpRB0->itemIndex()),
            QString::number(dlg.RGrpPrty->itemIndex()),
            dlg.EdtMailSrv->text(),
            dlg.EdtMailId->text(),
            dlg.EdtMailFrom->text(),
            dlg.EdtMailTo->text()};
}

const QStringList DesignValues = {
    "192.168.1.200", "10001", "5000", "100", "0", "0", "0", "2", "2", "2", "", "", "", ""};
// Every one away from its design value.
const QStringList EditedValues = {"127.0.0.1",
                                  "20002",
                                  "750",
                                  "38.5",
                                  "-12",
                                  "1",
                                  "1",
                                  "0",
                                  "1",
                                  "0",
                                  "smtp.example.jp",
                                  "zarvik user",
                                  JapaneseFrom,
                                  "a@example.jp, b@example.jp"};

void editEverything(TToolSettingDlg& dlg)
{
    const QStringList& v = EditedValues;
    dlg.EdtPicAddr->setText(v[0]);
    dlg.EdtPicPort->setText(v[1]);
    dlg.EdtRdCycle->setText(v[2]);
    dlg.EditUTemp->setText(v[3]);
    dlg.EditLTemp->setText(v[4]);
    dlg.ChkBoxUTemp->setChecked(v[5] == u"1");
    dlg.ChkBoxLTemp->setChecked(v[6] == u"1");
    dlg.RGrpRB1->setItemIndex(v[7].toInt());
    dlg.RGrpRB0->setItemIndex(v[8].toInt());
    dlg.RGrpPrty->setItemIndex(v[9].toInt());
    dlg.EdtMailSrv->setText(v[10]);
    dlg.EdtMailId->setText(v[11]);
    dlg.EdtMailFrom->setText(v[12]);
    dlg.EdtMailTo->setText(v[13]);
}

} // namespace

class TstSettingsStore : public QObject {
    Q_OBJECT

private slots:
    void init();

    void missingFileLoadsDesignValues();
    void saveWritesEveryKeyInOrder();
    void roundTripsEveryKey();
    void eachCallRereadsTheFile();
    void booleanText_data();
    void booleanText();
    void radioIndexText_data();
    void radioIndexText();
    void memosAreNotStored();
    void mailSecurityKeys_data();
    void mailSecurityKeys();
    void watchKeysOnlyWhenSet();
    void unreadableFileIsReported();
    void saveFailureIsReported();
    void settingsPathFor_data();
    void settingsPathFor();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_ini;
};

void TstSettingsStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_ini = m_dir->filePath("ZARVIK_Mail.ini");
}

void TstSettingsStore::missingFileLoadsDesignValues()
{
    TToolSettingDlg dlg;
    editEverything(dlg);
    QVERIFY(SettingsStore::loadSettings(m_ini, dlg));
    QCOMPARE(storedValues(dlg), DesignValues);
    QCOMPARE(SettingsStore::loadStartup(m_ini).position, QPoint(0, 0));
    QCOMPARE(SettingsStore::loadStartup(m_ini).boardAddress, QString("192.168.1.200"));
    QCOMPARE(SettingsStore::loadStartup(m_ini).boardPort, QString("10001"));
    QVERIFY2(!QFile::exists(m_ini), "loading must not create the file");
}

void TstSettingsStore::saveWritesEveryKeyInOrder()
{
    const TToolSettingDlg dlg;
    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(0, 0), dlg));
    QCOMPARE(TestFiles::read(m_ini), DesignFile);

    // Saving again over the file rewrites values in place and adds nothing.
    TToolSettingDlg edited;
    edited.EditUTemp->setText("40");
    edited.ChkBoxLTemp->setChecked(true);
    edited.RGrpRB0->setItemIndex(-1);
    edited.EdtMailTo->setText("x@example.jp");
    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(-8, 1200), edited));
    QByteArray expected = DesignFile;
    expected.replace("Left=0", "Left=-8")
        .replace("Top=0", "Top=1200")
        .replace("UTemp=100", "UTemp=40")
        .replace("Check_L=0", "Check_L=1")
        .replace("RB0=2", "RB0=-1")
        .replace("To=\r\n", "To=x@example.jp\r\n");
    QCOMPARE(TestFiles::read(m_ini), expected);
}

void TstSettingsStore::roundTripsEveryKey()
{
    TToolSettingDlg saved;
    editEverything(saved);
    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(345, 67), saved));

    const QByteArray bytes = TestFiles::read(m_ini);
    QVERIFY(bytes.contains("\r\nFrom=" + JapaneseFromCp932 + "\r\n"));
    QVERIFY(bytes.contains("\r\nAddress=smtp.example.jp\r\n"));

    TToolSettingDlg loaded;
    QVERIFY(SettingsStore::loadSettings(m_ini, loaded));
    QCOMPARE(SettingsStore::loadStartup(m_ini).position, QPoint(345, 67));
    QCOMPARE(SettingsStore::loadStartup(m_ini).boardAddress, QString("127.0.0.1"));
    QCOMPARE(SettingsStore::loadStartup(m_ini).boardPort, QString("20002"));
    QCOMPARE(storedValues(loaded), EditedValues);

    // Saving what was loaded reproduces the file byte for byte.
    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(345, 67), loaded));
    QCOMPARE(TestFiles::read(m_ini), bytes);
}

void TstSettingsStore::eachCallRereadsTheFile()
{
    TToolSettingDlg dlg;
    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(1, 2), dlg));
    QCOMPARE(SettingsStore::loadStartup(m_ini).position, QPoint(1, 2));

    QByteArray bytes = TestFiles::read(m_ini);
    bytes.replace("Left=1", "Left=50").replace("Port=10001", "Port=40404");
    QVERIFY(TestFiles::write(m_ini, bytes));
    QCOMPARE(SettingsStore::loadStartup(m_ini).position, QPoint(50, 2));
    QVERIFY(SettingsStore::loadSettings(m_ini, dlg));
    QCOMPARE(dlg.EdtPicPort->text(), QString("40404"));

    QVERIFY(QFile::remove(m_ini));
    QCOMPARE(SettingsStore::loadStartup(m_ini).position, QPoint(0, 0));
    QVERIFY(SettingsStore::loadSettings(m_ini, dlg));
    QCOMPARE(dlg.EdtPicPort->text(), QString("10001"));
}

void TstSettingsStore::booleanText_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("checked");
    QTest::newRow("yes") << QByteArray("yes") << false;
    QTest::newRow("true") << QByteArray("true") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("2") << QByteArray("2") << true;
    QTest::newRow("-1") << QByteArray("-1") << true;
}

void TstSettingsStore::booleanText()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, checked);
    QVERIFY(
        TestFiles::write(m_ini, "[Temp]\r\nCheck_U=" + value + "\r\nCheck_L=" + value + "\r\n"));
    TToolSettingDlg dlg;
    dlg.ChkBoxUTemp->setChecked(!checked);
    dlg.ChkBoxLTemp->setChecked(!checked);
    QVERIFY(SettingsStore::loadSettings(m_ini, dlg));
    QCOMPARE(dlg.ChkBoxUTemp->isChecked(), checked);
    QCOMPARE(dlg.ChkBoxLTemp->isChecked(), checked);
}

void TstSettingsStore::radioIndexText_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("index");
    QTest::newRow("0") << QByteArray("0") << 0;
    QTest::newRow("1") << QByteArray("1") << 1;
    QTest::newRow("none") << QByteArray("-1") << -1;
    QTest::newRow("7") << QByteArray("7") << -1;
    QTest::newRow("one past the end") << QByteArray("3") << -1;
    QTest::newRow("negative") << QByteArray("-2") << -1;
    QTest::newRow("not a number") << QByteArray("High") << 2;
}

void TstSettingsStore::radioIndexText()
{
    QFETCH(QByteArray, value);
    QFETCH(int, index);
    QVERIFY(TestFiles::write(m_ini, "[Sensor]\r\nRB1=" + value + "\r\nRB0=" + value +
                                        "\r\n[Mail]\r\nPriority=" + value + "\r\n"));
    TToolSettingDlg dlg;
    dlg.RGrpRB1->setItemIndex(1);
    dlg.RGrpRB0->setItemIndex(1);
    dlg.RGrpPrty->setItemIndex(1);
    QVERIFY(SettingsStore::loadSettings(m_ini, dlg));
    QCOMPARE(dlg.RGrpRB1->itemIndex(), index);
    QCOMPARE(dlg.RGrpRB0->itemIndex(), index);
    QCOMPARE(dlg.RGrpPrty->itemIndex(), index);

    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(), dlg));
    const QByteArray expected = QByteArray::number(index);
    const QByteArray bytes = TestFiles::read(m_ini);
    QVERIFY2(bytes.contains("\r\nRB1=" + expected + "\r\nRB0=" + expected + "\r\n"), bytes);
    QVERIFY2(bytes.contains("\r\nPriority=" + expected + "\r\n"), bytes);
}

void TstSettingsStore::mailSecurityKeys_data()
{
    QTest::addColumn<int>("security");
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QByteArray>("written"); // after "To=\r\n"; empty: the sixteen keys alone

    QTest::newRow("defaults") << 0 << "" << QByteArray();
    QTest::newRow("STARTTLS") << 1 << "" << QByteArray("Security=starttls\r\n");
    QTest::newRow("SSL/TLS, CA file")
        << 2 << "/etc/ssl/ca.pem" << QByteArray("Security=tls\r\nCAFile=/etc/ssl/ca.pem\r\n");
    QTest::newRow("None") << 3 << "" << QByteArray("Security=none\r\n");
}

void TstSettingsStore::mailSecurityKeys()
{
    QFETCH(int, security);
    QFETCH(QString, caFile);
    QFETCH(QByteArray, written);

    TToolSettingDlg saved;
    saved.CmbMailSec->setCurrentIndex(security);
    saved.MailCaFile = caFile;
    saved.EdtMailPass->setText(QStringLiteral("s3cret-pass"));
    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(0, 0), saved));
    QCOMPARE(TestFiles::read(m_ini), DesignFile + written);

    TToolSettingDlg loaded;
    QVERIFY(SettingsStore::loadSettings(m_ini, loaded));
    QCOMPARE(loaded.CmbMailSec->currentIndex(), security);
    QCOMPARE(loaded.MailCaFile, caFile);
    QCOMPARE(loaded.EdtMailPass->text(), QString());

    // Back to the defaults: a key the file has is kept up to date, not left behind.
    loaded.CmbMailSec->setCurrentIndex(0);
    loaded.MailCaFile.clear();
    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(0, 0), loaded));
    TToolSettingDlg reloaded;
    QVERIFY(SettingsStore::loadSettings(m_ini, reloaded));
    QCOMPARE(reloaded.CmbMailSec->currentIndex(), 0);
    QCOMPARE(reloaded.MailCaFile, QString());
}

void TstSettingsStore::watchKeysOnlyWhenSet()
{
    TToolSettingDlg saved;
    saved.ChkBoxNoReply->setChecked(true);
    saved.EditNoReplySec->setText(QStringLiteral("30"));
    saved.ChkBoxRetry->setChecked(true);
    saved.ChkBoxLog->setChecked(true);
    saved.ChkBoxNotify->setChecked(true);
    saved.EdtMetrics->setText(QStringLiteral("127.0.0.1:9464"));
    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(0, 0), saved));
    QCOMPARE(TestFiles::read(m_ini), DesignFile +
                                         "[Watch]\r\nNoReply=1\r\nNoReplySec=30\r\nRetry=1\r\n"
                                         "Log=1\r\nNotify=1\r\nMetrics=127.0.0.1:9464\r\n");
    TToolSettingDlg loaded;
    QVERIFY(SettingsStore::loadSettings(m_ini, loaded));
    QVERIFY(loaded.ChkBoxNoReply->isChecked());
    QCOMPARE(loaded.EditNoReplySec->text(), QStringLiteral("30"));
    QVERIFY(loaded.ChkBoxRetry->isChecked());
    QVERIFY(loaded.ChkBoxLog->isChecked());
    QVERIFY(loaded.ChkBoxNotify->isChecked());
    QCOMPARE(loaded.EdtMetrics->text(), QStringLiteral("127.0.0.1:9464"));

    // Turned off again: keys the file has are kept up to date.
    loaded.ChkBoxNotify->setChecked(false);
    loaded.EdtMetrics->clear();
    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(0, 0), loaded));
    QVERIFY(TestFiles::read(m_ini).endsWith("Retry=1\r\nLog=1\r\nNotify=0\r\nMetrics=\r\n"));
}

void TstSettingsStore::memosAreNotStored()
{
    TToolSettingDlg dlg;
    dlg.MemoUTemp->setText("too hot");
    dlg.MemoLTemp->setText("too cold");
    dlg.MemoChgRB1->setText("door\r\nopened");
    dlg.MemoChgRB0->setText("window");
    QVERIFY(SettingsStore::saveAll(m_ini, QPoint(), dlg));
    const QByteArray bytes = TestFiles::read(m_ini);
    for (const char* text : {"too hot", "too cold", "door", "opened", "window", "Message"})
        QVERIFY2(!bytes.contains(text), text);
    QCOMPARE(bytes.count('\n'), DesignFile.count('\n'));

    TToolSettingDlg fresh;
    QVERIFY(SettingsStore::loadSettings(m_ini, fresh));
    QCOMPARE(fresh.MemoUTemp->text(), QString("Message <Upper Temp>"));
    QCOMPARE(fresh.MemoLTemp->text(), QString("Message <Lower Temp>"));
    QCOMPARE(fresh.MemoChgRB1->text(), QString("Message <Change RB1>\r\n"));
    QCOMPARE(fresh.MemoChgRB0->text(), QString("Message <Change RB0>"));

    // Loading leaves whatever the memos hold.
    QVERIFY(SettingsStore::loadSettings(m_ini, dlg));
    QCOMPARE(dlg.MemoUTemp->text(), QString("too hot"));
}

void TstSettingsStore::unreadableFileIsReported()
{
    // A folder where the file should be cannot be read.
    QVERIFY(QDir(m_dir->path()).mkdir("ZARVIK_Mail.ini"));
    TToolSettingDlg dlg;
    editEverything(dlg);
    QString problem;
    QVERIFY(!SettingsStore::loadSettings(m_ini, dlg, &problem));
    QVERIFY(!problem.isEmpty());
    QCOMPARE(storedValues(dlg), DesignValues);
}

void TstSettingsStore::saveFailureIsReported()
{
    const QString path = m_dir->filePath("no such folder/ZARVIK_Mail.ini");
    const TToolSettingDlg dlg;
    QString error;
    QVERIFY(!SettingsStore::saveAll(path, QPoint(), dlg, &error));
    QVERIFY2(error.contains("ZARVIK_Mail.ini"), qPrintable(error));
    QVERIFY(!QFile::exists(path));
}

void TstSettingsStore::settingsPathFor_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("ini");
    QTest::newRow("no extension") << "/opt/x/ZARVIK_Mail"
                                  << "/opt/x/ZARVIK_Mail.ini";
    QTest::newRow("exe") << "C:/x/ZARVIK_Mail.exe"
                         << "C:/x/ZARVIK_Mail.ini";
    QTest::newRow("backslashes") << "C:\\Tools\\ZARVIK_Mail.exe"
                                 << "C:\\Tools\\ZARVIK_Mail.ini";
    QTest::newRow("dot in folder") << "/opt/v1.2/ZARVIK_Mail"
                                   << "/opt/v1.2/ZARVIK_Mail.ini";
    QTest::newRow("dot in folder, backslash") << "C:\\v1.2\\ZARVIK_Mail"
                                              << "C:\\v1.2\\ZARVIK_Mail.ini";
    QTest::newRow("two dots") << "/opt/x/zarvik.mail.bin"
                              << "/opt/x/zarvik.mail.ini";
    QTest::newRow("relative") << "ZARVIK_Mail"
                              << "ZARVIK_Mail.ini";
    QTest::newRow("Japanese folder") << "/home/山田/ZARVIK_Mail"
                                     << "/home/山田/ZARVIK_Mail.ini";
}

void TstSettingsStore::settingsPathFor()
{
    QFETCH(QString, executable);
    QFETCH(QString, ini);
    QCOMPARE(SettingsStore::settingsPathFor(executable), ini);
}

QTEST_MAIN(TstSettingsStore)
#include "tst_settingsstore.moc"
