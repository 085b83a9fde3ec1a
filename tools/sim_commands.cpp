#include "sim_commands.h"

#include "sim_board.h"

#include <QHostAddress>
#include <QStringList>
#include <cmath>

namespace {
CommandResult ok()
{
    return {QStringLiteral("ok")};
}
CommandResult error(const QString& why)
{
    return {QStringLiteral("error ") + why};
}

CommandResult usage(const QString& command, const QString& arguments)
{
    return error(QStringLiteral("usage: %1 %2").arg(command, arguments));
}

bool parseSize(const QString& text, int* size)
{
    qint64 value = 0;
    if (!parseNumber(text, 0, BoardSimulator::MaxDatagramSize, &value))
        return false;
    *size = static_cast<int>(value);
    return true;
}

CommandResult setInput(BoardSimulator& board, const QStringList& words, quint8 mask)
{
    if (words.size() != 2 || (words[1] != u"0" && words[1] != u"1"))
        return usage(words[0], QStringLiteral("<0|1>"));
    const quint8 bits = words[1] == u"1" ? (board.bits() | mask) : (board.bits() & ~mask);
    board.setBits(bits);
    return ok();
}

CommandResult push(BoardSimulator& board, const QStringList& words)
{
    int size = BoardSimulator::NormalReplySize;
    if (words.size() > 2 || (words.size() == 2 && !parseSize(words[1], &size)))
        return usage(words[0], QStringLiteral("[0..%1]").arg(BoardSimulator::MaxDatagramSize));
    QString why;
    return board.push(size, &why) ? ok() : error(why);
}

CommandResult pushTo(BoardSimulator& board, const QStringList& words)
{
    const CommandResult bad = usage(words[0], QStringLiteral("<address> <port> [size]"));
    if (words.size() < 3 || words.size() > 4)
        return bad;
    QHostAddress address;
    if (!address.setAddress(words[1]))
        return error(QStringLiteral("not an address: ") + words[1]);
    qint64 port = 0;
    int size = BoardSimulator::NormalReplySize;
    if (!parseNumber(words[2], 1, 65535, &port) ||
        (words.size() == 4 && !parseSize(words[3], &size)))
        return bad;
    QString why;
    return board.pushTo(address, static_cast<quint16>(port), size, &why) ? ok() : error(why);
}
} // namespace

bool parseNumber(const QString& text, qint64 min, qint64 max, qint64* value)
{
    // Base 0 would read a leading zero as octal, which nobody means here.
    const bool isHex = text.startsWith(u"0x", Qt::CaseInsensitive);
    bool ok = false;
    const qint64 number = (isHex ? text.mid(2) : text).toLongLong(&ok, isHex ? 16 : 10);
    if (!ok || number < min || number > max)
        return false;
    *value = number;
    return true;
}

CommandResult runCommand(BoardSimulator& board, const QString& line)
{
    const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return {};
    const QString& command = words[0];
    qint64 number = 0;

    if (command == u"quit")
        return {QStringLiteral("ok"), true};
    if (command == u"temp") {
        bool valid = words.size() == 2;
        const double celsius = valid ? words[1].toDouble(&valid) : 0.0;
        if (!valid || !std::isfinite(celsius))
            return usage(command, QStringLiteral("<celsius>"));
        board.setRaw(BoardSimulator::rawFromCelsius(celsius));
        return ok();
    }
    if (command == u"raw") {
        if (words.size() != 2 || !parseNumber(words[1], 0, 65535, &number))
            return usage(command, QStringLiteral("<0..65535>"));
        board.setRaw(static_cast<quint16>(number));
        return ok();
    }
    if (command == u"bits") {
        if (words.size() != 2 || !parseNumber(words[1], 0, 255, &number))
            return usage(command, QStringLiteral("<0..255>"));
        board.setBits(static_cast<quint8>(number));
        return ok();
    }
    if (command == u"rb1")
        return setInput(board, words, 0x02);
    if (command == u"rb0")
        return setInput(board, words, 0x01);
    if (command == u"size") {
        int size = 0;
        if (words.size() != 2 || !parseSize(words[1], &size))
            return usage(command, QStringLiteral("<0..%1>").arg(BoardSimulator::MaxDatagramSize));
        board.setReplySize(size);
        return ok();
    }
    if (command == u"silent") {
        if (words.size() != 2 || (words[1] != u"on" && words[1] != u"off"))
            return usage(command, QStringLiteral("<on|off>"));
        board.setSilent(words[1] == u"on");
        return ok();
    }
    if (command == u"push")
        return push(board, words);
    if (command == u"pushto")
        return pushTo(board, words);
    return error(QStringLiteral("unknown command: ") + command);
}
