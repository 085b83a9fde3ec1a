#include "monitor/AlertWords.h"

#include "alert/AlertRules.h"
#include "device/BoardProtocol.h"
#include "monitor/Outlet.h"

#include <QDateTime>
#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

namespace {

enum Field { FSubject, FMessage, FTemperature, FRb1, FRb0, FRules, FTime, FBoard, FMemo };

bool isNameChar(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_';
}

bool isLineBreak(QChar c)
{
    return c == u'\r' || c == u'\n' || c == u'\x85' || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}

using Piece = AlertWords::Piece;

// The template's pieces, literal text and placeholders in turn; nothing when a placeholder is
// unknown, which `unknown` then names with its braces.
std::optional<QList<Piece>> parse(const QString& text, QString* unknown)
{
    QList<Piece> pieces;
    QString literal;
    const auto flush = [&] {
        if (!literal.isEmpty())
            pieces.append({std::exchange(literal, QString()), -1});
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\' && i + 1 < text.size() && (text[i + 1] == u'n' || text[i + 1] == u'\\')) {
            literal += text[i + 1] == u'n' ? u'\n' : u'\\';
            ++i;
            continue;
        }
        if (c != u'{') {
            literal += c;
            continue;
        }
        qsizetype end = i + 1;
        while (end < text.size() && isNameChar(text[end]))
            ++end;
        if (end == i + 1 || end >= text.size() || text[end] != u'}') {
            literal += c; // not a placeholder: kept as it is
            continue;
        }
        const QString name = text.mid(i + 1, end - i - 1);
        const qsizetype field = AlertWords::placeholders().indexOf(name);
        if (field < 0) {
            *unknown = text.mid(i, end - i + 1);
            return std::nullopt;
        }
        flush();
        pieces.append({QString(), int(field)});
        i = end;
    }
    flush();
    return pieces;
}

// One line: CR LF, CR, LF and the other line and control characters each become one blank.
QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar& c : text) {
        if (isLineBreak(c) || c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return text;
}

QString partName(AlertWords::Part part)
{
    return part == AlertWords::Subject ? QStringLiteral("[Mail] Subject")
                                       : QStringLiteral("[Mail] Body");
}

} // namespace

QString AlertWords::board(const QString& address, const QString& port)
{
    return address.trimmed() + u':' + port.trimmed();
}

const QStringList& AlertWords::placeholders()
{
    static const QStringList names{
        QStringLiteral("subject"), QStringLiteral("message"), QStringLiteral("temperature"),
        QStringLiteral("rb1"),     QStringLiteral("rb0"),     QStringLiteral("rules"),
        QStringLiteral("time"),    QStringLiteral("board"),   QStringLiteral("memo"),
    };
    return names;
}

QString AlertWords::problem(Part part, const QString& text)
{
    QString unknown;
    const auto pieces = parse(text, &unknown);
    if (!pieces)
        return QStringLiteral("'%1' is not a valid placeholder in %2 (%3)")
            .arg(unknown, partName(part),
                 u'{' + placeholders().join(QStringLiteral("}, {")) + u'}');
    if (part == Subject) {
        for (const auto& piece : *pieces) {
            if (std::any_of(piece.text.cbegin(), piece.text.cend(), isLineBreak))
                return QStringLiteral("'%1' is not a valid subject (one line, no line break)")
                    .arg(text);
        }
    }
    return {};
}

QString AlertWords::set(Part part, const QString& text)
{
    m_pieces[part].clear();
    const QString why = problem(part, text);
    // Blanks alone are no words: the classic text goes on.
    if (!why.isEmpty() || text.trimmed().isEmpty())
        return why;
    QString unknown;
    m_pieces[part] = *parse(text, &unknown);
    return {};
}

QString AlertWords::render(Part part, const AlertEvent& event, const QString& board) const
{
    const Reading& reading = event.reading;
    const bool haveReading = reading.timeMs != 0;
    const auto level = [haveReading](bool high) {
        return !haveReading ? QStringLiteral("-")
               : high       ? QStringLiteral("H")
                            : QStringLiteral("L");
    };
    QString out;
    for (const Piece& piece : m_pieces[part]) {
        QString value;
        switch (piece.field) {
        case -1:
            out += piece.text;
            continue;
        case FSubject:
            value = event.subject.trimmed(); // the classic subject ends in a blank
            break;
        case FMessage:
            value = event.message;
            break;
        case FTemperature:
            value = haveReading ? BoardProtocol::formatTemperature(reading.temperature).trimmed()
                                : QStringLiteral("-");
            break;
        case FRb1:
            value = level(reading.rb1);
            break;
        case FRb0:
            value = level(reading.rb0);
            break;
        case FRules: {
            QStringList names;
            for (int i = 0; i < int(std::size(AlertRuleNames)); ++i) {
                if (event.rules & (1 << i))
                    names << QString::fromLatin1(AlertRuleNames[i]);
            }
            value = names.join(QStringLiteral(", "));
            break;
        }
        case FTime:
            value = QDateTime::fromMSecsSinceEpoch(event.timeMs)
                        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            break;
        case FBoard:
            value = board;
            break;
        case FMemo:
            value = event.memo;
            break;
        }
        out += part == Subject ? oneLine(value) : value;
    }
    return out;
}

AlertWords::Text AlertWords::apply(const AlertEvent& event, const QString& board,
                                   const Text& classic) const
{
    Text text = classic;
    if (isOwn(Subject))
        text.subject = render(Subject, event, board);
    if (isOwn(Body))
        text.body = render(Body, event, board);
    return text;
}
