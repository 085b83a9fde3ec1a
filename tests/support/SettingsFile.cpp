#include "support/SettingsFile.h"

#include "support/TestFiles.h"

#include <QDir>

QString writeSettingsFile(const QString& folder, quint16 boardPort, const QString& extra)
{
    const QString path = QDir(folder).filePath(QStringLiteral("ZARVIK_Mail.ini"));
    QString text = QStringLiteral("[ZARVIK]\nAddress=127.0.0.1\nPort=%1\n").arg(boardPort) + extra;
    text.replace(u'\n', QStringLiteral("\r\n"));
    TestFiles::write(path, text.toUtf8());
    return path;
}
