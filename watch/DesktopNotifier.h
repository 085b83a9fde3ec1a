#pragma once

#include <QString>

// Shows a desktop notification through org.freedesktop.Notifications on the session bus.
// Fire and forget: the call is asynchronous and its answer ignored, so a missing bus or
// notification server costs nothing and shows nothing.
namespace DesktopNotifier {

inline constexpr const char* AppName = "ZARVIK Mail";

// The notification's urgency hint: critical ones stay until dismissed.
enum class Urgency : unsigned char { Low = 0, Normal = 1, Critical = 2 };

void notify(const QString& summary, const QString& body, Urgency urgency);

} // namespace DesktopNotifier
