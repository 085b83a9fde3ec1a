#include "core/KeptQueue.h"

#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/ClockTimer.h"
#include "core/KeptFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <limits>
#include <sys/stat.h>

KeptQueue::KeptQueue(const Clock& clock, Folder folder, int lanes, LaneOf laneOf, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
    , m_folder(std::move(folder))
    , m_laneOf(std::move(laneOf))
    , m_timer(new ClockTimer(clock, this))
    , m_lanes(size_t(lanes))
{
    connect(m_timer, &ClockTimer::timeout, this, &KeptQueue::tryNext);
}

KeptQueue::~KeptQueue() = default;

QStringList KeptQueue::files() const
{
    return KeptFolder::list(m_folder.path, m_folder.suffix);
}

int KeptQueue::takeInLeftovers(const std::function<bool(const QString& path)>& isWhole)
{
    // What AtomicFile leaves when it is killed between naming its file and renaming it.
    const QString leftover = m_folder.suffix + QStringLiteral(".saving-");
    const QDir dir(m_folder.path);
    int taken = 0;
    for (const QString& name :
         dir.entryList({QLatin1Char('*') + leftover + QLatin1Char('*')},
                       QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString path = dir.filePath(name);
        if (!isWhole(path)) {
            if (!QFileInfo(path).isDir())
                QFile::remove(path);
            continue;
        }
        QString target = dir.filePath(name.left(name.indexOf(leftover) + m_folder.suffix.size()));
        if (QFileInfo(target).exists() || QFileInfo(target).isSymLink() ||
            !KeptFolder::isKeptName(QFileInfo(target).fileName(), m_folder.suffix))
            target = KeptFolder::freshPath(m_folder.path, m_folder.suffix);
        taken += QFile::rename(path, target);
    }
    if (taken > 0)
        m_listed = false;
    return taken;
}

bool KeptQueue::keep(int lane, const QByteArray& bytes, QString* path, QString* error, int* dropped)
{
    // The folder lies beside the settings file, whose folder exists.
    if (::mkdir(QFile::encodeName(m_folder.path).constData(), mode_t(m_folder.mode)) != 0 &&
        errno != EEXIST) {
        *error = QStringLiteral("%1: %2").arg(m_folder.path, qt_error_string(errno));
        return false;
    }
    if (!m_listed)
        list();
    const QString fresh = KeptFolder::freshPath(m_folder.path, m_folder.suffix);
    QString why;
    if (!AtomicFile::replace(fresh, bytes, &why)) {
        *error = QStringLiteral("%1: %2").arg(m_folder.path, why);
        return false;
    }
    Item& item = m_items[fresh];
    item.lane = lane;
    schedule(fresh, item, m_clock.steadyMs() + KeptFolder::retryDelayMs(item.attempt++, m_scale));
    // The oldest go, never the item just kept (its name sorts last).
    int removed = 0;
    while (m_items.size() > size_t(m_folder.capacity)) {
        const QString oldest = m_items.begin()->first;
        QFile::remove(oldest);
        forget(oldest);
        ++removed;
    }
    if (dropped)
        *dropped = removed;
    *path = fresh;
    poke();
    return true;
}

void KeptQueue::setRunning(bool on)
{
    const bool starting = on && !m_running;
    m_running = on;
    if (starting)
        restart(); // the folder may have changed meanwhile
    else if (!on)
        m_timer->stop();
}

void KeptQueue::restart()
{
    m_listed = false;
    for (Lane& lane : m_lanes)
        lane.heldUntilMs = 0;
    poke();
}

void KeptQueue::setLaneOpen(int lane, bool open)
{
    m_lanes[size_t(lane)].open = open;
    if (open)
        poke();
}

void KeptQueue::holdLane(int lane, qint64 steadyMs)
{
    Lane& l = m_lanes[size_t(lane)];
    l.heldUntilMs = std::max(l.heldUntilMs, steadyMs);
}

void KeptQueue::poke()
{
    if (m_running)
        m_timer->start(0);
}

bool KeptQueue::isSending(int lane) const
{
    if (lane >= 0)
        return !m_lanes[size_t(lane)].sending.isEmpty();
    return std::any_of(m_lanes.begin(), m_lanes.end(),
                       [](const Lane& l) { return !l.sending.isEmpty(); });
}

qint64 KeptQueue::dueMs(const QString& path) const
{
    const auto it = m_items.find(path);
    return it == m_items.end() ? -1 : it->second.atMs;
}

void KeptQueue::list()
{
    m_items.clear();
    for (Lane& lane : m_lanes)
        lane.queue.clear();
    m_listed = true;
    for (const QString& path : files()) {
        const int lane = m_laneOf(path);
        if (lane < 0 || lane >= int(m_lanes.size()))
            continue;
        m_items[path].lane = lane;
        // The one on its way is queued again once it is over, if it failed.
        if (m_lanes[size_t(lane)].sending != path)
            m_lanes[size_t(lane)].queue.emplace(0, path);
    }
}

void KeptQueue::schedule(const QString& path, Item& item, qint64 atMs)
{
    std::set<std::pair<qint64, QString>>& queue = m_lanes[size_t(item.lane)].queue;
    queue.erase({item.atMs, path});
    item.atMs = atMs;
    queue.emplace(atMs, path);
}

void KeptQueue::endSending(const QString& path)
{
    for (Lane& lane : m_lanes) {
        if (lane.sending == path)
            lane.sending.clear();
    }
    poke();
}

void KeptQueue::delivered(const QString& path)
{
    ++m_sentInARow;
    QFile::remove(path);
    forget(path);
    // The server is back: the lane's other items need not wait.
    for (Lane& lane : m_lanes) {
        if (lane.sending == path)
            lane.heldUntilMs = 0;
    }
    endSending(path);
}

qint64 KeptQueue::failed(const QString& path)
{
    endSending(path);
    const auto it = m_items.find(path);
    // Gone meanwhile (the oldest make room): nothing to try again.
    if (it == m_items.end())
        return -1;
    Item& item = it->second;
    schedule(path, item, m_clock.steadyMs() + KeptFolder::retryDelayMs(item.attempt++, m_scale));
    return item.atMs;
}

void KeptQueue::partlyDelivered(const QString& path)
{
    ++m_sentInARow;
    failed(path);
}

void KeptQueue::stopped(const QString& path)
{
    endSending(path);
    // Not tried again until the next start lists it anew.
    const auto it = m_items.find(path);
    if (it != m_items.end())
        m_lanes[size_t(it->second.lane)].queue.erase({it->second.atMs, path});
}

QString KeptQueue::setAside(const QString& path, const QString& suffix)
{
    forget(path);
    endSending(path);
    return KeptFolder::setAside(path, suffix);
}

void KeptQueue::forget(const QString& path)
{
    const auto it = m_items.find(path);
    if (it == m_items.end())
        return;
    m_lanes[size_t(it->second.lane)].queue.erase({it->second.atMs, path});
    m_items.erase(it);
}

void KeptQueue::moveToLane(const QString& path, int lane)
{
    endSending(path);
    const auto it = m_items.find(path);
    if (it == m_items.end())
        return;
    Item& item = it->second;
    m_lanes[size_t(item.lane)].queue.erase({item.atMs, path});
    item.lane = lane;
    m_lanes[size_t(lane)].queue.emplace(item.atMs, path);
}

void KeptQueue::tryNext()
{
    if (!m_running || (m_held && m_held()))
        return;
    if (!m_listed)
        list();
    qint64 next = std::numeric_limits<qint64>::max();
    for (size_t l = 0; l < m_lanes.size(); ++l) {
        Lane& lane = m_lanes[l];
        // An answer given at once (a file that cannot be read) frees the lane for the next one.
        while (m_running && lane.open && lane.sending.isEmpty() && !lane.queue.empty()) {
            const auto [dueMs, path] = *lane.queue.begin();
            const qint64 at = std::max(dueMs, lane.heldUntilMs);
            if (at > m_clock.steadyMs()) {
                next = std::min(next, at);
                break;
            }
            lane.queue.erase(lane.queue.begin());
            lane.sending = path;
            emit due(path, int(l));
        }
    }
    // endSending() asked for another look meanwhile: that look schedules.
    if (m_timer->isActive() && m_timer->deadline() <= m_clock.steadyMs())
        return;
    if (!isSending() && m_sentInARow > 0)
        emit drained(std::exchange(m_sentInARow, 0));
    if (next != std::numeric_limits<qint64>::max())
        m_timer->startAt(next);
    else
        m_timer->stop();
}
