#pragma once

#include "monitor/Outlet.h"

class Settings;

// A desktop notification for each pass that fired a rule and each notice, when the settings
// ask for it: alerts and reminders stay until dismissed, a recovery does not.
class DesktopOutlet : public Outlet {
public:
    explicit DesktopOutlet(const Settings& settings)
        : m_settings(settings)
    {
    }
    void take(const AlertEvent& event) override;

private:
    const Settings& m_settings;
};
