#include "mail/MailAddress.h"
#include "mail/MailMessage.h"
#include "support/MailText.h"

#include <QRegularExpression>
#include <QTest>

namespace {

using MailText::decodeWords;
using MailText::endsInAscii;
using MailText::fromJis;

MailMessage japaneseMail()
{
    MailMessage mail;
    mail.setFrom(QStringLiteral("監視ボード <board@example.jp>"));
    mail.setTo({QStringLiteral("ops@example.jp")});
    mail.setSubject(QStringLiteral("温度警報"));
    mail.setBody(QStringLiteral("温度が上限を超えました。\r\nRB1: ON\r\n"));
    return mail;
}

QList<QByteArray> bodyLines(const QByteArray& body)
{
    QList<QByteArray> lines = body.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines)
        line.chop(1);
    return lines;
}

} // namespace

class TestMailMessage : public QObject {
    Q_OBJECT

private slots:
    void standardFieldsOnce_data();
    void standardFieldsOnce();
    void dateFormat_data();
    void dateFormat();
    void japaneseBodyRoundTrips();
    void unmappableCharacters_data();
    void unmappableCharacters();
    void bareLineBreaksBecomeCrLf();
    void japaneseSubjectWords_data();
    void japaneseSubjectWords();
    void addressFields_data();
    void addressFields();
    void mailboxes_data();
    void mailboxes();
    void recipientLists_data();
    void recipientLists();
    void hostNames_data();
    void hostNames();
    void lineBreaksCannotStartAField_data();
    void lineBreaksCannotStartAField();
    void longBodyLineIsBroken_data();
    void longBodyLineIsBroken();
    void longSubjectIsFolded_data();
    void longSubjectIsFolded();
};

void TestMailMessage::standardFieldsOnce_data()
{
    QTest::addColumn<QString>("contentTypeName");
    QTest::addColumn<QString>("priority"); // empty: not set

    QTest::newRow("no priority") << "Content-Type"
                                 << "";
    QTest::newRow("high") << "Content-Type"
                          << "1";
    QTest::newRow("normal") << "Content-Type"
                            << "3";
    QTest::newRow("low, name in other case") << "content-TYPE"
                                             << "5";
}

void TestMailMessage::standardFieldsOnce()
{
    QFETCH(QString, contentTypeName);
    QFETCH(QString, priority);

    const MailMessage mail = japaneseMail();
    MailHeaders headers = mail.standardHeaders();
    headers.set(contentTypeName, QStringLiteral("text/plain; charset=\"iso-2022-jp\""));
    if (!priority.isEmpty())
        headers.set(QStringLiteral("X-Priority"), priority);
    const QByteArray raw = mail.compose(headers);
    CHECK_WIRE(raw);
    const ParsedMail parsed(raw);

    QList<QByteArray> expected{
        "Date",       "From",         "To",           "Subject",
        "Message-ID", "MIME-Version", "Content-Type", "Content-Transfer-Encoding"};
    if (!priority.isEmpty())
        expected.append("X-Priority");
    QCOMPARE(parsed.fields.size(), expected.size());
    for (const QByteArray& name : expected)
        QVERIFY2(parsed.count(name) == 1, name.constData());

    QCOMPARE(parsed.value("Content-Type"), "text/plain; charset=\"iso-2022-jp\"");
    QCOMPARE(parsed.value("MIME-Version"), "1.0");
    QCOMPARE(parsed.value("Content-Transfer-Encoding"), "7bit");
    QCOMPARE(parsed.value("To"), "ops@example.jp");
    if (!priority.isEmpty())
        QCOMPARE(parsed.value("X-Priority"), priority.toLatin1());
    const QRegularExpression id(QStringLiteral("^<[^<>@\\s]+@example\\.jp>$"));
    QVERIFY(id.match(QString::fromLatin1(parsed.value("Message-ID"))).hasMatch());

    // Without a final list the default content type is there all the same, and ids differ.
    const ParsedMail plain(mail.compose());
    QCOMPARE(plain.value("Content-Type"), "text/plain; charset=\"iso-2022-jp\"");
    QCOMPARE(plain.count("X-Priority"), 0);
    QVERIFY(plain.value("Message-ID") != parsed.value("Message-ID"));
}

void TestMailMessage::dateFormat_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("expected");

    QTest::newRow("Japan") << QDateTime(QDate(2024, 3, 5), QTime(14, 3, 9), Qt::OffsetFromUTC,
                                        9 * 3600)
                           << "Tue, 05 Mar 2024 14:03:09 +0900";
    QTest::newRow("west, half hour")
        << QDateTime(QDate(2023, 12, 31), QTime(23, 59, 0), Qt::OffsetFromUTC, -(3 * 3600 + 1800))
        << "Sun, 31 Dec 2023 23:59:00 -0330";
    QTest::newRow("UTC") << QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0), Qt::UTC)
                         << "Wed, 01 Jan 2025 00:00:00 +0000";
}

void TestMailMessage::dateFormat()
{
    QFETCH(QDateTime, time);
    QFETCH(QString, expected);
    QCOMPARE(MailMessage::rfc5322Date(time), expected);
    QCOMPARE(japaneseMail().standardHeaders(time).value(QStringLiteral("Date")), expected);
}

void TestMailMessage::japaneseBodyRoundTrips()
{
    const QString body = QStringLiteral("温度が上限を超えました。\r\n"
                                        "現在 35.5℃ / 上限 30.0℃\r\n"
                                        "\r\n"
                                        "RB1: ON、RB0: OFF ¥100 ～ end");
    MailMessage mail = japaneseMail();
    mail.setBody(body);
    const QByteArray raw = mail.compose();
    CHECK_WIRE(raw);

    const QList<QByteArray> lines = bodyLines(ParsedMail(raw).body);
    QCOMPARE(lines.size(), 4);
    for (const QByteArray& line : lines)
        QVERIFY2(endsInAscii(line), line.constData());
    // The CP932 full-width tilde travels as JIS's wave dash.
    QString expected = body;
    expected.replace(u'～', u'〜');
    QCOMPARE(ParsedMail(raw).bodyText(), expected + QStringLiteral("\r\n"));
}

void TestMailMessage::unmappableCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("subject"); // control characters in a field are blanks

    QTest::newRow("circled digit") << "①番"
                                   << "1番"
                                   << "1番";
    QTest::newRow("half-width katakana") << "ｱｲｳ"
                                         << "アイウ"
                                         << "アイウ";
    QTest::newRow("half-width with voicing mark") << "ｶﾞｽﾊﾟ"
                                                  << "ガスパ"
                                                  << "ガスパ";
    QTest::newRow("variant kanji") << "髙橋"
                                   << "〓橋"
                                   << "〓橋";
    QTest::newRow("full-width letters stay") << "ＡＢＣ１"
                                             << "ＡＢＣ１"
                                             << "ＡＢＣ１";
    QTest::newRow("escape character") << "漢a\x1b$Bb"
                                      << "漢a〓$Bb"
                                      << "漢a $Bb";
    QTest::newRow("emoji") << "温度😀"
                           << "温度〓"
                           << "温度〓";
    QTest::newRow("mixed") << "①髙ｱ"
                           << "1〓ア"
                           << "1〓ア";
}

void TestMailMessage::unmappableCharacters()
{
    QFETCH(QString, text);
    QFETCH(QString, body);
    QFETCH(QString, subject);

    MailMessage mail = japaneseMail();
    mail.setBody(text);
    mail.setSubject(text);
    const QByteArray raw = mail.compose();
    CHECK_WIRE(raw);
    const ParsedMail parsed(raw);
    QCOMPARE(parsed.bodyText(), body + QStringLiteral("\r\n"));
    QCOMPARE(decodeWords(parsed.value("Subject")), subject);
}

void TestMailMessage::bareLineBreaksBecomeCrLf()
{
    QCOMPARE(MailMessage::encodeBody(QStringLiteral("a\rb\nc\r\nd")), "a\r\nb\r\nc\r\nd\r\n");
    QCOMPARE(MailMessage::encodeBody(QStringLiteral("a\n\n")), "a\r\n\r\n");
    QCOMPARE(MailMessage::encodeBody(QStringLiteral("\r\n")), "\r\n");
    QCOMPARE(MailMessage::encodeBody(QString()), QByteArray());
}

void TestMailMessage::japaneseSubjectWords_data()
{
    QTest::addColumn<QString>("subject");

    QTest::newRow("short") << "温度警報";
    QTest::newRow("mixed with ASCII") << "【ZARVIK】 温度 35.5 > 30.0 RB1=ON";
    QTest::newRow("long") << QStringLiteral("温度が上限を超えました").repeated(12);
    QTest::newRow("set switching") << "¥100 と ‾ と 漢字 と abc";
}

void TestMailMessage::japaneseSubjectWords()
{
    QFETCH(QString, subject);

    MailMessage mail = japaneseMail();
    mail.setSubject(subject);
    const QByteArray raw = mail.compose();
    CHECK_WIRE(raw);
    const ParsedMail parsed(raw);

    const QByteArray value = parsed.value("Subject");
    QCOMPARE(decodeWords(value), subject);
    // Nothing but words and the blanks between them, each word decodable on its own.
    QString rest = QString::fromLatin1(value);
    for (auto it = MailText::encodedWord().globalMatch(QString::fromLatin1(value)); it.hasNext();) {
        const auto match = it.next();
        QVERIFY2(match.capturedLength() <= 75, qPrintable(match.captured()));
        const QByteArray jis = QByteArray::fromBase64(match.captured(1).toLatin1());
        QVERIFY(endsInAscii(jis));
        QVERIFY(fromJis(jis) != QStringLiteral("<undecodable>"));
        rest.replace(match.captured(), QString());
    }
    QVERIFY2(rest.trimmed().isEmpty(), qPrintable(rest));
    for (const QByteArray& line : parsed.headerLines) {
        if (line.contains("=?"))
            QVERIFY2(line.size() <= 76, line.constData());
    }
}

void TestMailMessage::addressFields_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("decoded");
    QTest::addColumn<QString>("idDomain"); // of the Message-ID

    QTest::newRow("Japanese name") << "山田 太郎 <taro@example.jp>"
                                   << "山田 太郎 <taro@example.jp>"
                                   << "example.jp";
    QTest::newRow("quoted Japanese name") << "\"監視 ボード\" <board@example.jp>"
                                          << "監視 ボード <board@example.jp>"
                                          << "example.jp";
    QTest::newRow("ASCII stays as typed") << "\"Board, No.1\" <board@example.jp>"
                                          << "\"Board, No.1\" <board@example.jp>"
                                          << "example.jp";
    QTest::newRow("bare address") << "board@example.jp"
                                  << "board@example.jp"
                                  << "example.jp";
    QTest::newRow("Japanese domain") << "you@例え.jp"
                                     << "you@xn--r8jz45g.jp"
                                     << "xn--r8jz45g.jp";
    QTest::newRow("Japanese name and domain") << "監視 <board@例え.jp>"
                                              << "監視 <board@xn--r8jz45g.jp>"
                                              << "xn--r8jz45g.jp";
    QTest::newRow("address literal") << "root@[192.0.2.1]"
                                     << "root@[192.0.2.1]"
                                     << "localhost";
}

void TestMailMessage::addressFields()
{
    QFETCH(QString, from);
    QFETCH(QString, decoded);
    QFETCH(QString, idDomain);

    MailMessage mail = japaneseMail();
    mail.setFrom(from);
    mail.setTo({from});
    const QByteArray raw = mail.compose();
    CHECK_WIRE(raw);
    const ParsedMail parsed(raw);
    for (const char* name : {"From", "To"}) {
        const QByteArray value = parsed.value(name);
        QCOMPARE(decodeWords(value), decoded);
        // The address itself is never inside an encoded word.
        const QString address = decoded.mid(decoded.lastIndexOf(u'<'));
        QVERIFY(value.endsWith(address.toLatin1()));
    }
    const QByteArray id = parsed.value("Message-ID");
    QVERIFY2(id.endsWith('@' + idDomain.toLatin1() + '>'), id.constData());
}

void TestMailMessage::mailboxes_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("envelope"); // empty: refused
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("why"); // part of the reason given for a refusal

    const auto accept = [](const char* tag, const QString& entry, const QByteArray& envelope,
                           const QString& header) {
        QTest::newRow(tag) << entry << envelope << header << QString();
    };
    const auto refuse = [](const char* tag, const QString& entry, const char* why) {
        QTest::newRow(tag) << entry << QByteArray() << QString() << QString::fromUtf8(why);
    };
    accept("bare", "ops@example.jp", "ops@example.jp", "ops@example.jp");
    accept("name", " Ops <ops@example.jp> ", "ops@example.jp", "Ops <ops@example.jp>");
    accept("quoted name with comma", "\"Doe, John\" <john@example.com>", "john@example.com",
           "\"Doe, John\" <john@example.com>");
    accept("name needing quotes", "Ops: \"night\" <ops@example.com>", "ops@example.com",
           "\"Ops: \\\"night\\\"\" <ops@example.com>");
    accept("angle brackets only", "<ops@example.jp>", "ops@example.jp", "ops@example.jp");
    accept("Japanese name", "山田 太郎 <taro@example.jp>", "taro@example.jp",
           "山田 太郎 <taro@example.jp>");
    accept("Japanese domain", "you@例え.jp", "you@xn--r8jz45g.jp", "you@xn--r8jz45g.jp");
    accept("ASCII domain as typed", "Ops@Example.COM", "Ops@Example.COM", "Ops@Example.COM");
    accept("quoted local part", "\"john doe@home\"@example.com", "\"john doe@home\"@example.com",
           "\"john doe@home\"@example.com");
    accept("all atext", "a!#$%&'*+-/=?^_`{|}~.b@example.jp", "a!#$%&'*+-/=?^_`{|}~.b@example.jp",
           "a!#$%&'*+-/=?^_`{|}~.b@example.jp");
    accept("IPv4 literal", "root@[192.0.2.1]", "root@[192.0.2.1]", "root@[192.0.2.1]");
    accept("IPv6 literal with IPv4", "root@[IPv6:::ffff:192.0.2.1]", "root@[IPv6:::ffff:192.0.2.1]",
           "root@[IPv6:::ffff:192.0.2.1]");
    accept("64-octet local part", QString(64, u'a') + "@example.jp",
           QByteArray(64, 'a') + "@example.jp", QString(64, u'a') + "@example.jp");
    accept("UTF-8 local part of 63 octets", QString(21, u'漢') + "@例え.jp",
           QString(21, u'漢').toUtf8() + "@xn--r8jz45g.jp", QString(21, u'漢') + "@xn--r8jz45g.jp");

    refuse("empty", "", "empty");
    refuse("blank", " \t ", "empty");
    refuse("name without brackets", "ZARVIK zarvik@example.jp", "angle brackets");
    refuse("ESMTP parameters after '>'", "<x@y.org> NOTIFY=SUCCESS ORCPT=rfc822;spy@evil.example",
           "follows");
    refuse("ESMTP parameters, no '<'", "x@y.org> NOTIFY=SUCCESS", "'>'");
    refuse("'<' inside", "<a<b@example.jp>", "'<'");
    refuse("'<' not closed", "Ops <ops@example.jp", "'>'");
    refuse("second '@'", "a@b@example.jp", "second '@'");
    refuse("space in domain", "ops@exa mple.jp", "space");
    refuse("line break", "ops@example.jp\r\nRCPT TO:<spy@evil.example>", "control");
    refuse("direction override", "ops@exam\u202Eelpmaxe.jp", "control");
    refuse("65-octet local part", QString(65, u'a') + "@example.jp", "64 octets");
    refuse("UTF-8 local part of 66 octets", QString(22, u'漢') + "@example.jp", "64 octets");
    refuse("no '@'", "ops.example.jp", "'@'");
    refuse("source route", "<@relay.example:ops@example.jp>", "empty");
    refuse("dots doubled", "a..b@example.jp", "'.'");
    refuse("quote not closed", "\"ops@example.jp", "quote");
    refuse("text after quoted local part", "\"a\"b@example.jp", "'@'");
    refuse("empty label", "ops@example..jp", "empty label");
    refuse("final dot", "ops@example.jp.", "empty label");
    refuse("leading hyphen", "ops@-example.jp", "'-'");
    refuse("underscore from IDNA", "ops@例え＿.jp", "'_'");
    refuse("64-octet label", "ops@" + QString(64, u'a') + ".jp", "63 octets");
    refuse("256-octet domain", "ops@" + QString(QString(63, u'a') + u'.').repeated(4) + "abc",
           "255 octets");
    refuse("Japanese label too long", "ops@" + QString(64, u'漢') + ".jp", "IDNA");
    refuse("IPv4 literal out of range", "root@[192.0.2.256]", "IPv4");
    refuse("IPv6 literal with two gaps", "root@[IPv6:1::2::3]", "IPv6");
    refuse("general literal", "root@[x400:abc]", "IPv4 nor IPv6");
}

void TestMailMessage::mailboxes()
{
    QFETCH(QString, entry);
    QFETCH(QByteArray, envelope);
    QFETCH(QString, header);
    QFETCH(QString, why);

    MailAddress::Mailbox box;
    QString error;
    const bool parsed = MailAddress::parse(entry, &box, &error);
    if (!envelope.isEmpty()) {
        QVERIFY2(parsed, qPrintable(error));
        QCOMPARE(MailAddress::envelope(box), envelope);
        QCOMPARE(MailAddress::headerText(box), header);
        const bool ascii =
            std::all_of(envelope.begin(), envelope.end(), [](char c) { return uchar(c) < 0x80; });
        QCOMPARE(MailAddress::needsSmtpUtf8(box), !ascii);
        return;
    }
    QVERIFY(!parsed);
    // The message names the entry, on one line however it was typed.
    QString shown = entry.trimmed();
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QChar::ReplacementCharacter;
    }
    QVERIFY2(error.startsWith("Invalid address \"" + shown + "\": "), qPrintable(error));
    QVERIFY2(error.contains(why), qPrintable(error));
}

void TestMailMessage::recipientLists_data()
{
    QTest::addColumn<QStringList>("to");
    QTest::addColumn<QStringList>("entries"); // of the items joined
    QTest::addColumn<QString>("decoded");
    QTest::addColumn<QString>("outline"); // the value with each run of encoded words as "*"

    QTest::newRow("two, ';'") << QStringList{"Ops <ops@example.com>; boss@example.com"}
                              << QStringList{"Ops <ops@example.com>", "boss@example.com"}
                              << "Ops <ops@example.com>, boss@example.com"
                              << "Ops <ops@example.com>, boss@example.com";
    QTest::newRow("three, both, Japanese name")
        << QStringList{"山田 太郎 <taro@example.jp>, Ops <ops@example.com>; boss@例え.jp"}
        << QStringList{"山田 太郎 <taro@example.jp>", "Ops <ops@example.com>", "boss@例え.jp"}
        << "山田 太郎 <taro@example.jp>, Ops <ops@example.com>, boss@xn--r8jz45g.jp"
        << "* <taro@example.jp>, Ops <ops@example.com>, boss@xn--r8jz45g.jp";
    QTest::newRow("separators in quotes")
        << QStringList{"\"Doe, John\" <john@example.com>; \"a;b\"@example.com"}
        << QStringList{"\"Doe, John\" <john@example.com>", "\"a;b\"@example.com"}
        << "\"Doe, John\" <john@example.com>, \"a;b\"@example.com"
        << "\"Doe, John\" <john@example.com>, \"a;b\"@example.com";
    QTest::newRow("escaped quote, comment")
        << QStringList{"\"監\\\", 視\" <a@example.jp>, "
                       "b@example.jp (day, night)"}
        << QStringList{"\"監\\\", 視\" <a@example.jp>", "b@example.jp (day, night)"}
        << "監\", 視 <a@example.jp>, b@example.jp (day, night)"
        << "* <a@example.jp>, b@example.jp (day, night)";
    QTest::newRow("blanks and items")
        << QStringList{" ; a@example.jp;,", "", "b@example.jp ;"}
        << QStringList{"a@example.jp", "b@example.jp"} << "a@example.jp, b@example.jp"
        << "a@example.jp, b@example.jp";
    QTest::newRow("bad entry kept") << QStringList{"監視 <a@example.jp>; ZARVIK z@example.jp"}
                                    << QStringList{"監視 <a@example.jp>", "ZARVIK z@example.jp"}
                                    << "監視 <a@example.jp>, ZARVIK z@example.jp"
                                    << "* <a@example.jp>, ZARVIK z@example.jp";
    QTest::newRow("stray '>' splits")
        << QStringList{"x@y.org> NOTIFY=SUCCESS ORCPT=rfc822;spy@evil.example"}
        << QStringList{"x@y.org> NOTIFY=SUCCESS ORCPT=rfc822", "spy@evil.example"}
        << "x@y.org> NOTIFY=SUCCESS ORCPT=rfc822, spy@evil.example"
        << "x@y.org> NOTIFY=SUCCESS ORCPT=rfc822, spy@evil.example";
    QStringList many;
    for (int i = 0; i < 6; ++i)
        many.append(QStringLiteral("監視ボード%1 <board%1@example.jp>").arg(i));
    QString outline = many.join(QStringLiteral(", "));
    outline.replace(QRegularExpression(QStringLiteral("監視ボード\\d")), QStringLiteral("*"));
    QTest::newRow("folded between entries")
        << QStringList{many.join(u';')} << many << many.join(QStringLiteral(", ")) << outline;
}

void TestMailMessage::recipientLists()
{
    QFETCH(QStringList, to);
    QFETCH(QStringList, entries);
    QFETCH(QString, decoded);
    QFETCH(QString, outline);

    QCOMPARE(MailAddress::splitList(to.join(QStringLiteral(", "))), entries);
    MailMessage mail = japaneseMail();
    mail.setTo(to);
    const QByteArray raw = mail.compose();
    CHECK_WIRE(raw);
    const ParsedMail parsed(raw);
    const QByteArray value = parsed.value("To");
    QCOMPARE(decodeWords(value), decoded);
    static const QRegularExpression words(QStringLiteral("=\\?ISO-2022-JP\\?B\\?[^?]*\\?=(\\s+="
                                                         "\\?ISO-2022-JP\\?B\\?[^?]*\\?=)*"));
    QCOMPARE(QString::fromLatin1(value).replace(words, QStringLiteral("*")), outline);
    bool inTo = false;
    for (const QByteArray& line : parsed.headerLines) {
        inTo = line.startsWith("To:") || (inTo && line.startsWith(' '));
        if (inTo)
            QVERIFY2(line.size() <= (line.contains("=?") ? 76 : 78), line.constData());
    }
}

void TestMailMessage::hostNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");

    const QString label63(63, u'a');
    QTest::newRow("host") << "mail.example.jp" << true;
    QTest::newRow("single label") << "localhost" << true;
    QTest::newRow("inner hyphens") << "a--b.example-1.jp" << true;
    QTest::newRow("ACE") << "xn--r8jz45g.jp" << true;
    QTest::newRow("63-octet label") << label63 + ".jp" << true;
    QTest::newRow("253 octets") << QString(label63 + u'.').repeated(3) + QString(61, u'b') << true;
    QTest::newRow("IPv4 literal") << "[192.0.2.1]" << true;
    QTest::newRow("IPv6 literal") << "[IPv6:2001:db8:0:0:0:0:0:1]" << true;
    QTest::newRow("IPv6 literal, gap") << "[IPv6:2001:db8::1]" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("leading hyphen") << "-a.example.jp" << false;
    QTest::newRow("trailing hyphen") << "a-.example.jp" << false;
    QTest::newRow("final dot") << "example.jp." << false;
    QTest::newRow("underscore") << "a_b.example.jp" << false;
    QTest::newRow("Japanese") << "例え.jp" << false;
    QTest::newRow("blank") << "mail example.jp" << false;
    QTest::newRow("64-octet label") << label63 + "a.jp" << false;
    QTest::newRow("254 octets") << QString(label63 + u'.').repeated(3) + QString(62, u'b') << false;
    QTest::newRow("short IPv4 literal") << "[192.0.2]" << false;
    QTest::newRow("IPv6 literal, 9 groups") << "[IPv6:1:2:3:4:5:6:7:8:9]" << false;
    QTest::newRow("IPv6 literal, gap of one") << "[IPv6:1:2:3:4::5:6:7]" << false;
    QTest::newRow("IPv6 without tag") << "[2001:db8::1]" << false;
}

void TestMailMessage::hostNames()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(MailAddress::isHostName(name), valid);
}

void TestMailMessage::lineBreaksCannotStartAField_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");

    const QString crlf = QStringLiteral("ops@example.jp\r\nBcc: spy@example.jp");
    const QString lf = QStringLiteral("件名\nBcc: spy@example.jp");
    const QString cr = QStringLiteral("x <a@example.jp>\rBcc: spy@example.jp\r\n\r\nbody");
    for (const char* field : {"To", "Subject", "From"}) {
        QTest::addRow("%s CRLF", field) << field << crlf;
        QTest::addRow("%s LF", field) << field << lf;
        QTest::addRow("%s CR", field) << field << cr;
    }
}

void TestMailMessage::lineBreaksCannotStartAField()
{
    QFETCH(QString, field);
    QFETCH(QString, value);

    MailMessage mail = japaneseMail();
    if (field == QLatin1String("To"))
        mail.setTo({value});
    else if (field == QLatin1String("Subject"))
        mail.setSubject(value);
    else
        mail.setFrom(value);
    const QByteArray raw = mail.compose();
    CHECK_WIRE(raw);
    const ParsedMail parsed(raw);
    QCOMPARE(parsed.fields.size(), 8);
    QCOMPARE(parsed.count("Bcc"), 0);
    QCOMPARE(parsed.count(field.toLatin1()), 1);
    QCOMPARE(parsed.bodyText(), mail.body());
}

void TestMailMessage::longBodyLineIsBroken_data()
{
    QTest::addColumn<QString>("line");

    QTest::newRow("ASCII") << QString(5000, u'a');
    QTest::newRow("kanji") << QString(5000, u'漢');
    QTest::newRow("mixed") << QStringLiteral("ab漢字¥").repeated(1000);
}

void TestMailMessage::longBodyLineIsBroken()
{
    QFETCH(QString, line);

    MailMessage mail = japaneseMail();
    mail.setBody(QStringLiteral("before\r\n") + line + QStringLiteral("\r\nafter"));
    const QByteArray raw = mail.compose();
    CHECK_WIRE(raw);

    QList<QByteArray> lines = bodyLines(ParsedMail(raw).body);
    QVERIFY(lines.size() > 3);
    QCOMPARE(lines.takeFirst(), "before");
    QCOMPARE(lines.takeLast(), "after");
    QString joined;
    for (const QByteArray& piece : lines) {
        QVERIFY(endsInAscii(piece));
        joined += fromJis(piece);
    }
    QCOMPARE(joined, line);
}

void TestMailMessage::longSubjectIsFolded_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<bool>("verbatim"); // folded only at blanks, so unfolding restores it

    QTest::newRow("words") << QStringLiteral("temperature alert ").repeated(100).trimmed() << true;
    QTest::newRow("no blanks") << QString(2000, u'x') << false;
}

void TestMailMessage::longSubjectIsFolded()
{
    QFETCH(QString, subject);
    QFETCH(bool, verbatim);

    MailMessage mail = japaneseMail();
    mail.setSubject(subject);
    const QByteArray raw = mail.compose();
    CHECK_WIRE(raw);
    const QByteArray value = ParsedMail(raw).value("Subject");
    if (verbatim)
        QCOMPARE(value, subject.toLatin1());
    QCOMPARE(decodeWords(value), subject);
}

QTEST_GUILESS_MAIN(TestMailMessage)
#include "tst_mailmessage.moc"
