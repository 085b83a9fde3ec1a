#include "web/PasswordHash.h"

#include <QtTest>

namespace {

const QString Password = QStringLiteral("correct horse");
// Stands in a row for the hash made at the start.
const QString Made = QStringLiteral("MADE");
// The same password under another salt, as `mkpasswd -m yescrypt` or crypt(3) would keep it.
const QString OtherSalt =
    QStringLiteral("$y$j9T$F5Jx5fExrKuPp53xLKQ..1$zwtVrjrUCmXcyLTs6oxLTQlzifSUkF8RHJ./tK5KU79");

} // namespace

class TestPasswordHash : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void verify_data();
    void verify();
    void freshSaltEachTime();
    void refusesWhatCryptCannotHash();

private:
    QString m_made; // hash(Password)
};

void TestPasswordHash::initTestCase()
{
    m_made = PasswordHash::hash(Password);
    QVERIFY2(m_made.startsWith("$y$"), qPrintable(m_made));
}

void TestPasswordHash::verify_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("matches");
    QTest::newRow("right") << Password << Made << true;
    QTest::newRow("other salt") << Password << OtherSalt << true;
    QTest::newRow("wrong") << "correct horsf" << Made << false;
    QTest::newRow("cut at a NUL") << QString(Password + QChar(u'\0') + "x") << Made << false;
    QTest::newRow("empty password") << "" << Made << false;
    QTest::newRow("empty stored") << Password << "" << false;
    QTest::newRow("hash altered") << Password << QString(OtherSalt).replace("U79", "U7A") << false;
    QTest::newRow("salt altered") << Password << QString(OtherSalt).replace("F5Jx", "F5Jy")
                                  << false;
    QTest::newRow("cut short") << Password << OtherSalt.chopped(1) << false;
    QTest::newRow("crypt's failure") << Password << "*0" << false;
    // Right, but not the method kept: sha512crypt of the same password.
    QTest::newRow("sha512crypt")
        << Password
        << "$6$saltsalt$hRM5XZ86KXEw9UOmjigeVqFgULtFB2sgpC9lXQDfMib3Zgw7mEiUvBJI2EplzfAqxL5Vvwp2s"
           "cFtv/uamSo5z0"
        << false;
}

void TestPasswordHash::verify()
{
    QFETCH(QString, password);
    QFETCH(QString, stored);
    QFETCH(bool, matches);
    if (stored == Made)
        stored = m_made;
    QCOMPARE(PasswordHash::verify(password, stored), matches);
}

void TestPasswordHash::freshSaltEachTime()
{
    const QString password = QStringLiteral("パスワード");
    const QString first = PasswordHash::hash(password);
    const QString second = PasswordHash::hash(password);
    QVERIFY(first.startsWith("$y$"));
    QVERIFY(first != second);
    QVERIFY(PasswordHash::verify(password, first));
    QVERIFY(PasswordHash::verify(password, second));
    QVERIFY(!PasswordHash::verify(QStringLiteral("パスワー"), first));
}

void TestPasswordHash::refusesWhatCryptCannotHash()
{
    QVERIFY(PasswordHash::hash(QString()).isEmpty());
    QVERIFY(PasswordHash::hash(QString("ab") + QChar(u'\0') + "cd").isEmpty());
}

QTEST_GUILESS_MAIN(TestPasswordHash)
#include "tst_passwordhash.moc"
