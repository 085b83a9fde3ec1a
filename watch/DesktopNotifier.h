#pragma once

#include <QString>

// Shows a desktop notification through org.freedesktop.Notifications on the session bus.
// Fire and forget: the call is asynchronous and its answer ignored, so a missing bus or
// notification server costs nothing and shows nothing.
namespace DesktopNotifier {

inline constexpr const char* AppName = "ZARVIK Mail";

void notify(const QString& summary, const QString& body);

} // namespace DesktopNotifier
