#pragma once

#include "app/InstanceLock.h"
#include "settings/SettingsLocation.h"

#include <QString>
#include <functional>

// What both entry points do before the watching starts, in this order: raise the open-file
// limit, make the folders of the settings and of the state, and take the lock beside the
// settings file. Problems the run goes on after are handed to `warn`.
class ProcessStart {
public:
    using Warn = std::function<void(const QString& text)>;
    ProcessStart(const SettingsLocation& where, const Warn& warn);

    // The lock is ours: the watching may start. Otherwise lock().reportRefusal() says why not.
    bool mayRun() const { return m_lock.acquired(); }
    const InstanceLock& lock() const { return m_lock; }

private:
    static bool prepare(const SettingsLocation& where, const Warn& warn);

    bool m_prepared; // before the lock, whose fallback needs the folders
    InstanceLock m_lock;
};
