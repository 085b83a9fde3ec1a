#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// One running copy per settings file: two copies would each save their own view of the file
// at exit, and mail every alert twice. The lock lies beside the file the settings path's links
// end at, so two links to one file share it. Where it cannot (a read-only folder, or something
// other than a lock file at its name, which is left alone: a FIFO or a device would hang the
// start), it lies in $XDG_RUNTIME_DIR, or else /tmp, under a name made from the file's real
// path, so that two copies still keep each other out.
class InstanceLock {
public:
    explicit InstanceLock(const QString& settingsPath);
    ~InstanceLock();

    // False when another running copy holds the lock, or no lock could be taken anywhere: the
    // program never runs unlocked.
    bool acquired() const { return m_state == State::Acquired; }
    // Says on standard error why the program does not start, and returns the same text.
    QString reportRefusal() const;
    // Another running copy holds the lock (rather than no lock being possible).
    bool heldElsewhere() const { return m_state == State::HeldElsewhere; }
    // Says on standard error why the lock is not beside the settings file, when something at its
    // name was left alone, and returns the same text; otherwise an empty one.
    QString reportNote() const;

    // Where the lock lies when not beside `settingsFile` (the end of its links).
    static QString fallbackPath(const QString& settingsFile);

private:
    enum class State { Acquired, HeldElsewhere, Failed };

    State take(const QString& path, QString* why);

    QString m_settingsPath;
    std::unique_ptr<QLockFile> m_lock;
    State m_state = State::Failed;
    QString m_note;
    QString m_problem;
    QString m_holder; // the process that holds the lock, as it wrote itself there
};
