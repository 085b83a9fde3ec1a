#include "app/ServiceSettingsFile.h"

#include "core/AtomicFile.h"
#include "settings/IniFile.h"

#include <QFile>
#include <QStringList>
#include <algorithm>
#include <limits>
#include <sys/stat.h>

namespace {

constexpr int LookEveryMs = 100;
// Unchanged over this many looks in a row (200 ms) counts as written.
constexpr int SameLooks = 2;
// An editor is done within seconds; past this the file is read as it stands.
constexpr int MostLooks = 50;

// What changes whenever the file is written or replaced.
QByteArray fingerprint(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QByteArray::number(errno);
    return QByteArray::number(quint64(st.st_dev)) + ' ' + QByteArray::number(quint64(st.st_ino)) +
           ' ' + QByteArray::number(qint64(st.st_size)) + ' ' +
           QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ' ' +
           QByteArray::number(qint64(st.st_ctim.tv_sec)) + '.' +
           QByteArray::number(qint64(st.st_ctim.tv_nsec));
}

bool isWhereAlertsGo(Settings::Key key)
{
    switch (key) {
    case Settings::BoardAddress:
    case Settings::BoardPort:
    case Settings::MailServer:
    case Settings::MailFrom:
    case Settings::MailTo:
        return true;
    default:
        return false;
    }
}

} // namespace

namespace ServiceSettingsFile {

bool read(const QString& path, const QList<Settings::Key>& inForce, Settings* into,
          QList<Settings::Key>* keys, QString* error)
{
    const QString file = QStringLiteral("The settings file \"%1\"").arg(path);
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 && errno == ENOENT) {
        *error = QStringLiteral("%1 does not exist").arg(file);
        return false;
    }
    // The reader's own limit on size says more than a size here would.
    const QString special = AtomicFile::notRegularFile(path, std::numeric_limits<qint64>::max());
    if (!special.isEmpty()) {
        *error = QStringLiteral("%1 cannot be read: %2").arg(file, special);
        return false;
    }
    const IniFile ini(path);
    if (!ini.readProblem().isEmpty()) {
        *error = ini.readProblem();
        return false;
    }
    const QList<Settings::Key> found = Settings::keysIn(ini);
    if (!found.contains(Settings::BoardAddress) || !found.contains(Settings::BoardPort)) {
        *error = QStringLiteral("%1 does not name the board (%2 and %3): it is empty or was cut "
                                "short")
                     .arg(file, Settings::keyName(Settings::BoardAddress),
                          Settings::keyName(Settings::BoardPort));
        return false;
    }
    // Every section the file in force has, and the keys without which alerts would not go where
    // they went: what a file cut short loses, and what an edit keeps.
    QStringList lost;
    for (const Settings::Key key : inForce) {
        if (found.contains(key))
            continue;
        const bool sectionKept = std::any_of(found.cbegin(), found.cend(), [key](Settings::Key k) {
            return Settings::sectionOf(k) == Settings::sectionOf(key);
        });
        if (!sectionKept)
            lost << QStringLiteral("[%1]").arg(Settings::sectionOf(key));
        else if (isWhereAlertsGo(key))
            lost << Settings::keyName(key);
    }
    lost.removeDuplicates();
    if (!lost.isEmpty()) {
        *error = QStringLiteral("%1 lacks %2, which the settings in force have: it may have been "
                                "cut short while being written (to clear a setting, leave its "
                                "value empty)")
                     .arg(file, lost.join(QStringLiteral(", ")));
        return false;
    }
    into->load(ini);
    *keys = found;
    return true;
}

} // namespace ServiceSettingsFile

SettledFile::SettledFile(QObject* parent)
    : QObject(parent)
{
    m_timer.setInterval(LookEveryMs);
    connect(&m_timer, &QTimer::timeout, this, &SettledFile::look);
}

void SettledFile::wait(const QString& path, std::function<void()> then)
{
    m_then = std::move(then);
    if (m_timer.isActive() && path == m_path)
        return;
    m_path = path;
    m_last = fingerprint(path);
    m_same = 0;
    m_looks = 0;
    m_timer.start();
}

void SettledFile::look()
{
    const QByteArray now = fingerprint(m_path);
    m_same = now == m_last ? m_same + 1 : 0;
    m_last = now;
    if (m_same < SameLooks && ++m_looks < MostLooks)
        return;
    m_timer.stop();
    if (m_then)
        std::exchange(m_then, nullptr)();
}
