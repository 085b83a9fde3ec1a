#pragma once

#include <QObject>
#include <QString>

class QTimer;

// Tells systemd how the service stands (sd_notify): ready, reloading, stopping, a status line,
// and the watchdog's keep-alive while the event loop turns. Without NOTIFY_SOCKET every call
// does nothing, so the service runs the same by hand.
class SystemdNotify : public QObject {
    Q_OBJECT
public:
    explicit SystemdNotify(QObject* parent = nullptr);

    void ready();
    void reloading();
    void stopping();
    // One line that `systemctl status` shows.
    void status(const QString& text);

private:
    void send(const QByteArray& state);

    QTimer* m_watchdog = nullptr;
};
