#include "watch/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace DesktopNotifier {

void notify(const QString& summary, const QString& body, Urgency urgency)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
    // server's default).
    call << QString::fromLatin1(AppName) << 0u << QStringLiteral("zarvik-mail") << summary << body
         << QStringList()
         << QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue(uchar(urgency))}} << -1;
    bus.send(call); // the answer, an id or an error, is not waited for
}

} // namespace DesktopNotifier
