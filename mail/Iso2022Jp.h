#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Japanese mail text as ISO-2022-JP (RFC 1468), built character by character so that pieces can
// be cut at character boundaries and each piece is self-contained: it starts in ASCII and, when
// it left ASCII, returns there with ESC ( B before it ends.
namespace Iso2022Jp {

// The ISO-2022-JP form of one source character: the escape sequence that selects its set
// (empty for ASCII) and its bytes in that set.
struct Glyph {
    QByteArray designation;
    QByteArray bytes;
};

// Maps `text` to glyphs. A character with no ISO-2022-JP form becomes its nearest form (the
// JIS form of a CP932 look-alike, else its NFKC form) or, failing that, the geta mark U+3013.
// Control characters other than TAB become the geta mark too: they could switch the decoder's
// state or end a line.
QList<Glyph> glyphs(const QString& text);

// Encodes `text` (no line breaks) into pieces of at most `firstMax` bytes for the first piece
// and `restMax` for the others. Always returns at least one piece.
QList<QByteArray> encode(const QString& text, int firstMax, int restMax);

} // namespace Iso2022Jp
