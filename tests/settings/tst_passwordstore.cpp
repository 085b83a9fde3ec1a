#include "monitor/MailPassword.h"
#include "monitor/MqttPassword.h"
#include "settings/PasswordStore.h"
#include "settings/Settings.h"

#include <QSignalSpy>
#include <QTest>

// Against a keyring of the test's own (tools/with-keyring.sh).
class TstPasswordStore : public QObject {
    Q_OBJECT

private slots:
    void storedPasswordIsLoadedAndRemoved();
    void keptPasswordComesBackUnderItsOwnEntry_data();
    void keptPasswordComesBackUnderItsOwnEntry();
};

namespace {

// Stores and waits for the outcome, which never comes before store() returns.
QVariantList storeAndWait(PasswordStore& store, const QString& key, const QString& password)
{
    QSignalSpy stored(&store, &PasswordStore::stored);
    store.store(key, password);
    if (!stored.isEmpty() || !stored.wait(PasswordStore::DefaultWaitMs * 2))
        return {};
    return stored.takeFirst();
}

// What a fresh store finds under `key`: the password, or empty once the keyring answered.
QString loadAndWait(const QString& key)
{
    PasswordStore store;
    QSignalSpy loaded(&store, &PasswordStore::loaded);
    QSignalSpy answered(&store, &PasswordStore::answered);
    store.load(key);
    if (!answered.wait(PasswordStore::LoadWaitMs * 2) || !store.isAvailable())
        return QStringLiteral("<no answer>");
    return loaded.isEmpty() ? QString() : loaded.at(0).at(0).toString();
}

} // namespace

void TstPasswordStore::storedPasswordIsLoadedAndRemoved()
{
    const QString key =
        PasswordStore::keyFor(QStringLiteral(" smtp.example.jp "), QStringLiteral("zarvik"));
    QCOMPARE(key, QStringLiteral("zarvik@smtp.example.jp"));
    PasswordStore store;
    QCOMPARE(storeAndWait(store, key, QStringLiteral("s3cret")), (QVariantList{true, QString()}));
    QCOMPARE(loadAndWait(key), QStringLiteral("s3cret"));
    // Kept already: told at once, still after returning.
    QCOMPARE(storeAndWait(store, key, QStringLiteral("s3cret")), (QVariantList{true, QString()}));

    // An emptied password removes the entry.
    QCOMPARE(storeAndWait(store, key, QString()), (QVariantList{true, QString()}));
    QCOMPARE(loadAndWait(key), QString());
    QVERIFY(store.isAvailable());
}

void TstPasswordStore::keptPasswordComesBackUnderItsOwnEntry_data()
{
    QTest::addColumn<int>("kept");
    QTest::newRow("mail") << 0;
    QTest::newRow("MQTT") << 1;
}

// The same host and user for both: the other password's entry must stay untouched.
void TstPasswordStore::keptPasswordComesBackUnderItsOwnEntry()
{
    QFETCH(int, kept);
    const PasswordKeys* both[] = {&MailPassword::Keys, &MqttPassword::Keys};
    const auto sameLogin = [&both](Settings& settings) {
        for (const PasswordKeys* keys : both) {
            settings.setValue(keys->server, QStringLiteral("example.jp"));
            settings.setValue(keys->user, QStringLiteral("zarvik"));
        }
    };
    Settings typed;
    sameLogin(typed);
    typed.setValue(both[kept]->password, QStringLiteral("s3cret"));
    KeptPassword keeper(typed, *both[kept]);
    QSignalSpy stored(&keeper, &KeptPassword::stored);
    keeper.keep();
    QVERIFY(stored.wait(PasswordStore::DefaultWaitMs * 2));
    QCOMPARE(stored.at(0), (QVariantList{true, QString()}));

    // The next run asks for both.
    Settings next;
    sameLogin(next);
    for (const PasswordKeys* keys : both) {
        KeptPassword asked(next, *keys);
        QSignalSpy answered(&asked, &KeptPassword::answered);
        asked.ask();
        QVERIFY(answered.wait(PasswordStore::LoadWaitMs * 2));
        QVERIFY(asked.keyringAvailable());
    }
    QCOMPARE(next.text(both[kept]->password), QStringLiteral("s3cret"));
    QCOMPARE(next.text(both[1 - kept]->password), QString());

    typed.setValue(both[kept]->password, QString());
    keeper.keep();
    QVERIFY(stored.wait(PasswordStore::DefaultWaitMs * 2));
    QCOMPARE(stored.at(1), (QVariantList{true, QString()}));
}

QTEST_GUILESS_MAIN(TstPasswordStore)
#include "tst_passwordstore.moc"
