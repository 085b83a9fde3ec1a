#include "monitor/DesktopOutlet.h"

#include "monitor/DesktopNotifier.h"
#include "settings/Settings.h"

void DesktopOutlet::take(const AlertEvent& event)
{
    if (!m_settings.flag(Settings::Notify))
        return;
    if (event.kind == AlertEvent::Kind::Alert && event.rules == 0)
        return;
    DesktopNotifier::notify(event.message, event.subject,
                            event.kind == AlertEvent::Kind::Recovered ||
                                    event.kind == AlertEvent::Kind::Acknowledged
                                ? DesktopNotifier::Urgency::Normal
                                : DesktopNotifier::Urgency::Critical);
}
