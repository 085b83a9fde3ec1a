#include "settings/IniText.h"

#include "core/IntegerText.h"
#include "core/TextCodec.h"

namespace IniText {

namespace {

template <typename Text> QList<Text> splitAtLineEnds(const Text& text)
{
    QList<Text> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.append(text.sliced(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.sliced(start));
    return lines;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

QList<QByteArray> splitLines(const QByteArray& bytes)
{
    return splitAtLineEnds(bytes);
}

QList<QString> splitLines(const QString& text)
{
    return splitAtLineEnds(text);
}

QStringView trimBlanks(QStringView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

ParsedLine parseLine(QStringView line)
{
    const QStringView text = trimBlanks(line);
    if (text.isEmpty() || text.front() == u';' || text.front() == u'#')
        return {};
    if (text.front() == u'[') {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return {};
        return {LineKind::Section, trimBlanks(text.sliced(1, close - 1)).toString(), {}};
    }
    const qsizetype equals = text.indexOf(u'=');
    if (equals < 0)
        return {};
    const QStringView key = trimBlanks(text.first(equals));
    if (key.isEmpty())
        return {};
    return {LineKind::Key, key.toString(), trimBlanks(text.sliced(equals + 1)).toString()};
}

std::optional<int> parseInteger(QStringView text)
{
    return IntegerText::parse(trimBlanks(text));
}

QByteArray encode(const QString& text)
{
    QString clean = text;
    for (QChar& c : clean) {
        if (c == u'\r' || c == u'\n' || c == u'\0')
            c = u' ';
    }
    if (const auto bytes = TextCodec::toCp932(clean))
        return *bytes;

    QByteArray out;
    for (qsizetype i = 0; i < clean.size(); ++i) {
        const qsizetype length =
            clean[i].isHighSurrogate() && i + 1 < clean.size() && clean[i + 1].isLowSurrogate() ? 2
                                                                                                : 1;
        const auto bytes = TextCodec::toCp932(clean.sliced(i, length));
        out += bytes ? *bytes : QByteArray("?");
        i += length - 1;
    }
    return out;
}

} // namespace IniText
