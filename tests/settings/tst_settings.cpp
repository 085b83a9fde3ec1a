#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "settings/SettingsLocation.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using K = Settings::Key;

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

// The sixteen keys every file has, after the window position.
const K ClassicKeys[] = {K::BoardAddress, K::BoardPort,  K::ReadCycle, K::UpperLimit, K::LowerLimit,
                         K::CheckUpper,   K::CheckLower, K::Rb1,       K::Rb0,        K::Priority,
                         K::MailServer,   K::MailUser,   K::MailFrom,  K::MailTo};

QStringList storedValues(const Settings& settings)
{
    QStringList values;
    for (K key : ClassicKeys)
        values << settings.value(key).toString();
    return values;
}

const QStringList DesignValues = {
    "192.168.1.200", "10001", "5000", "100", "0", "false", "false", "2", "2", "2", "", "", "", ""};
// Every one away from its design value.
const QStringList EditedValues = {"127.0.0.1",
                                  "20002",
                                  "750",
                                  "38.5",
                                  "-12",
                                  "true",
                                  "true",
                                  "0",
                                  "1",
                                  "0",
                                  "smtp.example.jp",
                                  "zarvik user",
                                  JapaneseFrom,
                                  "a@example.jp, b@example.jp"};

void editEverything(Settings& settings)
{
    for (int i = 0; i < int(std::size(ClassicKeys)); ++i)
        settings.setValue(ClassicKeys[i], EditedValues[i]);
}

} // namespace

class TstSettings : public QObject {
    Q_OBJECT

private slots:
    void init();

    void everyKey_data();
    void everyKey();

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
    void secretsAreForTheOwnerOnly_data();
    void secretsAreForTheOwnerOnly();
    void pathFor_data();
    void pathFor();
    void besideTheExecutable_data();
    void besideTheExecutable();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_ini;
};

void TstSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_ini = m_dir->filePath("ZARVIK_Mail.ini");
}

void TstSettings::everyKey_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("section"); // empty: held for this run only
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("def");
    QTest::addColumn<QString>("defText"); // how a new file holds the default; null: not at all
    QTest::addColumn<QVariant>("other");
    QTest::addColumn<QString>("otherText");
    const QString none;
    const auto row = [](K key, const char* section, const char* name, const QVariant& def,
                        const QString& defText, const QVariant& other, const QString& otherText) {
        QTest::newRow(QMetaEnum::fromType<K>().valueToKey(key))
            << int(key) << QString(section) << QString(name) << def << defText << other
            << otherText;
    };
    row(K::Left, "Location", "Left", 0, "0", -8, "-8");
    row(K::Top, "Location", "Top", 0, "0", 1200, "1200");
    row(K::BoardAddress, "ZARVIK", "Address", "192.168.1.200", "192.168.1.200", "127.0.0.1",
        "127.0.0.1");
    row(K::BoardPort, "ZARVIK", "Port", "10001", "10001", "20002", "20002");
    row(K::ReadCycle, "ZARVIK", "Cycle", "5000", "5000", "750", "750");
    row(K::UpperLimit, "Temp", "UTemp", "100", "100", "38.5", "38.5");
    row(K::LowerLimit, "Temp", "LTemp", "0", "0", "-12", "-12");
    row(K::CheckUpper, "Temp", "Check_U", false, "0", true, "1");
    row(K::CheckLower, "Temp", "Check_L", false, "0", true, "1");
    row(K::Rb1, "Sensor", "RB1", 2, "2", 0, "0");
    row(K::Rb0, "Sensor", "RB0", 2, "2", -1, "-1");
    row(K::Priority, "Mail", "Priority", 2, "2", 1, "1");
    row(K::MailServer, "Mail", "Address", "", "", "smtp.example.jp:587", "smtp.example.jp:587");
    row(K::MailUser, "Mail", "User", "", "", "zarvik user", "zarvik user");
    row(K::MailFrom, "Mail", "From", "", "", JapaneseFrom, JapaneseFrom);
    row(K::MailTo, "Mail", "To", "", "", "a@example.jp; b@example.jp",
        "a@example.jp; b@example.jp");
    row(K::MailSecurity, "Mail", "Security", 0, none, 2, "tls");
    row(K::MailCaFile, "Mail", "CAFile", "", none, "/etc/ssl/ca.pem", "/etc/ssl/ca.pem");
    row(K::NoReply, "Watch", "NoReply", false, none, true, "1");
    row(K::NoReplySec, "Watch", "NoReplySec", "60", none, "30", "30");
    row(K::Retry, "Watch", "Retry", false, none, true, "1");
    row(K::Log, "Watch", "Log", false, none, true, "1");
    row(K::Notify, "Watch", "Notify", false, none, true, "1");
    row(K::Metrics, "Watch", "Metrics", "", none, "127.0.0.1:9464", "127.0.0.1:9464");
    row(K::ReArm, "Watch", "ReArm", false, none, true, "1");
    row(K::ReArmSec, "Watch", "ReArmSec", "60", none, "300", "300");
    row(K::RemindMin, "Watch", "RemindMin", "0", none, "30", "30");
    row(K::HoldSec, "Watch", "HoldSec", "0", none, "10", "10");
    row(K::Hysteresis, "Temp", "Hysteresis", "1", none, "0.5", "0.5");
    row(K::PushNtfy, "Push", "Ntfy", "", none, "https://ntfy.sh/boiler", "https://ntfy.sh/boiler");
    row(K::PushWebhook, "Push", "Webhook", "", none, "http://127.0.0.1:8080/hook",
        "http://127.0.0.1:8080/hook");
    row(K::PushTelegramToken, "Push", "TelegramToken", "", none, "123456:ABC-DEF",
        "123456:ABC-DEF");
    row(K::PushTelegramChat, "Push", "TelegramChat", "", none, "-1001234567890", "-1001234567890");
    row(K::PushTelegramApi, "Push", "TelegramApi", "", none, "http://127.0.0.1:8081",
        "http://127.0.0.1:8081");
    row(K::TempOffset, "Temp", "Offset", "0", none, "-1.5", "-1.5");
    row(K::MailSubject, "Mail", "Subject", "", none, "[boiler] {subject}", "[boiler] {subject}");
    row(K::MailBody, "Mail", "Body", "", none, R"({message}\n{memo})", R"({message}\n{memo})");
    row(K::MqttBroker, "Mqtt", "Broker", "", none, "mqtts://127.0.0.1:8883",
        "mqtts://127.0.0.1:8883");
    row(K::MqttUser, "Mqtt", "User", "", none, "zarvik", "zarvik");
    row(K::MqttCaFile, "Mqtt", "CAFile", "", none, "/etc/ssl/ca.pem", "/etc/ssl/ca.pem");
    row(K::MqttPrefix, "Mqtt", "Prefix", "homeassistant", none, "ha", "ha");
    row(K::MqttNodeId, "Mqtt", "NodeId", "", none, "zarvik_0a1b2c3d", "zarvik_0a1b2c3d");
    row(K::MqttCommands, "Mqtt", "Commands", false, none, true, "1");
    row(K::WebListen, "Web", "Listen", "", none, "127.0.0.1:8080", "127.0.0.1:8080");
    row(K::WebUser, "Web", "User", "", none, "admin", "admin");
    row(K::WebPasswordHash, "Web", "PasswordHash", "", none, "$y$j9T$salt$hash",
        "$y$j9T$salt$hash");
    row(K::WebCertFile, "Web", "CertFile", "", none, "/etc/zarvik/cert.pem",
        "/etc/zarvik/cert.pem");
    row(K::WebKeyFile, "Web", "KeyFile", "", none, "/etc/zarvik/key.pem", "/etc/zarvik/key.pem");
    row(K::UiLanguage, "Ui", "Language", "", none, "en", "en");
    row(K::MemoUpper, "", "", "Message <Upper Temp>", none, "hot", none);
    row(K::MemoLower, "", "", "Message <Lower Temp>", none, "cold", none);
    row(K::MemoRb1, "", "", "Message <Change RB1>\r\n", none, "door\r\nopen", none);
    row(K::MemoRb0, "", "", "Message <Change RB0>", none, "window", none);
    row(K::MemoNoReply, "", "", "Message <No Reply>", none, "silent", none);
    row(K::MailPassword, "", "", "", none, "s3cret-pass", none);
    row(K::MqttPassword, "", "", "", none, "broker-pass", none);
    static_assert(Settings::KeyCount == 56, "a row for every key");
}

void TstSettings::everyKey()
{
    QFETCH(int, key);
    QFETCH(QString, section);
    QFETCH(QString, name);
    QFETCH(QVariant, def);
    QFETCH(QString, defText);
    QFETCH(QVariant, other);
    QFETCH(QString, otherText);
    const K k = K(key);

    // The default, before anything is read and from an empty file.
    Settings settings;
    QCOMPARE(settings.value(k), def);
    QCOMPARE(Settings::isStored(k), !section.isEmpty());
    QVERIFY(TestFiles::write(m_ini, {}));
    QSignalSpy changed(&settings, &Settings::changed);
    QVERIFY(settings.load(m_ini));
    QCOMPARE(settings.value(k), def);
    QCOMPARE(changed.size(), 0);

    // A new file holds the classic keys at their defaults, a newer key only once it is set.
    QVERIFY(settings.save(m_ini));
    if (!section.isEmpty()) {
        const IniFile file(m_ini);
        QCOMPARE(file.contains(section, name), !defText.isNull());
        if (!defText.isNull())
            QCOMPARE(file.readString(section, name, {}), defText);
    }

    // Set, the value is told once and round-trips through the file; a run-only one does not.
    settings.setValue(k, other);
    settings.setValue(k, other);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).value<K>(), k);
    QCOMPARE(settings.value(k), other);
    QVERIFY(settings.save(m_ini));
    if (!section.isEmpty())
        QCOMPARE(IniFile(m_ini).readString(section, name, {}), otherText);
    else
        QVERIFY(!TestFiles::read(m_ini).contains(other.toString().toUtf8()));
    Settings loaded;
    QSignalSpy loadedChanged(&loaded, &Settings::changed);
    QVERIFY(loaded.load(m_ini));
    QCOMPARE(loaded.value(k), section.isEmpty() ? def : other);
    QCOMPARE(loadedChanged.size(), section.isEmpty() ? 0 : 1);
}

void TstSettings::missingFileLoadsDesignValues()
{
    Settings settings;
    editEverything(settings);
    settings.setValue(K::Left, 5);
    QVERIFY(settings.load(m_ini));
    QCOMPARE(storedValues(settings), DesignValues);
    QCOMPARE(settings.number(K::Left), 0);
    QVERIFY2(!QFile::exists(m_ini), "loading must not create the file");
}

void TstSettings::saveWritesEveryKeyInOrder()
{
    const Settings settings;
    QVERIFY(settings.save(m_ini));
    QCOMPARE(TestFiles::read(m_ini), DesignFile);

    // Saving again over the file rewrites values in place and adds nothing.
    Settings edited;
    edited.setValue(K::Left, -8);
    edited.setValue(K::Top, 1200);
    edited.setValue(K::UpperLimit, "40");
    edited.setValue(K::CheckLower, true);
    edited.setValue(K::Rb0, -1);
    edited.setValue(K::MailTo, "x@example.jp");
    QVERIFY(edited.save(m_ini));
    QByteArray expected = DesignFile;
    expected.replace("Left=0", "Left=-8")
        .replace("Top=0", "Top=1200")
        .replace("UTemp=100", "UTemp=40")
        .replace("Check_L=0", "Check_L=1")
        .replace("RB0=2", "RB0=-1")
        .replace("To=\r\n", "To=x@example.jp\r\n");
    QCOMPARE(TestFiles::read(m_ini), expected);
}

void TstSettings::roundTripsEveryKey()
{
    Settings saved;
    editEverything(saved);
    saved.setValue(K::Left, 345);
    saved.setValue(K::Top, 67);
    QVERIFY(saved.save(m_ini));

    const QByteArray bytes = TestFiles::read(m_ini);
    QVERIFY(bytes.contains("\r\nFrom=" + JapaneseFromCp932 + "\r\n"));
    QVERIFY(bytes.contains("\r\nAddress=smtp.example.jp\r\n"));

    Settings loaded;
    QVERIFY(loaded.load(m_ini));
    QCOMPARE(loaded.number(K::Left), 345);
    QCOMPARE(loaded.number(K::Top), 67);
    QCOMPARE(storedValues(loaded), EditedValues);

    // Saving what was loaded reproduces the file byte for byte.
    QVERIFY(loaded.save(m_ini));
    QCOMPARE(TestFiles::read(m_ini), bytes);
}

void TstSettings::eachCallRereadsTheFile()
{
    Settings settings;
    settings.setValue(K::Left, 1);
    QVERIFY(settings.save(m_ini));

    QByteArray bytes = TestFiles::read(m_ini);
    bytes.replace("Left=1", "Left=50").replace("Port=10001", "Port=40404");
    QVERIFY(TestFiles::write(m_ini, bytes));
    QSignalSpy changed(&settings, &Settings::changed);
    QVERIFY(settings.load(m_ini));
    QCOMPARE(settings.number(K::Left), 50);
    QCOMPARE(settings.text(K::BoardPort), QString("40404"));
    QCOMPARE(changed.size(), 2);

    QVERIFY(QFile::remove(m_ini));
    QVERIFY(settings.load(m_ini));
    QCOMPARE(settings.number(K::Left), 0);
    QCOMPARE(settings.text(K::BoardPort), QString("10001"));
}

void TstSettings::booleanText_data()
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

void TstSettings::booleanText()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, checked);
    QVERIFY(
        TestFiles::write(m_ini, "[Temp]\r\nCheck_U=" + value + "\r\nCheck_L=" + value + "\r\n"));
    Settings settings;
    settings.setValue(K::CheckUpper, !checked);
    settings.setValue(K::CheckLower, !checked);
    QVERIFY(settings.load(m_ini));
    QCOMPARE(settings.flag(K::CheckUpper), checked);
    QCOMPARE(settings.flag(K::CheckLower), checked);
}

void TstSettings::radioIndexText_data()
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

void TstSettings::radioIndexText()
{
    QFETCH(QByteArray, value);
    QFETCH(int, index);
    QVERIFY(TestFiles::write(m_ini, "[Sensor]\r\nRB1=" + value + "\r\nRB0=" + value +
                                        "\r\n[Mail]\r\nPriority=" + value + "\r\n"));
    Settings settings;
    for (K key : {K::Rb1, K::Rb0, K::Priority})
        settings.setValue(key, 1);
    QVERIFY(settings.load(m_ini));
    QCOMPARE(settings.number(K::Rb1), index);
    QCOMPARE(settings.number(K::Rb0), index);
    QCOMPARE(settings.number(K::Priority), index);

    QVERIFY(settings.save(m_ini));
    const QByteArray expected = QByteArray::number(index);
    const QByteArray bytes = TestFiles::read(m_ini);
    QVERIFY2(bytes.contains("\r\nRB1=" + expected + "\r\nRB0=" + expected + "\r\n"), bytes);
    QVERIFY2(bytes.contains("\r\nPriority=" + expected + "\r\n"), bytes);
}

void TstSettings::mailSecurityKeys_data()
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

void TstSettings::mailSecurityKeys()
{
    QFETCH(int, security);
    QFETCH(QString, caFile);
    QFETCH(QByteArray, written);

    Settings saved;
    saved.setValue(K::MailSecurity, security);
    saved.setValue(K::MailCaFile, caFile);
    saved.setValue(K::MailPassword, QStringLiteral("s3cret-pass"));
    QVERIFY(saved.save(m_ini));
    QCOMPARE(TestFiles::read(m_ini), DesignFile + written);

    Settings loaded;
    QVERIFY(loaded.load(m_ini));
    QCOMPARE(loaded.number(K::MailSecurity), security);
    QCOMPARE(loaded.text(K::MailCaFile), caFile);
    QCOMPARE(loaded.text(K::MailPassword), QString());

    // Back to the defaults: a key the file has is kept up to date, not left behind.
    loaded.setValue(K::MailSecurity, 0);
    loaded.setValue(K::MailCaFile, QString());
    QVERIFY(loaded.save(m_ini));
    Settings reloaded;
    QVERIFY(reloaded.load(m_ini));
    QCOMPARE(reloaded.number(K::MailSecurity), 0);
    QCOMPARE(reloaded.text(K::MailCaFile), QString());

    // The security text is read whatever its case and blanks; anything else is "auto".
    for (const auto& [text, index] : {std::pair{"STARTTLS", 1}, {" Tls ", 2}, {"ssl", 0}}) {
        QVERIFY(TestFiles::write(m_ini, QByteArray("[Mail]\r\nSecurity=") + text + "\r\n"));
        reloaded.setValue(K::MailSecurity, 3);
        QVERIFY(reloaded.load(m_ini));
        QCOMPARE(reloaded.number(K::MailSecurity), index);
    }
}

void TstSettings::watchKeysOnlyWhenSet()
{
    Settings saved;
    for (K key : {K::NoReply, K::Retry, K::Log, K::Notify})
        saved.setValue(key, true);
    saved.setValue(K::NoReplySec, QStringLiteral("30"));
    saved.setValue(K::Metrics, QStringLiteral("127.0.0.1:9464"));
    saved.setValue(K::PushWebhook, QStringLiteral("http://127.0.0.1:8080/hook"));
    QVERIFY(saved.save(m_ini));
    QCOMPARE(TestFiles::read(m_ini), DesignFile +
                                         "[Watch]\r\nNoReply=1\r\nNoReplySec=30\r\nRetry=1\r\n"
                                         "Log=1\r\nNotify=1\r\nMetrics=127.0.0.1:9464\r\n"
                                         "[Push]\r\nWebhook=http://127.0.0.1:8080/hook\r\n");
    Settings loaded;
    QVERIFY(loaded.load(m_ini));
    for (K key : {K::NoReply, K::Retry, K::Log, K::Notify})
        QVERIFY(loaded.flag(key));
    QCOMPARE(loaded.text(K::NoReplySec), QStringLiteral("30"));
    QCOMPARE(loaded.text(K::Metrics), QStringLiteral("127.0.0.1:9464"));

    // Turned off again: keys the file has are kept up to date.
    loaded.setValue(K::Notify, false);
    loaded.setValue(K::Metrics, QString());
    QVERIFY(loaded.save(m_ini));
    QVERIFY(TestFiles::read(m_ini).endsWith("Retry=1\r\nLog=1\r\nNotify=0\r\nMetrics=\r\n"
                                            "[Push]\r\nWebhook=http://127.0.0.1:8080/hook\r\n"));

    // A new key of [Temp] follows that section's classic keys, not the end of the file.
    loaded.setValue(K::Hysteresis, QStringLiteral("0.5"));
    QVERIFY(loaded.save(m_ini));
    QVERIFY(TestFiles::read(m_ini).contains("Check_L=0\r\nHysteresis=0.5\r\n["));
}

void TstSettings::memosAreNotStored()
{
    Settings settings;
    settings.setValue(K::MemoUpper, "too hot");
    settings.setValue(K::MemoLower, "too cold");
    settings.setValue(K::MemoRb1, "door\r\nopened");
    settings.setValue(K::MemoRb0, "window");
    QVERIFY(settings.save(m_ini));
    const QByteArray bytes = TestFiles::read(m_ini);
    for (const char* text : {"too hot", "too cold", "door", "opened", "window", "Message"})
        QVERIFY2(!bytes.contains(text), text);
    QCOMPARE(bytes.count('\n'), DesignFile.count('\n'));

    // Loading leaves whatever the memos hold.
    QVERIFY(settings.load(m_ini));
    QCOMPARE(settings.text(K::MemoUpper), QString("too hot"));
}

void TstSettings::unreadableFileIsReported()
{
    // A folder where the file should be cannot be read.
    QVERIFY(QDir(m_dir->path()).mkdir("ZARVIK_Mail.ini"));
    Settings settings;
    editEverything(settings);
    QString problem;
    QVERIFY(!settings.load(m_ini, &problem));
    QVERIFY(!problem.isEmpty());
    QCOMPARE(storedValues(settings), DesignValues);
}

void TstSettings::saveFailureIsReported()
{
    const QString path = m_dir->filePath("no such folder/ZARVIK_Mail.ini");
    const Settings settings;
    QString error;
    QVERIFY(!settings.save(path, &error));
    QVERIFY2(error.contains("ZARVIK_Mail.ini"), qPrintable(error));
    QVERIFY(!QFile::exists(path));
}

void TstSettings::secretsAreForTheOwnerOnly_data()
{
    QTest::addColumn<int>("key");    // set to a value; -1: none
    QTest::addColumn<int>("before"); // the file's mode; 0: no file yet
    QTest::addColumn<int>("after");
    QTest::newRow("classic file keeps its mode") << -1 << 0644 << 0644;
    QTest::newRow("bot token: 0644 becomes 0600") << int(K::PushTelegramToken) << 0644 << 0600;
    QTest::newRow("webhook URL: 0640 becomes 0600") << int(K::PushWebhook) << 0640 << 0600;
    QTest::newRow("bot token, new file: 0600") << int(K::PushTelegramToken) << 0 << 0600;
    QTest::newRow("ntfy topic is no secret") << int(K::PushNtfy) << 0644 << 0644;
    QTest::newRow("web password hash: 0644 becomes 0600")
        << int(K::WebPasswordHash) << 0644 << 0600;
    QTest::newRow("web user is no secret") << int(K::WebUser) << 0644 << 0644;
}

void TstSettings::secretsAreForTheOwnerOnly()
{
    QFETCH(int, key);
    QFETCH(int, before);
    QFETCH(int, after);
    const QByteArray path = QFile::encodeName(m_ini);
    if (before) {
        QVERIFY(TestFiles::write(m_ini, DesignFile));
        QVERIFY(::chmod(path.constData(), mode_t(before)) == 0);
    }
    Settings settings;
    if (key >= 0)
        settings.setValue(K(key), QStringLiteral("https://example.com/123456:ABC-DEF"));
    QString error;
    QVERIFY2(settings.save(m_ini, &error), qPrintable(error));
    struct stat st;
    QVERIFY(::stat(path.constData(), &st) == 0);
    QCOMPARE(int(st.st_mode & 07777), after);
}

void TstSettings::pathFor_data()
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

void TstSettings::pathFor()
{
    QFETCH(QString, executable);
    QFETCH(QString, ini);
    QCOMPARE(Settings::pathFor(executable), ini);
}

void TstSettings::besideTheExecutable_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("beside");
    // A folder made for the program (/opt/zarvik, ~/zarvik) keeps the classic rule.
    QTest::newRow("own folder") << QStringLiteral("$TMP") << true;
    QTest::newRow("own folder under /var/tmp") << QStringLiteral("/var/tmp") << true;
    // The system's folders never, even for root, who may write them.
    for (const char* folder : {"/usr/bin", "/usr/local/bin", "/bin", "/sbin", "/etc", "/"})
        QTest::newRow(folder) << QString::fromLatin1(folder) << false;
    QTest::newRow("link to /usr/bin") << QStringLiteral("$TMP/bin") << false;
}

void TstSettings::besideTheExecutable()
{
    QFETCH(QString, folder);
    QFETCH(bool, beside);
    folder.replace(QStringLiteral("$TMP"), m_dir->path());
    QVERIFY(QFile::link("/usr/bin", m_dir->filePath("bin")));
    if (!QFileInfo(folder).isWritable())
        QSKIP("the folder is not writable here: the rule is not put to the test");
    const QString program = folder + (folder.endsWith('/') ? "" : "/") + "ZARVIK_Mail";
    const SettingsLocation where = SettingsLocation::forExecutable(program);
    QCOMPARE(where.settingsPath == Settings::pathFor(program), beside);
    QCOMPARE(where.seedPath.isEmpty() && where.statePath == where.settingsPath, beside);
}

QTEST_GUILESS_MAIN(TstSettings)
#include "tst_settings.moc"
