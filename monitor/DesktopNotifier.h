#pragma once

#include <QString>

// Shows a desktop notification through org.freedesktop.Notifications on the session bus.
// Fire and forget: the call goes out from a thread of its own and its answer is ignored, so a
// missing, slow or silent bus or notification server costs the caller nothing and shows nothing.
namespace DesktopNotifier {

inline constexpr const char* AppName = "ZARVIK Mail";

// The notification's urgency hint: critical ones stay until dismissed.
enum class Urgency : unsigned char { Low = 0, Normal = 1, Critical = 2 };

void notify(const QString& summary, const QString& body, Urgency urgency);

} // namespace DesktopNotifier
