#include "settings/PasswordStore.h"

#include <QSignalSpy>
#include <QTest>

// Against a keyring of the test's own (tools/with-keyring.sh).
class TstPasswordStore : public QObject {
    Q_OBJECT

private slots:
    void storedPasswordIsLoadedAndRemoved();
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

QTEST_GUILESS_MAIN(TstPasswordStore)
#include "tst_passwordstore.moc"
