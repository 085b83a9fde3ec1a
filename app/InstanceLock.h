#pragma once

#include <QLockFile>
#include <QString>

// One running copy per settings file: two copies would each save their own view of the file
// at exit, and mail every alert twice. The lock lies beside the file the settings path's links
// end at, so two links to one file share it.
class InstanceLock {
public:
    explicit InstanceLock(const QString& settingsPath);

    // False only when another running copy holds the lock. A lock that cannot be taken for any
    // other reason (a read-only folder) does not stop the program: saving reports that folder.
    bool acquired() const { return m_acquired; }
    // Tells the user, in a box and on standard error, that the program already runs.
    void reportRunning() const;

private:
    QString m_settingsPath;
    QLockFile m_lock;
    bool m_acquired = true;
};
