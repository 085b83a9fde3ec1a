#include "mail/Iso2022Jp.h"

#include "core/TextCodec.h"

#include <QHash>
#include <optional>

namespace Iso2022Jp {
namespace {

constexpr char kEsc = '\x1b';
const QByteArray kToAscii("\x1b(B");
constexpr char32_t kGeta = 0x3013;

// CP932 decodes a few JIS symbols to different code points than JIS X 0208 uses; the settings
// file is CP932, so these meet the mail text often.
char32_t jisLookAlike(char32_t c)
{
    switch (c) {
    case 0xFF5E: // FULLWIDTH TILDE -> WAVE DASH
        return 0x301C;
    case 0x2225: // PARALLEL TO -> DOUBLE VERTICAL LINE
        return 0x2016;
    case 0xFF0D: // FULLWIDTH HYPHEN-MINUS -> MINUS SIGN
        return 0x2212;
    case 0xFFE0:
        return 0x00A2;
    case 0xFFE1:
        return 0x00A3;
    case 0xFFE2:
        return 0x00AC;
    case 0x2014: // EM DASH -> HORIZONTAL BAR
        return 0x2015;
    default:
        return c;
    }
}

bool isControl(char32_t c)
{
    return (c < 0x20 && c != '\t') || c == 0x7F || (c >= 0x80 && c < 0xA0);
}

// Splits iconv's output for one character, "[ESC seq] bytes [ESC ( B]", into a glyph.
std::optional<Glyph> parse(const QByteArray& out)
{
    Glyph glyph;
    qsizetype i = 0;
    if (out.startsWith(kEsc)) {
        i = 1;
        while (i < out.size() && out[i] >= 0x20 && out[i] <= 0x2F)
            ++i;
        if (i >= out.size() || out[i] < 0x30 || out[i] > 0x7E)
            return std::nullopt;
        glyph.designation = out.left(++i);
        if (glyph.designation == kToAscii)
            glyph.designation.clear();
    }
    const qsizetype end = out.indexOf(kEsc, i);
    glyph.bytes = out.mid(i, end < 0 ? -1 : end - i);
    if (glyph.bytes.isEmpty() || (end >= 0 && out.mid(end) != kToAscii))
        return std::nullopt;
    for (const char b : glyph.bytes) {
        if (uchar(b) >= 0x80)
            return std::nullopt;
    }
    if (glyph.designation.isEmpty() && glyph.bytes.size() != 1)
        return std::nullopt;
    return glyph;
}

class Mapper {
public:
    // The glyph of one character as iconv knows it, without any fallback.
    std::optional<Glyph> direct(char32_t c)
    {
        c = jisLookAlike(c);
        if (isControl(c))
            return std::nullopt;
        const auto cached = m_cache.constFind(c);
        if (cached != m_cache.cend())
            return *cached;
        std::optional<Glyph> glyph;
        if (c < 0x80) {
            glyph = Glyph{{}, QByteArray(1, char(c))};
        } else {
            const QByteArray utf8 = QString::fromUcs4(&c, 1).toUtf8();
            if (const auto out = TextCodec::convert(utf8, "UTF-8", "ISO-2022-JP"))
                glyph = parse(*out);
        }
        m_cache.insert(c, glyph);
        return glyph;
    }

    // The glyphs of `text` (one character, or one with its voicing mark) through NFKC.
    std::optional<QList<Glyph>> normalized(const QString& text)
    {
        const QString nfkc = text.normalized(QString::NormalizationForm_KC);
        if (nfkc == text)
            return std::nullopt;
        QList<Glyph> result;
        for (const uint c : nfkc.toUcs4()) {
            const auto glyph = direct(char32_t(c));
            if (!glyph)
                return std::nullopt;
            result.append(*glyph);
        }
        return result;
    }

private:
    QHash<char32_t, std::optional<Glyph>> m_cache;
};

bool isVoicingMark(char32_t c)
{
    return c == 0xFF9E || c == 0xFF9F || c == 0x3099 || c == 0x309A;
}

} // namespace

QList<Glyph> glyphs(const QString& text)
{
    Mapper mapper;
    const Glyph geta = *mapper.direct(kGeta);
    const QList<uint> ucs4 = text.toUcs4();
    const QList<char32_t> chars(ucs4.cbegin(), ucs4.cend());
    QList<Glyph> result;
    result.reserve(chars.size());
    for (qsizetype i = 0; i < chars.size(); ++i) {
        if (const auto glyph = mapper.direct(chars[i])) {
            result.append(*glyph);
            continue;
        }
        // Half-width kana and their separate voicing marks compose into one full-width kana.
        if (i + 1 < chars.size() && isVoicingMark(chars[i + 1])) {
            if (const auto pair = mapper.normalized(QString::fromUcs4(&chars[i], 2))) {
                result.append(*pair);
                ++i;
                continue;
            }
        }
        if (const auto single = mapper.normalized(QString::fromUcs4(&chars[i], 1)))
            result.append(*single);
        else
            result.append(geta);
    }
    return result;
}

QList<QByteArray> encode(const QString& text, int firstMax, int restMax)
{
    QList<QByteArray> pieces;
    QByteArray piece;
    QByteArray state;
    const auto finish = [&] {
        if (!state.isEmpty())
            piece += kToAscii;
        state.clear();
        pieces.append(piece);
        piece.clear();
    };
    for (const Glyph& glyph : glyphs(text)) {
        const int max = pieces.isEmpty() ? firstMax : restMax;
        const auto cost = [&] {
            qsizetype n = glyph.bytes.size();
            if (glyph.designation != state)
                n += glyph.designation.isEmpty() ? kToAscii.size() : glyph.designation.size();
            if (!glyph.designation.isEmpty())
                n += kToAscii.size();
            return n;
        };
        if (!piece.isEmpty() && piece.size() + cost() > max)
            finish();
        if (glyph.designation != state) {
            piece += glyph.designation.isEmpty() ? kToAscii : glyph.designation;
            state = glyph.designation;
        }
        piece += glyph.bytes;
    }
    finish();
    return pieces;
}

} // namespace Iso2022Jp
