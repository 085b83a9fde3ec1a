#include "app/InstanceLock.h"

#include "app/OwnMessageBox.h"
#include "settings/AtomicFile.h"

#include <cstdio>

InstanceLock::InstanceLock(const QString& settingsPath)
    : m_settingsPath(settingsPath)
    , m_lock(AtomicFile::resolveLinks(settingsPath) + QStringLiteral(".lock"))
{
    // Never stale by age: only a lock whose process has gone is taken over.
    m_lock.setStaleLockTime(0);
    if (!m_lock.tryLock(0))
        m_acquired = m_lock.error() != QLockFile::LockFailedError;
}

void InstanceLock::reportRunning() const
{
    const QString text =
        QStringLiteral("ZARVIK Mail は既に起動しています。\n%1").arg(m_settingsPath);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    OwnMessageBox::show(QMessageBox::Information, QStringLiteral("ZARVIK Mail"), text);
}
