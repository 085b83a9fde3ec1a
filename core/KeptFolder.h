#pragma once

#include <QString>
#include <QStringList>

// What every channel that keeps what it could not send shares: a folder of files, one per item,
// whose names sort in the order they were kept (even after the clock went back), and the waits
// between tries.
namespace KeptFolder {

// "<dir>/ZARVIK_Mail.ini" with ".outbox" gives "<dir>/ZARVIK_Mail.outbox".
QString beside(const QString& settingsPath, const QString& extension);

// The files of `folder` whose names end in `suffix`, oldest kept first; links and the like too,
// so that a reader can refuse them and say so.
QStringList list(const QString& folder, const QString& suffix);
// A new name in `folder` that sorts after every kept one, even after the clock went back.
QString freshPath(const QString& folder, const QString& suffix);
// Whether `name` is one freshPath() gives ("20261209-142800-123-000.mail").
bool isKeptName(const QString& name, const QString& suffix);
// Moves a file aside under `path + suffix`, never deleting it; returns the new name, or an empty
// string when it could not be moved.
QString setAside(const QString& path, const QString& suffix);

// When the n-th retry after a failure is due (0 for the first): 15 s, 30 s, 60 s, 2 min, then
// every 5 min, times `scale` (tests shorten it).
int retryDelayMs(int attempt, double scale = 1.0);

} // namespace KeptFolder
