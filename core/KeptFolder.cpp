#include "core/KeptFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

const QString StampFormat = QStringLiteral("yyyyMMdd-HHmmss-zzz");

// The time in a kept file's name; invalid for other names.
QDateTime stampOf(const QString& name, const QString& suffix)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{8}-\\d{6}-\\d{3})-\\d{3}$"));
    if (!name.endsWith(suffix))
        return {};
    const QRegularExpressionMatch match = pattern.match(name.chopped(suffix.size()));
    if (!match.hasMatch())
        return {};
    QDateTime stamp = QDateTime::fromString(match.captured(1), StampFormat);
    stamp.setTimeSpec(Qt::UTC);
    return stamp;
}

} // namespace

namespace KeptFolder {

QString beside(const QString& settingsPath, const QString& extension)
{
    QString stem = settingsPath;
    if (stem.endsWith(QStringLiteral(".ini"), Qt::CaseInsensitive))
        stem.chop(4);
    return stem + extension;
}

QStringList list(const QString& folder, const QString& suffix)
{
    const QDir dir(folder);
    QStringList paths;
    for (const QString& name : dir.entryList(
             {QLatin1Char('*') + suffix},
             QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name))
        paths.append(dir.filePath(name));
    return paths;
}

QString freshPath(const QString& folder, const QString& suffix)
{
    // A new name comes after every name there, whatever the clock says.
    QDateTime stamp = QDateTime::currentDateTimeUtc();
    for (const QString& path : list(folder, suffix)) {
        const QDateTime kept = stampOf(QFileInfo(path).fileName(), suffix);
        if (kept.isValid() && kept >= stamp)
            stamp = kept.addMSecs(1);
    }
    const QString text = stamp.toString(StampFormat);
    const QDir dir(folder);
    QString path;
    // A counter parts files of the same millisecond.
    for (int n = 0; path.isEmpty() || QFileInfo(path).exists() || QFileInfo(path).isSymLink(); ++n)
        path = dir.filePath(
            QStringLiteral("%1-%2%3").arg(text).arg(n, 3, 10, QLatin1Char('0')).arg(suffix));
    return path;
}

bool isKeptName(const QString& name, const QString& suffix)
{
    return stampOf(name, suffix).isValid();
}

QString setAside(const QString& path, const QString& suffix)
{
    QString target = path + suffix;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".%1").arg(n) + suffix;
    return QFile::rename(path, target) ? target : QString();
}

int retryDelayMs(int attempt, double scale)
{
    static const int steps[] = {15'000, 30'000, 60'000, 120'000, 300'000};
    const int last = int(std::size(steps)) - 1;
    return int(steps[std::clamp(attempt, 0, last)] * scale);
}

} // namespace KeptFolder
