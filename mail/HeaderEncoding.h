#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Mail header fields as 7-bit text: RFC 2047 encoded words in ISO-2022-JP for Japanese, folding,
// and the guards that keep a value from starting a header of its own.
namespace HeaderEncoding {

// `text` on one line: CR, LF and the other control characters but TAB become blanks.
QString singleLine(const QString& text);

// The address in "Name <address>" (inside the last <...>), else the whole trimmed text.
QString addressPart(const QString& text);

// `text` as =?ISO-2022-JP?B?...?= words: the first at most `firstMax` characters long, the
// others at most 75; each word decodes on its own and is cut at a character boundary.
QList<QByteArray> encodedWords(const QString& text, int firstMax = 75);

// One header field, "Name: value" folded with CRLF SP and ending in CRLF. ASCII values stay as
// they are; Japanese becomes encoded words. An address field is a list split at ',' and ';':
// there only display names are encoded, domains take their xn-- form and ", " joins the entries.
// Characters not allowed in a field name are dropped; nothing is returned when none is left.
QByteArray field(const QString& name, const QString& value);

} // namespace HeaderEncoding
