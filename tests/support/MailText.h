#pragma once

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QTest>

// A mail as it travels, taken apart for checks: the header fields unfolded, in order, and the
// body as sent.
struct ParsedMail {
    struct Field {
        QByteArray name;
        QByteArray value; // after the colon and one blank; continuation lines appended as they are
    };

    explicit ParsedMail(const QByteArray& raw);

    QList<Field> named(const QByteArray& name) const; // any case
    int count(const QByteArray& name) const { return int(named(name).size()); }
    QByteArray value(const QByteArray& name) const; // the first such field's; null when none
    QString text(const QByteArray& name) const;     // value() with encoded words decoded
    QString bodyText() const;                       // the body decoded from ISO-2022-JP

    QList<QByteArray> headerLines; // physical lines, without CR LF
    QList<Field> fields;
    QByteArray body;
};

namespace MailText {

// "<undecodable>" when the bytes are not ISO-2022-JP.
QString fromJis(const QByteArray& bytes);
// Decodes RFC 2047 ISO-2022-JP words; blanks between two adjacent words vanish as the RFC says.
QString decodeWords(const QByteArray& value);
const QRegularExpression& encodedWord(); // captures the base64 text
// True when the text returns to ASCII at its end.
bool endsInAscii(const QByteArray& jis);
// What every mail on the wire must be: 7-bit, CR and LF only as pairs, ending in CR LF, no
// line over 998 bytes. Fails the current test; see CHECK_WIRE.
void checkWire(const QByteArray& raw);

} // namespace MailText

// Stops the calling test function when the mail breaks a wire rule.
#define CHECK_WIRE(raw)                                                                            \
    do {                                                                                           \
        MailText::checkWire(raw);                                                                  \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)
