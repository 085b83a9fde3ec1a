#include "app/SystemdNotify.h"

#include <QTimer>
#include <systemd/sd-daemon.h>

SystemdNotify::SystemdNotify(QObject* parent)
    : QObject(parent)
{
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return;
    // At half the period, as sd_watchdog_enabled(3) advises: one late turn does not kill it.
    m_watchdog = new QTimer(this);
    m_watchdog->setInterval(int(std::max<uint64_t>(usec / 2000, 1)));
    connect(m_watchdog, &QTimer::timeout, this, [this] { send("WATCHDOG=1"); });
    m_watchdog->start();
}

void SystemdNotify::ready()
{
    send("READY=1");
}

void SystemdNotify::reloading()
{
    send("RELOADING=1");
}

void SystemdNotify::stopping()
{
    send("STOPPING=1");
}

void SystemdNotify::status(const QString& text)
{
    send("STATUS=" + text.toUtf8());
}

void SystemdNotify::send(const QByteArray& state)
{
    sd_notify(0, state.constData());
}
