#include "settings/SettingsLocation.h"

#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Folder = QStringLiteral("zarvik-mail");
const QString FileName = QStringLiteral("ZARVIK_Mail.ini");

// An XDG base folder: the variable when it holds an absolute path (relative ones are to be
// ignored), else its default under the home folder.
QString baseFolder(const char* variable, const QString& underHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + QLatin1Char('/') + underHome;
}

QString seedFile()
{
    QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/etc/xdg");
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (!QDir::isAbsolutePath(dir))
            continue;
        const QString path =
            QDir::cleanPath(dir) + QLatin1Char('/') + Folder + QLatin1Char('/') + FileName;
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

// Missing folders are made 0700, as the XDG rules ask of a base folder; ours holds addresses.
bool makeFolder(const QString& path, QString* error)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).path();
    if (parent != path && !makeFolder(parent, error))
        return false;
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error = QStringLiteral("Cannot create %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

// The system's own hierarchy: what lies there belongs to a package or to the administrator, and
// a file left there by root's run of the window would outlive the package. /var/tmp is anyone's.
bool isSystemFolder(const QString& folder)
{
    static const QStringList Roots = {
        QStringLiteral("/usr"),    QStringLiteral("/bin"),   QStringLiteral("/sbin"),
        QStringLiteral("/lib"),    QStringLiteral("/lib32"), QStringLiteral("/lib64"),
        QStringLiteral("/libx32"), QStringLiteral("/etc"),   QStringLiteral("/boot"),
        QStringLiteral("/var"),    QStringLiteral("/run"),   QStringLiteral("/dev"),
        QStringLiteral("/proc"),   QStringLiteral("/sys")};
    const auto under = [](const QString& path, const QString& root) {
        return path == root || path.startsWith(root + QLatin1Char('/'));
    };
    // Through links too: /bin may lead to /usr/bin, and a user's link to either.
    for (const QString& path : {QDir::cleanPath(folder), QFileInfo(folder).canonicalFilePath()}) {
        if (path == QLatin1String("/"))
            return true;
        if (under(path, QStringLiteral("/var/tmp")))
            continue;
        for (const QString& root : Roots) {
            if (under(path, root))
                return true;
        }
    }
    return false;
}

} // namespace

SettingsLocation SettingsLocation::forExecutable(const QString& executablePath)
{
    const QString beside = QFileInfo(executablePath).absolutePath();
    if (!isSystemFolder(beside) && ::access(QFile::encodeName(beside).constData(), W_OK) == 0)
        return forFile(Settings::pathFor(executablePath));
    SettingsLocation where;
    where.settingsPath = baseFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) +
                         QLatin1Char('/') + Folder + QLatin1Char('/') + FileName;
    where.seedPath = seedFile();
    where.statePath = baseFolder("XDG_STATE_HOME", QStringLiteral(".local/state")) +
                      QLatin1Char('/') + Folder + QLatin1Char('/') + FileName;
    return where;
}

SettingsLocation SettingsLocation::forFile(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    return {absolute, QString(), absolute};
}

SettingsLocation SettingsLocation::forService(const QString& path, const QString& stateFolder)
{
    const QFileInfo file(QFileInfo(path).absoluteFilePath());
    const QDir state(stateFolder.isEmpty() ? file.path() : stateFolder);
    return {file.filePath(), QString(), state.filePath(file.fileName())};
}

QString SettingsLocation::readPath() const
{
    return seedPath.isEmpty() || QFileInfo::exists(settingsPath) ? settingsPath : seedPath;
}

bool SettingsLocation::makeFolders(QString* error) const
{
    return makeFolder(QFileInfo(settingsPath).path(), error) &&
           makeFolder(QFileInfo(statePath).path(), error);
}
