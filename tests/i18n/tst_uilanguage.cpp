// Which language the program speaks, and that the English it was built with is in it.
#include "i18n/UiLanguage.h"

#include <QtTest>

class TestUiLanguage : public QObject {
    Q_OBJECT
private slots:
    void choose_data();
    void choose();
    void englishIsBuiltIn();
};

void TestUiLanguage::choose_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("Japanese system") << ""
                                     << "ja_JP"
                                     << "ja";
    QTest::newRow("German system") << ""
                                   << "de_DE"
                                   << "en";
    QTest::newRow("C locale") << ""
                              << "C"
                              << "en";
    QTest::newRow("set to English") << "en"
                                    << "ja_JP"
                                    << "en";
    QTest::newRow("set to Japanese") << " JA "
                                     << "en_US"
                                     << "ja";
    QTest::newRow("a language it lacks") << "fr"
                                         << "ja_JP"
                                         << "ja";
}

void TestUiLanguage::choose()
{
    QFETCH(QString, setting);
    QFETCH(QString, system);
    QTEST(UiLanguage::choose(setting, QLocale(system)), "chosen");
}

void TestUiLanguage::englishIsBuiltIn()
{
    QVERIFY(UiLanguage::install(*QCoreApplication::instance(), QStringLiteral("en")));
}

QTEST_GUILESS_MAIN(TestUiLanguage)
#include "tst_uilanguage.moc"
