#pragma once

#include <QString>
#include <QtGlobal>

// Writes "<folder>/ZARVIK_Mail.ini" naming the simulated board on 127.0.0.1, then `extra` (more
// sections, written with LF and stored with the file's CRLF); returns its path.
QString writeSettingsFile(const QString& folder, quint16 boardPort, const QString& extra = {});
