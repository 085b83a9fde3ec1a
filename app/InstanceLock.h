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
//
// A folder or a /tmp of its own hides a lock file from everyone else: a sandboxed service sees
// /etc read-only and has a private /tmp. So each copy also claims a name made from the file's
// real path in the abstract Unix socket namespace, which every process on the machine shares
// whatever its user, its mounts or its sandbox, and which the kernel frees when the process ends.
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

    // The running copy that holds the lock of `settingsPath`: its process id (0: none runs) and
    // its name ("zarvik-maild").
    struct Holder {
        qint64 pid = 0;
        QString name;
    };
    static Holder runningCopy(const QString& settingsPath);

    // Where the lock lies when not beside `settingsFile` (the end of its links).
    static QString fallbackPath(const QString& settingsFile);

private:
    enum class State { Acquired, HeldElsewhere, Failed };

    State take(const QString& path, QString* why);
    // The machine-wide claim; Failed when this system offers no such sockets.
    State claim(const QString& file);

    QString m_settingsPath;
    std::unique_ptr<QLockFile> m_lock;
    int m_claim = -1; // the socket that holds the claim
    State m_state = State::Failed;
    QString m_note;
    QString m_problem;
    QString m_holder; // the process that holds the lock, as it wrote itself there
};
