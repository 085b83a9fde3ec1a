#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <set>
#include <vector>

class Clock;
class ClockTimer;

// What a channel could not send and tries again, for every channel alike: one file per item in
// a folder, named so that the oldest sort first even after the clock went back, and each item
// with its own waits after a failure (15 s, 30 s, 60 s, 2 min, then every 5 min), timed on the
// injected clock. Items go in lanes (one per server a channel posts to); a lane sends one item
// at a time, the one due first, and its owner may hold it (a server that is down, or asked for
// time). The folder is listed when the queue starts running; from then on the items are known
// in memory, so a try costs the same whatever is kept.
//
// due() hands an item to its owner, which answers with delivered(), failed(), stopped(),
// setAside() or forget(), at once or when its transfer is over.
class KeptQueue : public QObject {
    Q_OBJECT
public:
    struct Folder {
        QString path;
        QString suffix;       // ".mail"
        int capacity = 1000;  // the oldest go to make room
        unsigned mode = 0700; // when the folder is made
    };
    // A listed file's lane, or -1 when it is not an item (its owner has set it aside, and said so).
    using LaneOf = std::function<int(const QString& path)>;

    KeptQueue(const Clock& clock, Folder folder, int lanes, LaneOf laneOf,
              QObject* parent = nullptr);
    ~KeptQueue() override;

    const QString& folder() const { return m_folder.path; }
    // The items' files as the folder holds them now, oldest first (links and the like too, so
    // that a reader refuses them and says so).
    QStringList files() const;
    // What a write cut short by a kill left ("<name><suffix>.saving-XXXX") becomes an item when
    // `isWhole` takes its bytes, and is removed otherwise. Returns how many were taken in.
    int takeInLeftovers(const std::function<bool(const QString& path)>& isWhole);

    // Keeps `bytes` as a new item of `lane`; its first wait starts now. The oldest items go to
    // make room, never the new one; `dropped` counts them. False with the reason.
    bool keep(int lane, const QByteArray& bytes, QString* path, QString* error,
              int* dropped = nullptr);

    // Off: nothing starts and the files stay. Turned on: the folder is listed anew, holds end
    // and every item is due at once.
    void setRunning(bool on);
    bool isRunning() const { return m_running; }
    // Lists the folder anew: holds end and every item is due at once.
    void restart();
    // While `held` says so, no item starts; poke() once it may have changed.
    void setHeld(std::function<bool()> held) { m_held = std::move(held); }
    // A closed lane's items wait until it opens (its channel is off).
    void setLaneOpen(int lane, bool open);
    // No item of `lane` starts before `steadyMs`.
    void holdLane(int lane, qint64 steadyMs);
    // Multiplies every wait; tests shorten them.
    void setDelayScale(double scale) { m_scale = scale; }
    // Looks for a due item at the next turn of the event loop.
    void poke();

    // When a kept item is due next (steady ms), -1 for one not kept.
    qint64 dueMs(const QString& path) const;
    // Whether an item of `lane` (of any lane for -1) is on its way.
    bool isSending(int lane = -1) const;

    // The answers to due().
    void delivered(const QString& path);
    // It may pass: the item waits its next step; returns when it is due (steady ms), -1 when
    // it is no longer kept (the oldest made room).
    qint64 failed(const QString& path);
    // Part of it went out (it counts as sent); the rest waits its next step.
    void partlyDelivered(const QString& path);
    // Given up on closing: it stays kept, for the next start.
    void stopped(const QString& path);
    // Moved aside under `path + suffix`, never deleted; returns the new name, empty when it
    // could not be moved.
    QString setAside(const QString& path, const QString& suffix);
    // No longer an item (gone, or its file belongs to another lane now: see moveToLane()).
    void forget(const QString& path);
    // Its file now says another lane: it waits there, as due as it was.
    void moveToLane(const QString& path, int lane);

signals:
    void due(const QString& path, int lane);
    // Nothing is on its way any more, after `sent` items went out.
    void drained(int sent);

private:
    struct Item {
        int lane = 0;
        int attempt = 0; // failed tries since it was kept
        qint64 atMs = 0; // due, on the steady clock
    };
    struct Lane {
        std::set<std::pair<qint64, QString>> queue; // (due, path), the idle items
        qint64 heldUntilMs = 0;
        bool open = true;
        QString sending;
    };

    void list();
    void schedule(const QString& path, Item& item, qint64 atMs);
    void endSending(const QString& path);
    void tryNext();

    const Clock& m_clock;
    Folder m_folder;
    LaneOf m_laneOf;
    std::function<bool()> m_held;
    ClockTimer* m_timer;
    std::vector<Lane> m_lanes;
    std::map<QString, Item> m_items; // by name, so oldest first
    bool m_running = false;
    bool m_listed = false;
    double m_scale = 1.0;
    int m_sentInARow = 0;
};
