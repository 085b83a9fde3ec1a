#include "web/HtmlText.h"

#include <QtTest>

class TestHtmlText : public QObject {
    Q_OBJECT
private slots:
    void escaped_data();
    void escaped();
};

void TestHtmlText::escaped_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("html");
    QTest::newRow("plain") << "Room 2: 21.5"
                           << "Room 2: 21.5";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("script and quotes")
        << R"(<script>alert("x")</script>' onload='y)"
        << "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&#39; onload=&#39;y";
    QTest::newRow("already escaped") << "&amp; &lt;"
                                     << "&amp;amp; &amp;lt;";
    QTest::newRow("non-ASCII kept") << "温度 > 30 ℃"
                                    << "温度 &gt; 30 ℃";
}

void TestHtmlText::escaped()
{
    QFETCH(QString, text);
    QFETCH(QString, html);
    QCOMPARE(HtmlText::escaped(text), html);
}

QTEST_GUILESS_MAIN(TestHtmlText)
#include "tst_htmltext.moc"
