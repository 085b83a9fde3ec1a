#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// Maintenance: while a mute holds, alerts go to no person. It is kept in one small file of the
// state folder, so that it outlives a restart and a shell can set it for the running service.
namespace Mute {

// "<dir>/ZARVIK_Mail.ini" keeps its mute in "<dir>/ZARVIK_Mail.mute".
QString pathFor(const QString& statePath);

struct Read {
    qint64 untilMs = 0; // wall clock; 0: not muted
    QString problem;    // why the file could not be taken; empty when fine or missing
};
Read read(const QString& path);
// Keeps `untilMs` (0: removes the file). False with the reason otherwise.
bool write(const QString& path, qint64 untilMs, QString* error);

// What a person types: "30m", "1h", "4h", "2d" (from `now`), "until 14:30" or "14:30" (the
// next such time), "off" (0). Empty, with `error` said, when it is none of these.
std::optional<qint64> parse(const QString& text, const QDateTime& now, QString* error);

// "14:30", or with the date when it is not today: "12/11 14:30".
QString untilText(qint64 untilMs, const QDateTime& now);

} // namespace Mute
