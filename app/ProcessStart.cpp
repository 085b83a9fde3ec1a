#include "app/ProcessStart.h"

#include "app/OpenFileLimit.h"

ProcessStart::ProcessStart(const SettingsLocation& where, const Warn& warn)
    : m_prepared(prepare(where, warn))
    , m_lock(where.settingsPath)
{
}

bool ProcessStart::prepare(const SettingsLocation& where, const Warn& warn)
{
    QString why;
    // The program runs on with the limit it has.
    if (!raiseOpenFileLimit(&why))
        warn(why);
    // Without its folder the lock falls back elsewhere, and saving says why at close.
    if (!where.makeFolders(&why)) {
        warn(why);
        return false;
    }
    return true;
}
