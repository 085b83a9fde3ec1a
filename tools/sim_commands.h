#pragma once

#include <QString>

class BoardSimulator;

struct CommandResult {
    QString answer; // "ok" or "error <why>"; empty for a blank line
    bool quit = false;
};

// One line typed at the simulator (stdin): changes the board state or sends a datagram.
CommandResult runCommand(BoardSimulator& board, const QString& line);

// Decimal or 0x-prefixed hex; false when it is not a number within min..max.
bool parseNumber(const QString& text, qint64 min, qint64 max, qint64* value);
